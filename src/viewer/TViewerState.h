#pragma once

#include "FileOffset.h"
#include "ReadPage.h"
#include "TCList.h"
#include "TextEncoding.h"

#include <optional>
#include <string>

class TViewerWindow;

// The reading state of the main window and the commands that move it: which file is open, where the
// page on screen starts and ends, how much text fits the text area, and how scroll positions map to
// byte offsets. The commands write their results through the window: page text, status message,
// caption and scroll bar. Scroll assignments come last in each command, because moving the position
// runs the scroll jump at once, nested, and it must see the state already up to date.
class TViewerState {
public:
  explicit TViewerState(TViewerWindow& Window) : FWindow(Window) {}

  void Open();          // File > Open
  void NextPage();      // tool button down, Page Down, Space
  void PreviousPage();  // tool button up, Page Up
  void ScrollJump();    // the scroll bar's position changed
  void FontSetup();     // Setup > Font
  // Setup > Text encoding: Choice, or the detected encoding (nullopt, 自动检测), for the page on
  // screen and every later page of this file.
  void ChooseEncoding(std::optional<TTextEncoding> Choice);

  std::string FileName;  // empty: no file is open
  TFileOffset PageStart = 0;
  int LinesPerPage = 0;
  TFileOffset FileSize = 0;
  TFileOffset PageEnd = 0;
  TFileOffset PageBytes = 0;  // length of the first page after opening
  int CharsPerLine = 0;
  TCList<TFileOffset> History;  // starts of the pages left by NextPage
  // Bytes per scroll position: PageBytes, grown just enough that a huge file's last position still
  // fits the scroll bar's 32-bit range, and never 0.
  TFileOffset ScrollStep = 1;
  // The encoding of the open file as detected when it was opened, and the one chosen by hand since.
  TTextEncoding DetectedEncoding = TTextEncoding::Gb18030;
  std::optional<TTextEncoding> ChosenEncoding;
  TTextEncoding Encoding() const { return ChosenEncoding.value_or(DetectedEncoding); }

private:
  void ComputeGeometry();
  // StartWhole: PageStart is known to begin a character (it ends a page shown whole), so no look
  // before the page is needed.
  void ReadPageAtStart(bool StartWhole = false);
  // Shows the whole characters of Page, read from PageStart (see ShownText).
  void ShowWholeCharacters(const std::string& Page, bool StartWhole);
  void SetScrollRange();
  void UpdateScrollBar();
  void ShowFileSize();
  // The open file as it is now against what the last command saw: FileSize and the scroll range follow
  // it, and a change that makes the offsets on hand stale leaves a notice for the end of the command.
  bool FollowFileChanges();
  // At the end of the outermost command only: a nested scroll jump must not bury it under its status.
  void ShowChangeNotice();

  TViewerWindow& FWindow;
  TFileFacts FFacts;          // of the open file, when the last command read it
  std::string FChangeNotice;  // shown as the command's last status
  int FRunning = 0;           // commands under way: a scroll jump runs nested inside the others
  bool FPageEndWhole = false;  // the page on screen ends on a character boundary
};
