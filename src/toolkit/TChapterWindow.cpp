#include "TChapterWindow.h"

#include "TChapterIndex.h"

#include <QAbstractListModel>
#include <QFont>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

// The rows of the list: every heading, or those whose title holds the filter's text (Latin letters in
// either case). It follows the engine's headings as they grow; rows are never copied out of it.
class TChapterModel : public QAbstractListModel {
public:
  explicit TChapterModel(const TChapterIndex& Chapters, QObject* Parent)
      : QAbstractListModel(Parent), FChapters(Chapters), FGeneration(Chapters.Generation()) {}

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override {
    if (Parent.isValid()) return 0;
    return static_cast<int>(FFilter.empty() ? FSeen : FRows.size());
  }

  QVariant data(const QModelIndex& Index, int Role) const override {
    if (!Index.isValid() || Index.row() >= rowCount()) return {};
    const std::size_t Chapter = ChapterOf(Index.row());
    // Rows of headings the engine has forgotten meanwhile are blank until Follow drops them.
    if (FChapters.Generation() != FGeneration || Chapter >= FChapters.Count()) return {};
    if (Role == Qt::DisplayRole) {
      const std::string_view Title = FChapters.Title(Chapter);
      return QString::fromUtf8(Title.data(), static_cast<qsizetype>(Title.size()));
    }
    if (Role == Qt::FontRole && Chapter == FCurrent) {
      QFont Bold;
      Bold.setBold(true);
      return Bold;
    }
    return {};
  }

  std::size_t ChapterOf(int Row) const { return FFilter.empty() ? static_cast<std::size_t>(Row) : FRows[Row]; }

  std::optional<int> RowOf(std::size_t Chapter) const {
    if (Chapter >= FSeen) return std::nullopt;
    if (FFilter.empty()) return static_cast<int>(Chapter);
    const auto At = std::lower_bound(FRows.begin(), FRows.end(), Chapter);
    if (At == FRows.end() || *At != Chapter) return std::nullopt;
    return static_cast<int>(At - FRows.begin());
  }

  // New headings become rows; a list that was replaced is taken anew, the filter's rows with it.
  void Follow() {
    const std::size_t Count = FChapters.Count();
    if (FChapters.Generation() != FGeneration) {
      beginResetModel();
      FGeneration = FChapters.Generation();
      FSeen = 0;
      FRows.clear();
      endResetModel();
    }
    if (Count == FSeen) return;
    if (FFilter.empty()) {
      beginInsertRows({}, static_cast<int>(FSeen), static_cast<int>(Count - 1));
      FSeen = Count;
      endInsertRows();
      return;
    }
    std::vector<std::uint32_t> Passing;
    for (std::size_t Chapter = FSeen; Chapter < Count; ++Chapter)
      if (Passes(Chapter)) Passing.push_back(static_cast<std::uint32_t>(Chapter));
    FSeen = Count;
    if (Passing.empty()) return;
    beginInsertRows({}, static_cast<int>(FRows.size()), static_cast<int>(FRows.size() + Passing.size() - 1));
    FRows.insert(FRows.end(), Passing.begin(), Passing.end());
    endInsertRows();
  }

  void SetFilter(const std::string& Text) {
    beginResetModel();
    FFilter = Lower(Text);
    FRows.clear();
    if (!FFilter.empty())
      for (std::size_t Chapter = 0; Chapter < FSeen; ++Chapter)
        if (Passes(Chapter)) FRows.push_back(static_cast<std::uint32_t>(Chapter));
    endResetModel();
  }

  // Repaints the rows of the old and the new current heading.
  void SetCurrent(std::optional<std::size_t> Chapter) {
    const std::optional<std::size_t> Old = FCurrent;
    FCurrent = Chapter;
    for (const std::optional<std::size_t>& Changed : {Old, Chapter})
      if (Changed)
        if (const std::optional<int> Row = RowOf(*Changed)) emit dataChanged(index(*Row), index(*Row), {Qt::FontRole});
  }

private:
  // ASCII only, as the titles are UTF-8: no byte of a wider character is a Latin letter.
  static char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }
  static std::string Lower(std::string_view Text) {
    std::string Out(Text);
    std::transform(Out.begin(), Out.end(), Out.begin(), [](char C) { return Lower(C); });
    return Out;
  }
  // Compared in place: a filter over a million titles makes no copy of any.
  bool Passes(std::size_t Chapter) const {
    const std::string_view Title = FChapters.Title(Chapter);
    return std::search(Title.begin(), Title.end(), FFilter.begin(), FFilter.end(),
                       [](char InTitle, char InFilter) { return Lower(InTitle) == InFilter; }) != Title.end();
  }

  const TChapterIndex& FChapters;
  unsigned FGeneration;              // the engine's list the rows stand for
  std::size_t FSeen = 0;             // headings taken as rows so far
  std::string FFilter;               // lower case
  std::vector<std::uint32_t> FRows;  // the headings that pass the filter
  std::optional<std::size_t> FCurrent;
};

