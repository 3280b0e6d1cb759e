#pragma once

#include "FileOffset.h"
#include "TextEncoding.h"

#include <string>

// What a page shows of the bytes the page reader gave: its whole characters only. A character cut
// by the page's start belongs to the page before; one cut by its end shows whole here, finished from
// the few bytes after the page, and the next page, which starts inside it, leaves it out. So paging
// shows every character once.
struct TPageText {
  std::string Text;        // bytes of the page's whole characters, in the file's encoding
  std::size_t From = 0;    // where in the page's bytes Text begins
  bool EndsWhole = false;  // the page's bytes end on a character boundary
};

// The text Page shows, read from PageStart of FileName in Encoding. StartWhole: PageStart is known
// to begin a character (it ended a page shown whole), so nothing before the page is read; otherwise
// a GB18030 page whose first byte cannot tell is placed by one bounded read of the bytes before it.
TPageText ShownText(const std::string& FileName, TTextEncoding Encoding, TFileOffset PageStart, const std::string& Page,
                    bool StartWhole);
