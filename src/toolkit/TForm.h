#pragma once

#include "ShiftState.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QEventLoop;
class QMenuBar;
class QMimeData;
class QToolBar;

// A top-level window of the program. Beyond QMainWindow it has a caption that is only handed on when
// it changes, a placement applied the first time it is shown, a window state to show it in, the close
// operation (the main form's close ends the program; a modal form's close only sets its result), and
// modal showing with a ModalResult, a nested loop and the other windows disabled. Enter clicks the
// form's default push button even outside a QDialog; Escape does nothing. It can cover the whole
// screen with its central widget alone, take files dropped on it, run a call once it is first on
// screen, and tell of the user's input and of losing the activation.
class TForm : public QMainWindow {
  Q_OBJECT
public:
  enum TPosition { poDesigned, poScreenCenter, poDesktopCenter };
  enum TWindowState { wsNormal, wsMinimized, wsMaximized };
  using TNotifyEvent = std::function<void(QObject* Sender)>;
  using TDropFilesEvent = std::function<void(QObject* Sender, const std::vector<std::string>& Files)>;

  explicit TForm(QWidget* Parent = nullptr);
  ~TForm() override;

  // The window title (UTF-8); assigning the text it already has sends nothing to the window.
  std::string Caption() const;
  void SetCaption(const std::string& Caption);

  // 0 while a modal showing goes on; any other value ends it and is what ShowFormModal returns.
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int Result);

  // Where the next showing puts the window; used once, then poDesigned, so a window shown again
  // stays where it was.
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Position) { FPosition = Position; }

  // The state the next showing uses; follows the user's minimizing, maximizing and restoring.
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState State) { FWindowState = State; }

  bool IsModal() const { return FModal; }

  // Makes the window visible: placement by Position, then shown by WindowState.
  void ShowForm();

  // Runs Call once the window is first on screen, at the size the window manager gave it (a
  // maximized window learns its size only then); at once when it already is.
  void WhenShown(std::function<void()> Call);

  // The whole screen, without the frame; turned off, the window is in the state it had before. In full
  // screen only the central widget shows: the menu bar, the tool bars and the status bar are hidden
  // (the menus' shortcuts stay in force), and come back when it ends. The menu bar shows over the top
  // of the central widget, without changing its size, while the pointer touches the screen's top edge
  // or for a moment after Alt, and as long as one of its menus is open.
  bool FullScreen() const { return isFullScreen(); }
  void SetFullScreen(bool Value);
  // Whether the menu bar shows over the central widget in full screen now.
  bool MenuBarOverPage() const;
  // In full screen, Bar (one of the form's tool bars) shows over the bottom of the central widget
  // while Shown, without changing its size; outside full screen it stays where the layout has it.
  void SetToolBarOverPage(QToolBar* Bar, bool Shown);

  // Fires after the window's size changed, its controls laid out at the new size.
  TNotifyEvent OnResize;
  // Fires when files are dropped on the window, on any control that takes no drops of its own: the
  // local paths (file system bytes), one or more. Drops are taken only while it is set and the form
  // accepts drops (acceptDrops).
  TDropFilesEvent OnDropFiles;
  // While set, fires for every key that goes down in the window (a Windows virtual-key code) before
  // the control with the focus sees it, and with Key 0 for every mouse button pressed and every wheel
  // turned in it. A key that is a shortcut never arrives: its command runs instead.
  std::function<void(QObject* Sender, std::uint16_t Key, TShiftState Shift)> OnUserInput;
  // Fires when the window stops being the active one: another window or program took the focus.
  TNotifyEvent OnDeactivate;

  // The close operation: a modal form gets ModalResult 2; the main form asks the application to
  // terminate; any other form is hidden.
  void CloseForm();

  // Shows the form modally and returns its ModalResult (2 when the application terminates meanwhile).
  // A form that is visible, disabled or already modal raises EInvalidOperation. The loop is the
  // application object's, which must exist.
  int ShowFormModal();

  // A click on Button sets ModalResult to Result before anything else connected to it runs.
  void BindModalResult(QAbstractButton* Button, int Result);

protected:
  void closeEvent(QCloseEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void ApplyPosition();
  // Hides the bars around the central widget for full screen, or brings them back.
  void HideBars(bool Hidden);
  void ShowMenuBarOverPage();
  void PlaceBarsOverPage();
  // Hides the menu bar over the page once the pointer is off it and no menu is open.
  void CheckMenuBarOverPage();
  // The local files a drag carries; empty when it carries anything else.
  static std::vector<std::string> DroppedFiles(const QMimeData* Data);

  int FModalResult = 0;
  TPosition FPosition = poDesigned;
  TWindowState FWindowState = wsNormal;
  bool FModal = false; // being shown by ShowFormModal
  std::function<void()> FWhenShown;
  bool FBarsHidden = false;
  std::vector<QPointer<QWidget>> FHiddenBars;  // hidden for full screen, shown again after it
  std::vector<std::pair<QPointer<QToolBar>, Qt::ToolBarArea>> FRemovedToolBars;
  std::vector<QPointer<QAction>> FActionsTaken;  // the menus' items, held by the form in full screen
  std::vector<QPointer<QToolBar>> FToolBarsOverPage;
  QMenuBar* FMenuBarOverPage = nullptr;  // made the first time it is needed
  QTimer FMenuBarOverPageCheck;
  QPoint FPointer;  // where the pointer last moved in the window
};

inline void CloseForm(TForm& Form) { Form.CloseForm(); }
inline int ShowFormModal(TForm& Form) { return Form.ShowFormModal(); }
