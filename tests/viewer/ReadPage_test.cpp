#include "ReadPage.h"
#include "TextEncoding.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string TenBytes = "abc\ndef\ngh";

struct PageCase {
  const char* Name;
  std::string Bytes;
  TFileOffset Start;
  int LinesPerPage;
  int CharsPerLine;
  std::string Page;
  TFileOffset End;
  TTextEncoding Encoding = TTextEncoding::Gb18030;
};

void PrintTo(const PageCase& Row, std::ostream* Out) { *Out << Row.Name; }

class ReadPageRows : public ::testing::TestWithParam<PageCase> {};

TEST_P(ReadPageRows, ReadsExactlyThePageAndReportsItsEnd) {
  const PageCase& Row = GetParam();
  TempDir Dir;
  const std::string File = Dir.Write("page.txt", Row.Bytes);
  TFileOffset End = -1;
  EXPECT_EQ(ReadPage(File, Row.Start, Row.LinesPerPage, Row.CharsPerLine, End, Row.Encoding), Row.Page);
  EXPECT_EQ(End, Row.End);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadPageRows,
    ::testing::Values(
        // The second line feed brings the line count to LinesPerPage - 1 = 2.
        PageCase{"TenBytesFromStart", TenBytes, 0, 3, 40, "abc\ndef\n", 8},
        PageCase{"TenBytesTail", TenBytes, 8, 3, 40, "gh", 10},
        PageCase{"TenBytesAtEnd", TenBytes, 10, 3, 40, "", 10},
        PageCase{"StartPastTheEnd", TenBytes, 100, 3, 40, "", 100},
        // Two lines of 4 bytes each fill a page of three lines.
        PageCase{"CapacityWithoutLineFeeds", "abcdefghijklmnop", 0, 3, 2, "abcdefgh", 8},
        // The line feed that fills a line counts it and a second one: "efgh" completes the page.
        PageCase{"LineFeedAsTheLineFills", "abc\nefghijklmnop", 0, 4, 2, "abc\nefgh", 8},
        PageCase{"LineFeedBeforeTheLineFills", "ab\ncdefghijklmnop", 0, 4, 2, "ab\ncdefghij", 11},
        PageCase{"CarriageReturnLineFeed", "ab\r\ncd\r\nef", 0, 3, 40, "ab\r\ncd\r\n", 8},
        // Two-byte characters are not adjusted: the page starts at the trail byte of "中".
        PageCase{"MidCharacterStart", "\xD6\xD0\xCE\xC4\n", 1, 3, 40, "\xD0\xCE\xC4\n", 5},
        // Whenever the start lies before the end, at least one byte is read.
        PageCase{"OneLinePage", "abcdef", 0, 1, 40, "a", 1},
        PageCase{"ZeroLinePage", "abcdef", 2, 0, 40, "c", 3},
        PageCase{"ZeroCharsPerLineCountsEveryByte", "abcdef", 0, 3, 0, "ab", 2},
        PageCase{"NegativeStartReadsNothing", TenBytes, -5, 3, 40, "", 0},
        PageCase{"EmptyFile", "", 0, 30, 42, "", 0},
        PageCase{"LargestGeometryTakesTheWholeFile", TenBytes, 0, INT_MAX, INT_MAX, TenBytes, 10},
        PageCase{"LargestGeometryInUtf8", TenBytes, 0, INT_MAX, INT_MAX, TenBytes, 10, TTextEncoding::Utf8},
        // Other encodings count each character as the columns of its GB18030 form: "中文" fills a line
        // of four columns in UTF-8 as in GBK.
        PageCase{"Utf8ChineseTakesTwoColumns", "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", 0, 2, 2,
                 "\xE4\xB8\xAD\xE6\x96\x87", 6, TTextEncoding::Utf8},
        // "上" is the unit 0x4E0A: its 0x0A byte is no line feed; the unit 0x000A is.
        PageCase{"Utf16LineFeedIsTheCodeUnit", std::string("\x0A\x4E" "a\0\n\0b\0", 8), 0, 2, 40,
                 std::string("\x0A\x4E" "a\0\n\0", 6), 6, TTextEncoding::Utf16Le},
        // "a中b" with lines of two columns: the line fills after the first column of "中", so the page
        // ends after its first byte; the next page, starting inside it, counts its second column only.
        PageCase{"Utf8EndsInsideACharacter", "a\xE4\xB8\xAD" "b", 0, 2, 1, "a\xE4", 2, TTextEncoding::Utf8},
        PageCase{"Utf8StartsInsideACharacter", "a\xE4\xB8\xAD" "bc", 2, 2, 1, "\xB8\xAD" "b", 5,
                 TTextEncoding::Utf8},
        PageCase{"Utf16ByteOrderMarkTakesNoRoom", std::string("\xFF\xFE" "a\0b\0c\0", 8), 0, 2, 1,
                 std::string("\xFF\xFE" "a\0b\0", 6), 6, TTextEncoding::Utf16Le},
        // A start past the end reads nothing and ends where it starts, as in GB18030.
        PageCase{"Utf16StartJustPastTheEnd", std::string("\xFF\xFE" "a\0", 4), 5, 3, 40, "", 5, TTextEncoding::Utf16Le},
        PageCase{"Utf8StartPastTheEnd", "a\xE4\xB8\xAD", 10, 3, 40, "", 10, TTextEncoding::Utf8},
        PageCase{"Utf8BadBytesTakeAColumnEach", "\xFF\xE4\xB8" "ab", 0, 2, 2, "\xFF\xE4\xB8" "a", 4,
                 TTextEncoding::Utf8}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ReadPage, FileThatCannotBeOpenedGivesEmptyTextAndLeavesTheEndAlone) {
  TempDir Dir;
  TFileOffset End = 1234;
  EXPECT_EQ(ReadPage(Dir.Path("missing.txt"), 0, 30, 42, End), "");
  EXPECT_EQ(End, 1234);
  EXPECT_EQ(ReadPage("", 0, 30, 42, End), "");
  EXPECT_EQ(ReadPage(std::string("a\0b", 3), 0, 30, 42, End), "");
  EXPECT_EQ(End, 1234);
}

TEST(ReadPage, BytesStayUnchanged) {
  std::string All;
  for (int Byte = 0; Byte < 256; ++Byte) All.push_back(static_cast<char>(Byte));
  TempDir Dir;
  const std::string File = Dir.Write("all.bin", All);
  TFileOffset End = 0;
  // Wide lines and many of them: one page takes the whole file, NUL and CR bytes included.
  EXPECT_EQ(ReadPage(File, 0, 1000, 1000, End), All);
  EXPECT_EQ(End, 256);
}

TEST(MeasureFileSize, GivesTheSizeOrZero) {
  TempDir Dir;
  EXPECT_EQ(MeasureFileSize(Dir.Write("ten.txt", TenBytes)), 10);
  EXPECT_EQ(MeasureFileSize(Dir.Write("empty.txt", "")), 0);
  EXPECT_EQ(MeasureFileSize(Dir.Path("missing.txt")), 0);
}

// A directory opens and then fails every read; devices, FIFOs and sockets are no pages either.
TEST(ReadPage, PathsThatAreNotRegularFilesCountAsUnopenable) {
  TempDir Dir;
  ASSERT_EQ(::mkfifo(Dir.Path("fifo").c_str(), 0600), 0);
  for (const std::string& Path : {Dir.Path(""), Dir.Path("fifo"), std::string("/dev/zero"), std::string("/dev/null")}) {
    SCOPED_TRACE(Path);
    TFileOffset End = 77;
    // A FIFO without a writer must not block: run the read where a hang shows as a timeout.
    auto Read = std::async(std::launch::async, [&] { return ReadPage(Path, 0, 30, 42, End); });
    ASSERT_EQ(Read.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(Read.get(), "");
    EXPECT_EQ(End, 77);
    auto Size = std::async(std::launch::async, [&] { return MeasureFileSize(Path); });
    ASSERT_EQ(Size.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(Size.get(), 0);
  }
}

TEST(ReadPage, FileThatChangesBetweenReadsGivesWhatIsThereNow) {
  TempDir Dir;
  const std::string File = Dir.Write("growing.txt", "abc\n");
  TFileOffset End = 0;
  EXPECT_EQ(ReadPage(File, 0, 30, 42, End), "abc\n");
  Dir.Write("growing.txt", "ab");
  EXPECT_EQ(ReadPage(File, 0, 30, 42, End), "ab");
  EXPECT_EQ(End, 2);
  EXPECT_EQ(ReadPage(File, 4, 30, 42, End), "");
  EXPECT_EQ(End, 4);
}

// A command's reads see the file its first look found, also when the name leads elsewhere meanwhile;
// the next command finds the file by its name again. Another file opens as it is.
TEST(ReadPage, OneVisitReadsTheFileItFoundFirst) {
  TempDir Dir;
  const std::string File = Dir.Write("book.txt", "first\n");
  const std::string Other = Dir.Write("other.txt", "other\n");
  const TFileFacts Before = InspectFile(File);
  {
    const TFileVisit Visit;
    TFileOffset End = 0;
    EXPECT_EQ(ReadPage(File, 0, 30, 42, End), "first\n");
    const std::string Replacement = Dir.Write("new.txt", "second text\n");
    ASSERT_EQ(::rename(Replacement.c_str(), File.c_str()), 0);
    {
      const TFileVisit Nested;
      EXPECT_EQ(ReadBytes(File, 0, 5), "first");
    }
    EXPECT_EQ(InspectFile(File), Before);
    EXPECT_EQ(ReadBytes(Other, 0, 5), "other");
    EXPECT_EQ(ReadBytes(File, 1, 4), "irst");
  }
  EXPECT_EQ(ReadBytes(File, 0, 6), "second");
  EXPECT_NE(InspectFile(File), Before);
}

// Offsets past 2 GiB and 4 GiB must neither wrap nor truncate. The file is sparse: it takes no disk.
TEST(ReadPage, SixGibFileReadsExactlyPastTwoAndFourGib) {
  constexpr TFileOffset GiB = TFileOffset{1} << 30;
  constexpr TFileOffset Size = 6 * GiB;
  TempDir Dir;
  const std::string File = Dir.Path("huge.txt");
  const int Fd = ::open(File.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(Fd, 0);
  ASSERT_EQ(::ftruncate(Fd, Size), 0);
  const std::string Past2 = "two\nlines\n";
  const std::string Past4 = "\xD6\xD0\xCE\xC4\n";
  const std::string Tail = "end";
  ASSERT_EQ(::pwrite(Fd, Past2.data(), Past2.size(), 2 * GiB + 5), static_cast<ssize_t>(Past2.size()));
  ASSERT_EQ(::pwrite(Fd, Past4.data(), Past4.size(), 4 * GiB + 7), static_cast<ssize_t>(Past4.size()));
  ASSERT_EQ(::pwrite(Fd, Tail.data(), Tail.size(), Size - 3), static_cast<ssize_t>(Tail.size()));
  ::close(Fd);

  EXPECT_EQ(MeasureFileSize(File), Size);
  TFileOffset End = 0;
  EXPECT_EQ(ReadPage(File, 2 * GiB + 5, 3, 42, End), Past2);
  EXPECT_EQ(End, 2 * GiB + 5 + static_cast<TFileOffset>(Past2.size()));
  EXPECT_EQ(ReadPage(File, 4 * GiB + 7, 2, 42, End), Past4);
  EXPECT_EQ(End, 4 * GiB + 12);
  EXPECT_EQ(ReadPage(File, Size - 3, 30, 42, End), Tail);
  EXPECT_EQ(End, Size);
  EXPECT_EQ(ReadPage(File, Size + GiB, 30, 42, End), "");
  EXPECT_EQ(End, Size + GiB);
}

}  // namespace
