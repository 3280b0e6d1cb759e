#include "TViewerState.h"

#include "DecimalText.h"
#include "PageText.h"
#include "Position.h"
#include "ReadPage.h"
#include "TViewerScrollBar.h"
#include "TViewerWindow.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <cstdlib>
#include <limits>

namespace {

// Counts a command as under way for as long as it runs, also when it ends by an exception.
class TRunning {
public:
  explicit TRunning(int& Count) : FCount(Count) { ++FCount; }
  ~TRunning() { --FCount; }
  TRunning(const TRunning&) = delete;
  TRunning& operator=(const TRunning&) = delete;

private:
  int& FCount;
};

constexpr std::int64_t MaxScrollPosition = std::numeric_limits<int>::max();

// A scroll position for Value; a file that grew since it was opened cannot push it past 32 bits.
int ToScrollPosition(TFileOffset Value) {
  return static_cast<int>(std::clamp<TFileOffset>(Value, 0, MaxScrollPosition));
}

// How the background scans hand their calls to the GUI thread: through the window's event loop.
TScanThread::TPost PostTo(TViewerWindow& Window) {
  return [&Window](std::function<void()> Call) { Window.RunLater(std::move(Call)); };
}

}  // namespace

TViewerState::TViewerState(TViewerWindow& Window)
    : Chapters(PostTo(Window)), FWindow(Window), FSearch(PostTo(Window)) {
  Chapters.OnChange = [this] { ChaptersArrived(); };
  Chapters.Kept = std::make_shared<TChapterCache>();
}

void TViewerState::ComputeGeometry() {
  std::int64_t Height = FWindow.TextFontHeight();
  // Height 0 means "the default size": measure it, so the geometry never divides by zero.
  if (Height == 0) Height = std::max(FWindow.TextFontRenderedHeight(), 1);
  CharsPerLine = static_cast<int>(std::llabs(FWindow.TextClientWidth() / Height));
  LinesPerPage = static_cast<int>(std::llabs(FWindow.TextClientHeight() / Height));
}

void TViewerState::ReadPageAtStart(bool StartWhole) {
  ShowWholeCharacters(ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd, Encoding()), StartWhole);
}

void TViewerState::ReadPageAndScroll(bool StartWhole) {
  const std::string Page = ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd, Encoding());
  // The bar's move to the new position runs a jump of its own, which reads and shows the page there:
  // this one is decoded and shown only when no such jump has replaced it.
  const std::uint64_t Shown = FPagesShown;
  const auto ShowUnlessReplaced = [&] {
    if (FPagesShown == Shown) ShowWholeCharacters(Page, StartWhole);
  };
  try {
    UpdateScrollBar();
  } catch (...) {
    ShowUnlessReplaced();
    throw;
  }
  ShowUnlessReplaced();
}

void TViewerState::ShowWholeCharacters(const std::string& Page, bool StartWhole) {
  ++FPagesShown;
  TPageText Shown = ShownText(FileName, Encoding(), PageStart, Page, StartWhole);
  FPageEndWhole = Shown.EndsWhole;
  FShownFrom = Shown.From;
  FMatch.reset();
  ShowWhere();
  FWindow.ShowPage(Shown.Text);
}

std::string TViewerState::NextPageText() const {
  if (FileName.empty() || PageEnd >= FileSize) return {};
  TFileOffset End = PageEnd;
  const std::string Page = ReadPage(FileName, PageEnd, LinesPerPage, CharsPerLine, End, Encoding());
  return ShownText(FileName, Encoding(), PageEnd, Page, FPageEndWhole).Text;
}

void TViewerState::ShowFileSize() {
  // A size of 0 for a file that cannot be read would say that all is well.
  if (!FileName.empty() && !FFacts.Readable)
    FWindow.ShowStatus(FEverReadable ? "文件已无法读取" : NoReadableFile());
  else
    FWindow.ShowStatus("文件大小：" + IntToStr(FileSize) + "字节");
}

std::string TViewerState::NoReadableFile() const { return "没有可读取的文件：" + FileProblemText(FProblem); }

