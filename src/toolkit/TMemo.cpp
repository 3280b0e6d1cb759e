#include "TMemo.h"

#include "CodePage.h"

#include <cstdlib>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Windows virtual-key codes of the keys that have one on a US keyboard layout. Letters, digits and
// Space share their codes with Qt's key numbers and are handled apart; keys missing here (dead keys,
// accented letters, media keys) raise no OnKeyDown and go straight to the control.
struct TKeyCode {
  int QtKey;
  std::uint16_t Vk;
};

constexpr TKeyCode SpecialKeys[] = {
    {Qt::Key_Backspace, 8},   {Qt::Key_Tab, 9},        {Qt::Key_Backtab, 9},      {Qt::Key_Clear, 12},
    {Qt::Key_Return, 13},     {Qt::Key_Enter, 13},     {Qt::Key_Shift, 16},       {Qt::Key_Control, 17},
    {Qt::Key_Alt, 18},        {Qt::Key_Pause, 19},     {Qt::Key_CapsLock, 20},    {Qt::Key_Escape, 27},
    {Qt::Key_PageUp, 33},     {Qt::Key_PageDown, 34},  {Qt::Key_End, 35},         {Qt::Key_Home, 36},
    {Qt::Key_Left, 37},       {Qt::Key_Up, 38},        {Qt::Key_Right, 39},       {Qt::Key_Down, 40},
    {Qt::Key_Select, 41},     {Qt::Key_Printer, 42},   {Qt::Key_Execute, 43},     {Qt::Key_Print, 44},
    {Qt::Key_Insert, 45},     {Qt::Key_Delete, 46},    {Qt::Key_Help, 47},        {Qt::Key_Meta, 91},
    {Qt::Key_Menu, 93},       {Qt::Key_Sleep, 95},     {Qt::Key_NumLock, 144},    {Qt::Key_ScrollLock, 145},
    // The punctuation keys, by their unshifted and their shifted character.
    {Qt::Key_Semicolon, 186}, {Qt::Key_Colon, 186},    {Qt::Key_Equal, 187},      {Qt::Key_Plus, 187},
    {Qt::Key_Comma, 188},     {Qt::Key_Less, 188},     {Qt::Key_Minus, 189},      {Qt::Key_Underscore, 189},
    {Qt::Key_Period, 190},    {Qt::Key_Greater, 190},  {Qt::Key_Slash, 191},      {Qt::Key_Question, 191},
    {Qt::Key_QuoteLeft, 192}, {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219}, {Qt::Key_BraceLeft, 219},
    {Qt::Key_Backslash, 220}, {Qt::Key_Bar, 220},      {Qt::Key_BracketRight, 221}, {Qt::Key_BraceRight, 221},
    {Qt::Key_Apostrophe, 222}, {Qt::Key_QuoteDbl, 222},
    // Shifted digits arrive as their symbols; the key is the digit's.
    {Qt::Key_ParenRight, '0'}, {Qt::Key_Exclam, '1'},  {Qt::Key_At, '2'},         {Qt::Key_NumberSign, '3'},
    {Qt::Key_Dollar, '4'},    {Qt::Key_Percent, '5'},  {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'},
    {Qt::Key_Asterisk, '8'},  {Qt::Key_ParenLeft, '9'},
};

constexpr std::uint16_t VkNumpad0 = 96;
constexpr std::uint16_t VkF1 = 112;

std::uint16_t VirtualKeyOf(int QtKey, Qt::KeyboardModifiers Modifiers) {
  if (Modifiers & Qt::KeypadModifier) {
    if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) return static_cast<std::uint16_t>(VkNumpad0 + (QtKey - Qt::Key_0));
    switch (QtKey) {
    case Qt::Key_Asterisk: return 106;
    case Qt::Key_Plus: return 107;
    case Qt::Key_Minus: return 109;
    case Qt::Key_Period: return 110;
    case Qt::Key_Slash: return 111;
    default: break;
    }
  }
  if (QtKey == Qt::Key_Space || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9) || (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z))
    return static_cast<std::uint16_t>(QtKey);
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return static_cast<std::uint16_t>(VkF1 + (QtKey - Qt::Key_F1));
  for (const TKeyCode& Code : SpecialKeys)
    if (Code.QtKey == QtKey) return Code.Vk;
  return 0;
}

// The Qt key of a virtual-key code, for a key that a handler replaced by another; 0 when unknown.
int QtKeyOf(std::uint16_t Vk, Qt::KeyboardModifiers& Modifiers, QString& Text) {
  Modifiers &= ~Qt::KeypadModifier;
  const bool Shift = Modifiers.testFlag(Qt::ShiftModifier);
  if (Vk == ' ' || (Vk >= '0' && Vk <= '9')) {
    Text = QChar(Vk);
    return Vk;
  }
  if (Vk >= 'A' && Vk <= 'Z') {
    Text = QChar(Shift ? Vk : Vk - 'A' + 'a');
    return Vk;
  }
  if (Vk >= VkNumpad0 && Vk <= VkNumpad0 + 9) {
    Modifiers |= Qt::KeypadModifier;
    Text = QChar('0' + (Vk - VkNumpad0));
    return Qt::Key_0 + (Vk - VkNumpad0);
  }
  if (Vk >= VkF1 && Vk < VkF1 + 24) return Qt::Key_F1 + (Vk - VkF1);
  for (const TKeyCode& Code : SpecialKeys)
    if (Code.Vk == Vk) {
      if (Code.QtKey == Qt::Key_Return) Text = QStringLiteral("\r");
      return Code.QtKey;
    }
  return 0;
}

