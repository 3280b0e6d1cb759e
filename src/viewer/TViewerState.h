#pragma once

#include "FileOffset.h"
#include "PageRows.h"
#include "ReadPage.h"
#include "TCList.h"
#include "TChapterIndex.h"
#include "TScanThread.h"
#include "TextEncoding.h"
#include "TextSearch.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

class TViewerWindow;

// The reading state of the main window and the commands that move it: which file is open, where the
// page on screen starts and ends, how much text fits the text area, and how scroll positions map to
// byte offsets. The commands write their results through the window: page text, status message,
// caption and scroll bar. Scroll assignments come last in each command, because moving the position
// runs the scroll jump at once, nested, and it must see the state already up to date.
class TViewerState {
public:
  explicit TViewerState(TViewerWindow& Window);

  void Open();          // File > Open
  // Opens Path as File > Open does once its dialog has chosen it: the program's command line, a file
  // dropped on the window. A file that cannot be read opens all the same, empty, and the message
  // says why; so does every later command until it can be read.
  void OpenFile(const std::string& Path);
  void NextPage();      // tool button down, Page Down, Space
  void PreviousPage();  // tool button up, Page Up
  void ScrollJump();    // the scroll bar's position changed
  void FontSetup();     // Setup > Font
  // Ctrl with the wheel, Ctrl+= and Ctrl+-: the text font Steps sizes larger (smaller when negative),
  // FontSizeStep pixels a size, within MinFontPixels..MaxFontPixels, and the page fitted anew as after
  // Setup > Font. A font already at the bound a step leads past stays, and nothing is read again.
  void StepFontSize(int Steps);
  static constexpr int FontSizeStep = 2;
  static constexpr int MinFontPixels = 8;
  static constexpr int MaxFontPixels = 72;
  // The text area took another size at the reader's request (full screen on or off): the page is
  // measured and read again from PageStart, as after a font change.
  void Refit();
  // Setup > 版式: pages set by Layout from now on (spacing, margins, column, line breaking), measured
  // and read again from PageStart, as after a font change. Under any layout but the original one, a
  // page is counted in the rows the text area shows: it ends where the screen does.
  void SetPageLayout(const TLayoutSettings& Layout);
  const TLayoutSettings& PageLayout() const { return FLayout; }
  // Setup > Text encoding: Choice, or the detected encoding (nullopt, 自动检测), for the page on
  // screen and every later page of this file.
  void ChooseEncoding(std::optional<TTextEncoding> Choice);

  // Edit > Find: searches the open file for Query, in its encoding, from after the match on screen
  // (or from the page on screen) toward the end (Backward: the start), then on from the other end.
  // The search runs off the GUI thread and reports its progress; any other command stops it. A hit
  // is shown as JumpTo shows an offset, and highlighted; none gives a beep and a message.
  void Find(const TSearchQuery& Query, bool Backward);
  // Find next / previous (F3, Shift+F3): the last query again. False when there is none yet.
  bool FindAgain(bool Backward);
  // Stops the search under way; true when there was one.
  bool CancelSearch();
  bool Searching() const { return FSearch.Running(); }

  // Shows the page that holds Offset, from the start of its line (the byte after the line feed
  // before Offset, at most one page back; with none that close, Offset itself), and highlights
  // Length bytes from Offset. The page left is recorded in the history, as a next-page step records
  // it, and the scroll thumb moves to the page without a re-read from its step's start. The file is
  // followed first, as the page commands follow it: when it no longer holds those bytes nothing
  // moves, a beep and the change are said, and the result is false.
  bool JumpTo(TFileOffset Offset, TFileOffset Length = 0);
  // The same jump to a page that starts exactly at PageStart, as it was once shown (a place the
  // reader kept): the page is not moved back to the start of its line.
  bool JumpToPage(TFileOffset PageStart);

  // Go > Go To: Where is a share of the file ("37.5%") or a byte offset ("123456"), see ParsePosition.
  // The page there is shown as JumpTo shows it; a text that is neither gives a beep and a message.
  void GoTo(const std::string& Where);
  // Where the page on screen starts, as a share of the file with one decimal ("37.4%"), as the tool
  // bar shows it and Go To offers it.
  std::string Where() const;

