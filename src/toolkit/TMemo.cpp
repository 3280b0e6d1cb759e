#include "TMemo.h"

#include "AccessibleStringAtOffset.h"
#include "CodePage.h"
#include "LineBreaks.h"
#include "TMemoAccessible.h"
#include "VirtualKeys.h"

#include <QAccessible>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// What the control shows for the bytes it holds: every CR LF a line break; a CR or LF on its own can
// only be the broken trail of a two-byte character and shows as one more U+FFFD, not as a break, so
// that each line break of the display is exactly one CR LF of the text.
QString DisplayText(const std::string& Bytes, const TCodePage& CodePage) {
  // In place, as the shown text is never longer than the decoded one: a page is some 9,000 characters.
  QString Shown = CodePage.Decode(Bytes);
  QChar* const Units = Shown.data();
  const qsizetype Size = Shown.size();
  qsizetype Kept = 0;
  for (qsizetype I = 0; I < Size; ++I) {
    const QChar Unit = Units[I];
    if (Unit == u'\r' && I + 1 < Size && Units[I + 1] == u'\n') {
      Units[Kept++] = u'\n';
      ++I;
    } else if (Unit == u'\r' || Unit == u'\n') {
      Units[Kept++] = QChar(QChar::ReplacementCharacter);
    } else {
      Units[Kept++] = Unit;
    }
  }
  Shown.truncate(Kept);
  return Shown;
}

// Display positions count a line break as one; the text holds it as CR LF, two.
int TextPositionOf(const QString& Shown, int Position) {
  return Position + static_cast<int>(QStringView(Shown).left(Position).count(u'\n'));
}

int ShownPositionOf(const QString& Shown, int TextPosition) {
  int Text = 0;
  for (int I = 0; I < Shown.size(); ++I) {
    if (TextPosition <= Text) return I;
    if (Shown[I] == u'\n') {
      if (TextPosition == Text + 1) return I; // between CR and LF: the end of the line
      Text += 2;
    } else {
      ++Text;
    }
  }
  return static_cast<int>(Shown.size());
}

} // namespace

TMemo::TMemo(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool AccessibleInstalled = (QAccessible::installFactory(MemoAccessible), AnswerStringAtOffset(), true);
  (void)AccessibleInstalled;
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  // paintEvent fills what it paints, line by line: a fill of the whole area first would write the
  // window's image twice and blend into it after it has left the cache.
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  ApplyPalette();
  FPrepare.setSingleShot(true);
  FPrepare.setInterval(0);
  connect(&FPrepare, &QTimer::timeout, this, &TMemo::PrepareSomeGlyphs);
}

namespace {
// The common characters stop here; the text ahead is prepared whatever its size, as it is about to be
// drawn anyway.
constexpr qsizetype CommonMaskBudget = 4 << 20;
// The text ahead is prepared this long after a new text is painted: the window's other repaints and
// their flush come first, and a reader does not turn the next page within this time.
constexpr int PrepareDelayMs = 20;
// The common characters only once nothing has been painted for this long: they are some 40 ms of work
// at the start, which would otherwise run beside the window's first showing and compete with it.
constexpr int IdleDelayMs = 500;
}  // namespace

bool TMemo::AheadWanted() const { return !FAheadAsked || FAheadDone < FAhead.size(); }

bool TMemo::CommonWanted() const { return FPrepared < TGlyphCache::CommonCharacters().size(); }

bool TMemo::PreparingWanted() const { return AheadWanted() || CommonWanted(); }

