#include "TChapterWindow.h"

#include "BuddyLabel.h"
#include "TChapterIndex.h"
#include "TChapterModel.h"
#include "TChapterRulesDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>

#include <algorithm>
#include <iterator>

TChapterWindow::TChapterWindow(const TChapterIndex& Chapters, QWidget* Parent)
    : QDialog(Parent), FChapters(Chapters), FModel(new TChapterModel(Chapters, this)) {
  setWindowTitle(QStringLiteral("目录"));
  resize(460, 640);
  auto* Grid = new QGridLayout(this);
  FilterField = new QLineEdit(this);
  FilterField->setPlaceholderText(QStringLiteral("输入文字筛选章节"));
  RuleBox = new QComboBox(this);
  RuleBox->setToolTip(QStringLiteral("找出章节标题的规则；自动识别：按每本书的样本选出最合适的一条"));
  RuleBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  RuleBox->setMinimumContentsLength(12);
  EditRulesButton = new QPushButton(QStringLiteral("编辑规则(&E)…"), this);
  StopButton = new QPushButton(QStringLiteral("停止"), this);
  // No default button: Return in a field belongs to the list, not to 停止.
  for (QPushButton* Button : {EditRulesButton, StopButton}) Button->setAutoDefault(false);
  List = new QTreeView(this);
  List->setModel(FModel);
  List->setHeaderHidden(true);
  List->setUniformRowHeights(true);  // a million rows lay out at once
  List->setRootIsDecorated(false);   // until a volume comes: a book without one is a plain list
  List->setExpandsOnDoubleClick(false);  // a double click goes to the volume's page; its arrow folds it
  List->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StatusLabel = new QLabel(this);
  StatusLabel->setWordWrap(true);
  AddBuddyLabel(*Grid, QStringLiteral("筛选(&F)："), FilterField, 0, 0);
  Grid->addWidget(FilterField, 0, 1, 1, 2);
  AddBuddyLabel(*Grid, QStringLiteral("规则(&R)："), RuleBox, 1, 0);
  Grid->addWidget(RuleBox, 1, 1);
  Grid->addWidget(EditRulesButton, 1, 2);
  Grid->addWidget(List, 2, 0, 1, 3);
  Grid->addWidget(StatusLabel, 3, 0, 1, 2);
  Grid->addWidget(StopButton, 3, 2);
  Grid->setColumnStretch(1, 1);

  FilterField->setObjectName(QStringLiteral("FilterField"));
  RuleBox->setObjectName(QStringLiteral("RuleBox"));
  EditRulesButton->setObjectName(QStringLiteral("EditRulesButton"));
  StopButton->setObjectName(QStringLiteral("StopButton"));
  List->setObjectName(QStringLiteral("List"));
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  List->installEventFilter(this);
  // A row the reader clicks is his choice, and scrolling the list or folding a volume himself is his
  // move too: the page's chapter no longer pulls it back.
  connect(List, &QAbstractItemView::pressed, this, [this] { FReaderMoved = true; });
  connect(List->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { FReaderMoved = true; });
  connect(List, &QTreeView::collapsed, this, [this] { FReaderMoved = true; });
  // A list taken anew or filtered has lost the reader's row, and shows its volumes unfolded.
  connect(FModel, &QAbstractItemModel::modelReset, this, [this] {
    FReaderMoved = false;
    List->setRootIsDecorated(FModel->HasVolumes());
    ExpandVolumes();
  });
  // Volumes found as the scan goes come unfolded.
  connect(FModel, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& Parent, int First, int Last) {
    if (Parent.isValid() || !FModel->HasVolumes()) return;
    List->setRootIsDecorated(true);
    for (int Row = First; Row <= Last; ++Row)
      if (const QModelIndex Volume = FModel->index(Row, 0); !(FModel->flags(Volume) & Qt::ItemNeverHasChildren))
        List->expand(Volume);
  });
  connect(List, &QTreeView::activated, this, &TChapterWindow::Jump);
  connect(FilterField, &QLineEdit::textEdited, this, [this](const QString& Text) {
    FModel->SetFilter(Text.toStdString());
    MarkCurrent(FCurrent);
  });
  // Return in the filter takes the marked heading, or the first that passes.
  connect(FilterField, &QLineEdit::returnPressed, this, [this] {
    const QModelIndex Row = List->currentIndex().isValid() ? List->currentIndex() : FModel->FirstPassing();
    if (Row.isValid()) Jump(Row);
  });
  connect(RuleBox, &QComboBox::activated, this, &TChapterWindow::PickRule);
  connect(EditRulesButton, &QPushButton::clicked, this, &TChapterWindow::EditRules);
  connect(StopButton, &QPushButton::clicked, this, [this] {
    if (OnStop) OnStop();
  });
  ShowState();
}

TChapterWindow::~TChapterWindow() = default;

bool TChapterWindow::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == List && Event->type() == QEvent::KeyPress) {
    auto* Key = static_cast<QKeyEvent*>(Event);
    // Text typed in the list goes to the filter, as a reader who starts typing a title expects.
    const QString Text = Key->text();
    if (!Text.isEmpty() && Text.at(0).isPrint() && !(Key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      FilterField->setFocus();
      FilterField->insert(Text);
      emit FilterField->textEdited(FilterField->text());
      return true;
    }
    const int Moves[] = {Qt::Key_Up,   Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown,
                         Qt::Key_Home, Qt::Key_End,  Qt::Key_Left,   Qt::Key_Right};
    if (std::find(std::begin(Moves), std::end(Moves), Key->key()) != std::end(Moves)) FReaderMoved = true;
  }
  return QDialog::eventFilter(Watched, Event);
}

