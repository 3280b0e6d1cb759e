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

// The Qt font the dialog starts from: the face that really draws the text (a face that is not
// installed would leave the dialog on the first face of its list), in its closest style, at the
// point size of Font.
QFont StartingFont(const TFont& Font) {
  QFont Start = Font.ToQFont();
  const QString Face = QFontInfo(Start).family();
  if (!QFontDatabase::hasFamily(Start.family())) Start.setFamilies({Face});
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
  if (Dialog.exec() != QDialog::Accepted) return false;
  const TFont Chosen = TFont::FromQFont(Dialog.selectedFont(), Font.PixelsPerInch);
  const QString ChosenFace = QString::fromStdString(Chosen.Name);
  if (ChosenFace.compare(QString::fromStdString(Font.Name), Qt::CaseInsensitive) != 0)
    Font.Charset = CharsetOfFace(ChosenFace);
  Font.Name = Chosen.Name;
  Font.Height = Chosen.Height;
  Font.Style = Chosen.Style;
  return true;
}
