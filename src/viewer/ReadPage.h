#pragma once

#include "FileOffset.h"
#include "TextEncoding.h"

#include <cstdint>
#include <cstddef>
#include <stdexcept>
#include <string>

struct stat;

// Reads one screen page of FileName from Start: bytes in file order, unchanged, counting screen lines
// of 2 * CharsPerLine columns (a line feed ends a line) and stopping once LinesPerPage - 1 lines are
// counted or the file ends. The file is opened for this call alone (within a TFileVisit, the visit's
// descriptor is duplicated) and closed before returning.
// When the file can be opened, PageEnd receives the offset just past the last byte read; when it
// cannot (missing, unreadable, not a regular file), the text is empty and PageEnd is left alone.
//
// A GB18030 byte is one column, read one at a time through the stream. In the other encodings a
// character takes the columns of its GB18030 form, counted one at a time as if its bytes were read,
// so the same text gives the same pages in every encoding; only the code unit line feed ends a line.
// A page that such a count ends inside a character ends inside its bytes as far as they allow (and
// the next page, starting there, counts only the character's columns left).
std::string ReadPage(const std::string& FileName, TFileOffset Start, int LinesPerPage, int CharsPerLine,
                     TFileOffset& PageEnd, TTextEncoding Encoding = TTextEncoding::Gb18030);

// Size of FileName in bytes, or 0 when it cannot be opened as a regular file.
TFileOffset MeasureFileSize(const std::string& FileName);

// What tells one state of a file from another, for noticing that the open file changed between two
// commands: whether it can be read, its size, which file the name leads to, and when it was written.
struct TFileFacts {
  bool Readable = false;
  TFileOffset Size = 0;
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t ModifiedNs = 0;

  bool operator==(const TFileFacts&) const = default;
};

// Why a file cannot be read as pages of text.
enum class TFileProblem {
  None,
  Missing,         // no such file (or a folder on its path is none)
  NoPermission,    // the reader may not read it
  LinkLoop,        // symbolic links that lead round in a circle
  NotRegularFile,  // a folder, a FIFO, a device or a socket
  Unreadable,      // anything else the system refuses
};

// The reason as the reader is told it: "文件不存在", "没有读取权限", "符号链接循环", "不是普通文件",
// "无法读取"; empty for None.
std::string FileProblemText(TFileProblem Problem);

// A scan that cannot open its file at all: what() is the reason, as FileProblemText says it.
class EFileUnreadable : public std::runtime_error {
public:
  explicit EFileUnreadable(TFileProblem Problem) : std::runtime_error(FileProblemText(Problem)), FProblem(Problem) {}
  TFileProblem Problem() const { return FProblem; }

private:
  TFileProblem FProblem;
};

// The facts of FileName now; a file that cannot be opened as a regular file is not Readable, size 0,
// and Problem (when given) receives why (None when it is Readable).
TFileFacts InspectFile(const std::string& FileName, TFileProblem* Problem = nullptr);

// The facts of a regular file as its status gives them (Readable).
TFileFacts FileFactsOf(const struct stat& Info);

// A descriptor of FileName open for reading, or -1 when it is not a regular file that can be read. A
// directory opens on this platform and then fails every read, and a FIFO without a writer would block
// the open itself (hence non-blocking until the type is known): neither counts as openable. Problem,
// when given, receives why not (None on success).
int OpenRegularFile(const std::string& FileName, TFileProblem* Problem = nullptr);

// While one lives on a thread, the opens of one file there share a descriptor: the first open of a
// file makes it, the later ones of the same name get a duplicate. One command that looks at the file,
// reads a page and looks back before it then finds the file once by its name, and every part of it
// reads the same file. Visits nest: an inner one leaves the outer one's descriptor in use.
class TFileVisit {
public:
  TFileVisit();
  ~TFileVisit();
  TFileVisit(const TFileVisit&) = delete;
  TFileVisit& operator=(const TFileVisit&) = delete;

private:
  friend int OpenRegularFile(const std::string& FileName, TFileProblem* Problem);
  bool FOutermost;
  std::string FFileName;
  int FFd = -1;
};

// Count bytes of the open descriptor Fd from From into Out, fewer where the file ends or a read fails:
// the number read.
std::size_t ReadAt(int Fd, TFileOffset From, char* Out, std::size_t Count);

// Up to Count bytes of FileName from Start (fewer where the file ends), for a look beside a page: the
// sample that decides the encoding, the bytes before a page. Opened for this call alone, like
// ReadPage; empty when the file cannot be opened or Start is outside it.
std::string ReadBytes(const std::string& FileName, TFileOffset Start, std::size_t Count);
