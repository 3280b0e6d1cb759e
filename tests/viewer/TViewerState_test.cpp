#include "TViewerScrollBar.h"
#include "TViewerState.h"
#include "TViewerWindow.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

// The scroll bar as the engine's contract has it: positions clamped into [Min, Max], and a move of
// Position, whoever makes it, notifies before the assignment returns. The window's real control keeps
// the same contract; the main window's tests check it there.
class TContractBar : public TViewerScrollBar {
public:
  std::function<void()> OnChange;

  int Min() const override { return FMin; }
  int Max() const override { return FMax; }
  int Position() const override { return FPosition; }
  int PageSize() const override { return FPageSize; }
  void SetMin(int Value) override { Set(FPosition, Value, FMax); }
  void SetMax(int Value) override { Set(FPosition, FMin, Value); }
  void SetPosition(int Value) override { Set(Value, FMin, FMax); }
  void SetPageSize(int Value) override { FPageSize = Value; }

private:
  void Set(int Position, int Min, int Max) {
    if (Max < Min) throw std::invalid_argument("scroll range out of order");
    FMin = Min;
    FMax = Max;
    const int Before = FPosition;
    FPosition = std::clamp(Position, Min, Max);
    if (FPosition != Before && OnChange) OnChange();
  }

  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FPageSize = 0;
};

// The window as the commands see it: a scroll bar that keeps the contract, and records of what a user
// would see in the text area, the status panel and the caption.
class TRecordingWindow : public TViewerWindow {
public:
  int FontHeight = -14;
  int RenderedHeight = 14;
  int Width = 588;
  int Height = 420;
  std::optional<std::string> NextChosenFile;  // nullopt: the user cancels the open dialog
  std::optional<int> NextFontHeight;          // nullopt: the user cancels the font dialog

  std::string Page = "请打开文件...\r\n";
  std::vector<std::string> Statuses;
  std::string Caption = "Pagorin高速文本文件浏览器";
  int Beeps = 0;
  TTextEncoding Encoding = TTextEncoding::Gb18030;
  bool EncodingDetected = true;
  TContractBar Bar;

  std::string Status() const { return Statuses.empty() ? "" : Statuses.back(); }

  int TextFontHeight() const override { return FontHeight; }
  int TextFontRenderedHeight() const override { return RenderedHeight; }
  int TextClientWidth() const override { return Width; }
  int TextClientHeight() const override { return Height; }
  int PagesShown = 0;
  void ShowPage(const std::string& PageText) override {
    ++PagesShown;
    Page = PageText;
    Match.clear();
  }
  void ShowMatch(std::size_t From, std::size_t Length) override { Match = Page.substr(From, Length); }
  void ShowWhere(const std::string& Share, const std::string& Chapter) override {
    Where = Share;
    ChapterTitle = Chapter;
  }
  void ChaptersChanged() override { ++ChapterChanges; }
  std::string Where;
  std::string ChapterTitle;
  int ChapterChanges = 0;
  void SetTextEncoding(TTextEncoding Value, bool Detected) override {
    Encoding = Value;
    EncodingDetected = Detected;
  }
  void ShowStatus(const std::string& Text) override { Statuses.push_back(Text); }
  void SetCaption(const std::string& Text) override { Caption = Text; }
  bool ChooseFile(std::string& FileName) override {
    if (!NextChosenFile) return false;
    FileName = *NextChosenFile;
    return true;
  }
  bool ChooseTextFont() override {
    if (!NextFontHeight) return false;
    FontHeight = *NextFontHeight;
    return true;
  }
  void SetTextFontHeight(int Value) override { FontHeight = Value; }
  void Beep() override { ++Beeps; }
  std::function<void()> OnRunLater;  // runs on the scan's thread as it hands a call over
  void RunLater(std::function<void()> Call) override {
    if (OnRunLater) OnRunLater();
    const std::lock_guard<std::mutex> Lock(LaterGuard);
    Later.push_back(std::move(Call));
  }
  // Runs what a search has handed over so far, as the GUI thread's event loop would.
  void RunWhatCameLater() {
    std::vector<std::function<void()>> Calls;
    {
      const std::lock_guard<std::mutex> Lock(LaterGuard);
      Calls.swap(Later);
    }
    for (auto& Call : Calls) Call();
  }
  std::string Match;  // the bytes of the page highlighted as the match
  std::mutex LaterGuard;
  std::vector<std::function<void()>> Later;
  TViewerScrollBar& ScrollBar() override { return Bar; }
};

class ViewerCommands : public ::testing::Test {
protected:
  ViewerCommands() {
    Window.Bar.OnChange = [this] { State.ScrollJump(); };
  }

  void Open(const std::string& Path) {
    Window.NextChosenFile = Path;
    State.Open();
  }

  // Lines of the given lengths, each ending in a line feed (the length counts it).
  static std::string Lines(std::initializer_list<std::pair<int, int>> CountAndLength, std::size_t Total) {
    std::string Text;
    char Fill = 'a';
    for (auto [Count, Length] : CountAndLength)
      for (int Line = 0; Line < Count; ++Line, Fill = Fill == 'z' ? 'a' : Fill + 1)
        Text += std::string(Length - 1, Fill) + '\n';
    Text.resize(Total, '.');
    return Text;
  }

  // Three-line pages (two counted lines each) with room for 600 characters per line.
  void UseTwoLinePages() {
    Window.FontHeight = -14;
    Window.Width = 600 * 14;
    Window.Height = 3 * 14;
  }

  TempDir Dir;
  TRecordingWindow Window;
  TViewerState State{Window};
};

TEST_F(ViewerCommands, StartsWithNoFileAndEverythingZero) {
  EXPECT_EQ(State.FileName(), "");
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(State.PageEnd(), 0);
  EXPECT_EQ(State.PageBytes(), 0);
  EXPECT_EQ(State.FileSize(), 0);
  EXPECT_EQ(State.LinesPerPage(), 0);
  EXPECT_EQ(State.CharsPerLine(), 0);
  EXPECT_EQ(State.History().count(), 0);
}

TEST_F(ViewerCommands, OpenShowsTheFirstPageWithTheTextAreaGeometry) {
  const std::string Text = Lines({{40, 50}}, 2000);
  const std::string Path = Dir.Write("novel.txt", Text);
  Open(Path);
  EXPECT_EQ(State.CharsPerLine(), 42);
  EXPECT_EQ(State.LinesPerPage(), 30);
  EXPECT_EQ(Window.Caption, "Pagorin文本文件浏览器--" + Path);
  EXPECT_EQ(Window.Statuses, std::vector<std::string>{"文件大小：2000字节"});
  // 29 counted lines of 50 bytes: each line feed ends one.
  EXPECT_EQ(Window.Page, Text.substr(0, 29 * 50));
  EXPECT_EQ(State.PageEnd(), 29 * 50);
  EXPECT_EQ(State.PageBytes(), 29 * 50);
  EXPECT_EQ(Window.Bar.Min(), 0);
  EXPECT_EQ(Window.Bar.Max(), 2000 / (29 * 50) + 1);
  EXPECT_EQ(Window.Bar.Position(), 0);
}

