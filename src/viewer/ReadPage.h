#pragma once

#include "FileOffset.h"

#include <string>

// Reads one screen page of FileName from Start: bytes in file order, unchanged, counting screen lines
// of 2 * CharsPerLine bytes (a line feed ends a line) and stopping once LinesPerPage - 1 lines are
// counted or the file ends. The file is opened for this call alone and closed before returning.
// When the file can be opened, PageEnd receives the offset just past the last byte read; when it
// cannot (missing, unreadable, not a regular file), the text is empty and PageEnd is left alone.
std::string ReadPage(const std::string& FileName, TFileOffset Start, int LinesPerPage, int CharsPerLine,
                     TFileOffset& PageEnd);

// Size of FileName in bytes, or 0 when it cannot be opened as a regular file.
TFileOffset MeasureFileSize(const std::string& FileName);
