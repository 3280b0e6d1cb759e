#pragma once

#include <QString>
#include <QWidget>

// A one-line caption for a bar: it asks for a fixed width and gives way when the bar is short (the
// bar's other controls keep their room), cutting its text with an ellipsis at whatever width it gets.
// Unlike QLabel, a new text repaints the caption alone and never lays the bar out again. Its text is
// its accessible name, as a QLabel's is.
class TElidedLabel : public QWidget {
  Q_OBJECT

public:
  TElidedLabel(int PreferredWidth, QWidget* Parent = nullptr);

  QString Text() const { return FText; }
  void SetText(const QString& Text);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  int FPreferredWidth;
  QString FText;
};