// Half a millisecond at a time, so that a key pressed meanwhile waits no longer than that.
void TMemo::PrepareSomeGlyphs() {
  if (!FGlyphs) return;
  QElapsedTimer Spent;
  Spent.start();
  if (!FAheadAsked) {
    FAheadAsked = true;
    FAhead = OnTextAhead ? TCodePage::Of(FEncoding).Decode(OnTextAhead()) : QString();
    FAheadDone = 0;
  }
  // Steps while Left() holds and the slice lasts. The clock is read every few characters: most of a
  // page's some 9,000 are prepared already, and a reading for each was a tenth of the slices' time (a
  // glyph made takes some 3 us).
  const auto InSlice = [&Spent](auto Left, auto Step) {
    while (Left() && Spent.nsecsElapsed() < 500'000)
      for (int Count = 0; Count < 16 && Left(); ++Count) Step();
  };
  InSlice([this] { return FAheadDone < FAhead.size(); },
          [this] {
            int Units = 1;
            FGlyphs->Prepare(CodePointAt(FAhead, FAheadDone, Units));
            FAheadDone += Units;
          });
  if (AheadWanted()) {
    FPrepare.start(0);
    return;
  }
  const qint64 Quiet = FPainted.isValid() ? FPainted.elapsed() : IdleDelayMs;
  if (Quiet < IdleDelayMs) {
    if (CommonWanted()) FPrepare.start(static_cast<int>(IdleDelayMs - Quiet));
    return;
  }
  const QString& Common = TGlyphCache::CommonCharacters();
  InSlice([&] { return FPrepared < Common.size(); },
          [&] {
            if (FGlyphs->MaskBytes() >= CommonMaskBudget) FPrepared = Common.size();
            else FGlyphs->Prepare(Common[FPrepared].unicode());
            ++FPrepared;
          });
  if (PreparingWanted()) FPrepare.start(0);
}

TMemo::~TMemo() = default;

std::string TMemo::Text() const {
  if (!FTextKnown) {
    QString Typed = FShown;
    Typed.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    FText = TCodePage::Of(FEncoding).Encode(Typed);
    FTextKnown = true;
  }
  return FText;
}

void TMemo::SetText(const std::string& Bytes) {
  const std::string Normal = NormaliseLineBreaks(Bytes, FEncoding);
  // Compared before the cut at the first NUL: a text with a NUL never equals what the control holds,
  // and is handed over again, as a NUL-terminated control would have it.
  if (Normal == Text()) return;
  FText = Normal.substr(0, TextEnd(FEncoding, Normal));
  FTextKnown = true;
  ShowText();
  if (OnChange) OnChange(this);
}

int TMemo::ShownLength(const std::string& Bytes) const {
  const std::string Normal = NormaliseLineBreaks(Bytes, FEncoding);
  return static_cast<int>(DisplayText(Normal.substr(0, TextEnd(FEncoding, Normal)), TCodePage::Of(FEncoding)).size());
}

void TMemo::SetEncoding(TTextEncoding Value) {
  if (Value == FEncoding) return;
  Text();  // a text the user typed is kept in the old encoding's bytes first
  FEncoding = Value;
  ShowText();
}

void TMemo::ShowText() {
  FShown = DisplayText(FText, TCodePage::Of(FEncoding));
  FCaret = FAnchor = 0;
  FAheadAsked = false;
  // Past the column every pixel is the ground already: a page turn draws the column alone.
  ShownChanged(TextColumn());
  verticalScrollBar()->setValue(0);
  if (QAccessible::isActive()) {
    QAccessibleEvent Changed(this, QAccessible::TextUpdated);
    QAccessible::updateAccessibility(&Changed);
  }
}

void TMemo::ShownChanged(const QRect& Area) {
  FLayoutValid = false;
  viewport()->update(Area.isEmpty() ? viewport()->rect() : Area);
}

QRect TMemo::TextColumn() const {
  const QRect All = viewport()->rect();
  if (FPageLayout.CountsBytes() || !FGlyphs) return All;
  const int Pitch = LinePitch();
  const TRowGeometry Geometry = RowGeometryOf(FPageLayout, Pitch, All.width(), All.height(), FGlyphs->Advance(U'\u4E00'));
  // A row holds at least one character, however narrow the column: one that is wider than the column
  // alone on its row reaches past it by more than the room below allows.
  if (Geometry.Width < 4 * Pitch) return All;
  // A glyph's ink stays within a character of its advance, a selected line break's highlight reaches a
  // third of a row past the line, the caret a pixel or two.
  const int Room = 2 * Pitch;
  return QRect(Geometry.Left - Room, 0, Geometry.Width + 2 * Room, All.height()).intersected(All);
}

int TMemo::SelStartShown() const { return std::min(FCaret, FAnchor); }

int TMemo::SelStart() const { return TextPositionOf(FShown, SelStartShown()); }

void TMemo::SetSelStart(int Position) { MoveCaret(ShownPositionOf(FShown, Position), false, false); }

QString TMemo::SelectedText() const {
  const int From = std::min(FCaret, FAnchor);
  return FShown.mid(From, std::abs(FCaret - FAnchor));
}

void TMemo::SetSelection(int Anchor, int Caret) {
  const int Size = static_cast<int>(FShown.size());
  FAnchor = std::clamp(Anchor, 0, Size);
  MoveCaret(Caret, true);
}

void TMemo::copy() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void TMemo::SetHideSelection(bool Value) {
  if (FHideSelection == Value) return;
  FHideSelection = Value;
  viewport()->update();
}

TFont TMemo::Font() const {
  if (FFontAssigned) return FFont;
  return TFont::FromQFont(font(), TFont::ScreenPixelsPerInch());
}

void TMemo::SetFont(const TFont& Value) {
  TFont Next = Font();
  Next.Assign(Value);
  TFont Recolored = FFont;
  Recolored.Color = Next.Color;
  const bool OnlyColor = FFontAssigned && Recolored == Next;
  FFont = Next;
  FFontAssigned = true;
  // A new colour alone keeps the glyphs drawn so far: a new Qt font would drop them.
  if (!OnlyColor) setFont(FFont.ToQFont());
  ApplyPalette();
}

void TMemo::SetColor(const QColor& Value) {
  FColor = Value;
  ApplyPalette();
}

// Lines are laid out at the font's pixel height, as a font without internal leading has them, so that
// a page measured in lines of that height fits the control. Faces with taller line spacing (the
// Chinese fallbacks) would otherwise push the last lines of a page out of sight.
int TMemo::LinePitch() const {
  const int Pitch = FFontAssigned && FFont.Height != 0 ? std::abs(FFont.Height) : fontMetrics().height();
  return std::max(Pitch, 1);
}

int TMemo::ClientWidth() const { return viewport()->width(); }

int TMemo::ClientHeight() const { return viewport()->height(); }

const TPageLayout& TMemo::Layout() const {
  const int Width = viewport()->width();
  const int Height = viewport()->height();
  if (!FLayoutValid || FLayoutWidth != Width || (!FPageLayout.CountsBytes() && FLayoutHeight != Height)) {
    if (!FGlyphs) FGlyphs = std::make_unique<TGlyphCache>(font());
    TGlyphCache& Glyphs = *FGlyphs;
    const auto Advance = [&Glyphs](char32_t Code) { return Glyphs.Advance(Code); };
    const int Pitch = LinePitch();
    if (FPageLayout.CountsBytes()) {
      FLayout = TPageLayout::Make(FShown, Width, Advance);
      for (std::size_t Index = 0; Index < FLayout.Lines.size(); ++Index)
        FLayout.Lines[Index].Top = static_cast<int>(Index) * Pitch;
    } else {
      const TRowGeometry Geometry = RowGeometryOf(FPageLayout, Pitch, Width, Height, Glyphs.Advance(U'\u4E00'));
      FLayout = TPageLayout::MakeRows(FShown, Geometry, FPageLayout.BreakRules, Advance);
    }
    FLayoutValid = true;
    FLayoutWidth = Width;
    FLayoutHeight = Height;
    UpdateScrollRange();
  }
  return FLayout;
}

void TMemo::SetPageLayout(const TLayoutSettings& Value) {
  if (Value == FPageLayout) return;
  FPageLayout = Value;
  ShownChanged();
}

int TMemo::Advance(char32_t Code) const {
  if (!FGlyphs) FGlyphs = std::make_unique<TGlyphCache>(font());
  return FGlyphs->Advance(Code);
}

int TMemo::LineTop(int Index) const {
  const std::vector<TPageLine>& Lines = FLayout.Lines;
  const int Count = static_cast<int>(Lines.size());
  if (Count == 0) return Index * LinePitch();
  if (Index < 0) return Lines.front().Top + Index * LinePitch();
  if (Index >= Count) return Lines.back().Top + (Index - Count + 1) * LinePitch();
  return Lines[static_cast<std::size_t>(Index)].Top;
}

int TMemo::LineAt(int Y) const {
  if (FPageLayout.CountsBytes()) return Y / LinePitch();
  const std::vector<TPageLine>& Lines = FLayout.Lines;
  const auto After = std::upper_bound(Lines.begin(), Lines.end(), Y, [](int At, const TPageLine& Line) { return At < Line.Top; });
  return static_cast<int>(After - Lines.begin()) - 1;
}

void TMemo::UpdateScrollRange() const {
  const int Content = FLayout.Lines.empty() ? 0 : LineTop(static_cast<int>(FLayout.Lines.size()) - 1) + LinePitch();
  QScrollBar* Bar = verticalScrollBar();
  Bar->setRange(0, std::max(0, Content - viewport()->height()));
  Bar->setPageStep(viewport()->height());
  Bar->setSingleStep(LinePitch());
}

int TMemo::LineOf(int Position) const { return Layout().LineOf(Position); }

int TMemo::XOf(int Position) const { return XInLine(Layout().Lines[static_cast<std::size_t>(LineOf(Position))], Position); }

int TMemo::XInLine(const TPageLine& Line, int Position) const {
  int X = 0;
  for (int I = Line.Start, Units = 1; I < Position && I < Line.Start + Line.Length; I += Units)
    X += FGlyphs->Advance(CodePointAt(FShown, I, Units));
  return X;
}

int TMemo::PositionInLine(int Line, int X) const {
  const TPageLine& Shown = Layout().Lines[static_cast<std::size_t>(Line)];
  int Left = 0;
  for (int I = Shown.Start, Units = 1; I < Shown.Start + Shown.Length; I += Units) {
    const int Wide = FGlyphs->Advance(CodePointAt(FShown, I, Units));
    if (X - FLayout.Left < Left + Wide / 2) return I;
    Left += Wide;
  }
  return Shown.Start + Shown.Length;
}

QRect TMemo::CharacterRect(int Position) const {
  Position = std::clamp(Position, 0, static_cast<int>(FShown.size()));
  const int Line = LineOf(Position);
  const int X = XOf(Position);
  int Wide = 0;
  if (Position < FShown.size() && FShown[Position] != u'\n') Wide = XOf(Position + 1) - X;
  return QRect(FLayout.Left + X, LineTop(Line) - verticalScrollBar()->value(), std::max(Wide, 1), LinePitch());
}

int TMemo::PositionAt(QPoint Point) const {
  const TPageLayout& Lines = Layout();
  const int Line = std::clamp(LineAt(Point.y() + verticalScrollBar()->value()), 0,
                              static_cast<int>(Lines.Lines.size()) - 1);
  return PositionInLine(Line, Point.x());
}

void TMemo::MoveCaret(int Position, bool Extend, bool ScrollIntoView) {
  Layout(); // and with it the scroll range the caret moves in
  const int Size = static_cast<int>(FShown.size());
  Position = std::clamp(Position, 0, Size);
  if (IsLowSurrogateAt(FShown, Position)) --Position;
  const bool Moved = Position != FCaret || (!Extend && FAnchor != Position);
  const bool WasSelected = HasSelection();
  const QRect Was = CaretRect();
  FCaret = Position;
  if (!Extend) FAnchor = Position;
  if (ScrollIntoView) EnsureVisible(FCaret);
  if (!Moved) return;
  // With nothing selected before or after, a move changes the caret's two places alone (Page Down
  // moves it on every page turn).
  if (WasSelected || HasSelection()) {
    viewport()->update();
  } else {
    viewport()->update(Was);
    viewport()->update(CaretRect());
  }
  if (QAccessible::isActive()) {
    QAccessibleTextCursorEvent Caret(this, FCaret);
    QAccessible::updateAccessibility(&Caret);
  }
}

void TMemo::EnsureVisible(int Position) {
  const int Top = LineTop(LineOf(Position));
  QScrollBar* Bar = verticalScrollBar();
  if (Top < Bar->value())
    Bar->setValue(Top);
  else if (Top + LinePitch() > Bar->value() + viewport()->height())
    Bar->setValue(Top + LinePitch() - viewport()->height());
}

void TMemo::scrollContentsBy(int, int) { viewport()->update(); }

void TMemo::resizeEvent(QResizeEvent* Event) {
  QAbstractScrollArea::resizeEvent(Event);
  FLayoutValid = false;
  Layout();
}

void TMemo::keyPressEvent(QKeyEvent* Event) {
  const std::uint16_t Vk = VirtualKeyOf(Event->key(), Event->modifiers());
  std::uint16_t Key = Vk;
  if (OnKeyDown) {
    const QPointer<TMemo> Alive(this);
    OnKeyDown(this, Key, ShiftStateOf(Event->modifiers(), QGuiApplication::mouseButtons()));
    if (!Alive) return;
    if (Key == 0) {
      Event->accept();
      return;
    }
  }
  if (Key != Vk) {
    Qt::KeyboardModifiers Modifiers = Event->modifiers();
    QString Text;
    const int QtKey = QtKeyOf(Key, Modifiers, Text);
    QKeyEvent Replaced(Event->type(), QtKey, Modifiers, Text, Event->isAutoRepeat(), Event->count());
    HandleKey(&Replaced);
    Event->setAccepted(Replaced.isAccepted());
    return;
  }
  HandleKey(Event);
}

// The keys of a text control: the caret and the selection, copy; typing where it is not read-only.
void TMemo::HandleKey(QKeyEvent* Event) {
  Event->accept();
  if (Event->matches(QKeySequence::SelectAll)) return selectAll();
  if (Event->matches(QKeySequence::Copy)) return copy();
  if (!FReadOnly && HandleEditShortcut(Event)) return;
  const bool Extend = Event->modifiers().testFlag(Qt::ShiftModifier);
  const bool Control = Event->modifiers().testFlag(Qt::ControlModifier);
  const TPageLayout& Lines = Layout();
  const int Line = LineOf(FCaret);
  const int LastLine = static_cast<int>(Lines.Lines.size()) - 1;
  const int Size = static_cast<int>(FShown.size());
  const TPageLine& Here = Lines.Lines[static_cast<std::size_t>(Line)];
  const int ViewLines = std::max(1, viewport()->height() / LinePitch());
  switch (Event->key()) {
  case Qt::Key_Left: return MoveCaret(FCaret - (IsLowSurrogateAt(FShown, FCaret - 1) ? 2 : 1), Extend);
  case Qt::Key_Right: return MoveCaret(FCaret + (IsLowSurrogateAt(FShown, FCaret + 1) ? 2 : 1), Extend);
  case Qt::Key_Up: return MoveCaret(Line > 0 ? PositionInLine(Line - 1, XOf(FCaret)) : 0, Extend);
  case Qt::Key_Down: return MoveCaret(Line < LastLine ? PositionInLine(Line + 1, XOf(FCaret)) : Size, Extend);
  case Qt::Key_Home: return MoveCaret(Control ? 0 : Here.Start, Extend);
  case Qt::Key_End: return MoveCaret(Control ? Size : Here.Start + Here.Length, Extend);
  case Qt::Key_PageUp:
  case Qt::Key_PageDown: {
    const int Step = Event->key() == Qt::Key_PageDown ? ViewLines : -ViewLines;
    const int Target = std::clamp(Line + Step, 0, LastLine);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + Step * LinePitch());
    return MoveCaret(PositionInLine(Target, XOf(FCaret)), Extend);
  }
  default: break;
  }
  if (FReadOnly) {
    // A read-only control takes no characters; Space in particular scrolls nothing.
    if (Event->text().isEmpty() || Control) Event->ignore();
    return;
  }
  HandleTyping(Event);
}

