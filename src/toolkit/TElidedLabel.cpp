#include "TElidedLabel.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// A screen reader meets the caption as a label (a plain widget would be a pane) that reads its
// accessible name, which holds the whole text.
QAccessibleInterface* ElidedLabelAccessible(const QString&, QObject* Object) {
  if (auto* Label = qobject_cast<TElidedLabel*>(Object)) return new QAccessibleWidget(Label, QAccessible::StaticText);
  return nullptr;
}

}  // namespace

TElidedLabel::TElidedLabel(int PreferredWidth, QWidget* Parent) : QWidget(Parent), FPreferredWidth(PreferredWidth) {
  static const bool AccessibleInstalled = (QAccessible::installFactory(ElidedLabelAccessible), true);
  (void)AccessibleInstalled;
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TElidedLabel::SetText(const QString& Text) {
  if (Text == FText) return;
  FText = Text;
  setToolTip(Text);         // the whole text, when it is cut
  setAccessibleName(Text);  // and for a screen reader, which is told of the change
  update();
}

QSize TElidedLabel::sizeHint() const { return {FPreferredWidth, fontMetrics().height() + 4}; }

QSize TElidedLabel::minimumSizeHint() const { return {1, fontMetrics().height() + 4}; }

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  Painter.setPen(palette().color(foregroundRole()));
  Painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, fontMetrics().elidedText(FText, Qt::ElideRight, width()));
}
