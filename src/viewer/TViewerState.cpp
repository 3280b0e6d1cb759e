#include "TViewerState.h"

#include "DecimalText.h"
#include "LaidOutPage.h"
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

// Counts a command as under way for as long as it runs, also when it ends by an exception. A command
// finds its file by name once: its look at the file and its reads share the descriptor.
class TRunning {
public:
  explicit TRunning(int& Count) : FCount(Count) { ++FCount; }
  ~TRunning() { --FCount; }
  TRunning(const TRunning&) = delete;
  TRunning& operator=(const TRunning&) = delete;

private:
  int& FCount;
  TFileVisit FVisit;
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
    : FChapters(PostTo(Window)), FWindow(Window), FSearch(PostTo(Window)) {
  FChapters.OnChange = [this] { ChaptersArrived(); };
  FChapters.Kept = std::make_shared<TChapterCache>();
}

void TViewerState::ComputeGeometry() {
  std::int64_t Height = FWindow.TextFontHeight();
  // Height 0 means "the default size": measure it, so the geometry never divides by zero.
  if (Height == 0) Height = std::max(FWindow.TextFontRenderedHeight(), 1);
  FCharsPerLine = static_cast<int>(std::llabs(FWindow.TextClientWidth() / Height));
  FLinesPerPage = static_cast<int>(std::llabs(FWindow.TextClientHeight() / Height));
  if (!FLayout.CountsBytes())
    FRows = RowGeometryOf(FLayout, static_cast<int>(std::min<std::int64_t>(std::llabs(Height), 1 << 20)),
                          FWindow.TextClientWidth(), FWindow.TextClientHeight(), FWindow.TextAdvance(U'\u4E00'));
}

std::string TViewerState::ReadPageFrom(TFileOffset Start, TFileOffset& End, bool StartWhole) const {
  if (FLayout.CountsBytes()) return ReadPage(FFileName, Start, FLinesPerPage, FCharsPerLine, End, Encoding());
  return ReadLaidOutPage(FFileName, Start, Encoding(), FRows, FLayout.BreakRules,
                         [this](char32_t Code) { return FWindow.TextAdvance(Code); }, StartWhole, End);
}

void TViewerState::ReadPageAtStart(bool StartWhole) {
  ShowWholeCharacters(ReadPageFrom(FPageStart, FPageEnd, StartWhole), StartWhole);
}

void TViewerState::ReadPageAndScroll(bool StartWhole) {
  // The bar's move to the new position runs a jump of its own, which reads and shows the page there:
  // this one is read and shown only when no such jump has replaced it.
  const std::uint64_t Shown = FPagesShown;
  const auto ShowUnlessReplaced = [&] {
    if (FPagesShown == Shown) ShowWholeCharacters(ReadPageFrom(FPageStart, FPageEnd, StartWhole), StartWhole);
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
  TPageText Shown = ShownText(FFileName, Encoding(), FPageStart, Page, StartWhole);
  FPageEndWhole = Shown.EndsWhole;
  FShownFrom = Shown.From;
  FMatch.reset();
  ShowWhere();
  FWindow.ShowPage(Shown.Text);
}

std::string TViewerState::NextPageText() const {
  if (FFileName.empty() || FPageEnd >= FFileSize) return {};
  TFileOffset End = FPageEnd;
  const std::string Page = ReadPageFrom(FPageEnd, End, FPageEndWhole);
  return ShownText(FFileName, Encoding(), FPageEnd, Page, FPageEndWhole).Text;
}

void TViewerState::ShowFileSize() {
  // A size of 0 for a file that cannot be read would say that all is well.
  if (!FFileName.empty() && !FFacts.Readable)
    FWindow.ShowStatus(FEverReadable ? "文件已无法读取" : NoReadableFile());
  else
    FWindow.ShowStatus("文件大小：" + IntToStr(FFileSize) + "字节");
}

std::string TViewerState::NoReadableFile() const { return "没有可读取的文件：" + FileProblemText(FProblem); }

bool TViewerState::FollowFileChanges() {
  const TFileFacts Now = InspectFile(FFileName, &FProblem);
  // Not a change but the state of things: every command on a file that never opened says why.
  if (!FEverReadable && !Now.Readable) {
    FChangeNotice = NoReadableFile();
    return false;
  }
  if (Now == FFacts) return false;
  const TFileFacts Before = FFacts;
  FFacts = Now;
  FFileSize = Now.Size;
  // A file grown past what the scroll bar's 32-bit range reaches at this step needs larger steps.
  FScrollStep = std::max(FScrollStep, FFileSize / MaxScrollPosition + 1);
  const std::string Size = IntToStr(FFileSize) + "字节";
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
    FChapters.DropFrom(FFileSize);
  } else if (!Grown && FChapters.State() != TState::NotScanned) {
    const bool Asked = FChapters.State() != TState::Cancelled;
    FChapters.Clear();
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
  Bar.SetMax(ToScrollPosition(FFileSize / FScrollStep + 1));
  Bar.SetMin(0);
}

void TViewerState::UpdateScrollBar() {
  SetScrollRange();
  // Read PageStart only now: a Max that clamped the position has already run a nested jump.
  FWindow.ScrollBar().SetPosition(ToScrollPosition(FPageStart / FScrollStep));
  FWindow.ScrollBar().SetPageSize(0);
}

void TViewerState::Open() {
  StopWaiting();
  std::string Chosen = FFileName;
  if (!FWindow.ChooseFile(Chosen)) return;
  OpenFile(Chosen);
}

void TViewerState::OpenFile(const std::string& Path) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (!FFileName.empty()) FWindow.FileLeaving();
  const TViewerWindow::TKeptChoices Kept = FWindow.KeptChoices(Path);
  FFileName = Path;
  FPageStart = 0;
  FWindow.SetCaption("Pagorin文本文件浏览器--" + FFileName);
  ComputeGeometry();
  FPageEnd = 0;
  // One look at the file gives its size and what later commands compare it with, or why it cannot
  // be read.
  FFacts = InspectFile(FFileName, &FProblem);
  FEverReadable = FFacts.Readable;
  FFileSize = FFacts.Size;
  FChangeNotice.clear();
  const std::string CannotOpen = "无法打开文件：" + FileProblemText(FProblem);
  if (FEverReadable)
    ShowFileSize();
  else
    FWindow.ShowStatus(CannotOpen);
  const std::vector<std::string> Samples = ReadEncodingSamples(FFileName);
  FDetectedEncoding = DetectEncoding(Samples);
  FHead = Samples.front().substr(0, 4);
  // An encoding the reader chose for this file before is its encoding again.
  FChosenEncoding = Kept.Encoding;
  FWindow.SetTextEncoding(Encoding(), !FChosenEncoding);
  // A rule picked was for that book: the next one's is chosen for it, as its encoding is detected,
  // unless the reader picked one for it before.
  FChapterRule.reset();
  for (std::size_t Rule = 0; Rule < FChapterRules.size(); ++Rule)
    if (!Kept.ChapterRule.empty() && FChapterRules[Rule].Name == Kept.ChapterRule) FChapterRule = Rule;
  // The window may ask for the new file's at once: its encoding is known now. A list kept from an
  // earlier reading names the chapters from the first page.
  RestoreChapters();
  FHistory.clear();
  ReadPageAtStart();
  FPageBytes = std::llabs(FPageEnd - FPageStart);
  // An empty or unreadable file has no first page: one byte per position keeps the range valid.
  FScrollStep = std::max<TFileOffset>({FPageBytes, 1, FFileSize / MaxScrollPosition + 1});
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
  if (FFileName.empty()) return;
  // What the last page showed tells where the next one starts, unless the file changed since.
  const bool StartWhole = !FollowFileChanges() && FPageEndWhole;
  FHistory.push(FPageStart);
  FPageStart = FPageEnd;
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(FHistory.count()) + ";Pos=" + IntToStr(FPageStart));
  ReadPageAndScroll(StartWhole);
  FWindow.PageMoved();
  ShowChangeNotice();
}

