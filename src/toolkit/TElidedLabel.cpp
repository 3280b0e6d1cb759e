#include "TElidedLabel.h"

#include <QPainter>

TElidedLabel::TElidedLabel(int PreferredWidth, QWidget* Parent) : QWidget(Parent), FPreferredWidth(PreferredWidth) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TElidedLabel::SetText(const QString& Text) {
  if (Text == FText) return;
  FText = Text;
  setToolTip(Text);  // the whole text, when it is cut
  update();
}

QSize TElidedLabel::sizeHint() const { return {FPreferredWidth, fontMetrics().height() + 4}; }

QSize TElidedLabel::minimumSizeHint() const { return {1, fontMetrics().height() + 4}; }

void TElidedLabel::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  Painter.setPen(palette().color(foregroundRole()));
  Painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, fontMetrics().elidedText(FText, Qt::ElideRight, width()));
}
