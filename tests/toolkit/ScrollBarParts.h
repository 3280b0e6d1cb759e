#pragma once

#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

// Where a part of a shown scroll bar (thumb, arrows, track) lies, as its style draws it, so tests can
// press and drag there like a user.
inline QRect ScrollBarPart(const QScrollBar& Bar, QStyle::SubControl Part) {
  QStyleOptionSlider Option;
  Option.initFrom(&Bar);
  Option.subControls = QStyle::SC_All;
  Option.orientation = Bar.orientation();
  Option.minimum = Bar.minimum();
  Option.maximum = Bar.maximum();
  Option.sliderPosition = Bar.sliderPosition();
  Option.sliderValue = Bar.value();
  Option.singleStep = Bar.singleStep();
  Option.pageStep = Bar.pageStep();
  Option.upsideDown = Bar.invertedAppearance();
  if (Bar.orientation() == Qt::Horizontal) Option.state |= QStyle::State_Horizontal;
  return Bar.style()->subControlRect(QStyle::CC_ScrollBar, &Option, Part, &Bar);
}