void TViewerState::PreviousPage() {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FFileName.empty()) return;
  if (FHistory.count() == 0) {
    FWindow.Beep();
    FWindow.ShowStatus("当前回滚记录数为：" + IntToStr(FHistory.count()));
    // In a file that never opened, that is why there is nothing to go back to.
    if (!FEverReadable && FollowFileChanges()) SetScrollRange();
    ShowChangeNotice();
    return;
  }
  FollowFileChanges();
  FPageStart = FHistory.last();
  FHistory.pop();
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(FHistory.count()) + ";tPos=" + IntToStr(FPageStart));
  ReadPageAndScroll();
  FWindow.PageMoved();
  ShowChangeNotice();
}

void TViewerState::ScrollJump() {
  if (FMovingThumb) return;
  const TRunning Running(FRunning);
  StopWaiting();
  if (FFileName.empty()) return;
  // The range follows the file; a position that the new range clamps runs a jump of its own first.
  if (FollowFileChanges()) SetScrollRange();
  const int Position = FWindow.ScrollBar().Position();
  FPageStart = Position * FScrollStep;
  const std::string Page = ReadPageFrom(FPageStart, FPageEnd, false);
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
  if (FFileName.empty())
    ComputeGeometry();
  else
    FitPage();
}

void TViewerState::SetPageLayout(const TLayoutSettings& Layout) {
  const TRunning Running(FRunning);
  StopWaiting();
  FLayout = Layout;
  FWindow.SetTextLayout(FLayout);
  if (FFileName.empty())
    ComputeGeometry();
  else
    FitPage();
}

