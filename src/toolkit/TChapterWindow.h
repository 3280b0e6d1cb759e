#pragma once

#include "ChapterRules.h"

#include <QDialog>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;
class TChapterIndex;
class TChapterModel;

// The table of contents (目录): the open file's chapter headings in file order, volumes with their
// chapters under them (unfolded when the window opens), a filter that narrows them by typed text, the
// rule that finds them and how their scan stands. A window of its own beside the main window, so
// opening it never changes the text area's size. The list is a view over the headings the engine
// keeps (a model, no item per heading): a million of them show at once. Return or a double click on
// a heading runs OnJump and closes the window; Escape closes it.
class TChapterWindow : public QDialog {
  Q_OBJECT

public:
  TChapterWindow(const TChapterIndex& Chapters, QWidget* Parent);
  ~TChapterWindow() override;

  // Takes the headings found since the last call (all anew when they were replaced) and the scan's
  // state; Current is the heading of the page on screen.
  void Refresh(std::optional<std::size_t> Current);
  // Marks Current, the heading of the page on screen, and makes it the current row, in view, unless the
  // reader has moved in the list since it opened.
  void MarkCurrent(std::optional<std::size_t> Current);
  // The rules the reader may pick from, the one picked (none: chosen per book) and the one that found
  // the headings on hand (none while it is being chosen).
  void ShowRules(const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick,
                 std::optional<std::size_t> InUse);
  // Shows the window, or raises it, with the focus in the list.
  void Open();

  // The reader chose heading Index.
  std::function<void(std::size_t Index)> OnJump;
  // The reader picked a rule or changed them: the answer is empty, or why they cannot be used (the list
  // stays).
  std::function<std::string(const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick)> OnRules;
  std::function<void()> OnStop;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void changeEvent(QEvent* Event) override;

private:
  void Jump(const QModelIndex& Row);
  void PickRule(int Item);
  void EditRules();
  void ShowState();
  // Marks FCurrent's row and makes it the current row, in view, unless the reader has chosen his own;
  // Opening does so also when it is current already, as the reader may have scrolled it away.
  void ShowCurrent(bool Opening);
  // Unfolds the volumes, as a list taken anew or filtered shows them.
  void ExpandVolumes();

  // Each named after its member, so that a test finds it as a user finds it: by what it is.
  QLineEdit* FilterField;
  QComboBox* RuleBox;  // 自动识别 first, then the rules by name
  QPushButton* EditRulesButton;
  QPushButton* StopButton = nullptr;
  QTreeView* List;
  QLabel* StatusLabel = nullptr;
  const TChapterIndex& FChapters;
  TChapterModel* FModel;
  std::vector<TChapterRule> FRules;
  std::optional<std::size_t> FPick;
  std::string FFault;  // why the rules asked for last cannot be used
  std::optional<std::size_t> FCurrent;
  bool FReaderMoved = false;  // the reader moved the current row, scrolled or folded since the window opened
};