void TMemo::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(Event);
  MoveCaret(PositionAt(Event->position().toPoint()), Event->modifiers().testFlag(Qt::ShiftModifier));
}

void TMemo::mouseMoveEvent(QMouseEvent* Event) {
  if (Event->buttons().testFlag(Qt::LeftButton)) MoveCaret(PositionAt(Event->position().toPoint()), true);
}

void TMemo::wheelEvent(QWheelEvent* Event) {
  if (!OnMouseWheel) return QAbstractScrollArea::wheelEvent(Event);
  Event->accept();
  const int Delta = Event->angleDelta().y();
  if (Delta == 0) return;
  // A turn the other way, or with other keys held, starts afresh instead of paying back the rest.
  if ((FWheelRest != 0 && (Delta > 0) != (FWheelRest > 0)) || Event->modifiers() != FWheelModifiers) FWheelRest = 0;
  FWheelModifiers = Event->modifiers();
  FWheelRest += Delta;
  const int Notches = FWheelRest / QWheelEvent::DefaultDeltasPerStep;
  if (Notches == 0) return;
  FWheelRest -= Notches * QWheelEvent::DefaultDeltasPerStep;
  OnMouseWheel(this, Notches, ShiftStateOf(Event->modifiers(), Event->buttons()));
}

// The text control's own menu: copying a passage is how a reader quotes it, since every key in the
// main window first puts the caret back at the start.
void TMemo::contextMenuEvent(QContextMenuEvent* Event) {
  QMenu Menu(this);
  const bool Selected = HasSelection();
  const auto Add = [&Menu](const QString& Caption, bool Enabled, const QKeySequence& Keys, auto Act) {
    QAction* Action = Menu.addAction(Caption, Act);
    Action->setEnabled(Enabled);
    Action->setShortcut(Keys);
  };
  if (!FReadOnly) {
    Add(QStringLiteral("剪切(&T)"), Selected, QKeySequence::Cut, [this] {
      copy();
      ReplaceSelection(QString());
    });
  }
  Add(QStringLiteral("复制(&C)"), Selected, QKeySequence::Copy, [this] { copy(); });
  if (!FReadOnly) {
    Add(QStringLiteral("粘贴(&P)"), !QGuiApplication::clipboard()->text().isEmpty(), QKeySequence::Paste,
        [this] { ReplaceSelection(QGuiApplication::clipboard()->text().remove(QLatin1Char('\r'))); });
    Add(QStringLiteral("删除(&D)"), Selected, QKeySequence(), [this] { ReplaceSelection(QString()); });
  }
  Menu.addSeparator();
  Add(QStringLiteral("全选(&A)"), !FShown.isEmpty(), QKeySequence::SelectAll, [this] { selectAll(); });
  Menu.exec(Event->globalPos());
}

