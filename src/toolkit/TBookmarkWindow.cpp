#include "TBookmarkWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

TBookmarkWindow::TBookmarkWindow(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("书签"));
  resize(560, 420);
  auto* Layout = new QVBoxLayout(this);
  List = new QTreeWidget(this);
  List->setColumnCount(4);
  List->setHeaderLabels({QStringLiteral("位置"), QStringLiteral("章节"), QStringLiteral("摘录"), QStringLiteral("添加日期")});
  List->setRootIsDecorated(false);
  List->setUniformRowHeights(true);
  List->setEditTriggers(QAbstractItemView::NoEditTriggers);
  List->header()->setStretchLastSection(false);
  List->header()->setSectionResizeMode(2, QHeaderView::Stretch);
  Hint = new QLabel(QStringLiteral("回车：转到书签　Delete：删除书签"), this);
  Layout->addWidget(List);
  Layout->addWidget(Hint);
  List->installEventFilter(this);
  connect(List, &QTreeWidget::itemActivated, this, [this] { Jump(); });
}

void TBookmarkWindow::ShowRows(const std::vector<TRow>& Rows, std::size_t Current) {
  List->clear();
  for (const TRow& Row : Rows)
    new QTreeWidgetItem(List, {QString::fromStdString(Row.Share), QString::fromStdString(Row.Chapter),
                               QString::fromStdString(Row.Excerpt), QString::fromStdString(Row.Added)});
  for (int Column : {0, 1, 3}) List->resizeColumnToContents(Column);
  if (!Rows.empty()) List->setCurrentItem(List->topLevelItem(static_cast<int>(std::min(Current, Rows.size() - 1))));
}

void TBookmarkWindow::Open() {
  show();
  raise();
  activateWindow();
  List->setFocus();
}

bool TBookmarkWindow::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == List && Event->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(Event)->key();
    const int Row = List->currentItem() ? List->indexOfTopLevelItem(List->currentItem()) : -1;
    if (Key == Qt::Key_Delete && Row >= 0) {
      if (OnDelete) OnDelete(static_cast<std::size_t>(Row));
      return true;
    }
    if ((Key == Qt::Key_Return || Key == Qt::Key_Enter) && Row >= 0) {
      Jump();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

void TBookmarkWindow::Jump() {
  if (!List->currentItem()) return;
  const auto Row = static_cast<std::size_t>(List->indexOfTopLevelItem(List->currentItem()));
  hide();
  if (OnJump) OnJump(Row);
}