bool TViewerState::FollowFileChanges() {
  const TFileFacts Now = InspectFile(FileName, &FProblem);
  // Not a change but the state of things: every command on a file that never opened says why.
  if (!FEverReadable && !Now.Readable) {
    FChangeNotice = NoReadableFile();
    return false;
  }
  if (Now == FFacts) return false;
  const TFileFacts Before = FFacts;
  FFacts = Now;
  FileSize = Now.Size;
  // A file grown past what the scroll bar's 32-bit range reaches at this step needs larger steps.
  ScrollStep = std::max(ScrollStep, FileSize / MaxScrollPosition + 1);
  const std::string Size = IntToStr(FileSize) + "字节";
  const bool Shorter = Now.Readable && Before.Readable && Now.Device == Before.Device &&
                       Now.Inode == Before.Inode && Now.Size < Before.Size;
  const bool Grown = Now.Readable && Before.Readable && Now.Device == Before.Device &&
                     Now.Inode == Before.Inode && Now.Size > Before.Size;
  if (!Now.Readable)
    FChangeNotice = "文件已无法读取";
  else if (!FEverReadable)
    FChangeNotice = "文件已可读取，现为" + Size;
  else if (!Before.Readable || Now.Device != Before.Device || Now.Inode != Before.Inode)
    FChangeNotice = "文件已被替换，现为" + Size;
  else if (Shorter)
    FChangeNotice = "文件已变短，现为" + Size;
  else if (!Grown)
    FChangeNotice = "文件已被改写";
  FEverReadable = FEverReadable || Now.Readable;
  // A file that only grew keeps every offset on hand valid: its new part just comes into reach. One cut
  // shorter loses the headings past its end; any other change leaves none that can be trusted, so
  // they are found anew if they were asked for (a scan the reader stopped is not started again).
  using TState = TChapterIndex::TState;
  if (Shorter) {
    Chapters.DropFrom(FileSize);
  } else if (!Grown && Chapters.State() != TState::NotScanned) {
    const bool Asked = Chapters.State() != TState::Cancelled;
    Chapters.Clear();
    if (Asked) FindChapters();
  }
  return true;
}

void TViewerState::ShowChangeNotice() {
  if (FChangeNotice.empty() || FRunning != 1) return;
  FWindow.ShowStatus(FChangeNotice);
  FChangeNotice.clear();
}

void TViewerState::SetScrollRange() {
  TViewerScrollBar& Bar = FWindow.ScrollBar();
  Bar.SetMax(ToScrollPosition(FileSize / ScrollStep + 1));
  Bar.SetMin(0);
}

void TViewerState::UpdateScrollBar() {
  SetScrollRange();
  // Read PageStart only now: a Max that clamped the position has already run a nested jump.
  FWindow.ScrollBar().SetPosition(ToScrollPosition(PageStart / ScrollStep));
  FWindow.ScrollBar().SetPageSize(0);
}

void TViewerState::Open() {
  StopWaiting();
  std::string Chosen = FileName;
  if (!FWindow.ChooseFile(Chosen)) return;
  OpenFile(Chosen);
}

