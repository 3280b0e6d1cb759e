#include "ChapterCache.h"

#include "ReadPage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A kept list is, in this order:
//   the magic "PGRNCHAP", the format's version (u32),
//   the key: the file's size (i64), its modification time (i64 ns), its path, its encoding, the
//     number of patterns (u32) and each pattern, then the chosen pattern (u32),
//   each heading: the distance from the last heading's offset (varint), its level (u8), its title's
//     length (varint) and bytes,
//   the trailer: the number of headings (u64), a checksum of all before it (u64), the magic "CHAPEND!".
// Strings are a length (u32) and bytes; numbers are little-endian.

namespace {

namespace fs = std::filesystem;

constexpr char Magic[8] = {'P', 'G', 'R', 'N', 'C', 'H', 'A', 'P'};
constexpr char EndMagic[8] = {'C', 'H', 'A', 'P', 'E', 'N', 'D', '!'};
constexpr std::uint32_t FormatVersion = 1;
constexpr std::size_t TrailerBytes = 24;
constexpr std::size_t FlushBytes = 1 << 20;
const char* const KeptSuffix = ".chapters";
const char* const DamagedSuffix = ".damaged";
const char* const TemporaryMark = ".tmp";

// A checksum over 8-byte words (the last one padded with zeros): fast enough for tens of MiB, and a
// cut or a flipped byte shows.
class TSum {
public:
  // Words of Bytes, whose size must be a multiple of 8 unless it is the last call.
  void Words(std::string_view Bytes) {
    std::size_t At = 0;
    for (; At + 8 <= Bytes.size(); At += 8) {
      std::uint64_t Word = 0;
      for (int Byte = 7; Byte >= 0; --Byte) Word = (Word << 8) | static_cast<unsigned char>(Bytes[At + static_cast<std::size_t>(Byte)]);
      Mix(Word);
    }
    if (At < Bytes.size()) {
      std::uint64_t Word = 0;
      for (std::size_t Byte = Bytes.size(); Byte-- > At;) Word = (Word << 8) | static_cast<unsigned char>(Bytes[Byte]);
      Mix(Word);
    }
  }
  std::uint64_t Value = 0x9E3779B97F4A7C15ull;

private:
  void Mix(std::uint64_t Word) {
    Value ^= Word;
    Value = (Value << 29 | Value >> 35) * 0xFF51AFD7ED558CCDull;
  }
};

void PutNumber(std::string& Out, std::uint64_t Value, int Bytes) {
  for (int Byte = 0; Byte < Bytes; ++Byte) Out.push_back(static_cast<char>((Value >> (8 * Byte)) & 0xFF));
}

void PutVarint(std::string& Out, std::uint64_t Value) {
  while (Value >= 0x80) {
    Out.push_back(static_cast<char>((Value & 0x7F) | 0x80));
    Value >>= 7;
  }
  Out.push_back(static_cast<char>(Value));
}

void PutString(std::string& Out, std::string_view Text) {
  PutNumber(Out, Text.size(), 4);
  Out.append(Text);
}

// Reads what PutNumber, PutVarint and PutString wrote; any read past the end fails it for good.
class TReader {
public:
  explicit TReader(std::string_view Bytes) : FBytes(Bytes) {}
  bool Ok() const { return FOk; }
  bool AtEnd() const { return FAt == FBytes.size(); }

