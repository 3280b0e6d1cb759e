#pragma once

#include <QFrame>

#include <functional>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// The find bar: the text to find, 区分大小写, 正则表达式 and the direction, floating over the bottom
// right corner of the text area it belongs to, where a page's last line is most often blank (a hit
// shows on the page's first line). Unlike a find dialog it leaves the page in view and the text
// area's size, and so the page geometry, as they are; it follows the text area's size.
// Return finds in the chosen direction (Shift+Return the other way); Escape closes it.
class TFindBar : public QFrame {
  Q_OBJECT

public:
  // Over: the text area it floats over, which owns it.
  explicit TFindBar(QWidget* Over);

  QString Text() const;
  bool MatchCase() const;
  bool Regex() const;
  bool Backward() const;

  // Shows the bar in its place with the text selected, ready to type over.
  void Open();
  // Hides the bar (if shown) and runs OnClose, which also stops a search under way.
  void Close();

  std::function<void(bool Backward)> OnFind;
  std::function<void()> OnClose;

  QLineEdit* Field;
  QCheckBox* MatchCaseBox;
  QCheckBox* RegexBox;
  QRadioButton* UpButton;
  QRadioButton* DownButton;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void Place();
};
