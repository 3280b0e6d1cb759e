#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The factory Qt's accessibility asks for each object's interface: for a TMemo, one that gives a
// screen reader the control's text, caret and selection; null for any other object.
QAccessibleInterface* MemoAccessible(const QString& ClassName, QObject* Object);
