#include "TFindBar.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <limits>

TFindBar::TFindBar(QWidget* Parent) : QFrame(Parent) {
  auto* Row = new QHBoxLayout(this);
  Row->setContentsMargins(12, 0, 0, 0);
  Field = new QLineEdit(this);
  Field->setMinimumWidth(220);
  Field->setMaximumWidth(420);
  // A line edit cuts what is typed or pasted at 32,767 characters; the search takes a query of any
  // length, and a cut one would be reported found where only its start is.
  Field->setMaxLength(std::numeric_limits<int>::max());
  MatchCaseBox = new QCheckBox(QStringLiteral("区分大小写"), this);
  RegexBox = new QCheckBox(QStringLiteral("正则表达式"), this);
  UpButton = new QRadioButton(QStringLiteral("向上"), this);
  DownButton = new QRadioButton(QStringLiteral("向下"), this);
  DownButton->setChecked(true);
  auto* FindButton = new QPushButton(QStringLiteral("查找"), this);
  auto* CloseButton = new QToolButton(this);
  CloseButton->setText(QStringLiteral("×"));
  CloseButton->setAutoRaise(true);
  for (QWidget* Part : std::initializer_list<QWidget*>{Field, MatchCaseBox, RegexBox, UpButton, DownButton,
                                                        FindButton, CloseButton})
    Row->addWidget(Part);
  Row->addStretch();  // the field keeps a reading width; the rest of the tool bar stays empty
  Field->installEventFilter(this);
  connect(FindButton, &QPushButton::clicked, this, [this] {
    if (OnFind) OnFind(Backward());
  });
  connect(CloseButton, &QToolButton::clicked, this, &TFindBar::Close);
}

QString TFindBar::Text() const { return Field->text(); }
bool TFindBar::MatchCase() const { return MatchCaseBox->isChecked(); }
bool TFindBar::Regex() const { return RegexBox->isChecked(); }
bool TFindBar::Backward() const { return UpButton->isChecked(); }

void TFindBar::Open() {
  // Not before: the clear button's icon is the desktop's icon theme's, whose first look-up reads the
  // theme's index, some 10 ms of the start for a bar hidden until it is asked for.
  Field->setClearButtonEnabled(true);
  Field->setFocus(Qt::ShortcutFocusReason);
  Field->selectAll();
}

void TFindBar::Close() {
  if (OnClose) OnClose();
}

bool TFindBar::eventFilter(QObject* Watched, QEvent* Event) {
  // The field's Return would also travel on to the bar once the field has seen it: take it here.
  if (Watched == Field && Event->type() == QEvent::KeyPress) {
    auto* Key = static_cast<QKeyEvent*>(Event);
    // Page Up and Page Down turn the page, as in the text: a one-line field has no use for them.
    if ((Key->key() == Qt::Key_PageDown || Key->key() == Qt::Key_PageUp) && OnPage) {
      OnPage(Key->key() == Qt::Key_PageDown);
      return true;
    }
    if (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter || Key->key() == Qt::Key_Escape) {
      keyPressEvent(Key);
      return true;
    }
  }
  return QFrame::eventFilter(Watched, Event);
}

void TFindBar::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Escape) {
    Close();
    return;
  }
  if ((Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) && OnFind) {
    // Shift+Return: the other way.
    OnFind(Backward() != Event->modifiers().testFlag(Qt::ShiftModifier));
    return;
  }
  QFrame::keyPressEvent(Event);
}
