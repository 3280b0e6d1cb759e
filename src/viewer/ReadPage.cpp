#include "ReadPage.h"

#include <algorithm>
#include <cerrno>
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

// Bytes read from a stream ahead of the page, for looking at a whole character before taking it.
class TAhead {
public:
  explicit TAhead(std::FILE* Stream) : FStream(Stream) {}

  // Reads on until Count bytes are at hand or the file ends.
  std::string_view Fill(std::size_t Count) {
    while (!FAtEnd && FBytes.size() < Count) {
      const int Byte = getc_unlocked(FStream);
      if (Byte == EOF)
        FAtEnd = true;
      else
        FBytes.push_back(static_cast<char>(Byte));
    }
    return FBytes;
  }
  void Take(std::size_t Count, std::string& To) {
    To.append(FBytes, 0, Count);
    FBytes.erase(0, Count);
  }
  void Drop(std::size_t Count) { FBytes.erase(0, Count); }
  std::size_t Size() const { return FBytes.size(); }

private:
  std::FILE* FStream;
  std::string FBytes;
  bool FAtEnd = false;
};

// The character at the start of Ahead, its bytes all read that are there; bytes that begin no
// character, or one the file's end cuts off, count as one code unit each.
TCharacter NextCharacter(const TEncodingRules& Rules, TAhead& Ahead) {
  TCharacter Character = Rules.Read(Ahead.Fill(Rules.CodeUnit));
  if (Character.Valid && Character.Length > Ahead.Size()) Character = Rules.Read(Ahead.Fill(Character.Length));
  if (!Character.Valid || Character.Length > Ahead.Size()) {
    Character.Valid = false;
    Character.Length = std::min(Rules.CodeUnit, Ahead.Size());
  }
  return Character;
}

// The page of an encoding whose characters count the columns of their GB18030 form. The stream
// stands at Start, or at up to three bytes before it when Start may lie inside a character.
std::string ReadCharacters(std::FILE* Stream, TFileOffset Start, const TEncodingRules& Rules, std::int64_t LineCapacity,
                           std::int64_t LineLimit, TFileOffset& End) {
  const TFileOffset Before = std::min<TFileOffset>(Start, 3);
  TAhead Ahead(Stream);
  std::string Page;
  std::int64_t Column = 0;
  std::int64_t Line = 0;
  // Counts one column; true once the page is full.
  const auto Count = [&](bool LineFeed) {
    if (++Column >= LineCapacity) {
      ++Line;
      Column = 0;
    }
    if (LineFeed) {
      ++Line;
      Column = 0;
    }
    return Line >= LineLimit;
  };
  // A page that starts inside a character takes its remaining bytes and counts its remaining
  // columns: those the page before it did not count when it ended there.
  std::size_t Inside = 0;
  TCharacter Character;
  const std::string_view Head = Ahead.Fill(static_cast<std::size_t>(Before) + 4);
  // Only a start inside the file can lie inside a character.
  const bool StartInFile = Head.size() > static_cast<std::size_t>(Before);
  for (std::size_t Back = 1; StartInFile && Back <= static_cast<std::size_t>(Before); ++Back) {
    const std::size_t At = static_cast<std::size_t>(Before) - Back;
    if ((Start - static_cast<TFileOffset>(Back)) % static_cast<TFileOffset>(Rules.CodeUnit) != 0) continue;
    const TCharacter Around = Rules.Read(Head.substr(At));
    if (Around.Valid && Around.Length > Back && At + Around.Length <= Head.size()) {
      Inside = Back;
      Character = Around;
      break;
    }
  }
  if (StartInFile && Inside == 0 && Start % static_cast<TFileOffset>(Rules.CodeUnit) != 0) {
    Inside = static_cast<std::size_t>(Start % static_cast<TFileOffset>(Rules.CodeUnit));
    Character = {Rules.CodeUnit, 0, false};
  }
  Ahead.Drop(static_cast<std::size_t>(Before));

  // The byte-order mark shows as nothing and takes no room.
  if (Start == 0 && Ahead.Fill(Rules.ByteOrderMark.size()).substr(0, Rules.ByteOrderMark.size()) == Rules.ByteOrderMark)
    Ahead.Take(Rules.ByteOrderMark.size(), Page);
  bool Full = false;
  while (!Full) {
    if (Inside == 0) {
      if (Ahead.Fill(1).empty()) break;
      Character = NextCharacter(Rules, Ahead);
    }
    const std::size_t Length = Character.Length;  // of the whole character; Inside of them lie before Start
    const std::size_t Columns = ColumnsOf(Rules, Character);
    const bool LineFeed = Character.Valid && Character.CodePoint == '\n';
    std::size_t Counted = std::min(Inside, Columns - 1);
    std::size_t Through = Length;  // where in the character the page's bytes of it end
    while (Counted < Columns) {
      ++Counted;
      if (Count(LineFeed && Counted == Columns)) {
        Full = true;
        // The page ends inside the character as far as its bytes allow, so the next counts the rest.
        if (Counted < Columns) Through = std::max(std::min(Counted, Length - 1), Inside + 1);
        break;
      }
    }
    Ahead.Take(std::min(Through - Inside, Ahead.Size()), Page);
    Inside = 0;
  }
  // Every byte taken from Start on is on the page; a start past the end takes none and ends there.
  End = Start + static_cast<TFileOffset>(Page.size());
  return Page;
}

}  // namespace