TEST_F(ViewerCommands, MillionByteFileWithTwoThousandBytePagesRangesToFiveHundredOne) {
  UseTwoLinePages();
  Open(Dir.Write("big.txt", Lines({{1000, 1000}}, 1000000)));
  EXPECT_EQ(State.PageBytes(), 2000);
  EXPECT_EQ(Window.Bar.Min(), 0);
  EXPECT_EQ(Window.Bar.Max(), 501);
  EXPECT_EQ(Window.Status(), "文件大小：1000000字节");
}

// Pages of 2000, 1900, 1900 bytes: the walk forward and back with its nested scroll jumps.
TEST_F(ViewerCommands, PagingForwardAndBackCrossesScrollStepsWithNestedJumps) {
  UseTwoLinePages();
  const std::string Text = Lines({{2, 1000}, {20, 950}}, 21000);
  Open(Dir.Write("walk.txt", Text));
  ASSERT_EQ(State.PageBytes(), 2000);

  // Each step shows one page: the one read first is left unshown when the bar's jump replaces it.
  Window.PagesShown = 0;
  State.NextPage();  // into scroll step 1: the jump re-reads from 2000
  EXPECT_EQ(Window.PagesShown, 1);
  EXPECT_EQ(Window.Status(), "当前翻页Position=1");
  EXPECT_EQ(Window.Statuses.end()[-2], "当前操作记录数为：1;Pos=2000");
  EXPECT_EQ(Window.Bar.Position(), 1);
  EXPECT_EQ(State.PageStart(), 2000);
  EXPECT_EQ(State.PageEnd(), 3900);
  EXPECT_EQ(Window.Page, Text.substr(2000, 1900));

  State.NextPage();  // stays within step 1
  EXPECT_EQ(Window.PagesShown, 2);
  EXPECT_EQ(Window.Status(), "当前操作记录数为：2;Pos=3900");
  EXPECT_EQ(Window.Bar.Position(), 1);
  EXPECT_EQ(State.PageEnd(), 5800);
  EXPECT_EQ(Window.Page, Text.substr(3900, 1900));

  // Back: pops 2000, the position stays 1.
  State.PreviousPage();
  EXPECT_EQ(Window.Status(), "当前操作记录数为：1;tPos=2000");
  EXPECT_EQ(Window.Page, Text.substr(2000, 1900));
  EXPECT_EQ(Window.Bar.Position(), 1);
  // Back again: pops 0, the position returns to 0 and its jump re-reads from 0.
  State.PreviousPage();
  EXPECT_EQ(Window.PagesShown, 4);
  EXPECT_EQ(Window.Statuses.end()[-2], "当前操作记录数为：0;tPos=0");
  EXPECT_EQ(Window.Status(), "当前翻页Position=0");
  EXPECT_EQ(Window.Page, Text.substr(0, 2000));
  EXPECT_EQ(Window.Bar.Position(), 0);
  const std::size_t StatusCount = Window.Statuses.size();
  State.PreviousPage();
  EXPECT_EQ(Window.Beeps, 1);
  EXPECT_EQ(Window.Status(), "当前回滚记录数为：0");
  EXPECT_EQ(Window.Statuses.size(), StatusCount + 1);
  EXPECT_EQ(Window.Page, Text.substr(0, 2000));
}

TEST_F(ViewerCommands, PageStepIntoTheNextScrollStepRestartsAtThatStep) {
  UseTwoLinePages();
  const std::string Text = Lines({{2, 1000}, {20, 950}}, 21000);
  Open(Dir.Write("walk.txt", Text));
  State.NextPage();
  State.NextPage();
  State.NextPage();  // reads from 5800, moves to position 2: the jump re-reads from 4000
  EXPECT_EQ(Window.Statuses.end()[-2], "当前操作记录数为：3;Pos=5800");
  EXPECT_EQ(Window.Status(), "当前翻页Position=2");
  EXPECT_EQ(State.PageStart(), 4000);
  EXPECT_EQ(Window.Page, Text.substr(4000, 5800 - 4000));
  State.NextPage();  // the next step records 4000
  EXPECT_EQ(State.History().last(), 4000);
}

TEST_F(ViewerCommands, PreviousPageRightAfterOpeningOnlyBeeps) {
  const std::string Path = Dir.Write("short.txt", "one\ntwo\n");
  Open(Path);
  State.PreviousPage();
  EXPECT_EQ(Window.Beeps, 1);
  EXPECT_EQ(Window.Status(), "当前回滚记录数为：0");
  EXPECT_EQ(Window.Page, "one\ntwo\n");
  EXPECT_EQ(Window.Bar.Position(), 0);
}

TEST_F(ViewerCommands, SecondOpenAfterScrollingEndsWithTheJumpToZero) {
  UseTwoLinePages();
  Open(Dir.Write("first.txt", Lines({{100, 1000}}, 100000)));
  Window.Bar.SetPosition(30);
  const std::string Second = Lines({{10, 1000}}, 10000);
  Open(Dir.Write("second.txt", Second));
  // The old position 30 is above the new Max 6: the clamp jumps there first, then to 0.
  ASSERT_GE(Window.Statuses.size(), 3u);
  EXPECT_EQ(Window.Statuses.end()[-3], "文件大小：10000字节");
  EXPECT_EQ(Window.Statuses.end()[-2], "当前翻页Position=6");
  EXPECT_EQ(Window.Status(), "当前翻页Position=0");
  EXPECT_EQ(Window.Page, Second.substr(0, 2000));
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(Window.Bar.Max(), 6);
  EXPECT_EQ(State.History().count(), 0);
}

TEST_F(ViewerCommands, CancellingTheOpenDialogKeepsEverything) {
  UseTwoLinePages();
  const std::string Path = Dir.Write("kept.txt", Lines({{100, 1000}}, 100000));
  Open(Path);
  State.NextPage();
  State.NextPage();
  const std::string Page = Window.Page;
  const std::string Status = Window.Status();
  const std::string Caption = Window.Caption;
  Window.NextChosenFile.reset();
  State.Open();
  EXPECT_EQ(State.FileName(), Path);
  EXPECT_EQ(Window.Page, Page);
  EXPECT_EQ(Window.Status(), Status);
  EXPECT_EQ(Window.Caption, Caption);
  EXPECT_EQ(State.History().count(), 2);
  EXPECT_EQ(Window.Bar.Position(), 2);
}