TChapterWindow::TChapterWindow(const TChapterIndex& Chapters, const std::string& Pattern, QWidget* Parent)
    : QDialog(Parent), FChapters(Chapters), FModel(new TChapterModel(Chapters, this)), FDefaultPattern(Pattern) {
  setWindowTitle(QStringLiteral("目录"));
  resize(460, 640);
  auto* Grid = new QGridLayout(this);
  FilterField = new QLineEdit(this);
  FilterField->setPlaceholderText(QStringLiteral("输入文字筛选章节"));
  PatternField = new QLineEdit(QString::fromStdString(Pattern), this);
  PatternField->setToolTip(QStringLiteral("找出章节标题的正则表达式，逐行匹配，修改后立即生效"));
  DefaultButton = new QPushButton(QStringLiteral("默认"), this);
  StopButton = new QPushButton(QStringLiteral("停止"), this);
  // No default button: Return in a field belongs to the list, not to 停止.
  for (QPushButton* Button : {DefaultButton, StopButton}) Button->setAutoDefault(false);
  List = new QListView(this);
  List->setModel(FModel);
  List->setUniformItemSizes(true);  // a million rows lay out at once
  List->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StatusLabel = new QLabel(this);
  StatusLabel->setWordWrap(true);
  Grid->addWidget(new QLabel(QStringLiteral("筛选："), this), 0, 0);
  Grid->addWidget(FilterField, 0, 1, 1, 2);
  Grid->addWidget(new QLabel(QStringLiteral("表达式："), this), 1, 0);
  Grid->addWidget(PatternField, 1, 1);
  Grid->addWidget(DefaultButton, 1, 2);
  Grid->addWidget(List, 2, 0, 1, 3);
  Grid->addWidget(StatusLabel, 3, 0, 1, 2);
  Grid->addWidget(StopButton, 3, 2);

  List->installEventFilter(this);
  // A row the reader clicks is his choice, and scrolling the list himself is his move too: the page's
  // chapter no longer pulls it back.
  connect(List, &QAbstractItemView::pressed, this, [this] { FReaderMoved = true; });
  connect(List->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { FReaderMoved = true; });
  // A list taken anew or filtered has lost the reader's row.
  connect(FModel, &QAbstractItemModel::modelReset, this, [this] { FReaderMoved = false; });
  PatternField->setCursorPosition(0);  // the pattern's start says most about it
  connect(List, &QListView::activated, this, &TChapterWindow::Jump);
  connect(FilterField, &QLineEdit::textEdited, this, [this](const QString& Text) {
    FModel->SetFilter(Text.toStdString());
    MarkCurrent(FCurrent);
  });
  // Return in the filter takes the marked heading, or the first that passes.
  connect(FilterField, &QLineEdit::returnPressed, this, [this] {
    const QModelIndex Row = List->currentIndex().isValid() ? List->currentIndex() : FModel->index(0);
    if (Row.isValid()) Jump(Row);
  });
  connect(PatternField, &QLineEdit::textEdited, this, &TChapterWindow::PatternEdited);
  connect(DefaultButton, &QPushButton::clicked, this, [this] {
    PatternField->setText(QString::fromStdString(FDefaultPattern));
    PatternEdited(PatternField->text());
  });
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
    const int Moves[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
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

void TChapterWindow::ShowCurrent(bool Opening) {
  FModel->SetCurrent(FCurrent);
  // The row the reader chose stays his; a list taken anew has none.
  if (!FCurrent || (FReaderMoved && List->currentIndex().isValid())) return;
  const std::optional<int> Row = FModel->RowOf(*FCurrent);
  if (!Row || (!Opening && List->currentIndex().row() == *Row)) return;
  const QModelIndex Index = FModel->index(*Row);
  List->setCurrentIndex(Index);
  List->scrollTo(Index, QAbstractItemView::PositionAtCenter);
}

void TChapterWindow::Jump(const QModelIndex& Row) {
  if (!Row.isValid()) return;
  const std::size_t Chapter = FModel->ChapterOf(Row.row());
  hide();
  if (OnJump) OnJump(Chapter);
}

void TChapterWindow::PatternEdited(const QString& Text) {
  FFault = OnPattern ? OnPattern(Text.toStdString()) : std::string();
  ShowState();
}

void TChapterWindow::ShowState() {
  using TState = TChapterIndex::TState;
  const bool Fault = !FFault.empty();
  // A fault leaves the list of the last good pattern: both are said.
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
