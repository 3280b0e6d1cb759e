#include "TMemoAccessible.h"

#include "TMemo.h"

#include <QAccessibleWidget>

#include <utility>

namespace {

// What a screen reader reads of the control: its text, caret and selection, and the text by the rows
// on screen, so that it reads a page row by row as the reader sees it. Other boundaries (characters,
// words, sentences, paragraphs) are Qt's, over the text.
class TMemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
  explicit TMemoAccessible(TMemo* Memo) : QAccessibleWidget(Memo, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType Type) override {
    if (Type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(Type);
  }

  QAccessible::State state() const override {
    QAccessible::State State = QAccessibleWidget::state();
    State.multiLine = true;
    State.selectableText = true;
    State.readOnly = Memo()->ReadOnly();
    State.editable = !Memo()->ReadOnly();
    return State;
  }

  QString text(QAccessible::Text Kind) const override {
    if (Kind == QAccessible::Value) return Memo()->toPlainText();
    return QAccessibleWidget::text(Kind);
  }

  void selection(int Index, int* Start, int* End) const override {
    *Start = *End = 0;
    if (Index != 0 || !Memo()->HasSelection()) return;
    const auto [From, To] = SelectionRange();
    *Start = From;
    *End = To;
  }
  int selectionCount() const override { return Memo()->HasSelection() ? 1 : 0; }
  void addSelection(int Start, int End) override { Memo()->SetSelection(Start, End); }
  void removeSelection(int) override { Memo()->SetSelection(Memo()->CaretPosition(), Memo()->CaretPosition()); }
  void setSelection(int, int Start, int End) override { Memo()->SetSelection(Start, End); }
  int cursorPosition() const override { return Memo()->CaretPosition(); }
  void setCursorPosition(int Position) override { Memo()->SetSelection(Position, Position); }
  QString text(int Start, int End) const override { return Memo()->toPlainText().mid(Start, End - Start); }
  int characterCount() const override { return static_cast<int>(Memo()->toPlainText().size()); }
  QRect characterRect(int Offset) const override {
    return Memo()->CharacterRect(Offset).translated(Memo()->viewport()->mapToGlobal(QPoint(0, 0)));
  }
  int offsetAtPoint(const QPoint& Point) const override {
    return Memo()->PositionAt(Memo()->viewport()->mapFromGlobal(Point));
  }
  void scrollToSubstring(int Start, int) override { Memo()->SetSelection(Start, Start); }
  QString textAtOffset(int Offset, QAccessible::TextBoundaryType Boundary, int* Start, int* End) const override {
    if (Boundary != QAccessible::LineBoundary) return QAccessibleTextInterface::textAtOffset(Offset, Boundary, Start, End);
    return Row(Offset, 0, Start, End);
  }
  QString textBeforeOffset(int Offset, QAccessible::TextBoundaryType Boundary, int* Start, int* End) const override {
    if (Boundary != QAccessible::LineBoundary)
      return QAccessibleTextInterface::textBeforeOffset(Offset, Boundary, Start, End);
    return Row(Offset, -1, Start, End);
  }
  QString textAfterOffset(int Offset, QAccessible::TextBoundaryType Boundary, int* Start, int* End) const override {
    if (Boundary != QAccessible::LineBoundary)
      return QAccessibleTextInterface::textAfterOffset(Offset, Boundary, Start, End);
    return Row(Offset, 1, Start, End);
  }
  QString attributes(int, int* Start, int* End) const override {
    *Start = 0;
    *End = characterCount();
    return QString();
  }

private:
  TMemo* Memo() const { return static_cast<TMemo*>(widget()); }
  // The row on screen Step rows after the one that shows Offset (the last row shows the end of the
  // text), from its first character to the next row's, its line feed with it, as screen readers take a
  // line; none (-1, -1) outside the text or the rows.
  QString Row(int Offset, int Step, int* Start, int* End) const {
    *Start = *End = -1;
    if (Offset < 0 || Offset > characterCount()) return QString();
    const TPageLayout& Rows = Memo()->Layout();
    const int Index = Rows.LineOf(Offset) + Step;
    const int Count = static_cast<int>(Rows.Lines.size());
    if (Index < 0 || Index >= Count) return QString();
    *Start = Rows.Lines[static_cast<std::size_t>(Index)].Start;
    *End = Index + 1 < Count ? Rows.Lines[static_cast<std::size_t>(Index) + 1].Start : characterCount();
    return text(*Start, *End);
  }
  std::pair<int, int> SelectionRange() const {
    const int From = Memo()->SelStartShown();
    return {From, From + static_cast<int>(Memo()->SelectedText().size())};
  }
};

} // namespace

QAccessibleInterface* MemoAccessible(const QString& ClassName, QObject* Object) {
  if (ClassName == QLatin1String("TMemo") && Object && Object->isWidgetType())
    return new TMemoAccessible(static_cast<TMemo*>(Object));
  return nullptr;
}
