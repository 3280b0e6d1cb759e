#include "TApplication.h"

#include "SessionEnd.h"
#include "TForm.h"

#include <QDialog>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>

#include <string_view>

TApplication* Application = nullptr;

namespace {

// The last character of Text, a multi-byte UTF-8 character taken whole.
std::string_view LastCharacter(std::string_view Text) {
  std::size_t Start = Text.size() - 1;
  auto IsContinuation = [](char Byte) { return (static_cast<unsigned char>(Byte) & 0xC0) == 0x80; };
  while (Start > 0 && Text.size() - Start < 4 && IsContinuation(Text[Start])) --Start;
  return Text.substr(Start);
}

void ReleaseMouseGrab() {
  if (QWidget* Grabber = QWidget::mouseGrabber()) Grabber->releaseMouse();
}

// Set before Qt makes its event loop, and only when the environment does not choose: the program runs
// no GLib code and shows Qt's own dialogs, never GTK's, so Qt's own loop serves it. That loop wakes
// the GUI thread once for a batch of posted events, where GLib's is woken once per event (a window's
// first show posts about a hundred).
bool QtLoopChosen = false;
int& ChooseQtEventLoop(int& Argc) {
  QtLoopChosen = !qEnvironmentVariableIsSet("QT_NO_GLIB");
  if (QtLoopChosen) qputenv("QT_NO_GLIB", "1");
  return Argc;
}

}  // namespace

TApplication::TApplication(int& Argc, char** Argv) : QApplication(ChooseQtEventLoop(Argc), Argv) {
  // Programs started from here (a browser) choose their own loop.
  if (QtLoopChosen) qunsetenv("QT_NO_GLIB");
  Application = this;
  // A reader meets Qt's dialogs in the middle of the program's Chinese; without the translation
  // installed they stay in Qt's English and the program still runs.
  if (FQtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    installTranslator(&FQtTexts);
  // What Qt words through the locale, such as a file's type in the open dialog, in Chinese too.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  // The program ends by the termination request alone (closing the main form), never because the
  // last visible window went away: the About box is hidden, not closed, and error boxes come and go.
  setQuitOnLastWindowClosed(false);
  setQuitLockEnabled(false);
  // The end of the session is a termination request like closing the main form.
  WatchSessionEnd(this, [this] { Terminate(); });
}

TApplication::~TApplication() {
  DestroyForms();
  if (Application == this) Application = nullptr;
}

void TApplication::SetTitle(const std::string& Title) {
  // Only the error boxes show it: a display name would be appended to every window's caption on X11.
  FTitle = Title;
}

std::string TApplication::Title() const { return FTitle; }

void TApplication::Adopt(void* Object, void (*Destroy)(void*), QObject* AsQObject) {
  FForms.push_back({Object, Destroy, AsQObject, AsQObject != nullptr});
  if (!FMainForm)
    if (TForm* Form = qobject_cast<TForm*>(AsQObject)) FMainForm = Form;
}

void TApplication::DestroyForms() {
  while (!FForms.empty()) {
    TOwnedForm Last = FForms.back();
    FForms.pop_back();
    if (Last.IsQObject && !Last.Alive) continue;
    if (Last.Object == FMainForm) FMainForm = nullptr;
    Last.Destroy(Last.Object);
  }
  FMainForm = nullptr;
  FTerminated = false;
}

int TApplication::Run() {
  FTerminated = false;
  if (!FMainForm) return 0;
  FMainForm->ShowForm();
  RunNestedLoop([] { return false; });
  return 0;
}

void TApplication::Terminate() { postEvent(this, new QEvent(QEvent::Quit)); }

bool TApplication::event(QEvent* Event) {
  // The quit event (ours, or the platform's when the session ends) ends every loop; Qt's own handling
  // would close all windows first, which for the main form is the termination request again.
  if (Event->type() == QEvent::Quit) {
    FTerminated = true;
    // Dialogs run loops of their own; cancelled, they return to the handlers that opened them.
    while (auto* Dialog = qobject_cast<QDialog*>(activeModalWidget())) {
      Dialog->reject();
      if (activeModalWidget() == Dialog) break;
    }
    WakeLoops();
    return true;
  }
  return QApplication::event(Event);
}

void TApplication::RunNestedLoop(const std::function<bool()>& Done) {
  QEventLoop Loop;
  FLoops.push_back(&Loop);
  struct TUnregister {
    std::vector<QEventLoop*>& Loops;
    ~TUnregister() { Loops.pop_back(); }
  } Unregister{FLoops};
  while (!FTerminated && !Done()) Loop.exec();
}

void TApplication::WakeLoops() {
  for (QEventLoop* Loop : FLoops) Loop->exit();
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    HandleException(std::current_exception()); // the guard has dealt with the event
    return true;
  }
}

void TApplication::HandleException(std::exception_ptr Error) {
  if (!Error) return;
  ReleaseMouseGrab(); // ends any drag in progress before the box takes the input
  try {
    std::rethrow_exception(Error);
  } catch (const EAbort&) {
  } catch (const Exception& Raised) {
    ReportException(Raised);
  } catch (const std::exception& Foreign) {
    ReportException(Exception(Foreign.what()));
  } catch (...) {
    ReportException(Exception(""));
  }
}

std::string TApplication::ErrorBoxText(const std::string& Message) {
  std::string Text = Message;
  // Byte-wise comparison: any multi-byte character sorts above ".", so it gains the period too.
  if (!Text.empty() && LastCharacter(Text) > std::string_view(".")) Text += '.';
  return Text;
}

void TApplication::ReportException(const Exception& Error) {
  const std::string Text = ErrorBoxText(Error.Message());
  if (FReportHook) {
    FReportHook(Text, FTitle);
    return;
  }
  QMessageBox Box(QMessageBox::Critical, QString::fromStdString(FTitle), QString::fromStdString(Text),
                  QMessageBox::Ok);
  Box.setTextFormat(Qt::PlainText);
  Box.setWindowModality(Qt::ApplicationModal);
  TOtherWindowsDisabled Disabled(&Box);
  Box.exec();
}

TOtherWindowsDisabled::TOtherWindowsDisabled(QWidget* Modal)
    : FModal(Modal), FActiveBefore(QApplication::activeWindow()), FFocusBefore(QApplication::focusWidget()) {
  const QWidgetList TopLevels = QApplication::topLevelWidgets();
  for (QWidget* Window : TopLevels) {
    if (Window == Modal || !Window->isVisible() || !Window->isEnabled()) continue;
    const Qt::WindowType Type = Window->windowType();
    if (Type == Qt::Popup || Type == Qt::ToolTip || Type == Qt::Desktop) continue;
    Window->setEnabled(false);
    FDisabled.emplace_back(Window);
  }
}

TOtherWindowsDisabled::~TOtherWindowsDisabled() {
  for (const QPointer<QWidget>& Window : FDisabled)
    if (Window) Window->setEnabled(true);
  if (FFocusBefore) FFocusBefore->setFocus(Qt::OtherFocusReason);
  QWidget* ActiveNow = QApplication::activeWindow();
  if (FActiveBefore && (!ActiveNow || ActiveNow == FModal)) FActiveBefore->activateWindow();
}
