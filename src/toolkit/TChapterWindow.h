#pragma once

#include <QDialog>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;
class TChapterIndex;
class TChapterModel;

// The table of contents (目录): the open file's chapter headings in file order, volumes with their
// chapters under them (unfolded when the window opens), a filter that narrows them by typed text, the
// pattern that finds them and how their scan stands. A window of its own beside the main window, so
// opening it never changes the text area's size. The list is a view over the headings the engine
// keeps (a model, no item per heading): a million of them show at once. Return or a double click on
// a heading runs OnJump and closes the window; Escape closes it.
class TChapterWindow : public QDialog {
  Q_OBJECT

public:
  TChapterWindow(const TChapterIndex& Chapters, const std::string& Pattern, QWidget* Parent);
  ~TChapterWindow() override;

  // Takes the headings found since the last call (all anew when they were replaced) and the scan's
  // state; Current is the heading of the page on screen.
  void Refresh(std::optional<std::size_t> Current);
  // Marks Current, the heading of the page on screen, and makes it the current row, in view, unless the
  // reader has moved in the list since it opened.
  void MarkCurrent(std::optional<std::size_t> Current);
  // Shows the window, or raises it, with the focus in the list.
  void Open();

  // The reader chose heading Index.
  std::function<void(std::size_t Index)> OnJump;
  // The reader changed the pattern: the answer is empty, or why it cannot be used (the list stays).
  std::function<std::string(const std::string& Pattern)> OnPattern;
  std::function<void()> OnStop;

  QLineEdit* FilterField;
  QLineEdit* PatternField;
  QPushButton* DefaultButton;
  QPushButton* StopButton;
  QTreeView* List;
  QLabel* StatusLabel;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void Jump(const QModelIndex& Row);
  void PatternEdited(const QString& Text);
  void ShowState();
  // Marks FCurrent's row and makes it the current row, in view, unless the reader has chosen his own;
  // Opening does so also when it is current already, as the reader may have scrolled it away.
  void ShowCurrent(bool Opening);
  // Unfolds the volumes, as a list taken anew or filtered shows them.
  void ExpandVolumes();

  const TChapterIndex& FChapters;
  TChapterModel* FModel;
  std::string FDefaultPattern;
  std::string FFault;  // why the pattern typed last cannot be used
  std::optional<std::size_t> FCurrent;
  bool FReaderMoved = false;  // the reader moved the current row, scrolled or folded since the window opened
};
