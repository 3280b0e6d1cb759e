#include "TChapterRulesDialog.h"

#include "BuddyLabel.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

TChapterRulesDialog::TChapterRulesDialog(std::vector<TChapterRule> Rules, std::optional<std::size_t> Pick,
                                         QWidget* Parent)
    : QDialog(Parent), FBuiltIns(BuiltInChapterRules()), FRules(std::move(Rules)), FApplied(FRules), FPick(Pick) {
  for (std::size_t Row = 0; Row < FRules.size(); ++Row) FOrigins.push_back(Row);
  setWindowTitle(QStringLiteral("编辑规则"));
  resize(760, 440);
  auto* Grid = new QGridLayout(this);
  RuleList = new QListWidget(this);
  NameField = new QLineEdit(this);
  PatternField = new QPlainTextEdit(this);
  PatternField->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  PatternField->setWordWrapMode(QTextOption::WrapAnywhere);  // a pattern has no words to wrap at
  PatternField->setTabChangesFocus(true);
  PatternField->setPlaceholderText(QStringLiteral("逐行匹配的正则表达式，例如 ^\\s*第[0-9一二三四五六七八九十百千]+章"));
  PatternField->setToolTip(QStringLiteral("命名组 volume 匹配到的行是卷标题，例如 (?<volume>第[一二三四五六七八九十]+卷)"));
  AddButton = new QPushButton(QStringLiteral("添加(&A)"), this);
  RemoveButton = new QPushButton(QStringLiteral("删除(&D)"), this);
  RestoreButton = new QPushButton(QStringLiteral("恢复默认规则"), this);
  RestoreButton->setToolTip(QStringLiteral("内置规则恢复原样，自己添加的规则保留"));
  for (QPushButton* Button : {AddButton, RemoveButton, RestoreButton}) Button->setAutoDefault(false);
  FaultLabel = new QLabel(this);
  FaultLabel->setWordWrap(true);
  FaultLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  Buttons->button(QDialogButtonBox::Apply)->setText(QStringLiteral("应用"));

  auto* RuleButtons = new QHBoxLayout;
  for (QPushButton* Button : {AddButton, RemoveButton, RestoreButton}) RuleButtons->addWidget(Button);
  RuleButtons->addStretch();
  AddBuddyLabel(*Grid, QStringLiteral("规则(&L)，勾选的参与自动识别："), RuleList, 0, 0);
  Grid->addWidget(RuleList, 1, 0, 2, 1);
  AddBuddyLabel(*Grid, QStringLiteral("名称(&N)："), NameField, 0, 1);
  Grid->addWidget(NameField, 0, 2);
  AddBuddyLabel(*Grid, QStringLiteral("表达式(&E)："), PatternField, 1, 1, Qt::AlignTop);
  Grid->addWidget(PatternField, 1, 2, 2, 1);
  Grid->addLayout(RuleButtons, 3, 0, 1, 3);
  Grid->addWidget(FaultLabel, 4, 0, 1, 3);
  Grid->addWidget(Buttons, 5, 0, 1, 3);
  Grid->setColumnStretch(0, 1);
  Grid->setColumnStretch(2, 2);
  Grid->setRowStretch(2, 1);

  PatternField->installEventFilter(this);
  connect(RuleList, &QListWidget::currentRowChanged, this, [this] { ShowRule(); });
  connect(RuleList, &QListWidget::itemChanged, this, [this](QListWidgetItem* Item) {
    FRules[static_cast<std::size_t>(RuleList->row(Item))].Enabled = Item->checkState() == Qt::Checked;
  });
  connect(NameField, &QLineEdit::textEdited, this, [this](const QString& Text) {
    const int Row = RuleList->currentRow();
    if (Row < 0) return;
    FRules[static_cast<std::size_t>(Row)].Name = Text.trimmed().toStdString();
    RuleList->item(Row)->setText(Text.trimmed());
  });
  connect(PatternField, &QPlainTextEdit::textChanged, this, [this] {
    const int Row = RuleList->currentRow();
    // A line never holds a line break: one pasted into a pattern could never match.
    if (Row >= 0) FRules[static_cast<std::size_t>(Row)].Pattern = PatternField->toPlainText().remove(QLatin1Char('\n')).toStdString();
  });
  connect(AddButton, &QPushButton::clicked, this, [this] {
    std::size_t Own = FRules.size() - std::min(FRules.size(), FBuiltIns.size());
    FRules.push_back({"我的规则" + (Own == 0 ? std::string() : std::to_string(Own + 1)), "", true});
    FOrigins.push_back(std::nullopt);
    FillList();
    RuleList->setCurrentRow(RuleList->count() - 1);
    PatternField->setFocus();
  });
  connect(RemoveButton, &QPushButton::clicked, this, [this] {
    const int Row = RuleList->currentRow();
    if (Row < static_cast<int>(FBuiltIns.size())) return;
    FRules.erase(FRules.begin() + Row);
    FOrigins.erase(FOrigins.begin() + Row);
    FillList();
    RuleList->setCurrentRow(std::min(Row, RuleList->count() - 1));
  });
  connect(RestoreButton, &QPushButton::clicked, this, [this] {
    const int Row = RuleList->currentRow();
    std::copy(FBuiltIns.begin(), FBuiltIns.begin() + static_cast<std::ptrdiff_t>(std::min(FBuiltIns.size(), FRules.size())),
              FRules.begin());
    FillList();
    RuleList->setCurrentRow(Row);
  });
  connect(Buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { Apply(); });
  connect(Buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Apply()) accept();
  });
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  FillList();
  RuleList->setCurrentRow(FPick ? static_cast<int>(*FPick) : 0);
  RuleList->setFocus();
}

