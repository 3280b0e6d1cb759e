#pragma once

// The one streaming scan of a file under the search (plain and regular expression) and the chapter
// scan: it holds the file for the scan, reads it in blocks (the first small, then doubling), skips the
// byte-order mark, cuts blocks at line feeds when asked, notices a change, stops when cancelled,
// reports the share done and turns buffer positions into file offsets. Each scan is only a matcher of
// the blocks it is handed. Private to the engine.

#include "FileOffset.h"
#include "ReadPage.h"
#include "TextEncoding.h"
#include "TextSearch.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Ends a scan early with its outcome.
struct TStop {
  TSearchOutcome Outcome;
};

// One block as a matcher sees it: the file's bytes from BufferFrom on, of which matches are looked
// for that start in [From, To); the bytes around them are there for matches that begin before a
// character's start is known or end after To.
struct TScanBlock {
  std::string_view Bytes;
  TFileOffset BufferFrom = 0;
  std::size_t From = 0;
  std::size_t To = 0;
  // Line blocks: where the line that holds From starts, or where a character surely starts before it
  // when no line feed is in reach (then LineStarts is false: no line starts there).
  std::size_t LineStart = 0;
  bool LineStarts = false;
  bool TextEnd = false;  // Bytes end where the text ends: the last line's end is a line end

  TFileOffset Offset(std::size_t Pos) const { return BufferFrom + static_cast<TFileOffset>(Pos); }
};

// How a matcher wants the file cut.
struct TBlockEdges {
  // Blocks end after a line feed (backward: begin after one) and know their first line's start, so
  // that a match inside a line is never cut. A line longer than a block is cut: the block then covers
  // half of what it read, so a match that starts there has the other half to end in.
  bool Lines = false;
  // Otherwise: the bytes read past each block's end, for a match that starts in it and ends beyond.
  std::size_t Tail = 0;
};

// Takes a block; true when the matcher is done (a search's hit) and the walk stops there.
using TBlockMatch = std::function<bool(const TScanBlock& Block)>;

// The file is held open for the scan. It opens as the page reader does (a regular file only; a FIFO
// does not block the open), or throws EFileUnreadable with the reason, and takes the facts from the
// descriptor it reads. A scan covers the bytes there at its start, Size(). After each read the name
// must still lead to that file with the same facts (one stat, not a reopen: a search reads the file
// thousands of times a second when hits are close), or with more bytes added at its end, as a log
// grows: then its first bytes and its last before Size() must be as they were, which a file written
// anew seldom leaves them. Otherwise the scan stops: TStop with FileChanged.
class TFileScan {
public:
  // Opens FileName (throws EFileUnreadable) to read it as text in Encoding, at most BlockBytes at once.
  TFileScan(const std::string& FileName, TTextEncoding Encoding, const std::atomic<bool>& Cancel,
            const TSearchProgress& Progress, std::size_t BlockBytes);
  ~TFileScan();
  TFileScan(const TFileScan&) = delete;
  TFileScan& operator=(const TFileScan&) = delete;

  // Where the text starts (past a byte-order mark) and ends: the file's size at the scan's start.
  TFileOffset First() const { return FFirst; }
  TFileOffset Size() const { return FSize; }

  // Hands [Lo, Hi) to Match block by block, from Lo up (Backward: from Hi down), until it is done:
  // whether it was. Wrapped goes with the progress reported after each block. Throws TStop when
  // cancelled (checked before each block) or when the file changes.
  bool Walk(TFileOffset Lo, TFileOffset Hi, bool Backward, bool Wrapped, const TBlockEdges& Edges,
            const TBlockMatch& Match);

  // The whole lines of [From, To) in one block: from after its first line feed (at the text's start,
  // from there) to after its last (at the text's end, to there); none when it holds no whole line.
  std::optional<TScanBlock> Piece(TFileOffset From, TFileOffset To);

  // For matchers that go on long within a block: throws TStop once the scan is cancelled.
  void CheckCancel() const {
    if (FCancel.load(std::memory_order_relaxed)) throw TStop{TSearchOutcome::Cancelled};
  }

private:
  // A block in file offsets: the buffer holds [BufferFrom, BufferTo).
  struct TRange {
    TFileOffset BufferFrom = 0, From = 0, To = 0, BufferTo = 0, LineStart = 0;
    bool LineStarts = false;
  };
  // Bytes [From, To) into Out, all of them, and the file unchanged since the scan began.
  void Read(TFileOffset From, TFileOffset To, char* Out);
  TFileOffset TailFrom() const;
  std::string Sample(TFileOffset From) const;
  void CheckUnchanged();
  std::string_view Load(TFileOffset From, TFileOffset To);
  std::string_view Bytes(const TRange& Range) const;
  TScanBlock Block(const TRange& Range) const;
  TRange PlainRange(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward, std::size_t Tail);
  TRange LineRange(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward);
  bool LineStartAt(const TRange& Range, TFileOffset Offset) const;
  void Report(TFileOffset Scanned, bool Wrapped);

  const std::string& FFileName;
  int FFd = -1;
  TFileFacts FFacts;  // at the scan's start
  TFileFacts FSeen;   // at the last read: the same, or grown since
  std::string FHead;  // the first bytes, and the last before the start's size, as they were then
  std::string FTail;
  TTextEncoding FEncoding;
  const std::atomic<bool>& FCancel;
  const TSearchProgress& FProgress;
  std::size_t FMaxBlock;
  std::size_t FBlock;
  TFileOffset FSize = 0;
  TFileOffset FFirst = 0;
  std::unique_ptr<char[]> FBuffer;  // the block, never read beyond what was read into it
  std::size_t FBufferSize = 0;
  bool FAtLineStart = false;  // a line starts where the walk goes on
  TFileOffset FScanned = 0;
  int FReported = -1;
  bool FReportedWrapped = false;
};
