#pragma once

#include <QFrame>

#include <functional>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// The find bar: the text to find, 区分大小写, 正则表达式 and the direction, in one strip that fits the
// tool bar's height. It sits in the tool bar, not over the page: unlike a find dialog or a bar over
// the text area it hides none of the page, leaves the text area's size (and so the page geometry) as
// it is, and is not painted again with every page. Return finds in the chosen direction
// (Shift+Return the other way); Escape closes it; Page Up and Page Down turn the page.
class TFindBar : public QFrame {
  Q_OBJECT

public:
  explicit TFindBar(QWidget* Parent = nullptr);

  QString Text() const;
  bool MatchCase() const;
  bool Regex() const;
  bool Backward() const;

  // Puts the focus in the text, selected, ready to type over. The owner shows the bar first.
  void Open();
  // Runs OnClose: the owner hides the bar and stops a search under way.
  void Close();

  std::function<void(bool Backward)> OnFind;
  std::function<void()> OnClose;
  // Page Up (false) or Page Down (true) in the field.
  std::function<void(bool Down)> OnPage;

  QLineEdit* Field;
  QCheckBox* MatchCaseBox;
  QCheckBox* RegexBox;
  QRadioButton* UpButton;
  QRadioButton* DownButton;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
};
