// The page reader on random files, start offsets, geometries and encodings. Input: a selector byte
// (how the start is taken, and the encoding), the geometry, the start, then the file's content.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "ReadPage.h"
#include "TempDir.h"

#include <cstdint>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Whether the page is the one the line rules give: a line holds 2 * CharsPerLine bytes, a line
// feed ends one (also the byte that just filled it, which then counts twice), and the page stops at
// the byte that completes LinesPerPage - 1 lines, or at the end of the file.
bool KeepsLineRules(const std::string& Page, int LinesPerPage, int CharsPerLine, bool AtEndOfFile) {
  const std::int64_t Capacity = 2 * std::int64_t{CharsPerLine};
  const std::int64_t Limit = std::int64_t{LinesPerPage} - 1;
  std::int64_t Column = 0;
  std::int64_t Line = 0;
  for (std::size_t I = 0; I < Page.size(); ++I) {
    if (I > 0 && Line >= Limit) return false;  // the page went on past a full page
    if (++Column >= Capacity) {
      ++Line;
      Column = 0;
    }
    if (Page[I] == '\n') {
      ++Line;
      Column = 0;
    }
  }
  return AtEndOfFile || Line >= Limit;
}

// Whether the system lets a stream stand at Offset of the file (never below 0, nor past the largest
// file size it allows).
bool SeekableTo(const std::string& FileName, TFileOffset Offset) {
  const int Fd = ::open(FileName.c_str(), O_RDONLY);
  const bool Seekable = Offset >= 0 && Fd >= 0 && ::lseek(Fd, Offset, SEEK_SET) == Offset;
  if (Fd >= 0) ::close(Fd);
  return Seekable;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const TempDir Folder;
  static const std::string FileName = Folder.Path("page.txt");
  TFuzzInput Input(Data, Size);
  const auto Selector = Input.Take<std::uint8_t>();
  const int LinesPerPage = Input.Number();
  const int CharsPerLine = Input.Number();
  const auto RawStart = Input.Take<std::int64_t>();
  const std::string Content(Input.Rest());
  Folder.Write("page.txt", Content);

  const auto FileSize = static_cast<TFileOffset>(Content.size());
  // Mostly a start inside the file or just past it; sometimes any offset, negative ones included.
  const TFileOffset Start =
      (Selector & 1) ? RawStart : static_cast<TFileOffset>(static_cast<std::uint64_t>(RawStart) % (Content.size() + 2));

  FUZZ_REQUIRE(MeasureFileSize(FileName) == FileSize);
  constexpr TFileOffset Untouched = -7;
  TFileOffset End = Untouched;
  const TTextEncoding Encoding = Encodings()[(Selector >> 1) % Encodings().size()].Encoding;
  const std::string Page = ReadPage(FileName, Start, LinesPerPage, CharsPerLine, End, Encoding);
  if (!SeekableTo(FileName, Start)) {  // negative, or past what the file system allows
    FUZZ_REQUIRE(Page.empty());
    FUZZ_REQUIRE(End >= 0 && End <= FileSize);  // where the stream stands: not a made-up offset
  } else if (Start >= FileSize) {
    FUZZ_REQUIRE(Page.empty());
    FUZZ_REQUIRE(End == Start);
  } else {
    FUZZ_REQUIRE(End > Start && End <= FileSize);  // at least one byte whenever the start lies inside
    FUZZ_REQUIRE(Page == Content.substr(static_cast<std::size_t>(Start), static_cast<std::size_t>(End - Start)));
    // GB18030 counts bytes; the other encodings count characters by their columns, whose rules the
    // unit tests hold, and this checks only that they read the file's bytes as they are.
    if (RulesOf(Encoding).BytesAreColumns)
      FUZZ_REQUIRE(KeepsLineRules(Page, LinesPerPage, CharsPerLine, End == FileSize));
  }
  return 0;
}
