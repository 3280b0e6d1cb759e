#pragma once

#include <QFlags>
#include <Qt>

// The modifier keys and mouse buttons held down when a key or mouse event happened.
enum TShiftFlag : unsigned {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
};
Q_DECLARE_FLAGS(TShiftState, TShiftFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TShiftState)

inline TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
  TShiftState State;
  if (Modifiers & Qt::ShiftModifier) State |= ssShift;
  if (Modifiers & Qt::AltModifier) State |= ssAlt;
  if (Modifiers & Qt::ControlModifier) State |= ssCtrl;
  if (Buttons & Qt::LeftButton) State |= ssLeft;
  if (Buttons & Qt::RightButton) State |= ssRight;
  if (Buttons & Qt::MiddleButton) State |= ssMiddle;
  return State;
}
