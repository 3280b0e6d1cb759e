#pragma once

#include <QToolBar>

// A tool bar of fixed-size push buttons that show only their glyphs. Unlike QToolBar's flat,
// movable default, its buttons are raised, it stays docked along the top, a line runs along its top
// edge only, and its buttons show no hints (Qt would show each action's text as one).
class TToolBar : public QToolBar {
  Q_OBJECT

public:
  explicit TToolBar(QWidget* Parent = nullptr);

  int ButtonWidth() const { return FButtonWidth; }
  int ButtonHeight() const { return FButtonHeight; }

protected:
  void actionEvent(QActionEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  int FButtonWidth = 23;
  int FButtonHeight = 22;
};