  std::uint64_t Number(int Bytes) {
    if (!Take(static_cast<std::size_t>(Bytes))) return 0;
    std::uint64_t Value = 0;
    for (int Byte = Bytes - 1; Byte >= 0; --Byte)
      Value = (Value << 8) | static_cast<unsigned char>(FBytes[FAt - static_cast<std::size_t>(Bytes) + static_cast<std::size_t>(Byte)]);
    return Value;
  }
  std::uint64_t Varint() {
    std::uint64_t Value = 0;
    for (int Shift = 0; Shift < 64; Shift += 7) {
      if (!Take(1)) return 0;
      const auto Byte = static_cast<unsigned char>(FBytes[FAt - 1]);
      Value |= static_cast<std::uint64_t>(Byte & 0x7F) << Shift;
      if (!(Byte & 0x80)) return Value;
    }
    FOk = false;
    return 0;
  }
  std::string_view Bytes(std::size_t Count) {
    if (!Take(Count)) return {};
    return FBytes.substr(FAt - Count, Count);
  }
  std::string_view String() { return Bytes(static_cast<std::size_t>(Number(4))); }

private:
  bool Take(std::size_t Count) {
    if (!FOk || FBytes.size() - FAt < Count) {
      FOk = false;
      return false;
    }
    FAt += Count;
    return true;
  }

  std::string_view FBytes;
  std::size_t FAt = 0;
  bool FOk = true;
};

std::string Header(const TChapterKey& Key, std::size_t Chosen) {
  std::string Out(Magic, sizeof Magic);
  PutNumber(Out, FormatVersion, 4);
  PutNumber(Out, static_cast<std::uint64_t>(Key.Size), 8);
  PutNumber(Out, static_cast<std::uint64_t>(Key.ModifiedNs), 8);
  PutString(Out, Key.Path);
  PutString(Out, Key.Encoding);
  PutNumber(Out, Key.Patterns.size(), 4);
  for (const std::string& Pattern : Key.Patterns) PutString(Out, Pattern);
  PutNumber(Out, Chosen, 4);
  return Out;
}

std::string AbsolutePath(const std::string& Path) {
  std::error_code Error;
  const fs::path Absolute = fs::absolute(Path, Error);
  return Error ? Path : Absolute.lexically_normal().string();
}

std::optional<std::string> ReadWhole(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return std::nullopt;
  std::string Bytes;
  struct stat Info {};
  if (::fstat(Fd, &Info) == 0 && Info.st_size > 0) Bytes.reserve(static_cast<std::size_t>(Info.st_size));
  char Block[1 << 16];
  for (;;) {
    const ssize_t Got = ::read(Fd, Block, sizeof Block);
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) {
      ::close(Fd);
      return std::nullopt;
    }
    if (Got == 0) break;
    Bytes.append(Block, static_cast<std::size_t>(Got));
  }
  ::close(Fd);
  return Bytes;
}

bool WriteAll(int Fd, std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t Put = ::write(Fd, Bytes.data(), Bytes.size());
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) return false;
    Bytes.remove_prefix(static_cast<std::size_t>(Put));
  }
  return true;
}

bool EndsWith(std::string_view Text, std::string_view End) { return Text.size() >= End.size() && Text.substr(Text.size() - End.size()) == End; }

}  // namespace

void TChapterCache::SetFolder(std::string Folder) {
  const std::lock_guard<std::mutex> Lock(FGuard);
  if (Folder == FFolder) return;
  FFolder = std::move(Folder);
  ++FGeneration;
}

std::string TChapterCache::Folder() const {
  const std::lock_guard<std::mutex> Lock(FGuard);
  return FFolder;
}

void TChapterCache::Clear() {
  const std::lock_guard<std::mutex> Lock(FGuard);
  ++FGeneration;
  if (FFolder.empty()) return;
  std::error_code Ignored;
  fs::remove_all(FFolder, Ignored);
}

std::string TChapterCache::FileFor(const std::string& Path) const {
  const std::string Absolute = AbsolutePath(Path);
  std::uint64_t Hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (const char Byte : Absolute) Hash = (Hash ^ static_cast<unsigned char>(Byte)) * 0x100000001B3ull;
  char Name[17];
  std::snprintf(Name, sizeof Name, "%016llx", static_cast<unsigned long long>(Hash));
  return Folder() + "/" + Name + KeptSuffix;
}

