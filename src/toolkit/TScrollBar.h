#pragma once

#include "TViewerScrollBar.h"

#include <QScrollBar>

#include <cstdint>
#include <functional>

enum TScrollBarKind { sbHorizontal, sbVertical };

// What the user did to the scroll bar; the numbers are the platform's scroll codes.
enum TScrollCode {
  scLineUp = 0,    // arrow at the top or left
  scLineDown = 1,  // arrow at the bottom or right
  scPageUp = 2,    // track above or left of the thumb
  scPageDown = 3,  // track below or right of the thumb
  scPosition = 4,  // thumb released
  scTrack = 5,     // thumb dragged
  scTop = 6,
  scBottom = 7,
  scEndScroll = 8
};

// A scroll bar that owns its values (Min, Max, Position, PageSize) instead of QScrollBar's: the Qt
// widget only mirrors them. Every assignment that moves Position fires OnChange before it returns,
// whoever made it, also while the bar was never shown; an assignment that leaves Position where it
// was fires nothing. Every user action (arrows, track, thumb drag and release, keys, wheel) becomes a
// scroll code that goes through OnScroll and then the Position assignment. Positions are full 32-bit.
// It is the viewer's scroll bar: OnChange is that contract's notification.
class TScrollBar : public QScrollBar, public TViewerScrollBar {
  Q_OBJECT

public:
  explicit TScrollBar(QWidget* Parent = nullptr);

  int Min() const override { return FMin; }
  int Max() const override { return FMax; }
  int Position() const override { return FPosition; }
  int PageSize() const override { return FPageSize; }
  // Each runs the common range update: raises EInvalidOperation "Scrollbar property out of range"
  // (changing nothing) when Max would fall below Min or PageSize; clamps Position into [Min, Max].
  void SetMin(int Value) override { SetParams(FPosition, Value, FMax); }
  void SetMax(int Value) override { SetParams(FPosition, FMin, Value); }
  void SetPosition(int Value) override { SetParams(Value, FMin, FMax); }
  void SetParams(int APosition, int AMin, int AMax);
  // Thumb size in position units (0: the platform's fixed-size thumb). A value above Max, or the
  // current one, is ignored; it never moves Position and never raises.
  void SetPageSize(int Value) override;

  TScrollBarKind Kind() const { return orientation() == Qt::Vertical ? sbVertical : sbHorizontal; }
  void SetKind(TScrollBarKind Value) { setOrientation(Value == sbVertical ? Qt::Vertical : Qt::Horizontal); }

  std::uint16_t SmallChange = 1;  // step of an arrow click
  std::uint16_t LargeChange = 1;  // step of a click on the track

  std::function<void(QObject* Sender)> OnChange;
  // Runs before a user's scroll action is applied; the handler may change ScrollPos.
  std::function<void(QObject* Sender, TScrollCode ScrollCode, int& ScrollPos)> OnScroll;

  // Applies one user scroll action; TrackPos is the thumb's position for scPosition and scTrack.
  void Scroll(TScrollCode Code, int TrackPos);

protected:
  // Qt moving its own value outside an action (the context menu's "Scroll here") is a thumb release
  // there, so the page follows the thumb.
  void sliderChange(SliderChange Change) override;
  void paintEvent(QPaintEvent* Event) override;

private:
  void ActionTriggered(int Action);
  void MirrorRange();
  void MirrorPosition();
  QRect ThumbRect() const;
  bool AtAnEnd() const { return value() == minimum() || value() == maximum(); }

  // The Qt value model is only a mirror: nothing outside this class may move it.
  using QScrollBar::setMaximum;
  using QScrollBar::setMinimum;
  using QScrollBar::setPageStep;
  using QScrollBar::setRange;
  using QScrollBar::setSingleStep;
  using QScrollBar::setSliderPosition;
  using QScrollBar::setValue;

  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FPageSize = 0;
  bool FMirroring = false;  // the model is handing its values to the Qt widget
  // What the last paint showed: a move between two inner positions repaints only the two thumbs.
  QRect FPaintedThumb;
  bool FPaintedAtAnEnd = true;
};
