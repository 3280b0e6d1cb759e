#include "TFileScan.h"

#include "TextScan.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

// ---- The scan -----------------------------------------------------------------------------------------

namespace {

// The bytes of the file's start and of its end (before its size at the scan's start) that must stay
// as they were while it grows.
constexpr std::size_t SampleBytes = 64;
// The first block: small, so a hit or a heading near the start comes back at once.
constexpr std::size_t FirstBlockBytes = 64 * 1024;
// What a line block reads before it first: a line start is nearly always that close. With none there,
// it reads on back as far as the page reader looks.
constexpr std::size_t LineContextBytes = 1024;

}  // namespace

TFileScan::TFileScan(const std::string& FileName, TTextEncoding Encoding, const std::atomic<bool>& Cancel,
                     const TSearchProgress& Progress, std::size_t BlockBytes)
    : FFileName(FileName), FEncoding(Encoding), FCancel(Cancel), FProgress(Progress),
      FMaxBlock(std::max<std::size_t>(4, BlockBytes / 4 * 4)), FBlock(std::min(FMaxBlock, FirstBlockBytes)) {
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
  FSize = FFacts.Size;
  FHead = Sample(0);
  FTail = Sample(TailFrom());
  const std::string_view Mark = RulesOf(Encoding).ByteOrderMark;
  if (FHead.starts_with(Mark)) FFirst = static_cast<TFileOffset>(Mark.size());
}

TFileScan::~TFileScan() { ::close(FFd); }

void TFileScan::Read(TFileOffset From, TFileOffset To, char* Out) {
  const auto Count = static_cast<std::size_t>(To - From);
  if (ReadAt(FFd, From, Out, Count) != Count) throw TStop{TSearchOutcome::FileChanged};  // cut short, or unreadable
  CheckUnchanged();
}

TFileOffset TFileScan::TailFrom() const {
  return std::max<TFileOffset>(0, FFacts.Size - static_cast<TFileOffset>(SampleBytes));
}

std::string TFileScan::Sample(TFileOffset From) const {
  std::string Bytes(SampleBytes, '\0');
  Bytes.resize(ReadAt(FFd, From, Bytes.data(),
                      static_cast<std::size_t>(std::min<TFileOffset>(FFacts.Size - From, static_cast<TFileOffset>(SampleBytes)))));
  return Bytes;
}

void TFileScan::CheckUnchanged() {
  struct stat Info {};
  if (::stat(FFileName.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode)) throw TStop{TSearchOutcome::FileChanged};
  const TFileFacts Now = FileFactsOf(Info);
  if (Now == FSeen) return;
  const bool Grown = Now.Device == FFacts.Device && Now.Inode == FFacts.Inode && Now.Size > FSeen.Size;
  if (!Grown || Sample(0) != FHead || Sample(TailFrom()) != FTail) throw TStop{TSearchOutcome::FileChanged};
  FSeen = Now;
}

bool TFileScan::Walk(TFileOffset Lo, TFileOffset Hi, bool Backward, bool Wrapped, const TBlockEdges& Edges,
                     const TBlockMatch& Match) {
  FAtLineStart = false;
  TFileOffset Cursor = Backward ? Hi : Lo;
  while (Backward ? Cursor > Lo : Cursor < Hi) {
    CheckCancel();
    const TRange Range = Edges.Lines ? LineRange(Cursor, Lo, Hi, Backward) : PlainRange(Cursor, Lo, Hi, Backward, Edges.Tail);
    const bool Done = Match(Block(Range));
    Cursor = Backward ? Range.From : Range.To;
    FAtLineStart = LineStartAt(Range, Cursor);
    Report(Range.To - Range.From, Wrapped);
    if (Done) return true;
    FBlock = std::min(FMaxBlock, FBlock * 2);
  }
  return false;
}

std::optional<TScanBlock> TFileScan::Piece(TFileOffset From, TFileOffset To) {
  CheckCancel();
  const std::string_view Bytes = Load(From, To);
  const std::size_t Begin = From == FFirst ? 0 : AfterLineFeed(FEncoding, Bytes, From, 0, Bytes.size(), false);
  if (Begin == NoLineFeed) return std::nullopt;
  const std::size_t End = To == FSize ? Bytes.size() : AfterLineFeed(FEncoding, Bytes, From, Begin, Bytes.size(), true);
  if (End == NoLineFeed || End <= Begin) return std::nullopt;
  return TScanBlock{Bytes.substr(0, End), From, Begin, End, Begin, true, To == FSize};
}

std::string_view TFileScan::Load(TFileOffset From, TFileOffset To) {
  const auto Count = static_cast<std::size_t>(To - From);
  if (FBufferSize < Count) {
    FBuffer.reset(new char[Count]);
    FBufferSize = Count;
  }
  Read(From, To, FBuffer.get());
  return {FBuffer.get(), Count};
}

std::string_view TFileScan::Bytes(const TRange& Range) const {
  return {FBuffer.get(), static_cast<std::size_t>(Range.BufferTo - Range.BufferFrom)};
}

TScanBlock TFileScan::Block(const TRange& Range) const {
  const auto At = [&](TFileOffset Offset) { return static_cast<std::size_t>(Offset - Range.BufferFrom); };
  TScanBlock Block;
  Block.Bytes = Bytes(Range);
  Block.BufferFrom = Range.BufferFrom;
  Block.From = At(Range.From);
  Block.To = At(Range.To);
  Block.LineStart = At(Range.LineStart);
  Block.LineStarts = Range.LineStarts;
  Block.TextEnd = Range.BufferTo == FSize;
  return Block;
}