void TViewerState::OpenFile(const std::string& Path) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (!FileName.empty()) FWindow.FileLeaving();
  const TViewerWindow::TKeptChoices Kept = FWindow.KeptChoices(Path);
  FileName = Path;
  PageStart = 0;
  FWindow.SetCaption("Pagorin文本文件浏览器--" + FileName);
  ComputeGeometry();
  PageEnd = 0;
  // One look at the file gives its size and what later commands compare it with, or why it cannot
  // be read.
  FFacts = InspectFile(FileName, &FProblem);
  FEverReadable = FFacts.Readable;
  FileSize = FFacts.Size;
  FChangeNotice.clear();
  const std::string CannotOpen = "无法打开文件：" + FileProblemText(FProblem);
  if (FEverReadable)
    ShowFileSize();
  else
    FWindow.ShowStatus(CannotOpen);
  const std::vector<std::string> Samples = ReadEncodingSamples(FileName);
  DetectedEncoding = DetectEncoding(Samples);
  FHead = Samples.front().substr(0, 4);
  // An encoding the reader chose for this file before is its encoding again.
  ChosenEncoding = Kept.Encoding;
  FWindow.SetTextEncoding(Encoding(), !ChosenEncoding);
  // A rule picked was for that book: the next one's is chosen for it, as its encoding is detected,
  // unless the reader picked one for it before.
  ChapterRule.reset();
  for (std::size_t Rule = 0; Rule < ChapterRules.size(); ++Rule)
    if (!Kept.ChapterRule.empty() && ChapterRules[Rule].Name == Kept.ChapterRule) ChapterRule = Rule;
  // The window may ask for the new file's at once: its encoding is known now. A list kept from an
  // earlier reading names the chapters from the first page.
  RestoreChapters();
  History.clear();
  ReadPageAtStart();
  PageBytes = std::llabs(PageEnd - PageStart);
  // An empty or unreadable file has no first page: one byte per position keeps the range valid.
  ScrollStep = std::max<TFileOffset>({PageBytes, 1, FileSize / MaxScrollPosition + 1});
  const std::uint64_t Shown = FPagesShown;
  SetScrollRange();
  FWindow.ScrollBar().SetPosition(0);
  FWindow.ScrollBar().SetPageSize(0);
  // The jump to the first position said where it went: why the file did not open is said last.
  if (!FEverReadable) {
    FChangeNotice.clear();
    if (FPagesShown != Shown) FWindow.ShowStatus(CannotOpen);
  }
  ShowChangeNotice();
  FWindow.FileOpened();
}

void TViewerState::NextPage() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  // What the last page showed tells where the next one starts, unless the file changed since.
  const bool StartWhole = !FollowFileChanges() && FPageEndWhole;
  History.push(PageStart);
  PageStart = PageEnd;
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(History.count()) + ";Pos=" + IntToStr(PageStart));
  ReadPageAndScroll(StartWhole);
  FWindow.PageMoved();
  ShowChangeNotice();
}

void TViewerState::PreviousPage() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  if (History.count() == 0) {
    FWindow.Beep();
    FWindow.ShowStatus("当前回滚记录数为：" + IntToStr(History.count()));
    // In a file that never opened, that is why there is nothing to go back to.
    if (!FEverReadable && FollowFileChanges()) SetScrollRange();
    ShowChangeNotice();
    return;
  }
  FollowFileChanges();
  PageStart = History.last();
  History.pop();
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(History.count()) + ";tPos=" + IntToStr(PageStart));
  ReadPageAndScroll();
  FWindow.PageMoved();
  ShowChangeNotice();
}

void TViewerState::ScrollJump() {
  if (FMovingThumb) return;
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  // The range follows the file; a position that the new range clamps runs a jump of its own first.
  if (FollowFileChanges()) SetScrollRange();
  const int Position = FWindow.ScrollBar().Position();
  PageStart = Position * ScrollStep;
  const std::string Page = ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd, Encoding());
  FWindow.ShowStatus("当前翻页Position=" + IntToStr(Position));
  ShowWholeCharacters(Page, false);
  // The reader moved the bar; a jump nested in another command is that command's.
  if (FRunning == 1) FWindow.PageMoved();
  ShowChangeNotice();
}

void TViewerState::FontSetup() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (!FWindow.ChooseTextFont()) return;
  FitPage();
}

void TViewerState::StepFontSize(int Steps) {
  const TRunning Running(FRunning);
  StopWaiting();
  const int Height = FWindow.TextFontHeight();
  const int Pixels = Height != 0 ? std::abs(Height) : std::max(FWindow.TextFontRenderedHeight(), 1);
  // A font chosen beyond the range in the font dialog steps back into it one step at a time.
  const int Next = std::clamp(Pixels + Steps * FontSizeStep, std::min(Pixels, MinFontPixels),
                              std::max(Pixels, MaxFontPixels));
  if (Next == Pixels) return;
  FWindow.SetTextFontHeight(Height > 0 ? Next : -Next);
  FitPage();
}

void TViewerState::Refit() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty())
    ComputeGeometry();
  else
    FitPage();
}

