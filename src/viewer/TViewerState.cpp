#include "TViewerState.h"

#include "DecimalText.h"
#include "PageText.h"
#include "ReadPage.h"
#include "TViewerScrollBar.h"
#include "TViewerWindow.h"

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
  ShowWholeCharacters(ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd, Encoding()), StartWhole);
}

void TViewerState::ShowWholeCharacters(const std::string& Page, bool StartWhole) {
  TPageText Shown = ShownText(FileName, Encoding(), PageStart, Page, StartWhole);
  FPageEndWhole = Shown.EndsWhole;
  FWindow.ShowPage(Shown.Text);
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
  std::string Chosen = FileName;
  if (!FWindow.ChooseFile(Chosen)) return;
  FileName = Chosen;
  PageStart = 0;
  FWindow.SetCaption("Pagorin文本文件浏览器--" + FileName);
  ComputeGeometry();
  PageEnd = 0;
  // One look at the file gives its size and what later commands compare it with.
  FFacts = InspectFile(FileName);
  FileSize = FFacts.Size;
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
  const std::string Page = ReadPage(FileName, PageStart, LinesPerPage, CharsPerLine, PageEnd, Encoding());
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