// The page still starts at the byte offset; the text area gets its whole characters only.
TEST_F(ViewerCommands, ScrollJumpStartsAtPositionTimesStepAndShowsWholeCharacters) {
  UseTwoLinePages();
  std::string Text = "a";
  for (int I = 0; I < 3000; ++I) Text += "\xD6\xD0";  // "中" without line feeds, after one letter
  Open(Dir.Write("chinese.txt", Text));
  ASSERT_EQ(State.PageBytes(), 2400);  // two full lines of 1200 bytes
  Window.Bar.SetPosition(1);  // offset 2400 is the trail byte of a character, 4799 a lead byte
  EXPECT_EQ(State.PageStart(), 2400);
  EXPECT_EQ(State.PageEnd(), 4800);
  // No byte below 0x30 before the page: the walk starts at the file's start, 2400 bytes back. The
  // character cut by the page's end shows whole, finished from the byte after the page.
  EXPECT_EQ(Window.Page, Text.substr(2401, 2400));
  Window.Bar.SetPosition(2);
  EXPECT_EQ(Window.Page, Text.substr(4801));
  EXPECT_EQ(Window.Status(), "当前翻页Position=2");
  EXPECT_EQ(State.History().count(), 0);
}

TEST_F(ViewerCommands, LastScrollPositionLiesPastTheEnd) {
  UseTwoLinePages();
  const std::string Text = Lines({{5, 1000}}, 5000);
  Open(Dir.Write("tail.txt", Text));
  ASSERT_EQ(Window.Bar.Max(), 3);
  Window.Bar.SetPosition(3);
  EXPECT_EQ(Window.Page, "");
  EXPECT_EQ(Window.Status(), "当前翻页Position=3");
  Window.Bar.SetPosition(2);
  EXPECT_EQ(Window.Page, Text.substr(4000));
  // A size that is a multiple of the page: the position before the last is empty too.
  Open(Dir.Write("even.txt", Lines({{4, 1000}}, 4000)));
  Window.Bar.SetPosition(2);
  EXPECT_EQ(Window.Page, "");
}

TEST_F(ViewerCommands, NextPageAtTheEndPushesAndShowsAnEmptyPage) {
  UseTwoLinePages();
  Open(Dir.Write("two.txt", Lines({{2, 1000}}, 2000)));
  State.NextPage();
  EXPECT_EQ(Window.Page, "");
  EXPECT_EQ(State.History().count(), 1);
  EXPECT_EQ(Window.Bar.Position(), 1);
  EXPECT_EQ(Window.Statuses.end()[-2], "当前操作记录数为：1;Pos=2000");
  State.NextPage();  // the same offset is recorded again
  EXPECT_EQ(State.History().count(), 2);
  EXPECT_EQ(State.History().last(), 2000);
}

TEST_F(ViewerCommands, WithoutAFileOnlyTheFontCommandDoesAnything) {
  State.NextPage();
  State.PreviousPage();
  Window.Bar.SetPosition(40);
  EXPECT_EQ(Window.Beeps, 0);
  EXPECT_TRUE(Window.Statuses.empty());
  EXPECT_EQ(Window.Page, "请打开文件...\r\n");
  EXPECT_EQ(State.PageStart(), 0);

  Window.NextFontHeight.reset();
  State.FontSetup();  // cancelled: not even the status changes
  EXPECT_TRUE(Window.Statuses.empty());
  Window.NextFontHeight = -20;
  State.FontSetup();
  EXPECT_EQ(Window.Status(), "文件大小：0字节");
  EXPECT_EQ(Window.Page, "请打开文件...\r\n");
  EXPECT_EQ(State.LinesPerPage(), 21);
}

// The page is read again from its start with the new geometry, so the next page follows it.
TEST_F(ViewerCommands, FontChangeRereadsThePageAndKeepsHistoryAndPosition) {
  UseTwoLinePages();
  const std::string Text = Lines({{20, 1000}}, 20000);
  Open(Dir.Write("font.txt", Text));
  State.NextPage();
  State.NextPage();
  ASSERT_EQ(State.PageStart(), 4000);
  Window.Height = 5 * 7;
  Window.NextFontHeight = -7;  // five lines of 1200 characters: four counted lines per page
  State.FontSetup();
  EXPECT_EQ(Window.Status(), "文件大小：20000字节");
  EXPECT_EQ(State.PageStart(), 4000);
  EXPECT_EQ(State.PageEnd(), 8000);
  EXPECT_EQ(Window.Page, Text.substr(4000, 4000));
  EXPECT_EQ(State.History().count(), 2);
  EXPECT_EQ(Window.Bar.Position(), 2);
  EXPECT_EQ(State.PageBytes(), 2000);
  State.NextPage();
  EXPECT_EQ(State.History().last(), 4000);
  EXPECT_EQ(Window.Page, Text.substr(8000, 4000));
}

// Ctrl with the wheel, Ctrl+= and Ctrl+-: a step of the font's pixel height fits the page from its
// start, as a font chosen in the dialog does; a step past a bound changes nothing at all.
TEST_F(ViewerCommands, FontSizeStepsStayInRangeAndRefitFromThePageStart) {
  const std::string Text = Lines({{400, 30}}, 12000);
  Open(Dir.Write("steps.txt", Text));
  State.NextPage();
  const TFileOffset Start = State.PageStart();
  Window.RenderedHeight = 20;
  const struct {
    int Height, Steps, Expected;
  } Rows[] = {
      {-14, 1, -16}, {-14, -3, -8},   {-9, -1, -8},    {-8, -1, -8},  {-72, 1, -72}, {-71, 2, -72},
      {-100, -1, -98}, {-100, 1, -100}, {14, 1, 16},  {0, 1, -22},   {0, -7, -8},
  };
  for (const auto& Row : Rows) {
    Window.FontHeight = Row.Height;
    Window.Statuses.clear();
    const int Pages = Window.PagesShown;
    State.StepFontSize(Row.Steps);
    SCOPED_TRACE(std::to_string(Row.Height) + " by " + std::to_string(Row.Steps));
    EXPECT_EQ(Window.FontHeight, Row.Expected);
    if (Row.Expected == Row.Height) {
      EXPECT_TRUE(Window.Statuses.empty());
      EXPECT_EQ(Window.PagesShown, Pages);
      continue;
    }
    EXPECT_EQ(Window.Status(), "文件大小：12000字节");
    EXPECT_EQ(State.LinesPerPage(), 420 / std::abs(Row.Expected));
    EXPECT_EQ(State.PageStart(), Start);
    EXPECT_EQ(Window.Page, Text.substr(Start, State.PageEnd() - Start));
    EXPECT_EQ(State.History().count(), 1);
  }
}

