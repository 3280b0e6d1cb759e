#include "TForm.h"

#include "Exception.h"
#include "TApplication.h"
#include "VirtualKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QWindow>

#include <algorithm>

namespace {

// How long the menu bar stays over the page in full screen once the pointer has left it (and no menu
// is open), or after Alt when the pointer never came.
constexpr int MenuBarOverPageMs = 1500;

// The items of Menus and of every menu under them, separators and submenus left out.
void CollectItems(const QList<QAction*>& Menus, std::vector<QAction*>& Items) {
  for (QAction* Action : Menus) {
    if (QMenu* Menu = Action->menu())
      CollectItems(Menu->actions(), Items);
    else if (!Action->isSeparator())
      Items.push_back(Action);
  }
}

}  // namespace

TForm::TForm(QWidget* Parent) : QMainWindow(Parent) {
  FMenuBarOverPageCheck.setSingleShot(true);
  FMenuBarOverPageCheck.setInterval(MenuBarOverPageMs);
  connect(&FMenuBarOverPageCheck, &QTimer::timeout, this, &TForm::CheckMenuBarOverPage);
}

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

// The window's own events, before any control: the window is exposed only once the window manager
// has placed and sized it; input arrives here before the control with the focus or under the pointer
// gets it.
bool TForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched != windowHandle()) return QMainWindow::eventFilter(Watched, Event);
  switch (Event->type()) {
  case QEvent::Expose:
    if (windowHandle()->isExposed() && FWhenShown) {
      const std::function<void()> Call = std::move(FWhenShown);
      FWhenShown = nullptr;
      Call();
    }
    break;
  case QEvent::KeyPress: {
    const auto* Key = static_cast<QKeyEvent*>(Event);
    if (FBarsHidden && Key->key() == Qt::Key_Alt) ShowMenuBarOverPage();
    if (OnUserInput)
      OnUserInput(this, VirtualKeyOf(Key->key(), Key->modifiers()),
                  ShiftStateOf(Key->modifiers(), QGuiApplication::mouseButtons()));
    break;
  }
  case QEvent::MouseButtonPress:
  case QEvent::Wheel: {
    const auto* Input = static_cast<QSinglePointEvent*>(Event);
    if (OnUserInput) OnUserInput(this, 0, ShiftStateOf(Input->modifiers(), Input->buttons()));
    break;
  }
  case QEvent::MouseMove:
    FPointer = static_cast<QMouseEvent*>(Event)->position().toPoint();
    // The screen's top edge: a pointer cannot go further up.
    if (FBarsHidden && FPointer.y() < 2) ShowMenuBarOverPage();
    break;
  default: break;
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TForm::SetFullScreen(bool Value) {
  // The other states stay set beside full screen, so leaving it brings back a maximized window.
  setWindowState(Value ? windowState() | Qt::WindowFullScreen : windowState() & ~Qt::WindowFullScreen);
}

bool TForm::MenuBarOverPage() const { return FMenuBarOverPage && FMenuBarOverPage->isVisible(); }

void TForm::SetToolBarOverPage(QToolBar* Bar, bool Shown) {
  const auto Found = std::find(FToolBarsOverPage.begin(), FToolBarsOverPage.end(), Bar);
  if (Shown == (Found != FToolBarsOverPage.end())) return;
  if (Shown)
    FToolBarsOverPage.push_back(Bar);
  else
    FToolBarsOverPage.erase(Found);
  PlaceBarsOverPage();
}

// Runs inside the change of the window state, before the window takes its new size: the central
// widget is laid out once, at the full screen's size.
void TForm::HideBars(bool Hidden) {
  FBarsHidden = Hidden;
  if (Hidden) {
    if (QWidget* Menus = menuWidget()) {
      // A menu item's shortcut counts only while a widget that holds the item shows.
      std::vector<QAction*> Items;
      CollectItems(Menus->actions(), Items);
      for (QAction* Item : Items) {
        if (actions().contains(Item)) continue;
        addAction(Item);
        FActionsTaken.emplace_back(Item);
      }
      if (!Menus->isHidden()) {
        Menus->hide();
        FHiddenBars.emplace_back(Menus);
      }
    }
    // Out of the layout, so that one can show over the page without moving it.
    for (QToolBar* Bar : findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
      const Qt::ToolBarArea Area = toolBarArea(Bar);
      if (Area == Qt::NoToolBarArea) continue;
      if (!Bar->isHidden()) FHiddenBars.emplace_back(Bar);
      FRemovedToolBars.emplace_back(Bar, Area);
      removeToolBar(Bar);
    }
    if (auto* Status = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly); Status && !Status->isHidden()) {
      Status->hide();
      FHiddenBars.emplace_back(Status);
    }
    PlaceBarsOverPage();
    return;
  }
  FMenuBarOverPageCheck.stop();
  if (FMenuBarOverPage) FMenuBarOverPage->hide();
  for (const auto& [Bar, Area] : FRemovedToolBars) {
    if (!Bar) continue;
    Bar->hide();
    addToolBar(Area, Bar);
  }
  for (const QPointer<QWidget>& Bar : FHiddenBars)
    if (Bar) Bar->show();
  for (const QPointer<QAction>& Item : FActionsTaken)
    if (Item) removeAction(Item);
  FRemovedToolBars.clear();
  FHiddenBars.clear();
  FActionsTaken.clear();
}

