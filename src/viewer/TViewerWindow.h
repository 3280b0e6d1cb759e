#pragma once

#include "PageRows.h"
#include "TextEncoding.h"

#include <cstddef>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>

class TViewerScrollBar;

// What the viewer commands need of the window around them: the text area's font and size, where the
// page, the messages and the caption go, the two dialogs, the beep and the scroll bar. The main
// window gives its real controls; the engine's tests give recordings and a scroll bar of their own.
class TViewerWindow {
public:
  virtual ~TViewerWindow() = default;

  // The text area's font Height (negative: character height in pixels; 0: the default size).
  virtual int TextFontHeight() const = 0;
  // The height in pixels that the text area's font really renders at.
  virtual int TextFontRenderedHeight() const = 0;
  virtual int TextClientWidth() const = 0;
  virtual int TextClientHeight() const = 0;
  // How many pixels the text area advances for the character Code, as it draws it: what a page laid
  // out in rows is counted with. By default a Chinese character is as wide as the font is high and any
  // other half as wide.
  virtual int TextAdvance(char32_t Code) const {
    const int Pitch = std::max(std::abs(TextFontHeight()), 1);
    return Gb18030Columns(Code) >= 2 ? Pitch : Pitch / 2;
  }
  // The text area lays out the pages it is given by Layout from now on.
  virtual void SetTextLayout(const TLayoutSettings& Layout) { (void)Layout; }

  // Replaces the text area's whole text with the page's whole characters.
  virtual void ShowPage(const std::string& PageText) = 0;
  // Highlights Length bytes from From of the text last shown, and keeps them in view.
  virtual void ShowMatch(std::size_t From, std::size_t Length) = 0;
  // The encoding the text area shows pages in, and whether it is the detected one (自动检测) or one
  // chosen by hand: the Setup menu marks which.
  virtual void SetTextEncoding(TTextEncoding Encoding, bool Detected) = 0;
  // Where the page on screen lies in the file, for the tool bar: its share ("37.4%") and the title
  // of its chapter (empty while none is known), after its volume's in a book of volumes.
  virtual void ShowWhere(const std::string& Share, const std::string& Chapter) = 0;
  // The chapter headings found, or the state of their scan, have changed (see TViewerState::Chapters).
  virtual void ChaptersChanged() = 0;
  // The message panel of the status bar.
  virtual void ShowStatus(const std::string& Text) = 0;
  virtual void SetCaption(const std::string& Text) = 0;

  // Runs the open dialog; on confirm, FileName receives the chosen file's full path.
  virtual bool ChooseFile(std::string& FileName) = 0;
  // Runs the font dialog from the text area's font; on confirm the text area takes the chosen font.
  virtual bool ChooseTextFont() = 0;
  // Gives the text area's font another Height (same convention as TextFontHeight), the rest of the
  // font kept.
  virtual void SetTextFontHeight(int Height) = 0;

  virtual void Beep() = 0;
  // Runs Call on this (the GUI) thread once the current command and the events before it are done:
  // how a background search hands its results over.
  virtual void RunLater(std::function<void()> Call) = 0;
  virtual TViewerScrollBar& ScrollBar() = 0;

  // What the reader chose for a file before, offered as it opens: the encoding he picked by hand, and
  // the chapter rule he picked in 目录 (by its name). Nothing by default: detected, and chosen per book.
  struct TKeptChoices {
    std::optional<TTextEncoding> Encoding;
    std::string ChapterRule;
  };
  virtual TKeptChoices KeptChoices(const std::string& /*Path*/) { return {}; }
  // The open file is about to be left for another (the page on screen still its own).
  virtual void FileLeaving() {}
  // A file has just been opened, its first page shown.
  virtual void FileOpened() {}
  // A page turn or a jump moved the page on screen (not a new font, encoding or file).
  virtual void PageMoved() {}
};
