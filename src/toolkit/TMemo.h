#pragma once

#include "ShiftState.h"
#include "TFont.h"

#include <QTextBlockFormat>
#include <QTextEdit>

#include <cstdint>
#include <functional>
#include <string>

class QKeyEvent;

// The text area that shows a page. It stands on QTextEdit (plain text only) and differs from it in
// five ways:
// - Its text is bytes in the ANSI code page (GBK) with CR LF line breaks, as the page was read. A whole
//   new text is normalised to CR LF first, keeping two-byte characters whole, ends at its first NUL,
//   and is not applied at all when it equals the current text, so the caret and the view stay.
// - Positions (SelStart) count each line break as two characters, CR and LF, as the text holds it.
//   Setting SelStart moves the caret without scrolling it into view.
// - OnKeyDown sees each key, as a Windows virtual-key code, before the control handles it, and can
//   keep it from the control by clearing it.
// - Its lines are laid out at the font's pixel height (the Height of its TFont), with no margin
//   inside the border, so a page measured in lines and full-width characters of that height fits.
// - Its defaults are those of a page view: lines wrap wherever they are full, also inside a word (as
//   the page reader counts them), no scroll bars of its own, Tab moves the focus, the selection
//   hidden while it has no focus.
class TMemo : public QTextEdit {
  Q_OBJECT

public:
  using TNotifyEvent = std::function<void(QObject* Sender)>;
  using TKeyEvent = std::function<void(QObject* Sender, std::uint16_t& Key, TShiftState Shift)>;

  explicit TMemo(QWidget* parent = nullptr);

  // The whole text, CR LF line breaks, in the ANSI code page.
  std::string Text() const;
  // Replaces the whole text; see above. A changed text puts the caret and the view at the top and
  // fires OnChange once.
  void SetText(const std::string& Bytes);

  // Holds the display while one command may assign several texts (a page and the page a nested
  // jump puts in its place): the text changes at once, but only the last one is laid out and shown,
  // when the last hold ends. Holds nest.
  void BeginUpdate() { ++FUpdateHolds; }
  void EndUpdate();
  class TUpdateHold {
  public:
    explicit TUpdateHold(TMemo& Memo) : FMemo(Memo) { FMemo.BeginUpdate(); }
    ~TUpdateHold() { FMemo.EndUpdate(); }
    TUpdateHold(const TUpdateHold&) = delete;
    TUpdateHold& operator=(const TUpdateHold&) = delete;

  private:
    TMemo& FMemo;
  };

  // Start of the selection. Setting it drops the selection and puts the caret there, clamped to the
  // text, without scrolling.
  int SelStart() const;
  void SetSelStart(int Position);

  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool Value) { setReadOnly(Value); }

  // Whether the selection disappears while the control has no focus (true by default).
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value);

  // The font of the text. Setting it copies the font (Assign), so a font made for another pixels per
  // inch keeps its point size; the control keeps its size.
  TFont Font() const;
  void SetFont(const TFont& Value);

  // The inside of the border; the text margins are not subtracted.
  int ClientWidth() const;
  int ClientHeight() const;

  // Fires after the text changed, once per new text assigned and for every edit the user makes.
  TNotifyEvent OnChange;
  // Fires for each key that goes down (auto-repeats too) before the control handles it. Setting Key
  // to 0 keeps the key from the control. Tab never arrives: it moves the focus first.
  TKeyEvent OnKeyDown;

protected:
  void keyPressEvent(QKeyEvent* Event) override;
  void changeEvent(QEvent* Event) override;

private:
  void HandleKey(QKeyEvent* Event);
  void TextEdited();
  // The font's colour, and the selection colours while unfocused that HideSelection asks for.
  void ApplyPalette();
  QTextBlockFormat LinePitchFormat() const;
  void ApplyLinePitch();
  void ReplaceDocument(const QString& Shown);
  // Lays out a text that a hold kept back, for what needs the document as it will be shown.
  void ShowHeldText();

  mutable std::string FText;      // the bytes the control holds, when FTextKnown
  mutable bool FTextKnown = true; // false after the user edited the text, until Text() reads it
  bool FAssigning = false;        // inside SetText, whose one OnChange follows the whole assignment
  bool FHideSelection = true;
  bool FFontAssigned = false;     // until a font is assigned, the control shows its parent's
  TFont FFont;
  bool FApplyingPalette = false;
  int FUpdateHolds = 0;
  bool FHeldTextPending = false;
  QString FHeldText;              // display text of the newest assignment while held
};
