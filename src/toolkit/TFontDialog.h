#pragma once

#include "TFont.h"

class QWidget;

// The font dialog: Qt's own QFontDialog (the same dialog on every platform), run modally from Font
// and, when confirmed, written back into Font.
//
// Qt's dialog offers face, style, point size, underline and strike-out, but no colour and no script.
// So Color and Pitch stay as they were, and Charset changes only with the face: a newly chosen face
// brings GB2312_CHARSET when it covers Simplified Chinese, SYMBOL_CHARSET for a symbol face, and
// ANSI_CHARSET otherwise. The face and the size the dialog starts on stand for the font's own: left
// on them, it keeps Name (also one that is not installed) and Height (also one between the dialog's
// whole point sizes). There is no size limit.
class TFontDialog {
public:
  TFont Font;

  // True when the user confirmed; on cancel Font is left as it was.
  bool Execute(QWidget* Owner = nullptr);
};
