#pragma once

#include "FileOffset.h"
#include "TextEncoding.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// Finding a text in a file of any size: the query compiled once for the bytes of one encoding, then a
// streaming scan of the file in blocks, forward or backward, that wraps around once. Only hits that
// start on a character of the encoding count, so bytes that merely look like the query across two
// characters (a GB18030 trail byte and the next lead, an odd UTF-16 offset) are passed over.

struct TSearchQuery {
  std::string Text;        // as the reader typed it, UTF-8
  bool MatchCase = false;  // false: Latin letters match in either case, ASCII and full-width (Ａ/ａ)
  bool Regex = false;      // a PCRE2 regular expression over the decoded text (UTF mode, multiline: ^ and $ at line ends)
};

// A query that cannot be searched for: empty, a text the encoding cannot hold, or a pattern that
// does not compile. what() is a message for the reader in Chinese; for a pattern it says where,
// e.g. "正则表达式第 5 个字符处缺少“)”". FindText throws it too (see there).
class ESearchQuery : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A query compiled for the bytes of one encoding. Const after construction; one pattern may serve
// one search at a time.
class TSearchPattern {
public:
  TSearchPattern(const TSearchQuery& Query, TTextEncoding Encoding);  // throws ESearchQuery
  ~TSearchPattern();
  TSearchPattern(const TSearchPattern&) = delete;
  TSearchPattern& operator=(const TSearchPattern&) = delete;

  const TSearchQuery& Query() const;
  TTextEncoding Encoding() const;

  // What the scans work from; defined in TextScan.h, which only the engine includes.
  struct TImpl;
  const TImpl& Impl() const { return *FImpl; }

private:
  std::unique_ptr<TImpl> FImpl;
};

struct TSearchHit {
  TFileOffset Start = 0;   // byte offset of the match in the file
  TFileOffset Length = 0;  // its length in the file's bytes (>= 1)
};

enum class TSearchOutcome { Found, NotFound, Cancelled, FileChanged };

struct TSearchResult {
  TSearchOutcome Outcome = TSearchOutcome::NotFound;
  TSearchHit Hit;
  bool Wrapped = false;  // the search went on from the other end of the file (the hit lies there)
};

// Share searched so far, 0..1000, and whether the search has gone on from the other end.
using TSearchProgress = std::function<void(int Permille, bool Wrapped)>;

// The most a search reads at once. Its first block is smaller (64 KiB, then doubling), so a hit near
// the start comes back at once. Larger blocks are no faster (measured: bench/search.sh), and a fresh
// buffer of a few MiB costs more to fault in than a search of a small file takes.
constexpr std::size_t SearchBlockBytes = 256 * 1024;

// Finds in FileName the first hit that starts at or after From (Backward: the last hit that starts
// before From), and when there is none up to the end (the start), goes on once from the other end
// of the file up to From. Only hits that start (and end) on a character boundary of the encoding
// count; a file's byte-order mark is no text. The file is opened for this call alone and read in
// blocks of at most BlockBytes (memory stays flat, whatever the file's size). A plain query is found
// across two blocks. A regular expression is matched a few lines at a time, its blocks ending after a
// line feed: a match inside a line is always found, one that spans a line feed may be missed, and on a
// line longer than a block a match is looked for within half a block of where it starts. Cancel is
// checked between blocks: Cancelled. The search covers the bytes there when it began: a file that
// grows meanwhile, as a log does, is searched on; FileChanged: it changes in any other way (its facts,
// those of InspectFile). Progress, when given, is called after a block whenever the share has grown
// (on the searching thread). Throws EFileUnreadable (ReadPage.h) when the file cannot be opened, ESearchQuery when a
// pattern needs more backtracking on some line than PCRE2 allows.
TSearchResult FindText(const std::string& FileName, const TSearchPattern& Pattern, TFileOffset From, bool Backward,
                       const std::atomic<bool>& Cancel, const TSearchProgress& Progress = {},
                       std::size_t BlockBytes = SearchBlockBytes);