void TViewerState::FitPage() {
  ComputeGeometry();
  const bool Changed = !FileName.empty() && FollowFileChanges();
  FileSize = MeasureFileSize(FileName);
  ShowFileSize();
  // The next page continues from the end of this one, so read it again with the new geometry.
  if (!FileName.empty()) ReadPageAtStart();
  if (Changed) SetScrollRange();
  ShowChangeNotice();
}

void TViewerState::ChooseEncoding(std::optional<TTextEncoding> Choice) {
  const TRunning Running(FRunning);
  StopWaiting();
  ChosenEncoding = Choice;
  if (FileName.empty()) return;
  const bool Changed = FollowFileChanges();
  FWindow.SetTextEncoding(Encoding(), !ChosenEncoding);
  ReadPageAtStart();
  if (Changed) SetScrollRange();
  // Headings found in the other encoding are another text's.
  if (Chapters.State() != TChapterIndex::TState::NotScanned)
    ScanChapters();
  else
    RestoreChapters();
  ShowChangeNotice();
}

TFileOffset TViewerState::LineStartBefore(TFileOffset Offset) const {
  const TEncodingRules& Rules = RulesOf(Encoding());
  const TFileOffset Reach = std::min(Offset, std::max<TFileOffset>(PageBytes, 1));
  const std::string Before = ReadBytes(FileName, Offset - Reach, static_cast<std::size_t>(Reach));
  const TFileOffset Base = Offset - static_cast<TFileOffset>(Before.size());
  const std::size_t Unit = Rules.CodeUnit;
  for (std::size_t Pos = Before.size(); Pos >= Unit; --Pos) {
    const std::size_t At = Pos - Unit;
    // A line feed is a whole code unit, at an offset of the file that is a multiple of its size.
    if ((Base + static_cast<TFileOffset>(At)) % static_cast<TFileOffset>(Unit) == 0 &&
        std::string_view(Before).substr(At, Unit) == Rules.LineFeed)
      return Base + static_cast<TFileOffset>(Pos);
  }
  return Offset;
}

bool TViewerState::JumpTo(TFileOffset Offset, TFileOffset Length) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return false;
  FollowFileChanges();
  const bool Jumped = ShowFoundJump(Offset, Length);
  ShowChangeNotice();
  return Jumped;
}

bool TViewerState::JumpToPage(TFileOffset Start) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return false;
  FollowFileChanges();
  const bool Jumped = ShowFoundJump(Start, 0, false);
  ShowChangeNotice();
  return Jumped;
}

bool TViewerState::ShowFoundJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart) {
  if (Offset >= 0 && Offset + std::max<TFileOffset>(Length, 1) <= FileSize) {
    ShowJump(Offset, Length, AtLineStart);
    return true;
  }
  NoJump();
  return false;
}

void TViewerState::NoJump() {
  FWindow.Beep();
  // Headings found before the file was cut may still come in after its change was said.
  Chapters.DropFrom(FileSize);
  if (FChangeNotice.empty())
    FChangeNotice = FFacts.Readable ? "文件已变短，现为" + IntToStr(FileSize) + "字节" : "文件已无法读取";
  SetScrollRange();
}

void TViewerState::ShowJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart) {
  Offset = std::clamp<TFileOffset>(Offset, 0, FileSize);
  Length = std::clamp<TFileOffset>(Length, 0, FileSize - Offset);
  History.push(PageStart);
  PageStart = AtLineStart ? LineStartBefore(Offset) : Offset;
  ReadPageAtStart();
  // A line start so far back that the page ends before the match: the page starts at the match.
  if (PageEnd < Offset + Length && PageStart < Offset) {
    PageStart = Offset;
    ReadPageAtStart();
  }
  if (Length > 0) {
    FMatch = TSearchHit{Offset, Length};
    const TFileOffset InShown = Offset - PageStart - static_cast<TFileOffset>(FShownFrom);
    if (InShown >= 0) FWindow.ShowMatch(static_cast<std::size_t>(InShown), static_cast<std::size_t>(Length));
  }
  FMovingThumb = true;
  try {
    UpdateScrollBar();
  } catch (...) {
    FMovingThumb = false;
    throw;
  }
  FMovingThumb = false;
  FWindow.PageMoved();
}

