#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <functional>
#include <string>

// Answers the next modal window of kind W that comes up, as a user would: Answer runs on it from
// inside the window's own event loop. A modal window already up when the answer is armed is not it.
template <class W> class TModalAnswer {
public:
  explicit TModalAnswer(std::function<void(W*)> Answer)
      : FAnswer(std::move(Answer)), FAlreadyUp(QApplication::activeModalWidget()) {
    FTimer.setInterval(1);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* Modal = QApplication::activeModalWidget();
      W* Window = qobject_cast<W*>(Modal);
      if (!Window || Modal == FAlreadyUp || !Window->isVisible()) return;
      FTimer.stop();
      ++FAnswered;
      FAnswer(Window);
    });
    FTimer.start();
  }

  int Answered() const { return FAnswered; }

private:
  std::function<void(W*)> FAnswer;
  QPointer<QWidget> FAlreadyUp;
  QTimer FTimer;
  int FAnswered = 0;
};

// What the next error box showed; its OK button is clicked once it has been read.
struct TErrorBoxSeen {
  bool Shown = false;
  std::string Text;
  std::string Caption;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons;
  std::function<void()> WhileUp; // runs while the box is up, before OK
};

class TErrorBoxAnswer {
public:
  TErrorBoxAnswer()
      : FAnswer([this](QMessageBox* Box) {
          Seen.Shown = true;
          Seen.Text = Box->text().toStdString();
          Seen.Caption = Box->windowTitle().toStdString();
          Seen.Icon = Box->icon();
          Seen.Buttons = Box->standardButtons();
          if (Seen.WhileUp) Seen.WhileUp();
          QTest::mouseClick(Box->button(QMessageBox::Ok), Qt::LeftButton);
        }) {}

  TErrorBoxSeen Seen;

private:
  TModalAnswer<QMessageBox> FAnswer;
};