// A double click selects the word under the pointer.
void TMemo::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || FShown.isEmpty()) return;
  const int At = PositionAt(Event->position().toPoint());
  QTextBoundaryFinder Words(QTextBoundaryFinder::Word, FShown);
  Words.setPosition(At);
  const int Start = Words.isAtBoundary() && Words.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem)
                        ? At
                        : static_cast<int>(std::max<qsizetype>(Words.toPreviousBoundary(), 0));
  Words.setPosition(Start);
  const qsizetype End = Words.toNextBoundary();
  SetSelection(Start, End < 0 ? static_cast<int>(FShown.size()) : static_cast<int>(End));
}

// Not the base's handlers: they repaint the whole control, a full page at 1-2 ms, each time a menu, a
// dialog or the find bar takes or gives back the focus.
void TMemo::focusInEvent(QFocusEvent*) { UpdateFocusMarks(); }

void TMemo::focusOutEvent(QFocusEvent*) { UpdateFocusMarks(); }

QRect TMemo::CaretRect() const {
  const QRect Character = CharacterRect(FCaret);
  return QRect(Character.left(), Character.top(), 1, LinePitch());
}

void TMemo::UpdateFocusMarks() {
  // The frame, which some styles draw otherwise with the focus.
  update(QRegion(rect()).subtracted(viewport()->geometry()));
  if (HasSelection() && FHideSelection)
    viewport()->update();
  else
    viewport()->update(CaretRect());
}

