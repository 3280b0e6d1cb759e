#pragma once

#include "Exception.h"

#include <QApplication>
#include <QPointer>
#include <QTranslator>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

class QEventLoop;
class TForm;

// The program's one application object. Beyond QApplication it carries the title shown by the window
// manager and in every error box, owns the windows made with CreateForm (destroying them last-made
// first), runs the message loop until the termination request, and guards every event: an exception
// that leaves an event handler ends that handler and is reported in an error box, and the program
// goes on. From its construction on, Qt's own texts (the file and font dialogs, the buttons of message
// boxes) and what Qt words through the locale are simplified Chinese like the program's, whatever the
// user's locale.
class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& Argc, char** Argv);
  ~TApplication() override;

  // The program's name (UTF-8): the application display name and the caption of every error box.
  void SetTitle(const std::string& Title);
  std::string Title() const;

  // Makes a T in place. Reference points at the object before its constructor runs (code run by the
  // constructor may already use it) and is set back to null if construction throws. The first TForm
  // made this way becomes the main form.
  template <class T> void CreateForm(T*& Reference);

  TForm* MainForm() const { return FMainForm; }

  // Shows the main form by its WindowState and handles events until the termination request; returns
  // at once when there is no main form. A run starts unterminated.
  int Run();

  // The termination request: posts the quit event; the loops stop when it is handled.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // Destroys the forms made with CreateForm, last made first, and forgets the main form; the
  // application is then as before start-up.
  void DestroyForms();

  // Handles events until Done() holds or the application is terminated (the modal loop of a form).
  void RunNestedLoop(const std::function<bool()>& Done);
  // Makes every running loop test its end condition again.
  void WakeLoops();

  // The loop's guard for one caught exception: releases the mouse grab, drops EAbort, reports the
  // rest; a foreign exception shows its what() text, one that is not a std::exception an empty text.
  void HandleException(std::exception_ptr Error);

  // The error box: the message with a period added unless it ends in "." or a character below it,
  // captioned with the title, an error icon and one OK button, blocking every other window until OK.
  void ReportException(const Exception& Error);

  // The text ReportException shows for Message.
  static std::string ErrorBoxText(const std::string& Message);

  // Replaces the error box by Hook(text, caption) while set; tests that are not about the box use it.
  using TReportHook = std::function<void(const std::string& Text, const std::string& Caption)>;
  void SetReportHook(TReportHook Hook) { FReportHook = std::move(Hook); }

  bool notify(QObject* Receiver, QEvent* Event) override;

protected:
  bool event(QEvent* Event) override;

private:
  struct TOwnedForm {
    void* Object;
    void (*Destroy)(void*);
    QPointer<QObject> Alive; // set for QObjects: one deleted elsewhere is not destroyed again
    bool IsQObject;
  };

  void Adopt(void* Object, void (*Destroy)(void*), QObject* AsQObject);

  QTranslator FQtTexts;
  std::string FTitle;
  std::vector<TOwnedForm> FForms;
  TForm* FMainForm = nullptr;
  bool FTerminated = false;
  std::vector<QEventLoop*> FLoops;
  TReportHook FReportHook;
};

extern TApplication* Application;

template <class T> void TApplication::CreateForm(T*& Reference) {
  std::allocator<T> Storage;
  T* Object = Storage.allocate(1);
  Reference = Object;
  try {
    ::new (static_cast<void*>(Object)) T();
  } catch (...) {
    Reference = nullptr;
    Storage.deallocate(Object, 1);
    throw;
  }
  QObject* AsQObject = nullptr;
  if constexpr (std::is_base_of_v<QObject, T>) AsQObject = Object;
  Adopt(
      Object,
      [](void* Made) {
        T* Form = static_cast<T*>(Made);
        Form->~T();
        std::allocator<T>().deallocate(Form, 1);
      },
      AsQObject);
}

// While it lives, every other visible, enabled top-level window is disabled, as behind a modal window;
// afterwards exactly those are enabled again, the focus goes back where it was and, if the modal
// window was still active, the window active before becomes active again.
class TOtherWindowsDisabled {
public:
  explicit TOtherWindowsDisabled(QWidget* Modal);
  ~TOtherWindowsDisabled();
  TOtherWindowsDisabled(const TOtherWindowsDisabled&) = delete;
  TOtherWindowsDisabled& operator=(const TOtherWindowsDisabled&) = delete;

private:
  QPointer<QWidget> FModal;
  QPointer<QWidget> FActiveBefore;
  QPointer<QWidget> FFocusBefore;
  std::vector<QPointer<QWidget>> FDisabled;
};
