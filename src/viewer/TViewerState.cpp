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
  FWindow.ShowStatus("文件大小：" + IntToStr(FileSize) + "字节");
}

bool TViewerState::FollowFileChanges() {
  const TFileFacts Now = InspectFile(FileName);
  if (Now == FFacts) return false;
  const TFileFacts Before = FFacts;
  FFacts = Now;
  FileSize = Now.Size;
  // A file grown past what the scroll bar's 32-bit range reaches at this step needs larger steps.
  ScrollStep = std::max(ScrollStep, FileSize / MaxScrollPosition + 1);
  const std::string Size = IntToStr(FileSize) + "字节";
  if (!Now.Readable)
    FChangeNotice = "文件已无法读取";
  else if (!Before.Readable || Now.Device != Before.Device || Now.Inode != Before.Inode)
    FChangeNotice = "文件已被替换，现为" + Size;
  else if (Now.Size < Before.Size)
    FChangeNotice = "文件已变短，现为" + Size;
  else if (Now.Size == Before.Size)
    FChangeNotice = "文件已被改写";
  // A file that only grew keeps every offset on hand valid: its new part just comes into reach.
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
  StopWaiting();
  FileName = Path;
  PageStart = 0;
  FWindow.SetCaption("Pagorin文本文件浏览器--" + FileName);
  ComputeGeometry();
  PageEnd = 0;
  // One look at the file gives its size and what later commands compare it with.
  FFacts = InspectFile(FileName);
  FileSize = FFacts.Size;
  FChangeNotice.clear();
  ShowFileSize();
  const std::vector<std::string> Samples = ReadEncodingSamples(FileName);
  DetectedEncoding = DetectEncoding(Samples);
  FHead = Samples.front().substr(0, 4);
  ChosenEncoding.reset();
  FWindow.SetTextEncoding(DetectedEncoding, true);
  Chapters.Clear();  // the window may ask for the new file's at once: its encoding is known now
  History.clear();
  ReadPageAtStart();
  PageBytes = std::llabs(PageEnd - PageStart);
  // An empty or unreadable file has no first page: one byte per position keeps the range valid.
  ScrollStep = std::max<TFileOffset>({PageBytes, 1, FileSize / MaxScrollPosition + 1});
  SetScrollRange();
  FWindow.ScrollBar().SetPosition(0);
  FWindow.ScrollBar().SetPageSize(0);
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
  ShowChangeNotice();
}

void TViewerState::PreviousPage() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  if (History.count() == 0) {
    FWindow.Beep();
    FWindow.ShowStatus("当前回滚记录数为：" + IntToStr(History.count()));
    return;
  }
  FollowFileChanges();
  PageStart = History.last();
  History.pop();
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(History.count()) + ";tPos=" + IntToStr(PageStart));
  ReadPageAndScroll();
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
  ShowChangeNotice();
}

void TViewerState::FontSetup() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (!FWindow.ChooseTextFont()) return;
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
  if (Chapters.State() != TChapterIndex::TState::NotScanned) Chapters.Scan(FileName, Encoding(), ChapterPattern);
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

void TViewerState::JumpTo(TFileOffset Offset, TFileOffset Length) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FileName.empty()) return;
  FollowFileChanges();
  ShowJump(Offset, Length);
  ShowChangeNotice();
}

void TViewerState::ShowJump(TFileOffset Offset, TFileOffset Length) {
  Offset = std::clamp<TFileOffset>(Offset, 0, FileSize);
  Length = std::clamp<TFileOffset>(Length, 0, FileSize - Offset);
  History.push(PageStart);
  PageStart = LineStartBefore(Offset);
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
}

std::string TViewerState::Quoted() const {
  std::string Text = FQuery ? FQuery->Text : std::string();
  // Cut at a character's start: the query is UTF-8.
  constexpr std::size_t Longest = 60;
  if (Text.size() > Longest) {
    std::size_t Cut = Longest;
    while (Cut > 0 && (static_cast<unsigned char>(Text[Cut]) & 0xC0) == 0x80) --Cut;
    Text = Text.substr(0, Cut) + "…";
  }
  return "“" + Text + "”";
}

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
    FWindow.ShowStatus(std::string(Backward ? "已到文件开头，从末尾继续查找" : "已到文件末尾，从头继续查找") +
                       Quoted() + "…" + Share);
}

void TViewerState::SearchDone(const TSearchResult& Result, const std::string& Failure, bool Backward) {
  if (!Failure.empty()) {
    FWindow.Beep();
    FWindow.ShowStatus(Failure);
    return;
  }
  switch (Result.Outcome) {
  case TSearchOutcome::Found: {
    JumpTo(Result.Hit.Start, Result.Hit.Length);
    std::string Status = "找到" + Quoted() + "：第" + IntToStr(Result.Hit.Start) + "字节";
    if (Result.Wrapped) Status += Backward ? "（已从末尾继续）" : "（已从头继续）";
    FWindow.ShowStatus(Status);
    break;
  }
  case TSearchOutcome::NotFound:
    FWindow.Beep();
    FWindow.ShowStatus("找不到" + Quoted());
    break;
  case TSearchOutcome::FileChanged: {
    const TRunning Running(FRunning);
    FollowFileChanges();
    if (FChangeNotice.empty()) FChangeNotice = "文件已无法读取";
    FChangeNotice = "查找已停止：" + FChangeNotice;
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
    FWindow.ShowStatus("无法识别的位置：" + Where.substr(0, 40) + "（请输入百分比，如 37.5%，或字节位置）");
    return;
  }
  ShowJump(*Offset, 0);
  FWindow.ShowStatus("已转到第" + IntToStr(*Offset) + "字节");
  ShowChangeNotice();
}

void TViewerState::ShowWhere() {
  const std::optional<std::size_t> Chapter = ChapterOnScreen();
  FWindow.ShowWhere(Where(), Chapter ? std::string(Chapters.Title(*Chapter)) : std::string());
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
  if (State == TState::NotScanned || State == TState::Cancelled || State == TState::FileChanged)
    Chapters.Scan(FileName, Encoding(), ChapterPattern);
}

std::string TViewerState::SetChapterPattern(const std::string& Pattern) {
  try {
    // Compiled here first, so a pattern with a fault leaves the headings on hand as they are.
    const TSearchPattern Compiled(TSearchQuery{Pattern, true, true}, Encoding());
  } catch (const ESearchQuery& Error) {
    return Error.what();
  }
  ChapterPattern = Pattern;
  if (!FileName.empty() && Chapters.State() != TChapterIndex::TState::NotScanned)
    Chapters.Scan(FileName, Encoding(), ChapterPattern);
  return "";
}

void TViewerState::StepChapter(bool Forward) {
  StopWaiting();
  if (FileName.empty()) return;
  FindChapters();
  FChapterStep = Forward;
  ChaptersArrived();
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
  const std::string Title(Chapters.Title(Index));
  JumpTo(Chapters.Offset(Index));
  FWindow.ShowStatus("已转到“" + Title + "”");
}