  // Go > Table of contents: starts finding the open file's chapter headings with the rules, unless
  // they are known or being found.
  void FindChapters();
  // New rules, and the one the reader picks among them (none: the most plausible of the enabled ones,
  // chosen for each file). Rules without a name or a pattern, a pattern that does not compile, a pick
  // beyond them or no rule to choose from give a message back and change nothing; else the headings
  // are found anew (when they were asked for).
  std::string SetChapterRules(std::vector<TChapterRule> Rules, std::optional<std::size_t> Pick);
  // The rule the headings on hand are found with (its place in ChapterRules): none while it is being
  // chosen.
  std::optional<std::size_t> ChapterRuleInUse() const;
  // Go > Next / Previous chapter: the page from the first heading after the page on screen, or from
  // the last heading before it, shown as JumpTo shows it. The headings are found first where needed:
  // the step then waits for the scan, and any other command drops it.
  void NextChapter() { StepChapter(true); }
  void PreviousChapter() { StepChapter(false); }
  // Shows the page from heading Index of Chapters, as JumpTo shows it; a heading that a change of the
  // file since took away is not gone to.
  void GoToChapter(std::size_t Index);
  // The chapter lists kept between runs: where they go (none: nowhere), and clearing them.
  TChapterCache& KeptChapters() { return *FChapters.Kept; }
  // The reader stopped the chapter scan: the headings found so far stay.
  void StopChapterScan() { FChapters.Cancel(); }
  // The heading of the page on screen: the last at or before its first character shown.
  std::optional<std::size_t> ChapterOnScreen() const { return FChapters.At(FirstShown()); }

  // The text that Next Page would show after the page on screen, read now and changing nothing, so
  // that the window can get its glyphs ready while the reader reads. Empty at the file's end.
  std::string NextPageText() const;

