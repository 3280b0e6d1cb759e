#pragma once

// The main window, TFrmMain, and how it meets the rest of the program:
//  - UMain.ui is its form definition: it creates the menu, the tool bar, the text area (TMemo), the
//    scroll bar (TScrollBar) and the status bar (TStatusBar) and sets their properties; SetupForm()
//    adds what a Qt form definition cannot hold (fonts in pixel heights, status panels, glyphs,
//    dialog settings).
//  - BindEvents() binds each control's event to the handler of the same name, in one place.
//  - The viewer state (TViewerState) holds the reading state and the commands. The window is the
//    state's TViewerWindow: it gives the commands the text area's font and size, takes the page text,
//    the messages and the caption, runs the dialogs and lends them the scroll bar. The handlers
//    (MnuOpenClick, TBDownClick, ...) are thin routes into the commands.
//  - Errors are exceptions: no handler catches any; the application object reports them.

#include "TFontDialog.h"
#include "TForm.h"
#include "TOpenDialog.h"
#include "TReadingStore.h"
#include "ShiftState.h"
#include "TViewerState.h"
#include "TViewerWindow.h"
#include "ui_UMain.h"

#include <QIcon>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class QAction;
class QLabel;
class QActionGroup;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class TBookmarkWindow;
class TChapterWindow;
class TElidedLabel;
class TFindBar;
class TMemo;
class TScrollBar;
class TStatusBar;
class TToolBar;

class TFrmMain : public TForm, public Ui::TFrmMain, private TViewerWindow {
  Q_OBJECT

public:
  TFrmMain();

  // The product's web page, opened by Help > Web.
  static constexpr const char* WebAddress = "https://pagorin.example.com/";

  // The form definition's controls and components are members by their names there (Ui::TFrmMain):
  // the menu bar MainMnu and its menus MnuFile, MnuEdit, MnuGo, MnuSetup, MnuHelp with their items
  // (MnuOpen, ...; MnuAutoTurn turns a page every AutoTurnSeconds until any input, MnuResume goes to
  // where the reader left the open file last time, MnuZoomIn and MnuZoomOut also answer Ctrl with the
  // wheel, MnuColours holds one scheme for the whole window, MnuLayout the page's layout, MnuRemember
  // keeps positions, bookmarks and settings between runs, MnuClearReading forgets them), the tool bar
  // ToolBar with TBUp and TBDown, the text area Memo, the scroll bar SclBar and the status bar StsBar.
  // The window owns them all. The menus' separators, in the order of the menus:
  QAction* N1;
  QAction* N4;
  QAction* N5;
  QAction* N7;
  QAction* N8;
  QAction* N3;
  QAction* N6;
  QAction* N9;
  QAction* N2;
  TOpenDialog OpenDlg;
  TFontDialog FontDlg;
  TFindBar* FindBar;      // in the tool bar, shown by Edit > Find
  QAction* FindBarShown;  // the tool bar's item for it: its visibility is the bar's
  QLabel* LblWhere;    // in the tool bar, right of the arrows: where the page on screen starts
  TElidedLabel* LblEncoding;  // beside it: the encoding the file is read in, and whether it was detected
  TElidedLabel* LblChapter;  // beside it: the title of that page's chapter, once the chapters are known
  // Beside them while the file just opened has a kept place, until the page moves: 继续阅读 37.5% 第十七章.
  QPushButton* TBResume;
  QAction* TBResumeShown;  // its visibility is the offer's
  const std::array<QIcon, 2> ImageList1;
  // One item per encoding the viewer knows, made from its table of encodings, in that order.
  std::vector<QAction*> MnuEncodings;

  QTimer* TmrAutoTurn;  // runs while Go > Auto turn is on

  TViewerState Viewer{*this};
  // The seconds Go > Auto turn waits between pages; + and - step them while it runs.
  int AutoTurnSeconds() const { return FAutoTurnSeconds; }
  TChapterWindow* ChapterWin;  // Go > Table of contents; made with the window, shown on demand
  TBookmarkWindow* BookmarkWin;  // Go > Bookmarks; the same
  // What the reader keeps between runs; read when the window is made.
  TReadingStore Store = TReadingStore::ForUser();
  ~TFrmMain() override;

  // The item of Setup > Text encoding that stands for Encoding.
  QAction* MnuEncodingOf(TTextEncoding Encoding) const;

  // Opens a file named from outside (the command line, a drop) as File > Open opens the one its
  // dialog chose; the dialog then offers it as its own choice. A folder opens nothing: a beep and a
  // message.
  void OpenFile(const std::string& Path);

private:
  void SetupForm();
  void BindEvents();

  // File
  void MnuOpenClick(QObject* Sender);
  void FormDropFiles(QObject* Sender, const std::vector<std::string>& Files);
  void MnuExitClick(QObject* Sender);