// A layout re-reads the page from its start, counted in the rows shown; the original one counts
// bytes against columns again. Rows ten Chinese characters wide, 30 of them to the 420 pixels.
TEST_F(ViewerCommands, ALayoutCountsThePageInRowsUntilTheOriginalOneComesBack) {
  std::string Text;
  for (int Character = 0; Character < 2000; ++Character) Text += "\xD6\xD0";  // 中
  Open(Dir.Write("rows.txt", Text));
  ASSERT_EQ(State.PageEnd(), 29 * 84);
  TLayoutSettings Column;
  Column.MaxColumns = 10;
  State.SetPageLayout(Column);
  EXPECT_EQ(State.PageLayout(), Column);
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(State.PageEnd(), 30 * 10 * 2);
  EXPECT_EQ(Window.Page, Text.substr(0, 600));
  State.NextPage();
  EXPECT_EQ(State.PageStart(), 600);
  EXPECT_EQ(State.PageEnd(), 1200);
  Column.LineSpacing = 2.0;  // rows 28 apart: 15 of them
  State.SetPageLayout(Column);
  EXPECT_EQ(State.PageEnd(), 600 + 15 * 10 * 2);
  State.SetPageLayout(TLayoutSettings::Original());
  EXPECT_EQ(State.PageStart(), 600);
  EXPECT_EQ(State.PageEnd(), 600 + 29 * 84);
}

TEST_F(ViewerCommands, ResizingChangesNothingUntilTheNextOpenOrFontChange) {
  Open(Dir.Write("resize.txt", Lines({{100, 20}}, 2000)));
  Window.Width = 100;
  Window.Height = 100;
  State.NextPage();
  EXPECT_EQ(State.CharsPerLine(), 42);
  EXPECT_EQ(State.LinesPerPage(), 30);
}

TEST_F(ViewerCommands, EmptyFileKeepsAValidRangeAndHarmlessPaging) {
  Open(Dir.Write("empty.txt", ""));
  EXPECT_EQ(Window.Status(), "文件大小：0字节");
  EXPECT_EQ(Window.Page, "");
  EXPECT_EQ(State.PageEnd(), 0);
  EXPECT_EQ(State.PageBytes(), 0);
  EXPECT_EQ(Window.Bar.Min(), 0);
  EXPECT_GE(Window.Bar.Max(), Window.Bar.Min());
  State.NextPage();
  State.PreviousPage();
  State.PreviousPage();
  Window.Bar.SetPosition(Window.Bar.Max());
  EXPECT_EQ(Window.Page, "");
  Window.NextFontHeight = -12;
  State.FontSetup();
  EXPECT_EQ(Window.Status(), "文件大小：0字节");
}

TEST_F(ViewerCommands, FontHeightZeroUsesTheRenderedHeight) {
  Window.FontHeight = 0;
  Window.RenderedHeight = 20;
  Open(Dir.Write("zero.txt", "abc\n"));
  EXPECT_EQ(State.CharsPerLine(), 588 / 20);
  EXPECT_EQ(State.LinesPerPage(), 420 / 20);
  Window.RenderedHeight = 0;  // nothing to measure: still no division by zero
  Window.NextFontHeight = 0;
  State.FontSetup();
  EXPECT_EQ(State.LinesPerPage(), 420);
}

// One-byte pages of a 6 GiB file would need positions past 32 bits: the step grows just enough.
TEST_F(ViewerCommands, HugeFileScrollStepGrowsToFitThirtyTwoBits) {
  constexpr TFileOffset Size = TFileOffset{6} << 30;
  const std::string Path = Dir.Path("huge.txt");
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(Fd, 0);
  ASSERT_EQ(::ftruncate(Fd, Size), 0);
  ASSERT_EQ(::pwrite(Fd, "XY", 2, Size - 8), 2);
  ::close(Fd);
  Window.Height = 14;  // one line per page: every page is one byte
  Open(Path);
  ASSERT_EQ(State.PageBytes(), 1);
  EXPECT_EQ(State.ScrollStep(), Size / 2147483647 + 1);
  EXPECT_EQ(Window.Bar.Max(), Size / State.ScrollStep() + 1);
  EXPECT_LE(Size / State.ScrollStep() + 1, 2147483647);
  Window.Bar.SetPosition(static_cast<int>((Size - 8) / State.ScrollStep()));
  EXPECT_EQ(State.PageStart(), Size - 8);
  EXPECT_EQ(Window.Page, "X");
  Window.Bar.SetPosition(Window.Bar.Max());
  EXPECT_GE(State.PageStart(), Size);
  EXPECT_EQ(Window.Page, "");
}


// ---- Encodings and whole characters -----------------------------------------------------------------

struct JumpCase {
  const char* Name;
  std::string Before, Character, After;  // the file is a line feed, then these, then a line feed
  TTextEncoding Encoding;
};

void PrintTo(const JumpCase& Row, std::ostream* Out) { *Out << Row.Name; }

class JumpRows : public ViewerCommands, public ::testing::WithParamInterface<JumpCase> {};

