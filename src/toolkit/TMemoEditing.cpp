// The text area's editing paths: typing, cutting, pasting and the input method. The program keeps its
// text area read-only; the control still edits as a text control does when it is not.
#include "TMemo.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

#include <algorithm>
#include <cstdlib>

// Checked before any other key, so that Shift+Delete cuts rather than deletes.
bool TMemo::HandleEditShortcut(QKeyEvent* Event) {
  if (Event->matches(QKeySequence::Cut)) {
    copy();
    ReplaceSelection(QString());
    return true;
  }
  if (Event->matches(QKeySequence::Paste)) {
    ReplaceSelection(QGuiApplication::clipboard()->text().remove(QLatin1Char('\r')));
    return true;
  }
  return false;
}

void TMemo::HandleTyping(QKeyEvent* Event) {
  const bool Control = Event->modifiers().testFlag(Qt::ControlModifier);
  const int Size = static_cast<int>(FShown.size());
  switch (Event->key()) {
  case Qt::Key_Backspace:
    if (!HasSelection()) FAnchor = std::max(0, FCaret - (IsLowSurrogateAt(FShown, FCaret - 1) ? 2 : 1));
    return ReplaceSelection(QString());
  case Qt::Key_Delete:
    if (!HasSelection()) FAnchor = std::min(Size, FCaret + (IsLowSurrogateAt(FShown, FCaret + 1) ? 2 : 1));
    return ReplaceSelection(QString());
  case Qt::Key_Return:
  case Qt::Key_Enter: return ReplaceSelection(QStringLiteral("\n"));
  default: break;
  }
  const QString Typed = Event->text();
  if (!Typed.isEmpty() && !Control && Typed.front().isPrint()) return ReplaceSelection(Typed);
  Event->ignore();
}

void TMemo::ReplaceSelection(const QString& Typed) {
  const int From = std::min(FCaret, FAnchor);
  const int Length = std::abs(FCaret - FAnchor);
  if (Length == 0 && Typed.isEmpty()) return;
  FShown.replace(From, Length, Typed);
  FCaret = FAnchor = From + static_cast<int>(Typed.size());
  ShownChanged();
  EnsureVisible(FCaret);
  UserEdited();
}

void TMemo::UserEdited() {
  FTextKnown = false;
  if (QAccessible::isActive()) {
    QAccessibleEvent Changed(this, QAccessible::TextUpdated);
    QAccessible::updateAccessibility(&Changed);
  }
  if (OnChange) OnChange(this);
}

void TMemo::inputMethodEvent(QInputMethodEvent* Event) {
  if (!FReadOnly && !Event->commitString().isEmpty()) ReplaceSelection(Event->commitString());
  Event->accept();
}

QVariant TMemo::inputMethodQuery(Qt::InputMethodQuery Query) const {
  switch (Query) {
  case Qt::ImEnabled: return !FReadOnly;
  case Qt::ImCursorRectangle: return CharacterRect(FCaret);
  case Qt::ImCursorPosition: return FCaret - Layout().Lines[static_cast<std::size_t>(LineOf(FCaret))].Start;
  default: return QAbstractScrollArea::inputMethodQuery(Query);
  }
}
