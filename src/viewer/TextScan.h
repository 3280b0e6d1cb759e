#pragma once

// The pieces the streaming scans of a file share (FindText's search, ScanChapters' headings): the
// compiled query, the file held open for one scan, line feeds in any encoding and the regular
// expression matcher. Private to the engine: it brings PCRE2 with it.

#include "FileOffset.h"
#include "ReadPage.h"
#include "TextEncoding.h"
#include "TextSearch.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

// A stretch of the plain query's bytes: where the two cases of a letter differ, either form matches.
struct TNeedleSpan {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  bool TwoCases = false;
};

struct TSearchPattern::TImpl {
  TSearchQuery Query;
  TTextEncoding Encoding = TTextEncoding::Gb18030;

  // Plain text: the query in the file's bytes, and the same with every Latin letter in its other case
  // (equal to Needle when the case must match). Both cases of a letter take as many bytes.
  std::string Needle;
  std::string Other;
  std::vector<TNeedleSpan> Spans;
  // The two bytes the scan looks at first, by their place in the needle: the rarest ones.
  std::size_t ProbeFirst = 0;
  std::size_t ProbeSecond = 0;

  // A regular expression, over UTF-8 (the file's own bytes, or a block decoded to it).
  pcre2_code* Code = nullptr;

  TImpl() = default;
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;
  ~TImpl() { pcre2_code_free(Code); }
};

// Ends a scan early with its outcome.
struct TStop {
  TSearchOutcome Outcome;
};

// The file, open for one scan: reads whole stretches and notices a change. It opens as the page
// reader does (a regular file only; a FIFO does not block the open), or throws EFileUnreadable with
// the reason, and takes the facts from the descriptor it reads. A scan covers the bytes there at its
// start, Size(). After each read the name must still lead to that file with the same facts (one stat,
// not a reopen: a search reads the file thousands of times a second when hits are close), or with
// more bytes added at its end, as a log grows: then its first bytes and its last before Size() must
// be as they were, which a file written anew seldom leaves them.
class TSearchFile {
public:
  explicit TSearchFile(const std::string& FileName) : FFileName(FileName) {
    TFileProblem Problem = TFileProblem::None;
    FFd = OpenRegularFile(FileName, &Problem);
    if (FFd < 0) throw EFileUnreadable(Problem);
    struct stat Info {};
    if (::fstat(FFd, &Info) != 0) {
      ::close(FFd);
      throw EFileUnreadable(TFileProblem::Unreadable);
    }
    FFacts = FileFactsOf(Info);
    FSeen = FFacts;
    FHead = Sample(0);
    FTail = Sample(TailFrom());
  }
  ~TSearchFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TSearchFile(const TSearchFile&) = delete;
  TSearchFile& operator=(const TSearchFile&) = delete;

  TFileOffset Size() const { return FFacts.Size; }

  // Bytes [From, To) into Out, all of them, and (Check) the file unchanged since the scan began.
  void Read(TFileOffset From, TFileOffset To, char* Out, bool Check = true) {
    const auto Count = static_cast<std::size_t>(To - From);
    if (ReadAt(FFd, From, Out, Count) != Count) throw TStop{TSearchOutcome::FileChanged};  // cut short, or unreadable
    if (Check) CheckUnchanged();
  }

private:
  static constexpr std::size_t SampleBytes = 64;

  TFileOffset TailFrom() const { return std::max<TFileOffset>(0, FFacts.Size - static_cast<TFileOffset>(SampleBytes)); }
  std::string Sample(TFileOffset From) const {
    std::string Bytes(SampleBytes, '\0');
    Bytes.resize(ReadAt(FFd, From, Bytes.data(), static_cast<std::size_t>(std::min<TFileOffset>(
                                                   FFacts.Size - From, static_cast<TFileOffset>(SampleBytes)))));
    return Bytes;
  }

  void CheckUnchanged() {
    struct stat Info {};
    if (::stat(FFileName.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode)) throw TStop{TSearchOutcome::FileChanged};
    const TFileFacts Now = FileFactsOf(Info);
    if (Now == FSeen) return;
    const bool Grown = Now.Device == FFacts.Device && Now.Inode == FFacts.Inode && Now.Size > FSeen.Size;
    if (!Grown || Sample(0) != FHead || Sample(TailFrom()) != FTail) throw TStop{TSearchOutcome::FileChanged};
    FSeen = Now;
  }

  const std::string& FFileName;
  TFileFacts FFacts;  // at the scan's start
  TFileFacts FSeen;   // at the last read: the same, or grown since
  std::string FHead;  // the first bytes, and the last before the start's size, as they were then
  std::string FTail;
  int FFd = -1;
};

inline constexpr std::size_t NoLineFeed = static_cast<std::size_t>(-1);

// Just past the first (Last: the last) line feed of the encoding that lies whole in Bytes[From, To);
// BufferFrom is the file offset of Bytes[0], for UTF-16's even code units.
std::size_t AfterLineFeed(TTextEncoding Encoding, std::string_view Bytes, TFileOffset BufferFrom, std::size_t From,
                          std::size_t To, bool Last);

// The matcher of one compiled regular expression, for one scan at a time.
class TRegexMatcher {
public:
  explicit TRegexMatcher(const TSearchPattern::TImpl& Pattern);
  ~TRegexMatcher();
  TRegexMatcher(const TRegexMatcher&) = delete;
  TRegexMatcher& operator=(const TRegexMatcher&) = delete;

  // The first (Backward: the last) non-empty match in Subject that starts in [From, Limit), as offsets
  // of its start and end. Throws ESearchQuery when the pattern needs more backtracking than PCRE2 allows.
  std::optional<std::pair<std::size_t, std::size_t>> Match(std::string_view Subject, std::size_t From,
                                                           std::size_t Limit, std::uint32_t Options, bool Backward);
  // Whether group Number took part in the match Match found last.
  bool Took(int Number) const;

private:
  const pcre2_code* FCode;
  pcre2_match_data* FMatch = nullptr;
  pcre2_match_context* FContext = nullptr;
  pcre2_jit_stack* FStack = nullptr;
};
