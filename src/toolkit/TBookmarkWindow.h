#pragma once

#include <QDialog>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

// The bookmarks of the open file (书签), in a window of its own beside the main window as 目录 is:
// one row each, with its share of the file, its chapter, the first characters of its page and the
// day it was added. Return or a double click runs OnJump for the row and closes the window; Delete
// runs OnDelete; Escape closes it.
class TBookmarkWindow : public QDialog {
  Q_OBJECT

public:
  explicit TBookmarkWindow(QWidget* Parent);

  struct TRow {
    std::string Share;    // "37.5%"
    std::string Chapter;  // may be empty
    std::string Excerpt;
    std::string Added;    // the day, "2024-12-10"
  };
  // Shows Rows in the order given, the first one current (or the one at Current when there is one).
  void ShowRows(const std::vector<TRow>& Rows, std::size_t Current = 0);
  // Shows the window, or raises it, with the focus in the list.
  void Open();

  std::function<void(std::size_t Row)> OnJump;
  std::function<void(std::size_t Row)> OnDelete;

  QTreeWidget* List;
  QLabel* Hint;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void Jump();
};