void TViewerState::FitPage() {
  ComputeGeometry();
  const bool Changed = !FFileName.empty() && FollowFileChanges();
  FFileSize = MeasureFileSize(FFileName);
  ShowFileSize();
  // The next page continues from the end of this one, so read it again with the new geometry.
  if (!FFileName.empty()) ReadPageAtStart();
  if (Changed) SetScrollRange();
  ShowChangeNotice();
}

void TViewerState::ChooseEncoding(std::optional<TTextEncoding> Choice) {
  const TRunning Running(FRunning);
  StopWaiting();
  FChosenEncoding = Choice;
  if (FFileName.empty()) return;
  const bool Changed = FollowFileChanges();
  FWindow.SetTextEncoding(Encoding(), !FChosenEncoding);
  ReadPageAtStart();
  if (Changed) SetScrollRange();
  // Headings found in the other encoding are another text's.
  if (FChapters.State() != TChapterIndex::TState::NotScanned)
    ScanChapters();
  else
    RestoreChapters();
  ShowChangeNotice();
}

TFileOffset TViewerState::LineStartBefore(TFileOffset Offset) const {
  const TEncodingRules& Rules = RulesOf(Encoding());
  const TFileOffset Reach = std::min(Offset, std::max<TFileOffset>(FPageBytes, 1));
  const std::string Before = ReadBytes(FFileName, Offset - Reach, static_cast<std::size_t>(Reach));
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
  if (FFileName.empty()) return false;
  FollowFileChanges();
  const bool Jumped = ShowFoundJump(Offset, Length);
  ShowChangeNotice();
  return Jumped;
}

bool TViewerState::JumpToPage(TFileOffset Start) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FFileName.empty()) return false;
  FollowFileChanges();
  const bool Jumped = ShowFoundJump(Start, 0, false);
  ShowChangeNotice();
  return Jumped;
}

bool TViewerState::ShowFoundJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart) {
  if (Offset >= 0 && Offset + std::max<TFileOffset>(Length, 1) <= FFileSize) {
    ShowJump(Offset, Length, AtLineStart);
    return true;
  }
  NoJump();
  return false;
}

void TViewerState::NoJump() {
  FWindow.Beep();
  // Headings found before the file was cut may still come in after its change was said.
  FChapters.DropFrom(FFileSize);
  if (FChangeNotice.empty())
    FChangeNotice = FFacts.Readable ? "文件已变短，现为" + IntToStr(FFileSize) + "字节" : "文件已无法读取";
  SetScrollRange();
}

