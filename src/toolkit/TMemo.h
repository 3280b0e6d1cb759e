#pragma once

#include "PageLayout.h"
#include "ShiftState.h"
#include "TFont.h"
#include "TGlyphCache.h"
#include "TextEncoding.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QKeyEvent;

// The text area that shows a page. A control of our own on QAbstractScrollArea: it lays the page out
// and paints it itself, with a glyph cache per character and no shaping, because a page of a full
// screen holds thousands of characters and must show within one frame. It differs from an edit
// control of Qt in these ways:
// - Its text is bytes in its encoding (GB18030, the ANSI code page's superset, unless set otherwise)
//   with CR LF line breaks, as the page was read. A whole new text is normalised to CR LF first,
//   keeping characters and code units whole, ends at its first NUL (in UTF-16 a zero code unit), and
//   is not applied at all when it equals the current text, so the caret and the view stay.
// - Positions (SelStart) count each line break as two characters, CR and LF, as the text holds it.
//   Setting SelStart moves the caret without scrolling it into view.
// - OnKeyDown sees each key, as a Windows virtual-key code, before the control handles it, and can
//   keep it from the control by clearing it.
// - Its lines are laid out at the font's pixel height (the Height of its TFont), with no margin
//   inside the border, so a page measured in lines and full-width characters of that height fits.
//   Under a page layout other than the original one (SetPageLayout) its rows are those the page
//   reader counts: spacing, paragraph spacing, margins, a centred column, Chinese line breaking.
// - Lines wrap wherever they are full, also inside a word (as the page reader counts them); no scroll
//   bars of its own, Tab moves the focus, the selection hidden while it has no focus.
// - The layout is made when the control needs it (painting, caret movement), so a command that
//   assigns several texts in a row lays out only the last.
class TMemo : public QAbstractScrollArea {
  Q_OBJECT
  Q_PROPERTY(bool readOnly READ ReadOnly WRITE SetReadOnly)

public:
  using TNotifyEvent = std::function<void(QObject* Sender)>;
  using TKeyEvent = std::function<void(QObject* Sender, std::uint16_t& Key, TShiftState Shift)>;
  using TMouseWheelEvent = std::function<void(QObject* Sender, int Notches, TShiftState Shift)>;

  explicit TMemo(QWidget* parent = nullptr);
  ~TMemo() override;

  // The whole text, CR LF line breaks, in the control's encoding.
  std::string Text() const;
  // Replaces the whole text; see above. A changed text puts the caret and the view at the top and
  // fires OnChange once.
  void SetText(const std::string& Bytes);
  // The display positions that Bytes take as the start of a text given to SetText: where a byte
  // offset into that text lies among the characters shown.
  int ShownLength(const std::string& Bytes) const;

  // The encoding the text's bytes are shown in. Setting another one shows the bytes the control holds
  // in it at once (caret and view at the top, no OnChange: the text is the same).
  TTextEncoding Encoding() const { return FEncoding; }
  void SetEncoding(TTextEncoding Value);

  // Start of the selection. Setting it drops the selection and puts the caret there, clamped to the
  // text, without scrolling.
  int SelStart() const;
  void SetSelStart(int Position);

  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  void setReadOnly(bool Value) { SetReadOnly(Value); } // as form definitions set it

  // Whether the selection disappears while the control has no focus (true by default).
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value);

  // The font of the text. Setting it copies the font (Assign), so a font made for another pixels per
  // inch keeps its point size; the control keeps its size. Its Color is the text's: clWindowText
  // follows the desktop.
  TFont Font() const;
  void SetFont(const TFont& Value);

  // The ground the text is drawn on: clWindow follows the desktop.
  QColor Color() const { return FColor; }
  void SetColor(const QColor& Value);

  // How pages are set (see TLayoutSettings); the original layout by default.
  const TLayoutSettings& PageLayout() const { return FPageLayout; }
  void SetPageLayout(const TLayoutSettings& Value);
  // The pixels the text advances for the character Code: what the page reader counts rows with.
  int Advance(char32_t Code) const;

  // The inside of the border; the text margins are not subtracted.
  int ClientWidth() const;
  int ClientHeight() const;

  // What the control shows, one '\n' between lines, and positions in it: a line break counts one.
  QString toPlainText() const { return FShown; }
  int CaretPosition() const { return FCaret; }
  bool HasSelection() const { return FAnchor != FCaret; }
  QString SelectedText() const;
  void SetSelection(int Anchor, int Caret);
  void selectAll() { SetSelection(0, static_cast<int>(FShown.size())); }
  void copy() const;
  // Screen lines of the laid-out text, and the pixels between two of them.
  const TPageLayout& Layout() const;
  int LinePitch() const;
  // The start of the selection in display positions.
  int SelStartShown() const;
  // The rectangle of the character at Position, and the position nearest to Point (viewport pixels).
  QRect CharacterRect(int Position) const;
  int PositionAt(QPoint Point) const;
  bool tabChangesFocus() const { return true; }

  // Fires after the text changed, once per new text assigned and for every edit the user makes.
  TNotifyEvent OnChange;
  // Fires for each key that goes down (auto-repeats too) before the control handles it. Setting Key
  // to 0 keeps the key from the control. Tab never arrives: it moves the focus first.
  TKeyEvent OnKeyDown;
  // Fires for each whole notch the wheel turns over the text: 120 units of its angle, a touchpad's
  // smaller ones added up. Notches away from the reader (up) count positive, toward him negative.
  // While it is unset the wheel scrolls, as in any scroll area.
  TMouseWheelEvent OnMouseWheel;
  // Asked once the control has painted a new text: the text (bytes in its encoding, as SetText takes
  // them) it will likely be given next. Its characters' glyphs are then made while the program waits
  // for input, before the common characters', so that a next page of characters not seen yet shows
  // as fast as any other.
  std::function<std::string()> OnTextAhead;

