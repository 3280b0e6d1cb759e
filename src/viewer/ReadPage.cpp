#include "ReadPage.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Only regular files are pages of text. A directory opens on this platform and then fails every
// read, and a FIFO without a writer would block the open itself (hence O_NONBLOCK until the type is
// known), so anything that is not a regular file counts as a file that cannot be opened.
FilePtr OpenForReading(const std::string& FileName) {
  if (FileName.find('\0') != std::string::npos) return nullptr;
  const int Fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (Fd < 0) return nullptr;
  struct stat Info {};
  if (::fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode)) {
    ::close(Fd);
    return nullptr;
  }
  ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
  FilePtr File(::fdopen(Fd, "rb"));
  if (!File) ::close(Fd);
  return File;
}

}  // namespace

std::string ReadPage(const std::string& FileName, TFileOffset Start, int LinesPerPage, int CharsPerLine,
                     TFileOffset& PageEnd) {
  const FilePtr File = OpenForReading(FileName);
  if (!File) return {};
  std::FILE* Stream = File.get();

  std::string Page;
  std::rewind(Stream);
  // A start the stream refuses (negative) reads nothing; the end offset is then where the stream stands.
  if (::fseeko(Stream, Start, SEEK_SET) == 0) {
    const std::int64_t LineCapacity = 2 * std::int64_t{CharsPerLine};
    const std::int64_t LineLimit = std::int64_t{LinesPerPage} - 1;
    std::int64_t Column = 0;
    std::int64_t Line = 0;
    // A read error ends the page like the end of the file does, so a failing stream cannot loop forever.
    // The stream is this call's alone, so its state is read without taking its lock.
    while (!feof_unlocked(Stream)) {
      const int Byte = getc_unlocked(Stream);
      if (Byte == EOF) break;
      if (++Column >= LineCapacity) {
        ++Line;
        Column = 0;
      }
      if (Byte == '\n') {  // also when the same byte just filled the line: it then counts twice
        ++Line;
        Column = 0;
      }
      Page.push_back(static_cast<char>(Byte));
      if (Line >= LineLimit) break;
    }
  }
  const off_t End = ::ftello(Stream);
  if (End >= 0) PageEnd = End;
  return Page;
}

TFileOffset MeasureFileSize(const std::string& FileName) {
  const FilePtr File = OpenForReading(FileName);
  if (!File) return 0;
  std::rewind(File.get());
  if (::fseeko(File.get(), 0, SEEK_END) != 0) return 0;
  const off_t Size = ::ftello(File.get());
  return Size < 0 ? 0 : Size;
}

TFileFacts InspectFile(const std::string& FileName) {
  TFileFacts Facts;
  const FilePtr File = OpenForReading(FileName);
  struct stat Info {};
  if (!File || ::fstat(::fileno(File.get()), &Info) != 0) return Facts;
  Facts.Readable = true;
  Facts.Size = Info.st_size;
  Facts.Device = Info.st_dev;
  Facts.Inode = Info.st_ino;
  Facts.ModifiedNs = std::int64_t{Info.st_mtim.tv_sec} * 1'000'000'000 + Info.st_mtim.tv_nsec;
  return Facts;
}

std::string ReadBytes(const std::string& FileName, TFileOffset Start, std::size_t Count) {
  const FilePtr File = OpenForReading(FileName);
  if (!File || Start < 0 || ::fseeko(File.get(), Start, SEEK_SET) != 0) return {};
  std::string Bytes(Count, '\0');
  Bytes.resize(std::fread(Bytes.data(), 1, Count, File.get()));
  return Bytes;
}