namespace {

std::optional<TChapterCache::TKept> LoadFile(const std::string& File, const TChapterKey& Key) {
  using TKept = TChapterCache::TKept;
  const std::optional<std::string> Bytes = ReadWhole(File);
  if (!Bytes) return std::nullopt;
  const auto Damaged = [&]() -> std::optional<TKept> {
    std::rename(File.c_str(), (File + DamagedSuffix).c_str());
    return std::nullopt;
  };
  const std::string_view All(*Bytes);
  if (All.size() < sizeof Magic + TrailerBytes || All.substr(0, sizeof Magic) != std::string_view(Magic, sizeof Magic) ||
      All.substr(All.size() - sizeof EndMagic) != std::string_view(EndMagic, sizeof EndMagic))
    return Damaged();
  const std::string_view Body = All.substr(0, All.size() - TrailerBytes);
  TReader Trailer(All.substr(Body.size()));
  const std::uint64_t Count = Trailer.Number(8);
  const std::uint64_t Sum = Trailer.Number(8);
  TSum Check;
  Check.Words(Body);
  if (Check.Value != Sum) return Damaged();

  TReader In(Body);
  In.Bytes(sizeof Magic);
  if (In.Number(4) != FormatVersion) return Damaged();
  TChapterKey Kept;
  Kept.Size = static_cast<TFileOffset>(In.Number(8));
  Kept.ModifiedNs = static_cast<std::int64_t>(In.Number(8));
  Kept.Path = In.String();
  Kept.Encoding = In.String();
  const std::uint64_t Patterns = In.Number(4);
  for (std::uint64_t Pattern = 0; In.Ok() && Pattern < Patterns; ++Pattern) Kept.Patterns.emplace_back(In.String());
  const std::uint64_t Chosen = In.Number(4);
  if (!In.Ok() || (Patterns > 0 && Chosen >= Patterns)) return Damaged();
  // Another file's list (a name that hashes alike), or this one's from before a change: not damage.
  TChapterKey Wanted = Key;
  Wanted.Path = AbsolutePath(Key.Path);
  if (Kept != Wanted) return std::nullopt;

  TKept Found;
  Found.Chosen = static_cast<std::size_t>(Chosen);
  TFileOffset Offset = 0;
  for (std::uint64_t Index = 0; Index < Count; ++Index) {
    const std::uint64_t Step = In.Varint();
    const std::uint64_t Level = In.Number(1);
    const std::uint64_t Length = In.Varint();
    const std::string_view Title = In.Bytes(static_cast<std::size_t>(std::min<std::uint64_t>(Length, TChapterList::MaxTitleBytes + 1)));
    // Headings in file order, inside the file, with titles the scan could have made.
    if (!In.Ok() || Step > static_cast<std::uint64_t>(Kept.Size - Offset) || Level > 1 ||
        Length > TChapterList::MaxTitleBytes)
      return Damaged();
    Offset += static_cast<TFileOffset>(Step);
    if (Offset >= Kept.Size) return Damaged();
    Found.List.Add(Offset, Title, static_cast<std::uint8_t>(Level));
  }
  if (!In.AtEnd()) return Damaged();
  // A list read counts as used: the bound keeps the books read last.
  ::utimensat(AT_FDCWD, File.c_str(), nullptr, 0);
  return Found;
}

}  // namespace

std::optional<TChapterCache::TKept> TChapterCache::Load(const TChapterKey& Key) const {
  if (Folder().empty()) return std::nullopt;
  try {
    return LoadFile(FileFor(Key.Path), Key);
  } catch (const std::exception&) {  // no memory for a huge list: it is scanned, as it comes
    return std::nullopt;
  }
}

