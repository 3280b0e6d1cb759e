#include "NovelText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// GBK bytes of the punctuation and fixed words a novel uses.
constexpr char Indent[] = "\xA1\xA1\xA1\xA1";  // two full-width spaces
constexpr char Comma[] = "\xA3\xAC";
constexpr char Pause[] = "\xA1\xA2";  // enumeration comma
constexpr char FullStop[] = "\xA1\xA3";
constexpr char Exclamation[] = "\xA3\xA1";
constexpr char Question[] = "\xA3\xBF";
constexpr char Ellipsis[] = "\xA1\xAD\xA1\xAD";
constexpr char OpenQuote[] = "\xA1\xB0";
constexpr char CloseQuote[] = "\xA1\xB1";
constexpr char Colon[] = "\xA3\xBA";
constexpr char ChapterPrefix[] = "\xB5\xDA";  // "di", before the chapter number
constexpr char ChapterSuffix[] = "\xD5\xC2";  // "zhang", after it
constexpr char LineEnd[] = "\r\n";

std::runtime_error SystemError(const std::string& What, const std::string& FileName) {
  return std::runtime_error(What + " " + FileName + ": " + std::strerror(errno));
}

void WriteAll(int Fd, const char* Data, std::size_t Count, TFileOffset At, const std::string& FileName) {
  while (Count > 0) {
    const ssize_t Written = ::pwrite(Fd, Data, Count, At);
    if (Written < 0) {
      if (errno == EINTR) continue;
      throw SystemError("cannot write", FileName);
    }
    Data += Written;
    Count -= static_cast<std::size_t>(Written);
    At += Written;
  }
}

// Writes Length bytes of text at Offset. With EndFile, the text ends the way a saved novel does: on a
// whole character followed by CR LF (a lead byte left without its trail becomes a space).
void WriteText(int Fd, TFileOffset Offset, TFileOffset Length, std::uint64_t Seed, bool EndFile,
               const std::string& FileName) {
  TNovelText Text(Seed);
  std::string Chunk(std::size_t{1} << 20, '\0');
  while (Length > 0) {
    const std::size_t Count = static_cast<std::size_t>(std::min<TFileOffset>(Length, std::ssize(Chunk)));
    if (EndFile && Count == static_cast<std::size_t>(Length) && Count >= 3) {
      Text.Fill(Chunk.data(), Count - 2);
      if (!Text.EndsOnCharacter()) Chunk[Count - 3] = ' ';
      Chunk[Count - 2] = '\r';
      Chunk[Count - 1] = '\n';
    } else {
      Text.Fill(Chunk.data(), Count);
    }
    WriteAll(Fd, Chunk.data(), Count, Offset, FileName);
    Offset += static_cast<TFileOffset>(Count);
    Length -= static_cast<TFileOffset>(Count);
  }
}

}  // namespace

TNovelText::TNovelText(std::uint64_t Seed) : FState(Seed) {}

// splitmix64: tiny, fast and the same on every platform, so a seed names the same file everywhere.
std::uint64_t TNovelText::Next() {
  std::uint64_t Z = (FState += 0x9E3779B97F4A7C15ULL);
  Z = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  Z = (Z ^ (Z >> 27)) * 0x94D049BB133111EBULL;
  return Z ^ (Z >> 31);
}

void TNovelText::AppendCharacter() {
  const std::uint64_t Kind = Below(100);
  unsigned Lead = 0;
  unsigned Trail = 0;
  if (Kind < 90) {  // the common characters (GB2312 level 1)
    Lead = 0xB0 + static_cast<unsigned>(Below(0xD6 - 0xB0 + 1));
    Trail = 0xA1 + static_cast<unsigned>(Below(0xFE - 0xA1 + 1));
  } else if (Kind < 98) {  // the rarer ones (GB2312 level 2)
    Lead = 0xD8 + static_cast<unsigned>(Below(0xF7 - 0xD8 + 1));
    Trail = 0xA1 + static_cast<unsigned>(Below(0xFE - 0xA1 + 1));
  } else {  // GBK extension: trail bytes from 0x40, some of them ASCII letters
    Lead = 0x81 + static_cast<unsigned>(Below(0xA0 - 0x81 + 1));
    Trail = 0x40 + static_cast<unsigned>(Below(0xFE - 0x40));
    if (Trail >= 0x7F) ++Trail;  // 0x7F is never a trail byte
  }
  FPending.push_back(static_cast<char>(Lead));
  FPending.push_back(static_cast<char>(Trail));
}

