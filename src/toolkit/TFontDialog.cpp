#include "TFontDialog.h"

#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>

#include <cstdlib>

namespace {

// The character set a face brings along when it is newly chosen, as the script the face offers first.
TFontCharset CharsetOfFace(const QString& Face) {
  const QList<QFontDatabase::WritingSystem> Systems = QFontDatabase::writingSystems(Face);
  if (Systems.contains(QFontDatabase::SimplifiedChinese)) return GB2312_CHARSET;
  if (!Systems.contains(QFontDatabase::Latin) && Systems.contains(QFontDatabase::Symbol)) return SYMBOL_CHARSET;
  return ANSI_CHARSET;
}

// The face's own style that comes closest to Bold and Italic. The dialog finds a style by its name
// only and otherwise starts on the first in its list (for DejaVu Sans, "Oblique" for a plain font).
// Among equally close styles the shortest name is the plainest: "Book" before "Condensed".
QString ClosestStyle(const QString& Face, bool Bold, bool Italic) {
  QString Best;
  int BestDistance = 0;
  for (const QString& Style : QFontDatabase::styles(Face)) {
    const QFontInfo Drawn(QFontDatabase::font(Face, Style, 12));
    const int Distance = std::abs(QFontDatabase::weight(Face, Style) - (Bold ? QFont::Bold : QFont::Normal)) +
                         ((Drawn.style() != QFont::StyleNormal) != Italic ? 1000 : 0);
    if (Best.isEmpty() || Distance < BestDistance || (Distance == BestDistance && Style.size() < Best.size())) {
      Best = Style;
      BestDistance = Distance;
    }
  }
  return Best;
}

// The Qt font the dialog starts from: the face that really draws the text, by the name the dialog
// lists (a face that is not installed, or named in other case, would leave the dialog on the first
// face of its list), in its closest style, at the point size of Font.
QFont StartingFont(const TFont& Font) {
  QFont Start = Font.ToQFont();
  const QString Face = QFontInfo(Start).family();
  Start.setFamilies({Face});
  const QString Style = ClosestStyle(Face, Font.Style.testFlag(fsBold), Font.Style.testFlag(fsItalic));
  if (!Style.isEmpty()) Start.setStyleName(Style);
  if (Start.pixelSize() > 0) Start.setPointSizeF(Start.pixelSize() * 72.0 / Font.PixelsPerInch);
  return Start;
}

} // namespace

bool TFontDialog::Execute(QWidget* Owner) {
  QFontDialog Dialog(StartingFont(Font), Owner);
  Dialog.setOption(QFontDialog::DontUseNativeDialog);
  Dialog.setModal(true);
  // The face and size as the dialog shows them at the start: it lists whole point sizes only, and
  // a face that is not installed starts it on the face that draws it.
  const QFont Shown = Dialog.currentFont();
  if (Dialog.exec() != QDialog::Accepted) return false;
  const QFont Selected = Dialog.selectedFont();
  const TFont Chosen = TFont::FromQFont(Selected, Font.PixelsPerInch);
  // Left on the face or the size it started on, the dialog gives back the font's own.
  if (Selected.family().compare(Shown.family(), Qt::CaseInsensitive) != 0) {
    Font.Charset = CharsetOfFace(Selected.family());
    Font.Name = Chosen.Name;
  }
  if (Selected.pointSizeF() != Shown.pointSizeF()) Font.Height = Chosen.Height;
  Font.Style = Chosen.Style;
  return true;
}