// A first page of one line feed makes every scroll position one byte: a jump onto each byte of the
// character shows it whole from its first byte, and from the character after it from any other.
TEST_P(JumpRows, JumpOntoEveryByteOfACharacterShowsFromTheFirstWholeOne) {
  const JumpCase& Row = GetParam();
  Window.Width = 600 * 14;
  Window.Height = 2 * 14;  // one counted line per page, ended by the line feed
  Open(Dir.Write("jump.txt", "\n" + Row.Before + Row.Character + Row.After + "\n"));
  ASSERT_EQ(State.ScrollStep(), 1);
  EXPECT_EQ(Window.Encoding, Row.Encoding);
  const int First = static_cast<int>(1 + Row.Before.size());
  for (int Byte = 0; Byte < static_cast<int>(Row.Character.size()); ++Byte) {
    Window.Bar.SetPosition(First + Byte);
    EXPECT_EQ(State.PageStart(), First + Byte);
    EXPECT_EQ(Window.Page, (Byte == 0 ? Row.Character : "") + Row.After + "\n") << "byte " << Byte;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ViewerCommands, JumpRows,
    ::testing::Values(
        // GBK "中文", then "字" or a four-byte character, then "句": trail bytes that are lead bytes too.
        JumpCase{"Gb18030TwoByte", "\xD6\xD0\xCE\xC4", "\xD7\xD6", "\xBE\xE4", TTextEncoding::Gb18030},
        JumpCase{"Gb18030FourByte", "\xD6\xD0\xCE\xC4", "\x95\x32\x82\x36", "\xBE\xE4", TTextEncoding::Gb18030},
        JumpCase{"Utf8ThreeByte", "\xE4\xB8\xAD\xE6\x96\x87", "\xE5\xAD\x97", "\xE5\x8F\xA5", TTextEncoding::Utf8},
        // Big5 "中文", then "字" (trail "r"), then "句" (trail "y").
        JumpCase{"Big5AsciiTrail", "\xA4\xA4\xA4\xE5", "\xA6\x72", "\xA5\x79", TTextEncoding::Big5}));

// A page the line rule cuts inside a character shows it whole, finished from the bytes after the page;
// the next page starts after it. Paging forward and back shows every character exactly once.
TEST_F(ViewerCommands, PagesCutInsideACharacterShowOnlyWholeOnes) {
  Window.Width = 2 * 14;   // lines of four bytes
  Window.Height = 2 * 14;  // one line per page
  // "a中文字句" in GBK: every page boundary after the first falls inside a character.
  const std::string Text = "a\xD6\xD0\xCE\xC4\xD7\xD6\xBE\xE4";
  Open(Dir.Write("cut.txt", Text));
  EXPECT_EQ(State.PageEnd(), 4);
  EXPECT_EQ(Window.Page, "a\xD6\xD0\xCE\xC4");
  // Read ahead for the window, the next page's text is what Next Page then shows, and the look
  // changes nothing.
  EXPECT_EQ(State.NextPageText(), "\xD7\xD6\xBE\xE4");
  EXPECT_EQ(State.PageEnd(), 4);
  EXPECT_EQ(State.History().count(), 0);
  State.NextPage();
  EXPECT_EQ(State.PageStart(), 4);
  EXPECT_EQ(Window.Page, "\xD7\xD6\xBE\xE4");
  EXPECT_EQ(State.NextPageText(), "");
  State.NextPage();
  EXPECT_EQ(Window.Page, "");  // only the trail byte of "句" is left
  State.PreviousPage();
  EXPECT_EQ(Window.Page, "\xD7\xD6\xBE\xE4");
}

TEST_F(ViewerCommands, OpenDetectsTheEncodingAndAChoiceLastsUntilTheNextOpen) {
  Window.Height = 2 * 14;  // one counted line per page
  Open(Dir.Write("utf16.txt", std::string("\xFF\xFE" "a\0\n\0b\0", 8)));
  EXPECT_EQ(Window.Encoding, TTextEncoding::Utf16Le);
  EXPECT_TRUE(Window.EncodingDetected);
  // The line feed's code unit ends the page.
  EXPECT_EQ(State.PageEnd(), 6);
  EXPECT_EQ(Window.Page, std::string("a\0\n\0", 4));
  State.NextPage();
  EXPECT_EQ(Window.Page, std::string("b\0", 2));
  State.PreviousPage();
  State.ChooseEncoding(TTextEncoding::Utf16Be);
  EXPECT_EQ(Window.Encoding, TTextEncoding::Utf16Be);
  EXPECT_FALSE(Window.EncodingDetected);
  // No UTF-16BE mark: text. Read big-end first the units hold no line feed (0x0A00 is a character).
  EXPECT_EQ(Window.Page, std::string("\xFF\xFE" "a\0\n\0b\0", 8));
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(State.PageEnd(), 8);
  State.ChooseEncoding(std::nullopt);
  EXPECT_EQ(Window.Encoding, TTextEncoding::Utf16Le);
  State.ChooseEncoding(TTextEncoding::Utf8);
  Open(Dir.Write("gbk.txt", "\xD6\xD0\xCE\xC4"));
  EXPECT_EQ(State.ChosenEncoding(), std::nullopt);
  EXPECT_EQ(Window.Encoding, TTextEncoding::Gb18030);
  EXPECT_TRUE(Window.EncodingDetected);
}

}  // namespace

// A file that changes between commands: the size and scroll range follow it, and a change that makes
// the offsets on hand stale is said as the command's last status. Growth alone is not news.
TEST_F(ViewerCommands, FileChangedWhileOpenIsFollowedAndSaid) {
  UseTwoLinePages();
  const std::string Text = Lines({{2, 1000}, {20, 950}}, 21000);
  const std::string Path = Dir.Write("live.txt", Text);
  Open(Path);
  State.NextPage();
  const std::size_t Kept = State.History().count();

  std::filesystem::resize_file(Path, 100);  // below the page on screen
  State.NextPage();
  EXPECT_EQ(Window.Status(), "文件已变短，现为100字节");
  EXPECT_EQ(State.FileSize(), 100);
  EXPECT_EQ(Window.Bar.Max(), 100 / 2000 + 1);
  EXPECT_EQ(Window.Page, "");
  EXPECT_EQ(State.History().count(), Kept + 1);

  Dir.Write("live.txt", Text + Text);  // grown: its new part comes into the bar's reach, no notice
  State.PreviousPage();
  EXPECT_EQ(Window.Bar.Max(), 42000 / 2000 + 1);
  Window.Bar.SetPosition(20);
  EXPECT_EQ(Window.Status(), "当前翻页Position=20");
  EXPECT_EQ(State.PageStart(), 40000);
  EXPECT_EQ(Window.Page.substr(0, 60), (Text + Text).substr(40000, 60));

  const timespec Times[2] = {{0, UTIME_OMIT}, {12345, 0}};  // rewritten in place, same size
  ASSERT_EQ(::utimensat(AT_FDCWD, Path.c_str(), Times, 0), 0);
  State.PreviousPage();
  EXPECT_EQ(Window.Status(), "文件已被改写");

  const std::string Other = Dir.Write("other.txt", std::string(5000, 'x'));
  std::filesystem::rename(Other, Path);  // an editor saving over it
  Window.Bar.SetPosition(1);
  EXPECT_EQ(Window.Status(), "文件已被替换，现为5000字节");
  EXPECT_EQ(Window.Page, std::string(2 * 1200, 'x'));  // two lines of 1200 bytes from 2000

  std::filesystem::remove(Path);
  Window.NextFontHeight = -12;
  State.FontSetup();
  EXPECT_EQ(Window.Status(), "文件已无法读取");
  EXPECT_EQ(Window.Bar.Max(), 1);
  State.NextPage();  // stays quiet once said
  EXPECT_EQ(Window.Status(), "当前操作记录数为：" + std::to_string(State.History().count()) + ";Pos=" +
                                 std::to_string(State.PageStart()));
}

namespace {

class ViewerJumps : public ViewerCommands {
protected:
  // Lets the search run to its end, handing its calls over as the event loop would.
  void FinishSearch() {
    for (int Wait = 0; Wait < 20000 && State.Searching(); ++Wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      Window.RunWhatCameLater();
    }
    ASSERT_FALSE(State.Searching());
  }
  void Find(const std::string& Text, bool Backward = false, bool Regex = false) {
    State.Find(TSearchQuery{Text, true, Regex}, Backward);
    FinishSearch();
  }
};

}  // namespace