void TChapterWindow::Open() {
  // Not before: the clear button's icon comes from the desktop's icon theme, whose first look-up
  // reads the theme's index, at the start, for a window not shown yet.
  FilterField->setClearButtonEnabled(true);
  show();
  raise();
  activateWindow();
  List->setFocus();
  FReaderMoved = false;
  ExpandVolumes();
  ShowCurrent(true);
}

void TChapterWindow::Refresh(std::optional<std::size_t> Current) {
  FModel->Follow();
  MarkCurrent(Current);
  ShowState();
}

void TChapterWindow::MarkCurrent(std::optional<std::size_t> Current) {
  FCurrent = Current;
  // Marked while hidden only in memory: Open marks it.
  if (isVisible()) ShowCurrent(false);
}

void TChapterWindow::ShowRules(const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick,
                               std::optional<std::size_t> InUse) {
  FRules = Rules;
  FPick = Pick;
  // 自动识别 says which rule it chose for this book.
  QString Automatic = QStringLiteral("自动识别");
  if (!Pick && InUse && *InUse < Rules.size())
    Automatic += QStringLiteral("（%1）").arg(QString::fromStdString(Rules[*InUse].Name));
  QStringList Items{Automatic};
  for (const TChapterRule& Rule : Rules) Items << QString::fromStdString(Rule.Name);
  const QSignalBlocker Quiet(RuleBox);
  bool Same = RuleBox->count() == Items.size();
  for (int Item = 1; Same && Item < Items.size(); ++Item) Same = RuleBox->itemText(Item) == Items[Item];
  if (Same) {
    RuleBox->setItemText(0, Automatic);
  } else {
    RuleBox->clear();
    RuleBox->addItems(Items);
  }
  RuleBox->setCurrentIndex(Pick ? static_cast<int>(*Pick) + 1 : 0);
  RuleBox->setAccessibleDescription(QStringLiteral("正在使用：") + RuleBox->currentText());
}

void TChapterWindow::PickRule(int Item) {
  const std::optional<std::size_t> Pick =
      Item > 0 ? std::optional<std::size_t>(static_cast<std::size_t>(Item - 1)) : std::nullopt;
  if (Pick == FPick) return;
  FFault = OnRules ? OnRules(FRules, Pick) : std::string();
  // A pick refused leaves the one before.
  if (!FFault.empty()) {
    const QSignalBlocker Quiet(RuleBox);
    RuleBox->setCurrentIndex(FPick ? static_cast<int>(*FPick) + 1 : 0);
  }
  ShowState();
}

void TChapterWindow::EditRules() {
  TChapterRulesDialog Dialog(FRules, FPick, this);
  Dialog.OnApply = [this](const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick) {
    std::string Fault = OnRules ? OnRules(Rules, Pick) : std::string();
    if (Fault.empty()) {
      FFault.clear();
      ShowState();
    }
    return Fault;
  };
  Dialog.exec();
}

void TChapterWindow::ExpandVolumes() {
  // Only those folded: unfolding one lays the list out again, a million rows.
  for (const QModelIndex& Volume : FModel->VolumeRows())
    if (!List->isExpanded(Volume)) List->expand(Volume);
}

void TChapterWindow::ShowCurrent(bool Opening) {
  FModel->SetCurrent(FCurrent);
  // The row the reader chose stays his; a list taken anew has none.
  if (!FCurrent || (FReaderMoved && List->currentIndex().isValid())) return;
  const QModelIndex Row = FModel->IndexOf(*FCurrent);
  if (!Row.isValid() || (!Opening && List->currentIndex() == Row)) return;
  List->setCurrentIndex(Row);
  List->scrollTo(Row, QAbstractItemView::PositionAtCenter);  // unfolding its volume
}

void TChapterWindow::Jump(const QModelIndex& Row) {
  if (!Row.isValid()) return;
  const std::size_t Chapter = FModel->ChapterOf(Row);
  hide();
  if (OnJump) OnJump(Chapter);
}

void TChapterWindow::ShowState() {
  using TState = TChapterIndex::TState;
  const bool Fault = !FFault.empty();
  // A fault leaves the list of the last good rules: both are said.
  StatusLabel->setText(QString::fromStdString(Fault ? FFault + "\n" + FChapters.Status() : FChapters.Status()));
  // Red that reads on the window's ground, a light one or a dark one.
  const bool DarkGround = palette().color(QPalette::Window).lightness() < 128;
  StatusLabel->setStyleSheet(!Fault ? QString() : DarkGround ? QStringLiteral("color: #ff8a80;") : QStringLiteral("color: #c00000;"));
  StopButton->setEnabled(FChapters.State() == TState::Scanning);
}

void TChapterWindow::changeEvent(QEvent* Event) {
  QDialog::changeEvent(Event);
  if (Event->type() == QEvent::PaletteChange && StatusLabel) ShowState();
}
