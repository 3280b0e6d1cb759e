#include "TStatusBar.h"

#include "CodePage.h"
#include "DecimalText.h"
#include "Exception.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QSizeGrip>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int DefaultHeight = 19;
constexpr int TopBorder = 2;      // the bar's own edge above the panels
constexpr int LaidOutPanels = 128; // panels past these are not shown
constexpr int TextIndent = 2;

Qt::Alignment LabelAlignment(TAlignment Alignment) {
  switch (Alignment) {
  case taRightJustify: return Qt::AlignRight | Qt::AlignVCenter;
  case taCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
  case taLeftJustify: break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

int LabelFrame(TStatusPanelBevel Bevel) {
  switch (Bevel) {
  case pbNone: return QFrame::NoFrame;
  case pbRaised: return QFrame::Panel | QFrame::Raised;
  case pbLowered: break;
  }
  return QFrame::Panel | QFrame::Sunken;
}

} // namespace

// ---- TStatusPanel -----------------------------------------------------------------------------------

TStatusPanel::TStatusPanel(TStatusBar& Bar, QLabel& Label, int Width) : Bar(Bar), Label(Label), FWidth(Width) {
  Label.setTextFormat(Qt::PlainText);
  Label.setIndent(TextIndent);
  Label.setLineWidth(1);
  Label.setAlignment(LabelAlignment(FAlignment));
  Label.setFrameStyle(LabelFrame(FBevel));
}

void TStatusPanel::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  FDirty = true;
  Invalidate();
}

void TStatusPanel::SetWidth(int Value) {
  if (Value == FWidth) return;
  FWidth = Value;
  Bar.PlacePanels();
}

void TStatusPanel::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  Label.setAlignment(LabelAlignment(Value));
}

void TStatusPanel::SetBevel(TStatusPanelBevel Value) {
  if (Value == FBevel) return;
  FBevel = Value;
  Label.setFrameStyle(LabelFrame(Value));
}

void TStatusPanel::Invalidate() {
  Bar.update(Label.geometry());
  Bar.HandOverAtNextPaintPass();
}

void TStatusPanel::HandOver() {
  if (!FDirty) return;
  FDirty = false;
  // The bar holds text up to its first NUL, as the panel texts of the system's status bars do.
  FShown = TCodePage::Ansi().Decode(std::string_view(FText).substr(0, FText.find('\0')));
  Fit();
}

// A text wider than the panel ends in an ellipsis where it is cut; the whole of it is then the panel's
// tooltip. Screen readers always get the whole text.
void TStatusPanel::Fit() {
  const QFontMetrics Metrics(Label.font());
  const int Room = Label.contentsRect().width() - std::max(Label.indent(), 0) - 2 * Label.margin();
  const bool Cut = Metrics.horizontalAdvance(FShown) > Room;
  Label.setText(Cut ? Metrics.elidedText(FShown, Qt::ElideRight, Room) : FShown);
  Label.setToolTip(Cut ? FShown : QString());
  Label.setAccessibleName(FShown);
}

// ---- TStatusBar -------------------------------------------------------------------------------------

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
  // Every property set, so that a font the window sets does not reach the bar.
  QFont StatusFont = QApplication::font("QStatusBar");
  StatusFont.setResolveMask(QFont::AllPropertiesResolved);
  setFont(StatusFont);
  setSizeGripEnabled(true);
  setMinimumHeight(BarHeight());
}

TStatusBar::~TStatusBar() = default;

TStatusPanel& TStatusBar::Panels(int Index) {
  if (Index < 0 || Index >= PanelCount()) throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
  return *FPanels[static_cast<std::size_t>(Index)];
}

TStatusPanel& TStatusBar::AddPanel(int Width, const std::string& Text) {
  auto* Label = new QLabel(this);
  FPanels.push_back(std::unique_ptr<TStatusPanel>(new TStatusPanel(*this, *Label, Width)));
  TStatusPanel& Panel = *FPanels.back();
  Panel.FText = Text;
  PlacePanels();
  // The size grip stays on top of the last panel, which runs under it to the end of the bar.
  if (auto* Grip = findChild<QSizeGrip*>()) Grip->raise();
  return Panel;
}

QSize TStatusBar::sizeHint() const { return QSize(QStatusBar::sizeHint().width(), BarHeight()); }

QSize TStatusBar::minimumSizeHint() const { return QSize(QStatusBar::minimumSizeHint().width(), BarHeight()); }

// A label given its text while the bar paints asks for a paint pass of its own; given it as the
// window's pass begins, it is drawn in that pass with the bar.
void TStatusBar::HandOverAtNextPaintPass() {
  QWidget* Window = window();
  if (Window == FWatchedWindow || Window == this) return;
  if (FWatchedWindow) FWatchedWindow->removeEventFilter(this);
  FWatchedWindow = Window;
  Window->installEventFilter(this);
}

bool TStatusBar::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FWatchedWindow && Event->type() == QEvent::UpdateRequest) HandOver();
  return QStatusBar::eventFilter(Watched, Event);
}

void TStatusBar::HandOver() {
  for (const auto& Panel : FPanels) Panel->HandOver();
}

void TStatusBar::paintEvent(QPaintEvent* Event) {
  HandOver(); // a pass of the bar alone (repaint) or of a bar that is its own window
  QStatusBar::paintEvent(Event);
}

void TStatusBar::resizeEvent(QResizeEvent* Event) {
  QStatusBar::resizeEvent(Event);
  PlacePanels();
}

void TStatusBar::PlacePanels() {
  std::int64_t Left = 0;
  const int Count = PanelCount();
  for (int Index = 0; Index < Count; ++Index) {
    QLabel& Label = FPanels[static_cast<std::size_t>(Index)]->Label;
    Label.setVisible(Index < LaidOutPanels);
    if (Index >= LaidOutPanels) continue;
    const bool Last = Index == std::min(Count, LaidOutPanels) - 1;
    const std::int64_t Right = Last ? width() : Left + FPanels[static_cast<std::size_t>(Index)]->FWidth;
    const auto Clamp = [this](std::int64_t X) { return static_cast<int>(std::clamp<std::int64_t>(X, 0, width())); };
    const int X = Clamp(Left);
    // A fixed size, so that a new text does not ask the bar and the window to lay out again.
    const QSize Size(std::max(0, Clamp(Right) - X), std::max(0, height() - TopBorder));
    if (Size != Label.size()) {
      Label.setFixedSize(Size);
      TStatusPanel& Panel = *FPanels[static_cast<std::size_t>(Index)];
      if (!Panel.FDirty) Panel.Fit();
    }
    Label.move(X, TopBorder);
    Left = Right;
  }
}

int TStatusBar::BarHeight() const { return std::max(DefaultHeight, QFontMetrics(font()).height() + 4); }