  // Paging
  void TBUpClick(QObject* Sender);
  void TBDownClick(QObject* Sender);
  void SclBarChange(QObject* Sender);
  void MemoKeyDown(QObject* Sender, std::uint16_t& Key, TShiftState Shift);
  void MemoMouseWheel(QObject* Sender, int Notches, TShiftState Shift);
  void FormResize(QObject* Sender);

  // Find
  void MnuFindClick(QObject* Sender);
  void FindBarFind(QObject* Sender, bool Backward);
  void FindBarClose(QObject* Sender);

  // Go
  void MnuGoToClick(QObject* Sender);
  void MnuContentsClick(QObject* Sender);
  void ChapterWinJump(QObject* Sender, std::size_t Index);
  // The reader picked a rule or changed them in 目录: the answer is empty, or why they cannot be used.
  std::string ChapterWinRules(QObject* Sender, const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick);
  void MnuAutoTurnClick(QObject* Sender);
  void TmrAutoTurnTimer(QObject* Sender);
  // Any command, key, click or wheel, and the window losing the focus, stop the auto turn; + and -
  // while it runs change its pace instead.
  void FormUserInput(QObject* Sender, std::uint16_t Key, TShiftState Shift);

  // Reading memory
  void MnuResumeClick(QObject* Sender);
  void MnuAddBookmarkClick(QObject* Sender);
  void MnuBookmarksClick(QObject* Sender);
  void BookmarkWinJump(QObject* Sender, std::size_t Row);
  void BookmarkWinDelete(QObject* Sender, std::size_t Row);
  void MnuRememberClick(QObject* Sender);
  void MnuClearReadingClick(QObject* Sender);

  // Setup
  void MnuFontSetupClick(QObject* Sender);
  // One handler for the items of Setup > Text encoding, told apart by Sender.
  void MnuEncodingClick(QObject* Sender);
  // One handler for the items of Setup > Colours, told apart by Sender.
  void MnuColoursClick(QObject* Sender);
  void MnuLayoutClick(QObject* Sender);

  // Help
  void MnuWebClick(QObject* Sender);
  void MnuAboutClick(QObject* Sender);

  // TViewerWindow: the viewer state's view of this window.
  int TextFontHeight() const override;
  int TextFontRenderedHeight() const override;
  int TextClientWidth() const override;
  int TextClientHeight() const override;
  int TextAdvance(char32_t Code) const override;
  void SetTextLayout(const TLayoutSettings& Layout) override;
  void ShowPage(const std::string& PageText) override;
  void ShowMatch(std::size_t From, std::size_t Length) override;
  void RunLater(std::function<void()> Call) override;
  // Runs the oldest call RunLater queued; Qt invokes it by name, once per call queued.
  Q_INVOKABLE void RunQueuedCall();
  void ShowWhere(const std::string& Share, const std::string& Chapter) override;
  void ChaptersChanged() override;
  void SetTextEncoding(TTextEncoding Encoding, bool Detected) override;
  void ShowStatus(const std::string& Text) override;
  void SetCaption(const std::string& Text) override;
  bool ChooseFile(std::string& FileName) override;
  bool ChooseTextFont() override;
  void SetTextFontHeight(int Height) override;
  void Beep() override;
  TViewerScrollBar& ScrollBar() override;
  TKeptChoices KeptChoices(const std::string& Path) override;
  void FileLeaving() override;
  void FileOpened() override;
  void PageMoved() override;

  // The kept settings given to the controls, at start.
  void ApplyKeptSettings();
  // The settings in use kept.
  void KeepSettings();
  // Keeps where the page on screen starts for the open file, if the reader has moved since it opened.
  void KeepPosition();
  // A problem of the store, said once in the message panel.
  void SayStoreProblem();
  // The chapter lists are kept in the store's folder while it remembers, else nowhere.
  void KeepChapters();
  // The open file's bookmarks, newest first.
  std::vector<TBookmark> Bookmarks() const;
  void ShowBookmarks(std::size_t Current = 0);

  // Ends the auto turn, if it runs, saying Why.
  void StopAutoTurn(const std::string& Why = "自动翻页已停止");
  void ShowAutoTurn();

  std::string FPageText;  // the page text last shown: a match's byte offsets count in it
  std::string FStatus;  // the message panel's text, as last given
  int FAutoTurnSeconds = 20;
  bool FFittedFullScreen = false;  // whether the page was last fitted to the window in full screen
  QString FEncodingTitle;  // Setup > Text encoding's own title, before the encoding in use
  std::optional<TFileOffset> FResumeAt;  // the open file's kept place, as it was when it opened
  bool FMovedSinceOpen = false;  // the reader has turned a page or jumped in the open file
  // The calls the scan threads hand over, in order, under a lock of their own.
  std::mutex FQueuedLock;
  std::deque<std::function<void()>> FQueued;
};

extern TFrmMain* FrmMain;