namespace {

// A reader's text (UTF-8) in quotes, as messages in the status bar's narrow panel quote it: whole up
// to eight columns (a character past ASCII takes two), else its first six and "…".
std::string Quote(const std::string& Text) {
  int Used = 0;
  std::size_t Cut = Text.size();
  for (std::size_t At = 0; At < Text.size(); ++At) {
    const auto Byte = static_cast<unsigned char>(Text[At]);
    if ((Byte & 0xC0) == 0x80) continue;  // inside a character
    Used += Byte < 0x80 ? 1 : 2;
    if (Used > 6 && Cut == Text.size()) Cut = At;
    if (Used > 8) return "“" + Text.substr(0, Cut) + "…”";
  }
  return "“" + Text + "”";
}

}  // namespace

std::string TViewerState::Quoted() const { return Quote(FQuery ? FQuery->Text : std::string()); }

bool TViewerState::CancelSearch() { return FSearch.Cancel(); }

void TViewerState::StopWaiting() {
  CancelSearch();
  FChapterStep.reset();
}

void TViewerState::Find(const TSearchQuery& Query, bool Backward) {
  const TRunning Running(FRunning);
  StopWaiting();
  FQuery = Query;
  if (FileName.empty()) {
    FWindow.Beep();
    FWindow.ShowStatus("请先打开文件，再查找");
    return;
  }
  if (!OpenedOnce()) return;
  std::shared_ptr<const TSearchPattern> Pattern;
  try {
    Pattern = std::make_shared<const TSearchPattern>(Query, Encoding());
  } catch (const ESearchQuery& Error) {
    FWindow.Beep();
    FWindow.ShowStatus(Error.what());
    return;
  }
  // After the match on screen, or from the page on screen.
  TFileOffset From = Backward ? PageEnd : PageStart;
  if (FMatch) From = Backward ? FMatch->Start : FMatch->Start + FMatch->Length;
  // Said only once the search takes a while: a hit near the page comes back with no repaint between.
  FProgressShown = std::chrono::steady_clock::now();
  FProgressWrapped = false;
  FSearch.Start([this, FileName = FileName, Pattern, From, Backward](const std::atomic<bool>& Cancel,
                                                                    const TScanThread::TDeliver& Deliver) {
    TSearchResult Result;
    std::string Failure;
    try {
      Result = FindText(FileName, *Pattern, From, Backward, Cancel, [&](int Permille, bool Wrapped) {
        Deliver([=, this] { SearchProgress(Permille, Wrapped, Backward); });
      });
    } catch (const EFileUnreadable&) {
      // It could be read when the search was asked for: it changed since, and is followed as a change.
      Result.Outcome = TSearchOutcome::FileChanged;
    } catch (const std::exception& Error) {
      Failure = Error.what();
    }
    if (Failure.empty() && Result.Outcome == TSearchOutcome::Cancelled) return std::function<void()>();
    return std::function<void()>([=, this] { SearchDone(Result, Failure, Backward); });
  });
}

bool TViewerState::FindAgain(bool Backward) {
  if (!FQuery) return false;
  Find(*FQuery, Backward);
  return true;
}

void TViewerState::SearchProgress(int Permille, bool Wrapped, bool Backward) {
  // A tenth of a second before the first progress text and between two: each is a repaint, and a
  // hit near the start would otherwise wait behind them.
  const auto Now = std::chrono::steady_clock::now();
  if (Now - FProgressShown < std::chrono::milliseconds(100) && Wrapped == FProgressWrapped) return;
  FProgressShown = Now;
  FProgressWrapped = Wrapped;
  const std::string Share = IntToStr(Permille / 10) + "%";
  if (!Wrapped)
    FWindow.ShowStatus("正在查找" + Quoted() + "…" + Share);
  else
    FWindow.ShowStatus(std::string(Backward ? "从末尾继续查找" : "从头继续查找") + Quoted() + "…" + Share);
}