// A jump shows the page from the start of the line it lands in, records the page left as a
// next-page step does, and moves the thumb without reading the page again from its step's start.
TEST_F(ViewerJumps, JumpShowsTheLineAndComesBackWithPreviousPage) {
  UseTwoLinePages();
  const std::string Text = Lines({{2, 1000}, {20, 950}}, 21000);
  Open(Dir.Write("jump.txt", Text));
  const std::size_t Statuses = Window.Statuses.size();
  State.JumpTo(10000 + 400, 5);
  const TFileOffset LineStart = static_cast<TFileOffset>(Text.rfind('\n', 10400) + 1);
  EXPECT_EQ(State.PageStart(), LineStart);
  EXPECT_EQ(Window.Page.substr(0, 100), Text.substr(static_cast<std::size_t>(LineStart), 100));
  EXPECT_EQ(Window.Match, Text.substr(10400, 5));
  EXPECT_EQ(Window.Bar.Position(), LineStart / State.ScrollStep());
  EXPECT_EQ(Window.Statuses.size(), Statuses);  // no jump to the step's start, no status of its own
  EXPECT_EQ(State.History().count(), 1);
  State.PreviousPage();
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(Window.Page, Text.substr(0, 2000));
  // A line longer than a page reaches back no further than a page: the page starts at the offset.
  Open(Dir.Write("long.txt", std::string(50000, 'x')));
  State.JumpTo(30000);
  EXPECT_EQ(State.PageStart(), 30000);
}

// Finding runs off the GUI thread and shows each hit on its page; past the end it goes on from the
// other end and says so; a miss beeps and names the query; a bad pattern says what is wrong.
TEST_F(ViewerJumps, FindShowsHitsWrapsAndTellsAMiss) {
  UseTwoLinePages();
  std::string Text = Lines({{30, 900}}, 27000);
  Text.replace(5000, 6, "needle");
  Text.replace(20000, 6, "needle");
  Open(Dir.Write("find.txt", Text));
  Find("needle");
  EXPECT_EQ(Window.Match, "needle");
  EXPECT_EQ(State.PageStart(), static_cast<TFileOffset>(Text.rfind('\n', 5000) + 1));
  EXPECT_EQ(Window.Status(), "找到“needle”：第5000字节");
  Find("needle");
  EXPECT_EQ(Window.Status(), "找到“needle”：第20000字节");
  Find("needle");  // past the last: from the start again
  EXPECT_EQ(Window.Status(), "找到“needle”：第5000字节（已从头继续）");
  Find("needle", true);  // backward from the hit at 5000: from the end
  EXPECT_EQ(Window.Status(), "找到“needle”：第20000字节（已从末尾继续）");
  EXPECT_EQ(State.History().count(), 4);

  const int Beeps = Window.Beeps;
  const TFileOffset Start = State.PageStart();
  Find("haystack");
  EXPECT_EQ(Window.Status(), "找不到“haystack”");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(State.PageStart(), Start);
  Find("need(le", false, true);
  EXPECT_NE(Window.Status().find("正则表达式"), std::string::npos) << Window.Status();
  // The file gone under the search: it stops and says so, as the page commands do.
  std::filesystem::remove(Dir.Path("find.txt"));
  Find("needle");
  EXPECT_EQ(Window.Status(), "查找已停止：文件已无法读取");
  EXPECT_EQ(State.PageStart(), Start);
}

// Any other command stops a search under way: nothing it would have found shows afterwards.
TEST_F(ViewerJumps, AnotherCommandStopsTheSearch) {
  UseTwoLinePages();
  std::string Text = Lines({{30, 900}}, 27000);
  Text.replace(20000, 6, "needle");
  Open(Dir.Write("stop.txt", Text));
  State.Find(TSearchQuery{"needle", true, false}, false);
  State.NextPage();
  EXPECT_FALSE(State.Searching());
  const std::string Page = Window.Page;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Window.RunWhatCameLater();
  EXPECT_EQ(Window.Page, Page);
  EXPECT_EQ(Window.Match, "");
  EXPECT_EQ(Window.Status(), "当前翻页Position=1");
}

// Go To takes a share or a byte offset and shows the page there as a jump does; the tool bar's share
// follows every page, 0.0% on the first and 100.0% only past the last.
TEST_F(ViewerJumps, GoToAShareOrAnOffsetAndTheShareOnEveryPage) {
  UseTwoLinePages();
  const std::string Text = Lines({{2, 1000}, {20, 950}}, 21000);
  Open(Dir.Write("goto.txt", Text));
  EXPECT_EQ(Window.Where, "0.0%");
  State.GoTo("50%");
  EXPECT_EQ(State.PageStart(), static_cast<TFileOffset>(Text.rfind('\n', 10500) + 1));
  EXPECT_EQ(Window.Status(), "已转到第10500字节");
  EXPECT_EQ(Window.Where, State.Where());
  EXPECT_EQ(State.History().count(), 1);
  State.GoTo("２００１");  // full-width digits: a byte offset
  EXPECT_EQ(State.PageStart(), 2000);
  EXPECT_EQ(Window.Where, "9.5%");
  const int Beeps = Window.Beeps;
  State.GoTo("第三章");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(State.PageStart(), 2000);
  Window.Bar.SetPosition(Window.Bar.Max());  // past the end
  EXPECT_EQ(Window.Where, "100.0%");
}

namespace {

class ViewerChapters : public ViewerJumps {
protected:
  // Runs what the chapter scan hands over until it ends.
  void FinishScan() {
    for (int Wait = 0; Wait < 20000 && State.Chapters().State() == TChapterIndex::TState::Scanning; ++Wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      Window.RunWhatCameLater();
    }
    ASSERT_NE(State.Chapters().State(), TChapterIndex::TState::Scanning);
  }
};

}  // namespace

