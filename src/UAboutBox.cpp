#include "UAboutBox.h"

#include "ProgramResources.h"
#include "TFont.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox() {
  setupUi(this);
  ProgramIcon->setPixmap(ProgramPicture(TProgramPicture::Icon));
  BindModalResult(OKButton, 1);

  // A fixed dialog frame: caption and close button only, no resizing.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  SetPosition(poScreenCenter);

  // The dialog's one font, shared by every control: 宋体 with characters 12 pixels high.
  TFont Font;
  Font.Name = "宋体";
  Font.Height = -12;
  Font.Charset = ANSI_CHARSET;
  setFont(Font.ToQFont());

  UseButtonFace();
  setAutoFillBackground(true);

  // Labels are as wide as their text in the font actually used.
  for (QLabel* Label : {ProductName, Version, Copyright, Label1}) Label->adjustSize();
}

void TAboutBox::UseButtonFace() {
  QPalette Colours = palette();
  if (Colours.color(QPalette::Window) == Colours.color(QPalette::Button)) return;
  Colours.setColor(QPalette::Window, Colours.color(QPalette::Button));
  setPalette(Colours);
}

// Another colour scheme changes the button face too.
void TAboutBox::changeEvent(QEvent* Event) {
  TForm::changeEvent(Event);
  if (Event->type() == QEvent::PaletteChange) UseButtonFace();
}
