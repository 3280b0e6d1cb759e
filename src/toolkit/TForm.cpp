#include "TForm.h"

#include "Exception.h"
#include "TApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWindow>

#include <algorithm>

TForm::TForm(QWidget* Parent) : QMainWindow(Parent) {}

TForm::~TForm() = default;

std::string TForm::Caption() const { return windowTitle().toStdString(); }

void TForm::SetCaption(const std::string& Caption) {
  const QString Text = QString::fromStdString(Caption);
  if (windowTitle() == Text) return;
  setWindowTitle(Text);
}

void TForm::SetModalResult(int Result) {
  FModalResult = Result;
  if (FModal && Result != 0 && Application) Application->WakeLoops();
}

void TForm::ShowForm() {
  switch (FWindowState) {
  case wsMaximized:
    // Placed while still in its normal state (that is where it goes when restored): moving a window
    // that is already maximized would take the maximized state away again.
    ApplyPosition();
    showMaximized();
    break;
  case wsMinimized: {
    // Shown minimized, the window must not take the activation from the one the user works in.
    const bool WasWithoutActivating = testAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_ShowWithoutActivating);
    showMinimized();
    setAttribute(Qt::WA_ShowWithoutActivating, WasWithoutActivating);
    break;
  }
  case wsNormal:
    showNormal();
    break;
  }
}

void TForm::WhenShown(std::function<void()> Call) {
  if (windowHandle() && windowHandle()->isExposed()) {
    Call();
    return;
  }
  FWhenShown = std::move(Call);
  create();
  windowHandle()->installEventFilter(this);
}

// The window is exposed only once the window manager has placed and sized it.
bool TForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == windowHandle() && Event->type() == QEvent::Expose && windowHandle()->isExposed() && FWhenShown) {
    windowHandle()->removeEventFilter(this);
    const std::function<void()> Call = std::move(FWhenShown);
    FWhenShown = nullptr;
    Call();
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TForm::SetFullScreen(bool Value) {
  // The other states stay set beside full screen, so leaving it brings back a maximized window.
  setWindowState(Value ? windowState() | Qt::WindowFullScreen : windowState() & ~Qt::WindowFullScreen);
}

void TForm::resizeEvent(QResizeEvent* Event) {
  QMainWindow::resizeEvent(Event);
  if (OnResize) OnResize(this);
}

std::vector<std::string> TForm::DroppedFiles(const QMimeData* Data) {
  std::vector<std::string> Files;
  if (!Data || !Data->hasUrls()) return Files;
  for (const QUrl& Url : Data->urls()) {
    if (!Url.isLocalFile()) return {};
    // The name's bytes as the file system has them, as the open dialog gives a path.
    Files.push_back(QFile::encodeName(QDir::cleanPath(Url.toLocalFile())).toStdString());
  }
  return Files;
}

void TForm::dragEnterEvent(QDragEnterEvent* Event) {
  if (OnDropFiles && !DroppedFiles(Event->mimeData()).empty()) Event->acceptProposedAction();
}

void TForm::dropEvent(QDropEvent* Event) {
  const std::vector<std::string> Files = DroppedFiles(Event->mimeData());
  if (!OnDropFiles || Files.empty()) return;
  Event->acceptProposedAction();
  // After the drop has ended: the program that dragged the files waits for it, not for the open.
  QMetaObject::invokeMethod(
      this, [this, Files] { if (OnDropFiles) OnDropFiles(this, Files); }, Qt::QueuedConnection);
}

void TForm::showEvent(QShowEvent* Event) {
  ApplyPosition();
  QMainWindow::showEvent(Event);
}

void TForm::ApplyPosition() {
  if (FPosition == poDesigned) return;
  const bool OnScreen = FPosition == poScreenCenter;
  const QScreen* Screen = QGuiApplication::primaryScreen();
  if (OnScreen) {
    // The monitor of the window the user works in: for a dialog, the one that shows the main window.
    QWidget* Active = QApplication::activeWindow();
    if ((!Active || Active == this) && Application) Active = Application->MainForm();
    if (Active && Active != this && Active->isVisible()) Screen = Active->screen();
  }
  if (Screen) {
    // Centred by the outer size known now; the virtual desktop's own origin is not added.
    const QSize Area = OnScreen ? Screen->size() : Screen->virtualSize();
    const QPoint Origin = OnScreen ? Screen->geometry().topLeft() : QPoint(0, 0);
    const QSize Outer = frameGeometry().size();
    const int Left = std::max(0, (Area.width() - Outer.width()) / 2);
    const int Top = std::max(0, (Area.height() - Outer.height()) / 2);
    move(Origin + QPoint(Left, Top));
  }
  FPosition = poDesigned;
}

void TForm::CloseForm() {
  if (FModal) {
    SetModalResult(2);
    return;
  }
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  hide();
}

void TForm::closeEvent(QCloseEvent* Event) {
  // The close operation decides what becomes of the window; Qt must neither hide nor delete it.
  Event->ignore();
  // Behind a modal window the close box does nothing, as the rest of a disabled window.
  if (!isEnabled()) return;
  CloseForm();
}

void TForm::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::WindowStateChange) {
    const Qt::WindowStates State = windowState();
    FWindowState = State.testFlag(Qt::WindowMinimized)   ? wsMinimized
                   : State.testFlag(Qt::WindowMaximized) ? wsMaximized
                                                         : wsNormal;
  }
  QMainWindow::changeEvent(Event);
}

void TForm::keyPressEvent(QKeyEvent* Event) {
  // Qt gives push buttons the default-button key only inside a QDialog; a form is a main window.
  if ((Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) && Event->modifiers() == Qt::NoModifier) {
    const QList<QPushButton*> Buttons = findChildren<QPushButton*>();
    for (QPushButton* Button : Buttons) {
      if (Button->isDefault() && Button->isVisible() && Button->isEnabled() && Button->window() == this) {
        Event->accept();
        Button->click();
        return;
      }
    }
  }
  QMainWindow::keyPressEvent(Event);
}

int TForm::ShowFormModal() {
  if (isVisible() || !isEnabled() || FModal) throw EInvalidOperation("Cannot make a visible window modal");
  if (QWidget* Grabber = QWidget::mouseGrabber()) Grabber->releaseMouse();
  FModal = true;
  struct TClearModal {
    bool& Modal;
    ~TClearModal() { Modal = false; }
  } ClearModal{FModal};
  {
    TOtherWindowsDisabled Disabled(this);
    setWindowModality(Qt::ApplicationModal);
    ShowForm();
    raise();
    activateWindow();
    FModalResult = 0;
    Application->RunNestedLoop([this] { return FModalResult != 0; });
    if (Application->Terminated()) FModalResult = 2;
    hide();
    setWindowModality(Qt::NonModal);
  }
  return FModalResult;
}

void TForm::BindModalResult(QAbstractButton* Button, int Result) {
  connect(Button, &QAbstractButton::clicked, this, [this, Result] { SetModalResult(Result); });
}