void TViewerState::SearchDone(const TSearchResult& Result, const std::string& Failure, bool Backward) {
  if (!Failure.empty()) {
    FWindow.Beep();
    FWindow.ShowStatus(Failure);
    return;
  }
  switch (Result.Outcome) {
  case TSearchOutcome::Found: {
    const TRunning Running(FRunning);
    StopWaiting();
    // A file that changed since the hit was found says so last; a hit it no longer holds is not shown.
    FollowFileChanges();
    if (ShowFoundJump(Result.Hit.Start, Result.Hit.Length)) {
      std::string Status = "找到" + Quoted() + "：第" + IntToStr(Result.Hit.Start) + "字节";
      if (Result.Wrapped) Status += Backward ? "（已从末尾继续）" : "（已从头继续）";
      FWindow.ShowStatus(Status);
    }
    ShowChangeNotice();
    break;
  }
  case TSearchOutcome::NotFound:
    FWindow.Beep();
    FWindow.ShowStatus("找不到" + Quoted());
    break;
  case TSearchOutcome::FileChanged: {
    const TRunning Running(FRunning);
    FollowFileChanges();
    // The search saw more than growth where the facts here show only that (written anew, longer).
    if (FChangeNotice.empty()) FChangeNotice = FFacts.Readable ? "文件已被改写" : "文件已无法读取";
    if (FEverReadable) FChangeNotice = "查找已停止：" + FChangeNotice;
    if (FFacts.Readable) SetScrollRange();
    ShowChangeNotice();
    break;
  }
  case TSearchOutcome::Cancelled: break;
  }
}

std::string TViewerState::Where() const {
  // Per mille, rounded down: only a page at the very end says 100.0%.
  const TFileOffset Permille =
      FileSize > 0 ? std::clamp<TFileOffset>(PageStart, 0, FileSize) * 1000 / FileSize : 0;
  return IntToStr(Permille / 10) + "." + IntToStr(Permille % 10) + "%";
}

void TViewerState::GoTo(const std::string& Where) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  FollowFileChanges();  // a share is of the file as it is now
  const std::optional<TFileOffset> Offset = ParsePosition(Where, FileSize);
  if (!Offset) {
    FWindow.Beep();
    FWindow.ShowStatus("无法识别的位置：" + Quote(Where));
    return;
  }
  ShowJump(*Offset, 0);
  FWindow.ShowStatus("已转到第" + IntToStr(*Offset) + "字节");
  ShowChangeNotice();
}

void TViewerState::ShowWhere() {
  const std::optional<std::size_t> Chapter = ChapterOnScreen();
  std::string Title;
  if (Chapter) {
    // Chapters are numbered anew in each volume: the volume tells which 第三章 it is.
    const std::optional<std::size_t> Volume = Chapters.VolumeOf(*Chapter);
    if (Volume && *Volume != *Chapter) Title = std::string(Chapters.Title(*Volume)) + " · ";
    Title += Chapters.Title(*Chapter);
  }
  FWindow.ShowWhere(Where(), Title);
}

TFileOffset TViewerState::FirstShown() const {
  const TFileOffset First = PageStart + static_cast<TFileOffset>(FShownFrom);
  const std::string_view Mark = RulesOf(Encoding()).ByteOrderMark;
  const bool Marked = !Mark.empty() && std::string_view(FHead).starts_with(Mark);
  return std::max<TFileOffset>(First, Marked ? static_cast<TFileOffset>(Mark.size()) : 0);
}

void TViewerState::FindChapters() {
  using TState = TChapterIndex::TState;
  if (FileName.empty()) return;
  const TState State = Chapters.State();
  if (State == TState::NotScanned || State == TState::Cancelled || State == TState::FileChanged) ScanChapters();
}

void TViewerState::ScanChapters() { Chapters.Scan(FileName, Encoding(), OfferedPatterns()); }

void TViewerState::RestoreChapters() {
  if (FEverReadable)
    Chapters.Restore(FileName, Encoding(), OfferedPatterns());
  else
    Chapters.Clear();
}

