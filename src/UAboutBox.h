#pragma once

#include "TForm.h"

class QFrame;
class QLabel;
class QPushButton;

// The About box: a fixed-size dialog naming the program and its version. Made once at start-up,
// hidden, and shown modally from Help > About; "关闭" and Enter end it with 1, the caption's close
// button with 2, Escape does nothing. Its layout and texts are the form definition UAboutBox.ui.
class TAboutBox : public TForm {
  Q_OBJECT
public:
  TAboutBox();

  // The controls the form definition makes, in creation order.
  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* OKButton = nullptr;

protected:
  void changeEvent(QEvent* Event) override;

private:
  // The dialog is drawn in the button face colour, of whatever colours the program is in.
  void UseButtonFace();
};

extern TAboutBox* AboutBox;