void TForm::ShowMenuBarOverPage() {
  auto* Menus = qobject_cast<QMenuBar*>(menuWidget());
  if (!Menus) return;
  if (!FMenuBarOverPage) FMenuBarOverPage = new QMenuBar(this);
  // The same menus, as the menu bar holds them now.
  if (FMenuBarOverPage->actions() != Menus->actions()) {
    FMenuBarOverPage->clear();
    FMenuBarOverPage->addActions(Menus->actions());
  }
  FMenuBarOverPage->setGeometry(0, 0, width(), FMenuBarOverPage->sizeHint().height());
  FMenuBarOverPage->show();
  FMenuBarOverPage->raise();
  FMenuBarOverPageCheck.start();
}

void TForm::CheckMenuBarOverPage() {
  if (!MenuBarOverPage()) return;
  const bool Pointed = FMenuBarOverPage->geometry().contains(FPointer);
  if (Pointed || FMenuBarOverPage->activeAction() || QApplication::activePopupWidget())
    FMenuBarOverPageCheck.start();
  else
    FMenuBarOverPage->hide();
}

void TForm::PlaceBarsOverPage() {
  if (!FBarsHidden) return;
  if (MenuBarOverPage()) FMenuBarOverPage->setGeometry(0, 0, width(), FMenuBarOverPage->sizeHint().height());
  int Bottom = height();
  for (const auto& [Bar, Area] : FRemovedToolBars) {
    if (!Bar) continue;
    const bool Over = std::find(FToolBarsOverPage.begin(), FToolBarsOverPage.end(), Bar) != FToolBarsOverPage.end();
    if (Over) {
      const int Height = std::clamp(Bar->sizeHint().height(), Bar->minimumHeight(), Bar->maximumHeight());
      Bottom -= Height;
      Bar->setGeometry(0, Bottom, width(), Height);
      Bar->raise();
    }
    Bar->setVisible(Over);
  }
}

void TForm::resizeEvent(QResizeEvent* Event) {
  QMainWindow::resizeEvent(Event);
  PlaceBarsOverPage();
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
  if (windowHandle()) windowHandle()->installEventFilter(this);
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
    if (State.testFlag(Qt::WindowFullScreen) != FBarsHidden) HideBars(!FBarsHidden);
  }
  QMainWindow::changeEvent(Event);
  if (Event->type() == QEvent::ActivationChange && !isActiveWindow() && OnDeactivate) OnDeactivate(this);
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
