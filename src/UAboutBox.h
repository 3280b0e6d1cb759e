#pragma once

#include "TForm.h"
#include "ui_UAboutBox.h"

// The About box: a fixed-size dialog naming the program and its version. Made once at start-up,
// hidden, and shown modally from Help > About; "关闭" and Enter end it with 1, the caption's close
// button with 2, Escape does nothing. Its layout and texts are the form definition UAboutBox.ui.
// The controls the form definition makes are members by their names there: Panel1, ProgramIcon,
// ProductName, Version, Copyright, Label1, OKButton.
class TAboutBox : public TForm, public Ui::TAboutBox {
  Q_OBJECT
public:
  TAboutBox();

protected:
  void changeEvent(QEvent* Event) override;

private:
  // The dialog is drawn in the button face colour, of whatever colours the program is in.
  void UseButtonFace();
};

extern TAboutBox* AboutBox;