bool TChapterRulesDialog::eventFilter(QObject* Watched, QEvent* Event) {
  // Return in the pattern is the dialog's (确定), as in the name: a pattern is one line.
  if (Watched == PatternField && Event->type() == QEvent::KeyPress) {
    auto* Key = static_cast<QKeyEvent*>(Event);
    if (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter) {
      keyPressEvent(Key);
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

bool TChapterRulesDialog::Apply() {
  // A rule added is the one to use; else the rule picked stays picked wherever it now stands.
  std::optional<std::size_t> Pick;
  for (std::size_t Row = 0; Row < FRules.size(); ++Row)
    if (FPick && FOrigins[Row] == FPick) Pick = Row;
  for (std::size_t Row = 0; Row < FRules.size(); ++Row)
    if (!FOrigins[Row]) Pick = Row;
  if (FRules == FApplied && Pick == FPick) {
    SetFault("");
    return true;
  }
  const std::string Fault = OnApply ? OnApply(FRules, Pick) : std::string();
  SetFault(Fault);
  if (!Fault.empty()) {
    // The message names the rule: it is shown, to be mended.
    for (std::size_t Row = 0; Row < FRules.size(); ++Row)
      if (Fault.starts_with("规则“" + FRules[Row].Name + "”")) RuleList->setCurrentRow(static_cast<int>(Row));
    return false;
  }
  FApplied = FRules;
  FPick = Pick;
  for (std::size_t Row = 0; Row < FRules.size(); ++Row) FOrigins[Row] = Row;
  return true;
}

void TChapterRulesDialog::FillList() {
  const QSignalBlocker Quiet(RuleList);
  RuleList->clear();
  for (const TChapterRule& Rule : FRules) {
    auto* Item = new QListWidgetItem(QString::fromStdString(Rule.Name), RuleList);
    Item->setFlags(Item->flags() | Qt::ItemIsUserCheckable);
    Item->setCheckState(Rule.Enabled ? Qt::Checked : Qt::Unchecked);
  }
  ShowRule();
}

void TChapterRulesDialog::ShowRule() {
  const int Row = RuleList->currentRow();
  const bool Chosen = Row >= 0 && Row < static_cast<int>(FRules.size());
  const TChapterRule Rule = Chosen ? FRules[static_cast<std::size_t>(Row)] : TChapterRule{};
  {
    const QSignalBlocker QuietName(NameField);
    const QSignalBlocker QuietPattern(PatternField);
    NameField->setText(QString::fromStdString(Rule.Name));
    PatternField->setPlainText(QString::fromStdString(Rule.Pattern));
  }
  NameField->setEnabled(Chosen);
  PatternField->setEnabled(Chosen);
  const bool BuiltIn = Row < static_cast<int>(FBuiltIns.size());
  RemoveButton->setEnabled(Chosen && !BuiltIn);
  RemoveButton->setToolTip(Chosen && BuiltIn ? QStringLiteral("内置规则不能删除，可以取消勾选不用它") : QString());
}

void TChapterRulesDialog::SetFault(const std::string& Fault) { FaultLabel->setText(QString::fromStdString(Fault)); }