// Headings are found only when asked for; a chapter step waits for them, lands on the heading's line,
// and the tool bar names the chapter of every page; the ends of the list beep and say so.
TEST_F(ViewerChapters, StepsWaitForTheScanAndTheToolBarNamesTheChapter) {
  UseTwoLinePages();
  std::string Text = "第一章 开始\n";
  for (const char* Heading : {"第二章 路上\n", "第三章 山中\n"}) Text += std::string(6000, 'x') + '\n' + Heading;
  Text += std::string(3000, 'y') + "\n尾声";
  Open(Dir.Write("novel.txt", Text));
  EXPECT_EQ(State.Chapters().State(), TChapterIndex::TState::NotScanned);
  EXPECT_EQ(Window.ChapterTitle, "");
  State.NextChapter();  // from the first heading's page: waits for the scan, then lands on the second
  FinishScan();
  ASSERT_EQ(State.Chapters().Count(), 4u);
  EXPECT_EQ(State.PageStart(), static_cast<TFileOffset>(Text.find("第二章")));
  EXPECT_EQ(Window.ChapterTitle, "第二章 路上");
  EXPECT_EQ(Window.Status(), "已转到“第二章 路上”");
  State.NextPage();  // inside chapter two
  EXPECT_EQ(Window.ChapterTitle, "第二章 路上");
  State.PreviousChapter();  // the heading before the page: its own chapter's
  EXPECT_EQ(State.PageStart(), static_cast<TFileOffset>(Text.find("第二章")));
  State.PreviousChapter();
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(Window.ChapterTitle, "第一章 开始");
  int Beeps = Window.Beeps;
  State.PreviousChapter();
  EXPECT_EQ(Window.Status(), "前面没有章节了");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  State.GoToChapter(3);  // the file's last line, without a line feed
  EXPECT_EQ(Window.ChapterTitle, "尾声");
  State.NextChapter();
  EXPECT_EQ(Window.Status(), "已是最后一章");
  EXPECT_EQ(State.History().count(), 5);

  // A rule whose pattern does not compile says where and keeps the list; one that does finds anew.
  std::vector<TChapterRule> Rules = State.ChapterRules();
  Rules.push_back({"尾声", "^第("});
  const std::string Fault = State.SetChapterRules(Rules, Rules.size() - 1);
  EXPECT_NE(Fault.find("第 4 个字符处"), std::string::npos) << Fault;
  EXPECT_EQ(State.Chapters().Count(), 4u);
  Rules.back().Pattern = "^尾声$";
  EXPECT_EQ(State.SetChapterRules(Rules, Rules.size() - 1), "");
  FinishScan();
  EXPECT_EQ(State.Chapters().Count(), 1u);
  EXPECT_EQ(State.Chapters().Status(), "共 1 章");

  // Another file forgets the headings; one without any says so, and a waiting step gives way to a command.
  Open(Dir.Write("log.txt", Lines({{30, 900}}, 27000)));
  EXPECT_EQ(State.Chapters().State(), TChapterIndex::TState::NotScanned);
  State.NextChapter();
  State.NextPage();
  FinishScan();
  EXPECT_EQ(State.PageStart(), State.History().last() + 2 * 900);  // the page step alone moved
  Beeps = Window.Beeps;
  State.NextChapter();
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(Window.Status(), "没有找到章节");
  EXPECT_EQ(State.Chapters().Status(), "没有找到章节：文件里没有与规则相符的行");

  // A heading on the first line of a file with a byte-order mark names the first page's chapter.
  EXPECT_EQ(State.SetChapterRules(BuiltInChapterRules(), std::nullopt), "");
  Open(Dir.Write("utf8.txt", "\xEF\xBB\xBF第一章 开始\n" + std::string(9000, 'x') + "\n第二章 路上\n"));
  State.NextChapter();
  FinishScan();
  EXPECT_EQ(Window.ChapterTitle, "第二章 路上");
  State.PreviousChapter();
  EXPECT_EQ(State.PageStart(), 3);
  EXPECT_EQ(Window.ChapterTitle, "第一章 开始");
  State.JumpTo(0);
  EXPECT_EQ(Window.ChapterTitle, "第一章 开始");
}

// A file that cannot be opened opens all the same, empty, with a valid range and harmless paging, and
// the message says why, last even after the jump to the first position; every later command, the
// search and the chapter scan say there is no readable file. Once it can be read it is followed.
TEST_F(ViewerChapters, UnreadableFileSaysWhyOnOpenAndOnEveryCommand) {
  const std::string Fifo = Dir.Path("fifo.txt");
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink("loop.txt", Dir.Path("loop.txt"));
  std::vector<std::pair<std::string, std::string>> Rows = {
      {Dir.Path("missing.txt"), "文件不存在"}, {Dir.Path("no/such.txt"), "文件不存在"},
      {Dir.Path("loop.txt"), "符号链接循环"},   {Fifo, "不是普通文件"},
      {Dir.Path(""), "不是普通文件"},           {"/dev/null", "不是普通文件"}};
  const std::string Locked = Dir.Write("locked.txt", "text\n");
  ASSERT_EQ(::chmod(Locked.c_str(), 0), 0);
  if (::geteuid() != 0) Rows.emplace_back(Locked, "没有读取权限");  // root reads whatever the mode says
  UseTwoLinePages();
  Open(Dir.Write("first.txt", Lines({{100, 1000}}, 100000)));
  for (const auto& [Path, Reason] : Rows) {
    SCOPED_TRACE(Path);
    Window.Bar.SetPosition(3);
    Open(Path);
    EXPECT_EQ(Window.Status(), "无法打开文件：" + Reason);
    EXPECT_EQ(Window.Caption, "Pagorin文本文件浏览器--" + Path);
    EXPECT_EQ(Window.Page, "");
    EXPECT_EQ(State.PageBytes(), 0);
    EXPECT_EQ(Window.Bar.Position(), 0);
    EXPECT_GE(Window.Bar.Max(), Window.Bar.Min());

    const std::string Never = "没有可读取的文件：" + Reason;
    const auto Said = [&](const char* Command, const std::function<void()>& Run) {
      Run();
      EXPECT_EQ(Window.Status(), Never) << Command;
      EXPECT_EQ(Window.Page, "") << Command;
    };
    Said("next page", [&] { State.NextPage(); });
    Said("previous page", [&] { State.PreviousPage(); });
    Said("previous page, none left", [&] { State.PreviousPage(); });
    Said("scroll jump", [&] { Window.Bar.SetPosition(Window.Bar.Max()); });
    Said("font", [&] {
      Window.NextFontHeight = -14;
      State.FontSetup();
    });
    Said("go to", [&] { State.GoTo("50%"); });
    const int Beeps = Window.Beeps;
    Said("find", [&] { Find("needle"); });
    Said("next chapter", [&] { State.NextChapter(); });
    EXPECT_EQ(Window.Beeps, Beeps + 2);
    State.FindChapters();
    FinishScan();
    EXPECT_EQ(State.Chapters().Status(), "章节查找已停止：" + Reason);
  }

  Dir.Write("missing.txt", "第一章\nneedle\n");
  Open(Dir.Path("missing.txt"));
  std::filesystem::remove(Dir.Path("missing.txt"));
  State.NextPage();  // a file that did open and then went: the change, said once
  EXPECT_EQ(Window.Status(), "文件已无法读取");
  Window.NextFontHeight = -14;
  State.FontSetup();
  EXPECT_EQ(Window.Status(), "文件已无法读取");

  Open(Dir.Path("missing.txt"));
  Dir.Write("missing.txt", "第一章\nneedle\n");
  State.NextPage();
  EXPECT_EQ(Window.Status(), "文件已可读取，现为17字节");
  Find("needle");
  EXPECT_EQ(Window.Status(), "找到“needle”：第10字节");
}

