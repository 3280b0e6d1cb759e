// The entry point: names the application, makes its two windows, runs until the main window closes.
// Arguments and environment are not used; the exit code is always 0.

#include "ProgramResources.h"
#include "TApplication.h"
#include "UAboutBox.h"
#include "UMain.h"

int main(int argc, char** argv) {
  TApplication App(argc, argv);
  try {
    App.SetTitle("Pagorin高速文本文件浏览器");
    SetProgramIcon();
    App.CreateForm(FrmMain);
    App.CreateForm(AboutBox);
    App.Run();
  } catch (...) {
    App.HandleException(std::current_exception());
  }
  App.DestroyForms();
  return 0;
}