void TViewerState::ShowJump(TFileOffset Offset, TFileOffset Length, bool AtLineStart) {
  Offset = std::clamp<TFileOffset>(Offset, 0, FFileSize);
  Length = std::clamp<TFileOffset>(Length, 0, FFileSize - Offset);
  FHistory.push(FPageStart);
  FPageStart = AtLineStart ? LineStartBefore(Offset) : Offset;
  ReadPageAtStart();
  // A line start so far back that the page ends before the match: the page starts at the match.
  if (FPageEnd < Offset + Length && FPageStart < Offset) {
    FPageStart = Offset;
    ReadPageAtStart();
  }
  if (Length > 0) {
    FMatch = TSearchHit{Offset, Length};
    const TFileOffset InShown = Offset - FPageStart - static_cast<TFileOffset>(FShownFrom);
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
  if (FFileName.empty()) {
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
  TFileOffset From = Backward ? FPageEnd : FPageStart;
  if (FMatch) From = Backward ? FMatch->Start : FMatch->Start + FMatch->Length;
  // Said only once the search takes a while: a hit near the page comes back with no repaint between.
  FProgressShown = std::chrono::steady_clock::now();
  FProgressWrapped = false;
  FSearch.Start([this, FFileName = FFileName, Pattern, From, Backward](const std::atomic<bool>& Cancel,
                                                                    const TScanThread::TDeliver& Deliver) {
    TSearchResult Result;
    std::string Failure;
    try {
      Result = FindText(FFileName, *Pattern, From, Backward, Cancel, [&](int Permille, bool Wrapped) {
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
      FFileSize > 0 ? std::clamp<TFileOffset>(FPageStart, 0, FFileSize) * 1000 / FFileSize : 0;
  return IntToStr(Permille / 10) + "." + IntToStr(Permille % 10) + "%";
}

void TViewerState::GoTo(const std::string& Where) {
  const TRunning Running(FRunning);
  StopWaiting();
  if (FFileName.empty()) return;
  FollowFileChanges();  // a share is of the file as it is now
  const std::optional<TFileOffset> Offset = ParsePosition(Where, FFileSize);
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
    const std::optional<std::size_t> Volume = FChapters.VolumeOf(*Chapter);
    if (Volume && *Volume != *Chapter) Title = std::string(FChapters.Title(*Volume)) + " · ";
    Title += FChapters.Title(*Chapter);
  }
  FWindow.ShowWhere(Where(), Title);
}

TFileOffset TViewerState::FirstShown() const {
  const TFileOffset First = FPageStart + static_cast<TFileOffset>(FShownFrom);
  const std::string_view Mark = RulesOf(Encoding()).ByteOrderMark;
  const bool Marked = !Mark.empty() && std::string_view(FHead).starts_with(Mark);
  return std::max<TFileOffset>(First, Marked ? static_cast<TFileOffset>(Mark.size()) : 0);
}

void TViewerState::FindChapters() {
  using TState = TChapterIndex::TState;
  if (FFileName.empty()) return;
  const TState State = FChapters.State();
  if (State == TState::NotScanned || State == TState::Cancelled || State == TState::FileChanged) ScanChapters();
}

void TViewerState::ScanChapters() { FChapters.Scan(FFileName, Encoding(), OfferedPatterns()); }

void TViewerState::RestoreChapters() {
  if (FEverReadable)
    FChapters.Restore(FFileName, Encoding(), OfferedPatterns());
  else
    FChapters.Clear();
}

std::vector<std::string> TViewerState::OfferedPatterns() {
  FOfferedRules.clear();
  std::vector<std::string> Patterns;
  for (std::size_t Rule = 0; Rule < FChapterRules.size(); ++Rule)
    if (FChapterRule ? Rule == *FChapterRule : FChapterRules[Rule].Enabled) {
      FOfferedRules.push_back(Rule);
      Patterns.push_back(FChapterRules[Rule].Pattern);
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
  FChapterRules = std::move(Rules);
  FChapterRule = Pick;
  if (!FFileName.empty()) {
    if (FChapters.State() != TChapterIndex::TState::NotScanned)
      ScanChapters();
    else
      RestoreChapters();  // a list kept for the rules left is not this one
  }
  return "";
}

std::optional<std::size_t> TViewerState::ChapterRuleInUse() const {
  const std::optional<std::size_t> Chosen = FChapters.Chosen();
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
  if (FFileName.empty() || !OpenedOnce()) return;
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
  const TChapterIndex::TStep Step = FChapters.Step(FirstShown(), Forward);
  if (!Step.Settled) {
    FWindow.ShowStatus(FChapters.Status());
    return;
  }
  FChapterStep.reset();
  if (Step.Index) {
    GoToChapter(*Step.Index);
    return;
  }
  FWindow.Beep();
  if (FChapters.Count() == 0)
    FWindow.ShowStatus(FChapters.State() == TChapterIndex::TState::Done ? "没有找到章节" : FChapters.Status());
  else
    FWindow.ShowStatus(Forward ? "已是最后一章" : "前面没有章节了");
}

void TViewerState::GoToChapter(std::size_t Index) {
  if (Index >= FChapters.Count()) return;
  const TRunning Running(FRunning);
  StopWaiting();
  const TFileOffset Offset = FChapters.Offset(Index);
  const std::string Title(FChapters.Title(Index));
  FollowFileChanges();
  // A heading that the change took from the list (cut off, or all of them forgotten) is gone.
  if (Index < FChapters.Count() && FChapters.Offset(Index) == Offset) {
    if (ShowFoundJump(Offset, 0)) FWindow.ShowStatus("已转到“" + Title + "”");
  } else {
    NoJump();
  }
  ShowChangeNotice();
}