// A jump follows the file first, as the page commands do: headings past a new end are dropped, and a
// heading or a hit that the file no longer holds is not gone to: a beep and the change, never "已转到"
// or "找到". Another file under the name leaves no heading to trust: they are found anew.
TEST_F(ViewerChapters, JumpsFollowTheFileAndNeverGoWhereItNoLongerReaches) {
  UseTwoLinePages();
  std::string Text;
  for (int I = 1; I <= 5; ++I) Text += "第" + std::to_string(I) + "章\n" + std::string(3000, 'x') + "\n";
  const std::string Path = Dir.Write("novel.txt", Text);
  const auto At = [&](const std::string& Heading) { return static_cast<TFileOffset>(Text.find(Heading)); };
  Open(Path);
  State.FindChapters();
  FinishScan();
  ASSERT_EQ(State.Chapters().Count(), 5u);

  std::filesystem::resize_file(Path, At("第4章"));
  int Beeps = Window.Beeps;
  State.GoToChapter(4);
  EXPECT_EQ(Window.Status(), "文件已变短，现为" + std::to_string(At("第4章")) + "字节");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(State.PageStart(), 0);
  EXPECT_EQ(State.Chapters().Count(), 3u);
  EXPECT_EQ(Window.Bar.Max(), At("第4章") / State.ScrollStep() + 1);
  State.GoToChapter(1);
  EXPECT_EQ(Window.Status(), "已转到“第2章”");

  // The next chapter is past the cut: none is left after the page, and the change is said last.
  std::filesystem::resize_file(Path, At("第3章"));
  Beeps = Window.Beeps;
  State.NextChapter();
  EXPECT_EQ(Window.Statuses.end()[-2], "已是最后一章");
  EXPECT_EQ(Window.Status(), "文件已变短，现为" + std::to_string(At("第3章")) + "字节");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(State.PageStart(), At("第2章"));

  const std::string Other = "第一章\n" + std::string(5000, 'y') + "\nneedle\n第二章\n";
  std::filesystem::rename(Dir.Write("other.txt", Other), Path);
  State.GoToChapter(0);
  EXPECT_EQ(Window.Status(), "文件已被替换，现为" + std::to_string(Other.size()) + "字节");
  EXPECT_EQ(State.PageStart(), At("第2章"));
  FinishScan();
  ASSERT_EQ(State.Chapters().Count(), 2u);
  EXPECT_EQ(State.Chapters().Title(1), "第二章");

  // Cut while the hit found is on its way to the window.
  Window.OnRunLater = [&] { std::filesystem::resize_file(Path, 100); };
  Beeps = Window.Beeps;
  const std::size_t Left = State.History().count();
  Find("needle");
  EXPECT_EQ(Window.Status(), "文件已变短，现为100字节");
  EXPECT_EQ(Window.Beeps, Beeps + 1);
  EXPECT_EQ(State.History().count(), Left);  // no page left for the hit's
  EXPECT_EQ(State.Chapters().Count(), 1u);
}

// The tool bar names no chapter for a page the headings found so far do not reach, neither while the
// scan runs nor once it was stopped short: a heading still unseen may lie between.
TEST_F(ViewerChapters, NoChapterIsNamedBeyondTheHeadingsFound) {
  UseTwoLinePages();
  const std::string Filler = std::string(SearchBlockBytes, 'x') + '\n';  // the scan's first block ends in it
  const std::string Text = "第一章 开始\n" + Filler + "第二章 路上\n" + Filler;
  Open(Dir.Write("novel.txt", Text));
  State.JumpTo(static_cast<TFileOffset>(Text.size()) - 10);
  State.FindChapters();
  // The scan's calls one at a time, up to the first that brings headings: 第一章 alone.
  std::size_t Taken = 0;
  for (int Wait = 0; Wait < 20000 && State.Chapters().Count() == 0; ++Wait) {
    std::function<void()> Call;
    {
      const std::lock_guard<std::mutex> Lock(Window.LaterGuard);
      if (Taken < Window.Later.size()) Call = Window.Later[Taken++];
    }
    Call ? Call() : std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(State.Chapters().Count(), 1u);
  EXPECT_EQ(Window.ChapterTitle, "");
  State.StopChapterScan();
  EXPECT_EQ(Window.ChapterTitle, "");
  State.FindChapters();
  FinishScan();
  EXPECT_EQ(Window.ChapterTitle, "第二章 路上");
}

// The rules choose for each file and say which they chose; the reader may pick one for the file at hand;
// rules that cannot be used say why and change nothing; a rule of the reader's own is one of them.
TEST_F(ViewerChapters, TheRulesChooseForEachFileAndTheReaderMayPickOne) {
  std::string Text;
  for (int Chapter = 1; Chapter <= 30; ++Chapter)
    Text += (Chapter < 10 ? "00" : "0") + std::to_string(Chapter) + " 标题\n" + std::string(3000, 'x') + "\n";
  Open(Dir.Write("numbered.txt", Text));
  State.FindChapters();
  FinishScan();
  EXPECT_EQ(State.ChapterRuleInUse(), 1u);
  EXPECT_EQ(State.Chapters().Count(), 30u);

  std::vector<TChapterRule> Rules = State.ChapterRules();
  Rules[2].Pattern = "^(";
  EXPECT_EQ(State.SetChapterRules(Rules, std::nullopt).rfind("规则“英文 Chapter”：正则表达式", 0), 0u);
  Rules = State.ChapterRules();
  for (TChapterRule& Rule : Rules) Rule.Enabled = false;
  EXPECT_EQ(State.SetChapterRules(Rules, std::nullopt), "请至少启用一条规则");
  EXPECT_EQ(State.SetChapterRules(Rules, 4), "没有这条规则");
  EXPECT_EQ(State.Chapters().Count(), 30u);
  EXPECT_EQ(State.SetChapterRules(Rules, 0), "");  // picked: used though not enabled
  FinishScan();
  EXPECT_EQ(State.ChapterRuleInUse(), 0u);
  EXPECT_EQ(State.Chapters().Count(), 0u);

  Rules.push_back({"我的规则", ""});
  EXPECT_EQ(State.SetChapterRules(Rules, 4), "规则“我的规则”需要一个表达式");
  Rules.back().Pattern = "^0";
  EXPECT_EQ(State.SetChapterRules(Rules, 4), "");
  FinishScan();
  EXPECT_EQ(State.ChapterRuleInUse(), 4u);
  EXPECT_EQ(State.Chapters().Count(), 30u);

  // The next book's rule is chosen for it, among the rules enabled, which stay.
  EXPECT_EQ(State.SetChapterRules(Rules, 0), "");
  Open(Dir.Write("other.txt", Text));
  State.FindChapters();
  FinishScan();
  EXPECT_EQ(State.ChapterRuleInUse(), 4u);
  EXPECT_EQ(State.Chapters().Count(), 30u);
  EXPECT_EQ(State.ChapterRules(), Rules);
}
