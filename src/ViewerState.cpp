#include "ViewerState.h"

#include "DecimalText.h"
#include "ReadPage.h"
#include "TScrollBar.h"
#include "ViewerWindow.h"

#include <algorithm>
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

}  // namespace

void TViewerState::ComputeGeometry() {
  std::int64_t Height = FWindow.TextFontHeight();
  // Height 0 means "the default size": measure it, so the geometry never divides by zero.
  if (Height == 0) Height = std::max(FWindow.TextFontRenderedHeight(), 1);
  CharsPerLine = static_cast<int>(std::llabs(FWindow.TextClientWidth() / Height));
  LinesPerPage = static_cast<int>(std::llabs(FWindow.TextClientHeight() / Height));
}

void TViewerState::ReadPageAtStart(bool StartWhole) {
  ShowWholeCharacters(ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd), StartWhole);
}

// The page's bytes stay as read; the text area gets only its whole characters. A GB18030 page whose
// start its own first byte cannot tell is placed by one bounded read of the bytes before it.
void TViewerState::ShowWholeCharacters(const std::string& Page, bool StartWhole) {
  const TTextEncoding Shown = Encoding();
  std::string LookBack;
  if (const std::size_t Needed = StartWhole ? 0 : LookBackNeeded(Shown, PageStart, Page); Needed > 0) {
    LookBack = ReadBytes(FileName, PageStart - static_cast<TFileOffset>(Needed), Needed);
    if (LookBack.size() != Needed) LookBack.clear();  // the file changed under us: no look-back
  }
  const TWholeCharacters Whole = WholeCharacters(Shown, PageStart, LookBack, Page);
  FPageEndWhole = !Page.empty() && Whole.To == Page.size();
  std::string Text = Page.substr(Whole.From, Whole.To - Whole.From);
  // A character cut by the page's end shows whole here, finished from the few bytes after the page;
  // the next page, which starts inside it, leaves it out. So paging shows every character once.
  if (Whole.To < Page.size()) {
    const std::string Tail = ReadBytes(FileName, PageStart + static_cast<TFileOffset>(Page.size()), 3);
    for (std::size_t Taken = 1; Taken <= Tail.size(); ++Taken) {
      const std::string Finished = Page + Tail.substr(0, Taken);
      if (WholeCharacters(Shown, PageStart, LookBack, Finished).To == Finished.size()) {
        Text = Finished.substr(Whole.From);
        break;
      }
    }
  }
  FWindow.ShowPage(Text);
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
  TScrollBar& Bar = FWindow.ScrollBar();
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
  std::string Chosen = FileName;
  if (!FWindow.ChooseFile(Chosen)) return;
  FileName = Chosen;
  PageStart = 0;
  FWindow.SetCaption("Pagorin文本文件浏览器--" + FileName);
  ComputeGeometry();
  FileSize = 0;
  PageEnd = 0;
  FileSize = MeasureFileSize(FileName);
  FFacts = InspectFile(FileName);
  FChangeNotice.clear();
  ShowFileSize();
  DetectedEncoding = DetectEncoding(ReadBytes(FileName, 0, EncodingSampleBytes));
  ChosenEncoding.reset();
  FWindow.SetTextEncoding(DetectedEncoding, true);
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
  if (FileName.empty()) return;
  // What the last page showed tells where the next one starts, unless the file changed since.
  const bool StartWhole = !FollowFileChanges() && FPageEndWhole;
  History.push(PageStart);
  PageStart = PageEnd;
  FWindow.ShowStatus("当前操作记录数为：" + IntToStr(History.count()) + ";Pos=" + IntToStr(PageStart));
  ReadPageAtStart(StartWhole);
  UpdateScrollBar();
  ShowChangeNotice();
}

void TViewerState::PreviousPage() {
  const TRunning Running(FRunning);
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
  ReadPageAtStart();
  UpdateScrollBar();
  ShowChangeNotice();
}

void TViewerState::ScrollJump() {
  const TRunning Running(FRunning);
  if (FileName.empty()) return;
  // The range follows the file; a position that the new range clamps runs a jump of its own first.
  if (FollowFileChanges()) SetScrollRange();
  const int Position = FWindow.ScrollBar().Position();
  PageStart = Position * ScrollStep;
  const std::string Page = ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd);
  FWindow.ShowStatus("当前翻页Position=" + IntToStr(Position));
  ShowWholeCharacters(Page, false);
  ShowChangeNotice();
}

void TViewerState::FontSetup() {
  const TRunning Running(FRunning);
  if (!FWindow.ChooseTextFont()) return;
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
  ChosenEncoding = Choice;
  if (FileName.empty()) return;
  const bool Changed = FollowFileChanges();
  FWindow.SetTextEncoding(Encoding(), !ChosenEncoding);
  ReadPageAtStart();
  if (Changed) SetScrollRange();
  ShowChangeNotice();
}
