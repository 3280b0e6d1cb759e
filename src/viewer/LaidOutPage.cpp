#include "LaidOutPage.h"

#include "ReadPage.h"

#include <algorithm>

#include <unistd.h>

namespace {

// Bytes of a file from a start on, read in blocks as far as they are asked for.
class TBytesAhead {
public:
  TBytesAhead(int Fd, TFileOffset Start) : FFd(Fd), FStart(Start) {}

  // Reads on until Count bytes are at hand or the file ends.
  std::string_view Fill(std::size_t Count) {
    while (!FAtEnd && FBytes.size() < Count) {
      const std::size_t Had = FBytes.size();
      const std::size_t Want = std::max<std::size_t>(Count - Had, 16 * 1024);
      FBytes.resize(Had + Want);
      const std::size_t Got = ReadAt(FFd, FStart + static_cast<TFileOffset>(Had), FBytes.data() + Had, Want);
      FBytes.resize(Had + Got);
      FAtEnd = Got < Want;
    }
    return FBytes;
  }
  std::string& Bytes() { return FBytes; }

private:
  int FFd;
  TFileOffset FStart;
  std::string FBytes;
  bool FAtEnd = false;
};

// Where the first whole character lies among the bytes from Start, as ShownText places it.
std::size_t FirstWhole(int Fd, TTextEncoding Encoding, TFileOffset Start, std::string_view Head, bool StartWhole) {
  std::string LookBack;
  if (const std::size_t Needed = StartWhole ? 0 : LookBackNeeded(Encoding, Start, Head); Needed > 0) {
    const auto Read = [&](std::size_t Count) {
      LookBack.assign(Count, '\0');
      if (ReadAt(Fd, Start - static_cast<TFileOffset>(Count), LookBack.data(), Count) != Count) LookBack.clear();
    };
    constexpr std::size_t ShortLookBack = 4096;
    Read(std::min(Needed, ShortLookBack));
    if (Needed > ShortLookBack && !LookBackSettles(Encoding, LookBack)) Read(Needed);
  }
  return WholeCharacters(Encoding, Start, LookBack, Head).From;
}

}  // namespace

std::string ReadLaidOutPage(const std::string& FileName, TFileOffset Start, TTextEncoding Encoding,
                            const TRowGeometry& Geometry, bool BreakRules, const std::function<int(char32_t)>& Advance,
                            bool StartWhole, TFileOffset& PageEnd) {
  if (Start < 0) return {};
  const int Fd = OpenRegularFile(FileName);
  if (Fd < 0) return {};
  const TEncodingRules& Rules = RulesOf(Encoding);
  TBytesAhead Ahead(Fd, Start);
  std::size_t Pos = FirstWhole(Fd, Encoding, Start, Ahead.Fill(4096), StartWhole);
  TRowBreaker Breaker(Geometry, BreakRules);
  std::vector<std::size_t> Starts;  // of each character given to the breaker
  std::size_t End = 0;
  // The character at At: its code point as the text area shows it, and its bytes.
  const auto CharacterAt = [&](std::size_t At, std::size_t& Length) -> char32_t {
    const std::string_view Bytes = Ahead.Fill(At + 4);
    const std::size_t Left = Bytes.size() - At;
    const TCharacter Character = Rules.Read(Bytes.substr(At));
    if (!Character.Valid || Character.Length > Left) {
      Length = std::min(Rules.CodeUnit, Left);
      return U'\uFFFD';
    }
    Length = Character.Length;
    return Character.CodePoint;
  };
  for (;;) {
    if (Ahead.Fill(Pos + 1).size() <= Pos) {
      End = Ahead.Bytes().size();
      break;
    }
    std::size_t Length = 0;
    char32_t Code = CharacterAt(Pos, Length);
    Starts.push_back(Pos);
    Pos += Length;
    if (Code == U'\r') {
      // CR LF is one line break; a CR alone is one too.
      Code = U'\n';
      std::size_t Next = 0;
      if (Ahead.Fill(Pos + 1).size() > Pos && CharacterAt(Pos, Next) == U'\n') Pos += Next;
    }
    if (Code == 0) {  // nothing after it shows
      End = Pos;
      break;
    }
    Breaker.Add(Code, Code == U'\n' ? 0 : Advance(Code));
    if (!Breaker.Rows().empty() && !Geometry.Fits(Breaker.RowTop())) {
      End = Breaker.RowStart() < Starts.size() ? Starts[Breaker.RowStart()] : Pos;
      break;
    }
  }
  ::close(Fd);
  std::string Page = std::move(Ahead.Bytes());
  Page.resize(std::min(End, Page.size()));
  PageEnd = Start + static_cast<TFileOffset>(Page.size());
  return Page;
}