TFileScan::TRange TFileScan::PlainRange(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward,
                                        std::size_t Tail) {
  TRange Range;
  const auto Step = static_cast<TFileOffset>(FBlock);
  Range.From = Backward ? std::max(Lo, Cursor - Step) : Cursor;
  Range.To = Backward ? Cursor : std::min(Hi, Cursor + Step);
  // As far before the block as a byte that surely starts a character may lie.
  Range.BufferFrom = std::max<TFileOffset>(0, Range.From - static_cast<TFileOffset>(RulesOf(FEncoding).StartReach));
  Range.BufferTo = std::min(FSize, Range.To + static_cast<TFileOffset>(Tail));
  Range.LineStart = Range.From;
  Load(Range.BufferFrom, Range.BufferTo);
  return Range;
}

TFileScan::TRange TFileScan::LineRange(TFileOffset Cursor, TFileOffset Lo, TFileOffset Hi, bool Backward) {
  TRange Range;
  const auto Step = static_cast<TFileOffset>(FBlock);
  const TFileOffset Context = FAtLineStart ? 4 : static_cast<TFileOffset>(LineContextBytes);
  const auto At = [&](TFileOffset Offset) { return static_cast<std::size_t>(Offset - Range.BufferFrom); };
  const auto Offset = [&](std::size_t Pos) { return Range.BufferFrom + static_cast<TFileOffset>(Pos); };
  // The buffer starts on a code unit: a line or character found from its start is one of the file's.
  const auto Unit = static_cast<TFileOffset>(CodeUnitBytes(FEncoding));
  const auto UnitStart = [&](TFileOffset Offset) { return std::max(FFirst, Offset - Offset % Unit); };
  if (!Backward) {
    Range.From = Cursor;
    Range.BufferFrom = UnitStart(Cursor - Context);
    Range.BufferTo = std::min(FSize, Cursor + Step);
    const std::string_view Bytes = Load(Range.BufferFrom, Range.BufferTo);
    Range.To = Hi;
    if (Range.BufferTo < FSize) {
      const std::size_t Cut = AfterLineFeed(FEncoding, Bytes, Range.BufferFrom, At(Cursor), Bytes.size(), true);
      if (Cut != NoLineFeed) Range.BufferTo = Offset(Cut);
      Range.To = std::min(Hi, Cut != NoLineFeed ? Range.BufferTo : Cursor + Step / 2);
    }
  } else {
    const TFileOffset Start = std::max(Lo, Cursor - Step);
    Range.To = Cursor;
    Range.BufferFrom = UnitStart(Start - Context);
    // A match that starts before the cursor may run on to the end of its line.
    Range.BufferTo = FAtLineStart ? Cursor : std::min(FSize, Cursor + Step / 2);
    const std::string_view Bytes = Load(Range.BufferFrom, Range.BufferTo);
    if (Range.BufferTo > Cursor) {
      const std::size_t Cut =
          AfterLineFeed(FEncoding, Bytes, Range.BufferFrom, At(std::max(Range.BufferFrom, Cursor - Unit)), Bytes.size(), false);
      if (Cut != NoLineFeed) Range.BufferTo = Offset(Cut);
    }
    Range.From = Start;
    if (Start > Lo) {
      const std::size_t Cut = AfterLineFeed(FEncoding, Bytes, Range.BufferFrom, At(Start), At(Cursor), false);
      Range.From = Cut != NoLineFeed && Cut < At(Cursor) ? Offset(Cut) : std::max(Lo, Cursor - Step / 2);
    }
  }
  // The start of the line that holds the block's first byte: no line feed in the bytes read before the
  // block, then read on back as far as the page reader looks.
  Range.LineStart = Range.From;
  Range.LineStarts = LineStartAt(Range, Range.From);
  if (Range.LineStarts) return Range;
  std::size_t Line = AfterLineFeed(FEncoding, Bytes(Range), Range.BufferFrom, 0, At(Range.From), true);
  const TFileOffset Farthest = UnitStart(Range.From - static_cast<TFileOffset>(LookBackBytes));
  if (Line == NoLineFeed && Range.BufferFrom > Farthest) {
    Range.BufferFrom = Farthest;
    Line = AfterLineFeed(FEncoding, Load(Range.BufferFrom, Range.BufferTo), Range.BufferFrom, 0, At(Range.From), true);
  }
  if (Line != NoLineFeed) {
    Range.LineStart = Offset(Line);
    Range.LineStarts = true;
  } else {
    Range.LineStart = Offset(RulesOf(FEncoding).KnownStart(Bytes(Range), At(Range.From)));
    Range.LineStarts = Range.LineStart == FFirst;
  }
  return Range;
}

bool TFileScan::LineStartAt(const TRange& Range, TFileOffset Offset) const {
  if (Offset == FFirst) return true;
  const auto Unit = static_cast<TFileOffset>(CodeUnitBytes(FEncoding));
  // A line feed's code unit stands at an even offset in UTF-16: the same bytes across two are none.
  if (Offset % Unit != 0 || Offset - Unit < Range.BufferFrom || Offset > Range.BufferTo) return false;
  return CodeUnitAt(FEncoding, Bytes(Range), static_cast<std::size_t>(Offset - Unit - Range.BufferFrom)) == '\n';
}

void TFileScan::Report(TFileOffset Scanned, bool Wrapped) {
  FScanned += Scanned;
  if (!FProgress) return;
  const TFileOffset Total = std::max<TFileOffset>(1, FSize - FFirst);
  const int Permille = static_cast<int>(std::min<TFileOffset>(1000, FScanned * 1000 / Total));
  if (Permille == FReported && Wrapped == FReportedWrapped) return;
  FReported = Permille;
  FReportedWrapped = Wrapped;
  FProgress(Permille, Wrapped);
}
