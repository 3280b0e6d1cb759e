#include "TScrollBar.h"

#include "Exception.h"

#include <QPaintEvent>
#include <QSignalBlocker>
#include <QStyleOptionSlider>

#include <algorithm>

TScrollBar::TScrollBar(QWidget* Parent) : QScrollBar(Qt::Horizontal, Parent) {
  setFocusPolicy(Qt::StrongFocus);  // a tab stop, like every scroll bar control
  MirrorRange();
  MirrorPosition();
  connect(this, &QAbstractSlider::actionTriggered, this, &TScrollBar::ActionTriggered);
  // Releasing the thumb reports its final place; where it already stands, that changes nothing.
  connect(this, &QAbstractSlider::sliderReleased, this, [this] { Scroll(scPosition, sliderPosition()); });
}

void TScrollBar::SetParams(int APosition, int AMin, int AMax) {
  if (AMax < AMin || AMax < FPageSize) throw EInvalidOperation("Scrollbar property out of range");
  APosition = std::clamp(APosition, AMin, AMax);
  if (AMin != FMin || AMax != FMax) {
    FMin = AMin;
    FMax = AMax;
    MirrorRange();
  }
  if (APosition == FPosition) return;
  FPosition = APosition;
  MirrorPosition();
  setEnabled(true);
  if (OnChange) OnChange(this);
}

void TScrollBar::SetPageSize(int Value) {
  if (Value == FPageSize || Value > FMax) return;
  FPageSize = Value;
  QSignalBlocker Silence(this);
  QScrollBar::setPageStep(std::max(Value, 0));
}

void TScrollBar::Scroll(TScrollCode Code, int TrackPos) {
  // 64-bit, so a step past either end of a full 32-bit range cannot overflow before the clamp.
  std::int64_t Target = FPosition;
  switch (Code) {
    case scLineUp: Target -= SmallChange; break;
    case scLineDown: Target += SmallChange; break;
    case scPageUp: Target -= LargeChange; break;
    case scPageDown: Target += LargeChange; break;
    case scPosition:
    case scTrack: Target = TrackPos; break;
    case scTop: Target = FMin; break;
    case scBottom: Target = FMax; break;
    case scEndScroll: break;
  }
  int ScrollPos = static_cast<int>(std::clamp<std::int64_t>(Target, FMin, FMax));
  if (OnScroll) OnScroll(this, Code, ScrollPos);
  SetPosition(ScrollPos);
  // Qt has already moved its own slider for this action; bring it back to the model's position
  // (unchanged when OnScroll held the position, or when the assignment above did not move it).
  MirrorPosition();
}

void TScrollBar::ActionTriggered(int Action) {
  switch (Action) {
    case SliderSingleStepSub: Scroll(scLineUp, 0); break;
    case SliderSingleStepAdd: Scroll(scLineDown, 0); break;
    case SliderPageStepSub: Scroll(scPageUp, 0); break;
    case SliderPageStepAdd: Scroll(scPageDown, 0); break;
    case SliderToMinimum: Scroll(scTop, 0); break;
    case SliderToMaximum: Scroll(scBottom, 0); break;
    case SliderMove: Scroll(scTrack, sliderPosition()); break;
    default: break;
  }
}

void TScrollBar::sliderChange(SliderChange Change) {
  // A page turn moves the thumb; the track and arrows look the same unless an end is reached or left
  // (the arrow there is drawn disabled), so only the old and new thumb are drawn again.
  if (Change == SliderValueChange && !FPaintedAtAnEnd && !AtAnEnd() && !FPaintedThumb.isEmpty())
    update(QRegion(FPaintedThumb).united(ThumbRect()));
  else
    QScrollBar::sliderChange(Change);
  if (Change == SliderValueChange && !FMirroring && value() != FPosition) Scroll(scPosition, value());
}

void TScrollBar::paintEvent(QPaintEvent* Event) {
  QScrollBar::paintEvent(Event);
  FPaintedThumb = ThumbRect();
  FPaintedAtAnEnd = AtAnEnd();
}

QRect TScrollBar::ThumbRect() const {
  QStyleOptionSlider Option;
  initStyleOption(&Option);
  // With a margin: styles draw the thumb's outline a pixel or so outside the rectangle they give.
  return style()->subControlRect(QStyle::CC_ScrollBar, &Option, QStyle::SC_ScrollBarSlider, this).adjusted(-4, -4, 4, 4);
}

void TScrollBar::MirrorRange() {
  QSignalBlocker Silence(this);
  FMirroring = true;
  QScrollBar::setRange(FMin, FMax);
  FMirroring = false;
}

void TScrollBar::MirrorPosition() {
  QSignalBlocker Silence(this);
  FMirroring = true;
  QScrollBar::setValue(FPosition);
  FMirroring = false;
}