void TNovelText::AppendSentence() {
  const bool Spoken = Below(4) == 0;
  if (Spoken) FPending += OpenQuote;
  const std::uint64_t Length = 3 + Below(26);
  std::uint64_t UntilComma = 4 + Below(9);
  for (std::uint64_t I = 0; I < Length; ++I) {
    AppendCharacter();
    if (--UntilComma == 0 && I + 2 < Length) {
      FPending += Below(8) == 0 ? Pause : Comma;
      UntilComma = 4 + Below(9);
    }
  }
  const std::uint64_t End = Below(20);
  FPending += End < 12 ? FullStop : End < 15 ? Exclamation : End < 17 ? Question : Ellipsis;
  if (Spoken) FPending += CloseQuote;
}

void TNovelText::AppendParagraph() {
  // A chapter every few dozen paragraphs: "di N zhang", a full-width space and a short title.
  if (FParagraphs % 80 == 0) {
    if (FParagraphs > 0) FPending += LineEnd;
    FPending += ChapterPrefix;
    FPending += std::to_string(FChapter++);
    FPending += ChapterSuffix;
    FPending += "\xA1\xA1";
    for (std::uint64_t I = 0, Count = 2 + Below(7); I < Count; ++I) AppendCharacter();
    FPending += LineEnd;
    FPending += LineEnd;
  }
  ++FParagraphs;

  FPending += Indent;
  if (Below(6) == 0) {  // a short line: someone speaks
    for (std::uint64_t I = 0, Count = 2 + Below(3); I < Count; ++I) AppendCharacter();
    FPending += Colon;
    AppendSentence();
  } else {  // one to eight sentences: from a few characters to several screen lines
    for (std::uint64_t I = 0, Count = 1 + Below(8); I < Count; ++I) AppendSentence();
  }
  FPending += LineEnd;
  if (Below(10) < 3) FPending += LineEnd;
}

void TNovelText::Fill(char* Out, std::size_t Count) {
  while (Count > 0) {
    if (FPendingAt == FPending.size()) {
      FPending.clear();
      FPendingAt = 0;
      while (FPending.size() < 64 * 1024) AppendParagraph();
    }
    const std::size_t Take = std::min(Count, FPending.size() - FPendingAt);
    std::memcpy(Out, FPending.data() + FPendingAt, Take);
    FPendingAt += Take;
    Out += Take;
    Count -= Take;
  }
}

bool TNovelText::EndsOnCharacter() const {
  // FPending starts on a character, so walking it by GBK's rule (a byte from 0x81 leads a pair) finds
  // whether the last byte handed out completed one.
  std::size_t At = 0;
  while (At < FPendingAt) At += static_cast<unsigned char>(FPending[At]) >= 0x81 ? 2 : 1;
  return At == FPendingAt;
}

void WriteNovelFile(const std::string& FileName, TFileOffset Size, const std::vector<TTextRegion>& Regions,
                    std::uint64_t Seed) {
  if (Size < 0) throw std::runtime_error("negative file size for " + FileName);
  const int Fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) throw SystemError("cannot create", FileName);
  try {
    if (::ftruncate(Fd, Size) != 0) throw SystemError("cannot size", FileName);
    if (Regions.empty()) {
      WriteText(Fd, 0, Size, Seed, true, FileName);
    } else {
      for (const TTextRegion& Region : Regions) {
        const TFileOffset Begin = std::clamp<TFileOffset>(Region.Offset, 0, Size);
        const TFileOffset End = std::clamp<TFileOffset>(Region.Offset + Region.Length, Begin, Size);
        // Each region gets its own stream, so its bytes do not depend on the regions before it.
        WriteText(Fd, Begin, End - Begin, Seed ^ static_cast<std::uint64_t>(Begin), false, FileName);
      }
    }
  } catch (...) {
    ::close(Fd);
    throw;
  }
  if (::close(Fd) != 0) throw SystemError("cannot close", FileName);
}

TFileOffset AllocatedBytes(const std::string& FileName) {
  struct stat Info {};
  if (::stat(FileName.c_str(), &Info) != 0) throw SystemError("cannot stat", FileName);
  return static_cast<TFileOffset>(Info.st_blocks) * 512;
}