// Line breaks to CR LF over the whole length, NULs included. A lead byte takes the byte after it
// along unseen, so a CR or LF there is a trail byte and stays as it is.
std::string NormaliseLineBreaks(const std::string& Bytes) {
  const TCodePage& CodePage = TCodePage::Ansi();
  std::string Normal;
  Normal.reserve(Bytes.size() + Bytes.size() / 16);
  std::size_t Pos = 0;
  while (Pos < Bytes.size()) {
    if (Bytes[Pos] == '\r') {
      Normal += "\r\n";
      Pos += Pos + 1 < Bytes.size() && Bytes[Pos + 1] == '\n' ? 2 : 1;
    } else if (Bytes[Pos] == '\n') {
      Normal += "\r\n";
      ++Pos;
    } else {
      const std::size_t Next = CodePage.CharNext(Bytes, Pos);
      Normal.append(Bytes, Pos, Next - Pos);
      Pos = Next;
    }
  }
  return Normal;
}

// What the control shows for the bytes it holds: every CR LF a line break; a CR or LF on its own can
// only be the broken trail of a two-byte character and shows as one more U+FFFD, not as a break, so
// that each line break of the display is exactly one CR LF of the text.
QString DisplayText(const std::string& Bytes) {
  const QString Decoded = TCodePage::Ansi().Decode(Bytes);
  QString Shown;
  Shown.reserve(Decoded.size());
  for (qsizetype I = 0; I < Decoded.size(); ++I) {
    const QChar Unit = Decoded[I];
    if (Unit == u'\r' && I + 1 < Decoded.size() && Decoded[I + 1] == u'\n') {
      Shown += u'\n';
      ++I;
    } else if (Unit == u'\r' || Unit == u'\n') {
      Shown += QChar(QChar::ReplacementCharacter);
    } else {
      Shown += Unit;
    }
  }
  return Shown;
}

// Document positions count a line break as one; the text holds it as CR LF, two.
int TextPositionOf(const QTextDocument& Document, int DocumentPosition) {
  return DocumentPosition + Document.findBlock(DocumentPosition).blockNumber();
}

int DocumentPositionOf(const QTextDocument& Document, int TextPosition) {
  if (TextPosition <= 0) return 0;
  for (QTextBlock Block = Document.begin(); Block.isValid(); Block = Block.next()) {
    const int LineStart = Block.position() + Block.blockNumber();
    const int LineLength = Block.length() - 1; // without the break
    if (TextPosition <= LineStart + LineLength) return Block.position() + (TextPosition - LineStart);
    if (TextPosition == LineStart + LineLength + 1) return Block.position() + LineLength; // between CR and LF
  }
  return Document.characterCount() - 1; // past the end: the end
}

} // namespace

TMemo::TMemo(QWidget* parent) : QTextEdit(parent) {
  setAcceptRichText(false);
  setUndoRedoEnabled(false);
  document()->setDocumentMargin(0);
  setLineWrapMode(QTextEdit::WidgetWidth);
  // Lines break where they are full, as the page reader counts them, not at a word boundary: a word
  // moved to the next line would leave the page more lines than it was measured for, and its last
  // lines out of sight.
  setWordWrapMode(QTextOption::WrapAnywhere);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTabChangesFocus(true);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  connect(this, &QTextEdit::textChanged, this, &TMemo::TextEdited);
  ApplyPalette();
}

std::string TMemo::Text() const {
  if (!FTextKnown) {
    QString Typed = document()->toRawText();
    Typed.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
    FText = TCodePage::Ansi().Encode(Typed);
    FTextKnown = true;
  }
  return FText;
}

void TMemo::SetText(const std::string& Bytes) {
  const std::string Normal = NormaliseLineBreaks(Bytes);
  // Compared before the cut at the first NUL: a text with a NUL never equals what the control holds,
  // and is handed over again, as a NUL-terminated control would have it.
  if (Normal == Text()) return;
  const std::string Held = Normal.substr(0, Normal.find('\0'));
  if (FUpdateHolds > 0) {
    FHeldText = DisplayText(Held);
    FHeldTextPending = true;
  } else {
    FAssigning = true;
    ReplaceDocument(DisplayText(Held));
    FAssigning = false;
  }
  FText = Held;
  FTextKnown = true;
  if (OnChange) OnChange(this);
}

void TMemo::EndUpdate() {
  if (FUpdateHolds > 0 && --FUpdateHolds == 0) ShowHeldText();
}

void TMemo::ShowHeldText() {
  if (!FHeldTextPending) return;
  FHeldTextPending = false;
  const bool WasAssigning = FAssigning;
  FAssigning = true;
  ReplaceDocument(FHeldText);
  FAssigning = WasAssigning;
  FHeldText.clear();
}