protected:
  void keyPressEvent(QKeyEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void inputMethodEvent(QInputMethodEvent* Event) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery Query) const override;
  void scrollContentsBy(int Dx, int Dy) override;

private:
  // The caret keys and copy; the rest goes to the editing paths below.
  void HandleKey(QKeyEvent* Event);
  // The font's colour and Color as the palette's text and base; clWindowText and clWindow leave the
  // palette's own, which follows the desktop.
  void ApplyPalette();
  // The shown text changed: the layout is made again when next needed, and Area (all of it when
  // empty) is drawn again.
  void ShownChanged(const QRect& Area = QRect());
  // Where a text in the rows of the page's layout can draw: its column, with room for ink reaching past
  // it, for a selected line break's highlight and for the caret. The whole viewport when the rows run
  // the width of it.
  QRect TextColumn() const;
  // Where the caret is drawn, in the viewport.
  QRect CaretRect() const;
  // Repaints what focus shows: the caret and, where it is hidden without focus, the selection.
  void UpdateFocusMarks();
  // Shows the held bytes anew: decoded, caret and view at the top.
  void ShowText();
  void UpdateScrollRange() const;
  void PrepareSomeGlyphs();
  // Moves the caret; with Extend the anchor stays. Scrolls it into view when asked.
  void MoveCaret(int Position, bool Extend, bool ScrollIntoView = true);
  void EnsureVisible(int Position);
  // Editing (TMemoEditing.cpp). Cut and paste, true when the key was one of them.
  bool HandleEditShortcut(QKeyEvent* Event);
  // Backspace, Delete, Enter and characters, once the caret keys are past.
  void HandleTyping(QKeyEvent* Event);
  void ReplaceSelection(const QString& Typed);
  void UserEdited();
  int LineOf(int Position) const;
  int XOf(int Position) const;
  // Pixels from the left of Line to Position, which it holds or ends at.
  int XInLine(const TPageLine& Line, int Position) const;
  int PositionInLine(int Line, int X) const;
  // The top of line Index's glyph box in the text, also for lines before the first or past the last,
  // a pitch apart.
  int LineTop(int Index) const;
  // The line whose glyph box is at or above Y of the text.
  int LineAt(int Y) const;

  mutable std::string FText; // the bytes the control holds, when FTextKnown
  mutable bool FTextKnown = true;
  TTextEncoding FEncoding = TTextEncoding::Gb18030;
  QString FShown;           // the display text, '\n' between lines
  int FCaret = 0;           // positions in FShown
  int FAnchor = 0;
  bool FReadOnly = false;
  bool FHideSelection = true;
  bool FFontAssigned = false; // until a font is assigned, the control shows its parent's
  TFont FFont;
  QColor FColor = clWindow;
  bool FApplyingPalette = false;
  mutable std::unique_ptr<TGlyphCache> FGlyphs;
  // Prepares glyphs a few at a time while the program waits for input: the text ahead's, then, once
  // the program has been idle a while, the common characters'.
  QTimer FPrepare;
  QElapsedTimer FPainted; // since the last paint
  bool FAheadAsked = true;  // OnTextAhead has been asked since the text last changed
  QString FAhead;
  qsizetype FAheadDone = 0; // how far into FAhead
  qsizetype FPrepared = 0; // how far into TGlyphCache::CommonCharacters
  bool AheadWanted() const;
  bool CommonWanted() const;
  bool PreparingWanted() const;
  int FWheelRest = 0;  // wheel units short of a notch
  Qt::KeyboardModifiers FWheelModifiers;  // held with the units in FWheelRest
  mutable TPageLayout FLayout;
  mutable bool FLayoutValid = false;
  mutable int FLayoutWidth = -1;
  mutable int FLayoutHeight = -1;
  TLayoutSettings FPageLayout;
};