void TChapterCache::Trim(const std::string& Folder) {
  struct TEntry {
    fs::file_time_type Used;
    fs::path Path;
  };
  std::vector<TEntry> Kept;
  std::error_code Error;
  const auto Now = fs::file_time_type::clock::now();
  for (const fs::directory_entry& Entry : fs::directory_iterator(Folder, Error)) {
    const std::string Name = Entry.path().filename().string();
    std::error_code Ignored;
    const fs::file_time_type Used = Entry.last_write_time(Ignored);
    if (Ignored) continue;
    if (Name.find(TemporaryMark) != std::string::npos) {
      // Another window may be writing one now; one a day old was left by a crash.
      if (Now - Used > std::chrono::hours(24)) fs::remove(Entry.path(), Ignored);
    } else if (EndsWith(Name, KeptSuffix) || EndsWith(Name, DamagedSuffix)) {
      Kept.push_back({Used, Entry.path()});
    }
  }
  if (Kept.size() <= MaxBooks) return;
  std::sort(Kept.begin(), Kept.end(), [](const TEntry& A, const TEntry& B) { return A.Used > B.Used; });
  for (std::size_t Index = MaxBooks; Index < Kept.size(); ++Index) fs::remove(Kept[Index].Path, Error);
}

TChapterCache::TWriter::TWriter(std::shared_ptr<TChapterCache> Cache, const TChapterKey& Key, std::size_t Chosen)
    : FCache(std::move(Cache)) {
  if (!FCache) return;
  std::string Folder;
  {
    const std::lock_guard<std::mutex> Lock(FCache->FGuard);
    Folder = FCache->FFolder;
    FGeneration = FCache->FGeneration;
  }
  if (Folder.empty()) return;
  std::error_code Ignored;
  fs::create_directories(Folder, Ignored);
  FTarget = FCache->FileFor(Key.Path);
  std::string Temporary = FTarget + TemporaryMark + "XXXXXX";
  FFd = ::mkostemp(Temporary.data(), O_CLOEXEC);
  if (FFd < 0) return;
  FTemporary = Temporary;
  TChapterKey Absolute = Key;
  Absolute.Path = AbsolutePath(Key.Path);
  FBuffer = Header(Absolute, Chosen);
  FSum = TSum().Value;
}

TChapterCache::TWriter::~TWriter() { Drop(); }

void TChapterCache::TWriter::Drop() {
  if (FFd < 0) return;
  ::close(FFd);
  ::unlink(FTemporary.c_str());
  FFd = -1;
}

void TChapterCache::TWriter::Add(TFileOffset Offset, std::string_view Title, std::uint8_t Level) {
  if (FFd < 0) return;
  Title = Title.substr(0, TChapterList::MaxTitleBytes);
  PutVarint(FBuffer, static_cast<std::uint64_t>(Offset - FLast));
  FBuffer.push_back(static_cast<char>(Level));
  PutVarint(FBuffer, Title.size());
  FBuffer.append(Title);
  FLast = Offset;
  ++FCount;
  if (FBuffer.size() >= FlushBytes) Flush();
}

void TChapterCache::TWriter::Flush() {
  // Whole words only: the checksum goes on from where this stops.
  const std::size_t Whole = FBuffer.size() / 8 * 8;
  TSum Sum;
  Sum.Value = FSum;
  Sum.Words(std::string_view(FBuffer).substr(0, Whole));
  FSum = Sum.Value;
  if (!WriteAll(FFd, std::string_view(FBuffer).substr(0, Whole))) return Drop();
  FBuffer.erase(0, Whole);
}

bool TChapterCache::TWriter::Commit() {
  if (FFd < 0) return false;
  TSum Sum;
  Sum.Value = FSum;
  Sum.Words(FBuffer);
  PutNumber(FBuffer, FCount, 8);
  PutNumber(FBuffer, Sum.Value, 8);
  FBuffer.append(EndMagic, sizeof EndMagic);
  if (!WriteAll(FFd, FBuffer) || ::fsync(FFd) != 0) {
    Drop();
    return false;
  }
  ::close(FFd);
  FFd = -1;
  const std::lock_guard<std::mutex> Lock(FCache->FGuard);
  // Cleared, or the folder left, since the list was begun: it is not kept.
  if (FGeneration != FCache->FGeneration || ::rename(FTemporary.c_str(), FTarget.c_str()) != 0) {
    ::unlink(FTemporary.c_str());
    return false;
  }
  Trim(FCache->FFolder);
  return true;
}