int TMemo::SelStart() const {
  const_cast<TMemo*>(this)->ShowHeldText();
  return TextPositionOf(*document(), textCursor().selectionStart());
}

void TMemo::SetSelStart(int Position) {
  ShowHeldText();
  const int Target = DocumentPositionOf(*document(), Position);
  // Moving the cursor scrolls it into view; the view is put back where it stood.
  const int Vertical = verticalScrollBar()->value();
  const int Horizontal = horizontalScrollBar()->value();
  QTextCursor Cursor = textCursor();
  Cursor.setPosition(Target);
  setTextCursor(Cursor);
  verticalScrollBar()->setValue(Vertical);
  horizontalScrollBar()->setValue(Horizontal);
}

void TMemo::SetHideSelection(bool Value) {
  if (FHideSelection == Value) return;
  FHideSelection = Value;
  ApplyPalette();
}

TFont TMemo::Font() const {
  if (FFontAssigned) return FFont;
  TFont Inherited = TFont::FromQFont(font(), TFont::ScreenPixelsPerInch());
  Inherited.Color = palette().color(QPalette::Text);
  return Inherited;
}

void TMemo::SetFont(const TFont& Value) {
  TFont Next = Font();
  Next.Assign(Value);
  FFont = Next;
  FFontAssigned = true;
  setFont(FFont.ToQFont());
  ApplyPalette();
  const bool WasAssigning = FAssigning;
  FAssigning = true;
  ApplyLinePitch();
  FAssigning = WasAssigning;
}

// One edit, so the page is laid out once, already at its line pitch; caret and view at the top.
void TMemo::ReplaceDocument(const QString& Shown) {
  QTextCursor Edit(document());
  Edit.beginEditBlock();
  Edit.select(QTextCursor::Document);
  Edit.removeSelectedText();
  Edit.setBlockFormat(LinePitchFormat());
  Edit.insertText(Shown);
  Edit.endEditBlock();
  setTextCursor(QTextCursor(document()));
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
}

// Lines are laid out at the font's pixel height, as a font without internal leading has them, so that
// a page measured in lines of that height fits the control. Faces with taller line spacing (the
// Chinese fallbacks) would otherwise push the last lines of a page out of sight.
QTextBlockFormat TMemo::LinePitchFormat() const {
  const int Pitch = FFontAssigned && FFont.Height != 0 ? std::abs(FFont.Height) : fontMetrics().height();
  QTextBlockFormat Format;
  Format.setLineHeight(Pitch, QTextBlockFormat::FixedHeight);
  return Format;
}

void TMemo::ApplyLinePitch() {
  ShowHeldText();
  QTextCursor All(document());
  All.select(QTextCursor::Document);
  All.mergeBlockFormat(LinePitchFormat());
}

int TMemo::ClientWidth() const { return viewport()->width(); }

int TMemo::ClientHeight() const { return viewport()->height(); }

void TMemo::keyPressEvent(QKeyEvent* Event) {
  const std::uint16_t Vk = VirtualKeyOf(Event->key(), Event->modifiers());
  std::uint16_t Key = Vk;
  if (OnKeyDown && Vk != 0) {
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

void TMemo::HandleKey(QKeyEvent* Event) {
  // A read-only edit control takes no characters; Qt would scroll a page for Space.
  if (isReadOnly() && Event->key() == Qt::Key_Space) {
    Event->accept();
    return;
  }
  QTextEdit::keyPressEvent(Event);
}

void TMemo::changeEvent(QEvent* Event) {
  QTextEdit::changeEvent(Event);
  switch (Event->type()) {
  case QEvent::ReadOnlyChange:
    // Read-only, Qt drops the keyboard caret; the control still moves it for the paging keys.
    if (isReadOnly()) setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    break;
  case QEvent::PaletteChange:
    if (!FApplyingPalette) ApplyPalette();
    break;
  default: break;
  }
}

void TMemo::TextEdited() {
  if (FAssigning) return;
  FTextKnown = false;
  if (OnChange) OnChange(this);
}

void TMemo::ApplyPalette() {
  QPalette Colors = palette();
  if (FFontAssigned)
    for (const QPalette::ColorGroup Group : {QPalette::Active, QPalette::Inactive})
      Colors.setColor(Group, QPalette::Text, FFont.Color);
  // The text control paints a selection in the Inactive colours while it has no focus.
  if (FHideSelection) {
    Colors.setBrush(QPalette::Inactive, QPalette::Highlight, Colors.brush(QPalette::Inactive, QPalette::Base));
    Colors.setBrush(QPalette::Inactive, QPalette::HighlightedText, Colors.brush(QPalette::Inactive, QPalette::Text));
  } else {
    Colors.setBrush(QPalette::Inactive, QPalette::Highlight, Colors.brush(QPalette::Active, QPalette::Highlight));
    Colors.setBrush(QPalette::Inactive, QPalette::HighlightedText,
                    Colors.brush(QPalette::Active, QPalette::HighlightedText));
  }
  FApplyingPalette = true;
  setPalette(Colors);
  FApplyingPalette = false;
}
