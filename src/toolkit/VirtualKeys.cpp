#include "VirtualKeys.h"

namespace {

// Windows virtual-key codes of the keys that have one on a US keyboard layout. Letters, digits and
// Space share their codes with Qt's key numbers and are handled apart; keys missing here (dead keys,
// accented letters, media keys) arrive as VkNoCode.
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
    {Qt::Key_Super_L, 91},    {Qt::Key_Super_R, 92},   {Qt::Key_AltGr, 18},       {Qt::Key_Menu, 93},
    {Qt::Key_Sleep, 95},      {Qt::Key_NumLock, 144},  {Qt::Key_ScrollLock, 145},
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

} // namespace

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
  return VkNoCode;
}

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