void TMemo::changeEvent(QEvent* Event) {
  QAbstractScrollArea::changeEvent(Event);
  switch (Event->type()) {
  case QEvent::FontChange:
    FGlyphs.reset();
    FPrepared = 0;
    FAheadAsked = false;
    ShownChanged();
    break;
  case QEvent::PaletteChange:
    if (!FApplyingPalette) ApplyPalette();
    break;
  default: break;
  }
}

void TMemo::paintEvent(QPaintEvent* Event) {
  QPainter Painter(viewport());
  const QRect Area = Event->rect();
  const QBrush& Base = palette().brush(QPalette::Base);
  // The background is cleared a line ahead of the text, so that a glyph reaching below its line is
  // not wiped by the next line's clear, and each band is still in the cache when it is blended into.
  int Cleared = Area.top();
  const auto ClearTo = [&](int Bottom) {
    Bottom = std::min(Bottom, Area.bottom() + 1);
    if (Cleared >= Bottom) return;
    Painter.fillRect(QRect(Area.left(), Cleared, Area.width(), Bottom - Cleared), Base);
    Cleared = Bottom;
  };
  const TPageLayout& Lines = Layout();
  TGlyphCache& Glyphs = *FGlyphs;
  const int Pitch = LinePitch();
  const int Scrolled = verticalScrollBar()->value();
  const int Baseline = qRound(Glyphs.Ascent());
  const bool Selecting = HasSelection() && (hasFocus() || !FHideSelection);
  const int SelFrom = Selecting ? std::min(FCaret, FAnchor) : -1;
  const int SelTo = Selecting ? std::max(FCaret, FAnchor) : -1;
  const QColor Text = palette().color(QPalette::Text);
  const QColor Highlight = palette().color(QPalette::Active, QPalette::Highlight);
  const QColor HighlightedText = palette().color(QPalette::Active, QPalette::HighlightedText);
  // A line beyond the area each way: ink reaching past its line into the area is drawn as in a whole
  // page (a part is repainted for the caret, or as the window is uncovered).
  const int First = std::max(0, LineAt(Area.top() + Scrolled) - 1);
  const int Last = std::min(static_cast<int>(Lines.Lines.size()) - 1, LineAt(Area.bottom() + Scrolled) + 1);
  const int Left = Lines.Left;
  const int LineCount = static_cast<int>(Lines.Lines.size());
  // The highlight of a line, empty where none of it is selected: under its selected characters, and a
  // little further for a selected line break.
  const auto HighlightOf = [&](int Index) {
    if (!Selecting || Index < 0 || Index >= LineCount) return QRect();
    const TPageLine& Line = Lines.Lines[static_cast<std::size_t>(Index)];
    const int End = Line.Start + Line.Length;
    if (SelTo <= Line.Start || SelFrom > End) return QRect();
    const int XFrom = XInLine(Line, std::max(SelFrom, Line.Start));
    int XTo = XInLine(Line, std::min(SelTo, End));
    if (SelTo > End && End < FShown.size() && FShown[End] == u'\n') XTo += Pitch / 3;
    return QRect(Left + XFrom, LineTop(Index) - Scrolled, XTo - XFrom, Pitch);
  };
  // Highlights go down before the ink of the line above them, whose descenders reach into them.
  int Highlighted = First; // the first line whose highlight is not drawn yet
  const auto HighlightTo = [&](int Index) {
    for (; Highlighted <= Index; ++Highlighted)
      if (const QRect Band = HighlightOf(Highlighted); !Band.isEmpty()) Painter.fillRect(Band, Highlight);
  };
  // Selected characters of line Index: in the highlighted text's colour on a highlight, in the text's
  // where their ink reaches off one (below the last selected line, past the end of a shorter one). Ink
  // reaches a line up or down at most; beyond, it is the text's colour too.
  const auto DrawSelected = [&](QPointF Origin, QStringView Run, int Index) {
    const int Width = viewport()->width();
    const auto DrawIn = [&](const QRect& Clip, const QColor& Color) {
      if (Clip.isEmpty()) return 0;
      Painter.setClipRect(Clip);
      const int Reach = Glyphs.Draw(Painter, Origin, Run, Color);
      Painter.setClipping(false);
      return Reach;
    };
    const int Above = LineTop(Index - 1) - Scrolled;
    const int Beyond = LineTop(Index + 1) + Pitch - Scrolled;
    int Below = std::max(DrawIn(QRect(-Width, Above - 4 * Pitch, 3 * Width, 4 * Pitch), Text),
                         DrawIn(QRect(-Width, Beyond, 3 * Width, 4 * Pitch), Text));
    for (int Row = Index - 1; Row <= Index + 1; ++Row) {
      const int RowTop = LineTop(Row) - Scrolled;
      const QRect Lit = HighlightOf(Row);
      const int LitLeft = Lit.isEmpty() ? Width : Lit.left(), LitRight = Lit.isEmpty() ? Width : Lit.right() + 1;
      Below = std::max(Below, DrawIn(QRect(-Width, RowTop, Width + LitLeft, Pitch), Text));
      Below = std::max(Below, DrawIn(Lit, HighlightedText));
      Below = std::max(Below, DrawIn(QRect(LitRight, RowTop, 2 * Width, Pitch), Text));
    }
    return Below;
  };
  // A line is filled and drawn in one pass, each pixel written once, from its top or from below the
  // ink of the lines above, down to its bottom or its lowest ink. A line with a highlight or above one,
  // and any line on a ground that is not one colour, is cleared ahead and blended into instead.
  const bool SolidGround = Base.style() == Qt::SolidPattern && Base.color().alpha() == 255;
  int Inked = INT_MIN; // the row below the lowest ink of the lines drawn
  for (int Index = First; Index <= Last; ++Index) {
    const TPageLine& Line = Lines.Lines[static_cast<std::size_t>(Index)];
    const int Top = LineTop(Index) - Scrolled;
    const int End = Line.Start + Line.Length;
    const QStringView Shown = QStringView(FShown).mid(Line.Start, Line.Length);
    const QRect Lit = HighlightOf(Index);
    if (Lit.isEmpty() && SolidGround && HighlightOf(Index + 1).isEmpty()) {
      const int Clean = std::max(Top, Inked);
      ClearTo(Clean);
      int Bottom = 0;
      if (Glyphs.Compose(Painter, QRect(Area.left(), Top, Area.width(), Pitch), Clean, Base.color(),
                         QPointF(Left, Top + Baseline), Shown, Text, Bottom)) {
        Cleared = std::max(Cleared, Bottom);
        Inked = Bottom;
        Highlighted = std::max(Highlighted, Index + 1);
        continue;
      }
    }
    ClearTo(Top + 2 * Pitch);
    HighlightTo(Index + 1);
    const int Ink = Top + Baseline;
    if (Lit.isEmpty()) {
      Inked = std::max(Inked, Ink + Glyphs.Draw(Painter, QPointF(Left, Ink), Shown, Text));
      continue;
    }
    // Before, inside and after the selection.
    const int SelectedFrom = std::max(SelFrom, Line.Start);
    const int To = std::min(SelTo, End);
    int Below = Pitch - Baseline;
    Below = std::max(Below, Glyphs.Draw(Painter, QPointF(Left, Ink), QStringView(FShown).mid(Line.Start, SelectedFrom - Line.Start), Text));
    Below = std::max(Below, DrawSelected(QPointF(Lit.left(), Ink), QStringView(FShown).mid(SelectedFrom, To - SelectedFrom), Index));
    Below = std::max(Below, Glyphs.Draw(Painter, QPointF(Left + XInLine(Line, To), Ink), QStringView(FShown).mid(To, End - To), Text));
    Inked = std::max(Inked, Ink + Below);
  }
  ClearTo(Area.bottom() + 1);
  if (hasFocus()) Painter.fillRect(CaretRect(), Text);
  FPainted.start();
  if (AheadWanted()) {
    if (!FPrepare.isActive() || FPrepare.remainingTime() > PrepareDelayMs) FPrepare.start(PrepareDelayMs);
  } else if (CommonWanted() && !FPrepare.isActive()) {
    FPrepare.start(IdleDelayMs);
  }
}

void TMemo::ApplyPalette() {
  // Only the roles set here are the control's own; every other one, and these where the desktop's
  // colour is asked for, come from the parent and so from the desktop, also when it changes.
  QPalette Colors;
  const QColor Text = FFontAssigned ? FFont.Color : clWindowText;
  for (const QPalette::ColorGroup Group : {QPalette::Active, QPalette::Inactive}) {
    if (Text.isValid()) Colors.setColor(Group, QPalette::Text, Text);
    if (FColor.isValid()) Colors.setColor(Group, QPalette::Base, FColor);
  }
  FApplyingPalette = true;
  setPalette(Colors);
  FApplyingPalette = false;
}