  const std::string& FileName() const { return FFileName; }  // empty: no file is open
  TFileOffset PageStart() const { return FPageStart; }
  int LinesPerPage() const { return FLinesPerPage; }
  TFileOffset FileSize() const { return FFileSize; }
  TFileOffset PageEnd() const { return FPageEnd; }
  TFileOffset PageBytes() const { return FPageBytes; }  // length of the first page after opening
  int CharsPerLine() const { return FCharsPerLine; }
  const TCList<TFileOffset>& History() const { return FHistory; }  // starts of the pages left by NextPage
  // Bytes per scroll position: PageBytes, grown just enough that a huge file's last position still
  // fits the scroll bar's 32-bit range, and never 0.
  TFileOffset ScrollStep() const { return FScrollStep; }
  // The encoding of the open file as detected when it was opened, and the one chosen by hand since.
  TTextEncoding DetectedEncoding() const { return FDetectedEncoding; }
  std::optional<TTextEncoding> ChosenEncoding() const { return FChosenEncoding; }
  TTextEncoding Encoding() const { return FChosenEncoding.value_or(FDetectedEncoding); }
  // How chapter headings are found: the rules, kept from file to file, and the one the reader picked
  // among them for the open file (none: chosen for it). Change them with SetChapterRules.
  const std::vector<TChapterRule>& ChapterRules() const { return FChapterRules; }
  std::optional<std::size_t> ChapterRule() const { return FChapterRule; }
  const TChapterIndex& Chapters() const { return FChapters; }  // of the open file, once asked for or kept from an earlier reading

private:
  std::string FFileName;  // empty: no file is open
  TFileOffset FPageStart = 0;
  int FLinesPerPage = 0;
  TFileOffset FFileSize = 0;
  TFileOffset FPageEnd = 0;
  TFileOffset FPageBytes = 0;  // length of the first page after opening
  int FCharsPerLine = 0;
  TCList<TFileOffset> FHistory;  // starts of the pages left by NextPage
  TFileOffset FScrollStep = 1;
  TTextEncoding FDetectedEncoding = TTextEncoding::Gb18030;
  std::optional<TTextEncoding> FChosenEncoding;
  std::vector<TChapterRule> FChapterRules = BuiltInChapterRules();
  std::optional<std::size_t> FChapterRule;
  TChapterIndex FChapters;  // of the open file, once asked for
  void ComputeGeometry();
  // The page from Start with the geometry on hand: bytes against columns under the original layout,
  // else the rows the text area shows. End receives where it ends (see ReadPage).
  std::string ReadPageFrom(TFileOffset Start, TFileOffset& End, bool StartWhole) const;
  // A new font or size: geometry and size status anew, the page read again from its start.
  void FitPage();
  // StartWhole: PageStart is known to begin a character (it ends a page shown whole), so no look
  // before the page is needed.
  void ReadPageAtStart(bool StartWhole = false);
  // The same, then the scroll bar moved to the page: a page turn.
  void ReadPageAndScroll(bool StartWhole = false);
  // Shows the whole characters of Page, read from PageStart (see ShownText).
  void ShowWholeCharacters(const std::string& Page, bool StartWhole);
  void SetScrollRange();
  void UpdateScrollBar();
  // The size status, or why the open file cannot be read.
  void ShowFileSize();
  // "没有可读取的文件：" and the reason, for a file that has not opened since it was chosen.
  std::string NoReadableFile() const;
  // The open file as it is now against what the last command saw: FileSize and the scroll range follow
  // it, and a change that makes the offsets on hand stale leaves a notice for the end of the command
  // (and drops the headings it made stale). A file that has never opened leaves why, every time.
  bool FollowFileChanges();
  // For a command that needs the file's bytes: false, with a beep and why, while the open file has
  // never been readable; one that has become readable since is followed first.
  bool OpenedOnce();
  // At the end of the outermost command only: a nested scroll jump must not bury it under its status.
  void ShowChangeNotice();
  // JumpTo once the open file has been followed.
  // AtLineStart: the page starts at the start of Offset's line, else at Offset itself.
  void ShowJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart = true);
  // ShowJump to something found in the file (a hit, a heading), once the file has been followed: only
  // while the file still holds it, else NoJump. True when it was shown.
  bool ShowFoundJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart = true);
  // A jump whose place the file no longer holds: a beep, and the change as the command's last status.
  void NoJump();
  // Where the line that holds Offset starts, looking back at most one page's length.
  TFileOffset LineStartBefore(TFileOffset Offset) const;
  void SearchProgress(int Permille, bool Wrapped, bool Backward);
  void SearchDone(const TSearchResult& Result, const std::string& Failure, bool Backward);
  // The query as messages quote it: cut when long.
  std::string Quoted() const;

  TViewerWindow& FWindow;
  TLayoutSettings FLayout;
  TRowGeometry FRows;  // of FLayout in the text area, as ComputeGeometry found it
  TFileFacts FFacts;          // of the open file, when the last command read it
  bool FEverReadable = false;  // the open file has been readable at some command since it was opened
  TFileProblem FProblem = TFileProblem::None;  // why it could not be read, when last it could not
  std::string FChangeNotice;  // shown as the command's last status
  int FRunning = 0;           // commands under way: a scroll jump runs nested inside the others
  bool FPageEndWhole = false;  // the page on screen ends on a character boundary
  std::size_t FShownFrom = 0;  // bytes at the page's start that its shown text leaves out
  std::uint64_t FPagesShown = 0;  // pages handed to the window so far
  bool FMovingThumb = false;   // a jump moves the thumb to its page: no re-read from the step
  // Ends what waits on the background: the search under way and a chapter step. Every command
  // starts with it.
  void StopWaiting();
  void StepChapter(bool Forward);
  // Finds the headings anew with the rules.
  void ScanChapters();
  // Forgets the headings and takes the list kept for the file as it is read now, if any.
  void RestoreChapters();
  // The patterns of the rules the scan chooses among, noting them in FOfferedRules.
  std::vector<std::string> OfferedPatterns();
  // Where the page's first character shown starts: past a character cut by the page's start, and on
  // the first page past a byte-order mark (a heading on the file's first line starts after it).
  TFileOffset FirstShown() const;
  void ChaptersArrived();
  void ShowWhere();

  std::string FHead;  // the open file's first bytes, as it was opened: whether it has a byte-order mark
  std::optional<bool> FChapterStep;  // a chapter step waiting for the scan: forward or not
  std::vector<std::size_t> FOfferedRules;  // the rules the scan chooses among, by their place in ChapterRules
  std::optional<TSearchQuery> FQuery;  // the last query searched for
  std::optional<TSearchHit> FMatch;    // the hit on screen
  std::chrono::steady_clock::time_point FProgressShown;  // when the search's progress was last said
  bool FProgressWrapped = false;
  TScanThread FSearch;
};
