#include "TToolBar.h"

#include <QActionEvent>
#include <QLayout>
#include <QPainter>
#include <QToolButton>

TToolBar::TToolBar(QWidget* Parent) : QToolBar(Parent) {
  setMovable(false);
  setFloatable(false);
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  setIconSize(QSize(16, 16));
  // Buttons start 2 pixels below the edge line and sit side by side, without Qt's handle or gaps.
  setContentsMargins(0, 2, 0, 0);
  layout()->setContentsMargins(0, 0, 0, 0);
  layout()->setSpacing(0);
  setFixedHeight(29);
}

void TToolBar::actionEvent(QActionEvent* Event) {
  QToolBar::actionEvent(Event);
  if (Event->type() != QEvent::ActionAdded) return;
  if (auto* Button = qobject_cast<QToolButton*>(widgetForAction(Event->action()))) {
    Button->setFixedSize(FButtonWidth, FButtonHeight);
    Button->setAutoRaise(false);
    Button->setFocusPolicy(Qt::NoFocus);
    Button->installEventFilter(this);
  }
}

bool TToolBar::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::ToolTip) return true;
  return QToolBar::eventFilter(Watched, Event);
}

void TToolBar::paintEvent(QPaintEvent* Event) {
  QToolBar::paintEvent(Event);
  QPainter Painter(this);
  Painter.setPen(palette().color(QPalette::Dark));
  Painter.drawLine(0, 0, width() - 1, 0);
  Painter.setPen(palette().color(QPalette::Light));
  Painter.drawLine(0, 1, width() - 1, 1);
}