std::string ReadPage(const std::string& FileName, TFileOffset Start, int LinesPerPage, int CharsPerLine,
                     TFileOffset& PageEnd, TTextEncoding Encoding) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  const bool ByCharacter = !Rules.BytesAreColumns;
  const TFileOffset Before = ByCharacter && Start > 0 ? std::min<TFileOffset>(Start, 3) : 0;
  // A stream buffer that holds the whole page, so that the page comes in one read rather than block
  // by block: a GB18030 page is at most a byte a column, one in another encoding two (UTF-16 ASCII).
  // It outlives the stream (declared first).
  // Each factor is cut first: their product is cut to 4 MiB anyway, and whole ints would overflow it.
  const auto Factor = [](int Value) { return std::int64_t{std::clamp(Value, 1, 1 << 22)}; };
  const std::int64_t MostBytes = Factor(LinesPerPage) * 2 * Factor(CharsPerLine) * (ByCharacter ? 2 : 1);
  const auto BufferBytes = static_cast<std::size_t>(std::clamp<std::int64_t>(MostBytes + 16, 4096, 4 << 20));
  const std::unique_ptr<char[]> Buffer(new char[BufferBytes]);
  const int Fd = OpenRegularFile(FileName);
  if (Fd < 0) return {};
  // The descriptor is placed before the stream is made over it: the stream's first read then fills
  // the buffer from the page on, where a seek on the stream would first read only up to the next
  // multiple of the buffer's size. A start the descriptor refuses (negative) reads nothing; the end
  // offset is then where the stream stands, the file's start.
  const bool Placed = Start >= 0 && ::lseek(Fd, Start - Before, SEEK_SET) == Start - Before;
  const FilePtr File(::fdopen(Fd, "rb"));
  if (!File) {
    ::close(Fd);
    return {};
  }
  std::FILE* Stream = File.get();
  ::setvbuf(Stream, Buffer.get(), _IOFBF, BufferBytes);

  std::string Page;
  if (ByCharacter) {
    if (!Placed) {
      const off_t End = ::ftello(Stream);
      if (End >= 0) PageEnd = End;
      return Page;
    }
    const std::int64_t LineCapacity = 2 * std::int64_t{CharsPerLine};
    return ReadCharacters(Stream, Start, Rules, LineCapacity, std::int64_t{LinesPerPage} - 1, PageEnd);
  }
  if (Placed) {
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

TFileOffset MeasureFileSize(const std::string& FileName) { return InspectFile(FileName).Size; }

std::string FileProblemText(TFileProblem Problem) {
  switch (Problem) {
  case TFileProblem::None: return "";
  case TFileProblem::Missing: return "文件不存在";
  case TFileProblem::NoPermission: return "没有读取权限";
  case TFileProblem::LinkLoop: return "符号链接循环";
  case TFileProblem::NotRegularFile: return "不是普通文件";
  case TFileProblem::Unreadable: break;
  }
  return "无法读取";
}

namespace {

TFileProblem ProblemOfOpen(int Error) {
  switch (Error) {
  case ENOENT:
  case ENOTDIR: return TFileProblem::Missing;
  case EACCES:
  case EPERM: return TFileProblem::NoPermission;
  case ELOOP: return TFileProblem::LinkLoop;
  case EISDIR:
  case ENXIO:  // a socket, or a device without its hardware
  case ENODEV: return TFileProblem::NotRegularFile;
  default: return TFileProblem::Unreadable;
  }
}

// The visit under way on this thread, if any.
thread_local TFileVisit* Visiting = nullptr;

}  // namespace

TFileVisit::TFileVisit() : FOutermost(Visiting == nullptr) {
  if (FOutermost) Visiting = this;
}

TFileVisit::~TFileVisit() {
  if (!FOutermost) return;
  if (FFd >= 0) ::close(FFd);
  Visiting = nullptr;
}

int OpenRegularFile(const std::string& FileName, TFileProblem* Problem) {
  const auto Refuse = [Problem](TFileProblem Why) {
    if (Problem) *Problem = Why;
    return -1;
  };
  // No file has a NUL in its name; the system would read the name only up to it.
  if (FileName.find('\0') != std::string::npos) return Refuse(TFileProblem::Missing);
  if (Visiting && Visiting->FFd >= 0 && Visiting->FFileName == FileName) {
    const int Again = ::fcntl(Visiting->FFd, F_DUPFD_CLOEXEC, 0);
    if (Again >= 0) {
      if (Problem) *Problem = TFileProblem::None;
      return Again;
    }
  }
  const int Fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (Fd < 0) return Refuse(ProblemOfOpen(errno));
  struct stat Info {};
  const bool Known = ::fstat(Fd, &Info) == 0;
  if (!Known || !S_ISREG(Info.st_mode)) {
    ::close(Fd);
    return Refuse(Known ? TFileProblem::NotRegularFile : TFileProblem::Unreadable);
  }
  ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
  if (Problem) *Problem = TFileProblem::None;
  if (Visiting && Visiting->FFd < 0) {
    Visiting->FFd = ::fcntl(Fd, F_DUPFD_CLOEXEC, 0);
    Visiting->FFileName = FileName;
  }
  return Fd;
}

TFileFacts InspectFile(const std::string& FileName, TFileProblem* Problem) {
  // Only regular files are pages of text.
  const int Fd = OpenRegularFile(FileName, Problem);
  if (Fd < 0) return TFileFacts{};
  struct stat Info {};
  const bool Known = ::fstat(Fd, &Info) == 0;
  ::close(Fd);
  if (!Known && Problem) *Problem = TFileProblem::Unreadable;
  return Known ? FileFactsOf(Info) : TFileFacts{};
}

TFileFacts FileFactsOf(const struct stat& Info) {
  TFileFacts Facts;
  Facts.Readable = true;
  Facts.Size = Info.st_size;
  Facts.Device = Info.st_dev;
  Facts.Inode = Info.st_ino;
  Facts.ModifiedNs = std::int64_t{Info.st_mtim.tv_sec} * 1'000'000'000 + Info.st_mtim.tv_nsec;
  return Facts;
}

std::string ReadBytes(const std::string& FileName, TFileOffset Start, std::size_t Count) {
  if (Start < 0) return {};
  const int Fd = OpenRegularFile(FileName);
  if (Fd < 0) return {};
  // Straight from the descriptor: one read where a stream would read up to its buffer's boundaries.
  std::string Bytes(Count, '\0');
  Bytes.resize(ReadAt(Fd, Start, Bytes.data(), Count));
  ::close(Fd);
  return Bytes;
}

std::size_t ReadAt(int Fd, TFileOffset From, char* Out, std::size_t Count) {
  std::size_t Done = 0;
  while (Done < Count) {
    const ssize_t Got = ::pread(Fd, Out + Done, Count - Done, From + static_cast<TFileOffset>(Done));
    if (Got < 0 && errno == EINTR) continue;
    if (Got <= 0) break;
    Done += static_cast<std::size_t>(Got);
  }
  return Done;
}