std::vector<std::string> TViewerState::OfferedPatterns() {
  FOfferedRules.clear();
  std::vector<std::string> Patterns;
  for (std::size_t Rule = 0; Rule < ChapterRules.size(); ++Rule)
    if (ChapterRule ? Rule == *ChapterRule : ChapterRules[Rule].Enabled) {
      FOfferedRules.push_back(Rule);
      Patterns.push_back(ChapterRules[Rule].Pattern);
    }
  if (Patterns.empty()) {  // rules left with none to offer: the usual headings
    FOfferedRules.clear();
    Patterns.push_back(DefaultChapterPattern);
  }
  return Patterns;
}

std::string TViewerState::SetChapterRules(std::vector<TChapterRule> Rules, std::optional<std::size_t> Pick) {
  for (const TChapterRule& Rule : Rules) {
    if (Rule.Name.empty()) return "规则需要一个名称";
    if (Rule.Pattern.empty()) return "规则“" + Rule.Name + "”需要一个表达式";
    try {
      const TSearchPattern Compiled(TSearchQuery{Rule.Pattern, true, true}, Encoding());
    } catch (const ESearchQuery& Error) {
      return "规则“" + Rule.Name + "”：" + Error.what();
    }
  }
  if (Pick && *Pick >= Rules.size()) return "没有这条规则";
  if (!Pick && std::none_of(Rules.begin(), Rules.end(), [](const TChapterRule& Rule) { return Rule.Enabled; }))
    return "请至少启用一条规则";
  ChapterRules = std::move(Rules);
  ChapterRule = Pick;
  if (!FileName.empty()) {
    if (Chapters.State() != TChapterIndex::TState::NotScanned)
      ScanChapters();
    else
      RestoreChapters();  // a list kept for the rules left is not this one
  }
  return "";
}

std::optional<std::size_t> TViewerState::ChapterRuleInUse() const {
  const std::optional<std::size_t> Chosen = Chapters.Chosen();
  if (!Chosen || *Chosen >= FOfferedRules.size()) return std::nullopt;
  return FOfferedRules[*Chosen];
}

bool TViewerState::OpenedOnce() {
  if (FEverReadable) return true;
  if (FollowFileChanges()) SetScrollRange();
  if (!FEverReadable) FWindow.Beep();
  ShowChangeNotice();
  return FEverReadable;
}

void TViewerState::StepChapter(bool Forward) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty() || !OpenedOnce()) return;
  // Headings past a new end go before the step picks one; the change is said last.
  if (FollowFileChanges()) SetScrollRange();
  FindChapters();
  FChapterStep = Forward;
  ChaptersArrived();
  ShowChangeNotice();
}

void TViewerState::ChaptersArrived() {
  ShowWhere();
  FWindow.ChaptersChanged();
  if (!FChapterStep) return;
  const bool Forward = *FChapterStep;
  const TChapterIndex::TStep Step = Chapters.Step(FirstShown(), Forward);
  if (!Step.Settled) {
    FWindow.ShowStatus(Chapters.Status());
    return;
  }
  FChapterStep.reset();
  if (Step.Index) {
    GoToChapter(*Step.Index);
    return;
  }
  FWindow.Beep();
  if (Chapters.Count() == 0)
    FWindow.ShowStatus(Chapters.State() == TChapterIndex::TState::Done ? "没有找到章节" : Chapters.Status());
  else
    FWindow.ShowStatus(Forward ? "已是最后一章" : "前面没有章节了");
}

void TViewerState::GoToChapter(std::size_t Index) {
  if (Index >= Chapters.Count()) return;
  const TRunning Running(FRunning);
  StopWaiting();
  const TFileOffset Offset = Chapters.Offset(Index);
  const std::string Title(Chapters.Title(Index));
  FollowFileChanges();
  // A heading that the change took from the list (cut off, or all of them forgotten) is gone.
  if (Index < Chapters.Count() && Chapters.Offset(Index) == Offset) {
    if (ShowFoundJump(Offset, 0)) FWindow.ShowStatus("已转到“" + Title + "”");
  } else {
    NoJump();
  }
  ShowChangeNotice();
}
