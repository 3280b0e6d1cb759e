// The double-byte code pages of the table of encodings: GB18030 (the superset of GBK) and Big5 (the
// Hong Kong superset the system's converter offers as BIG5-HKSCS). Both put a lead byte 0x81..0xFE
// before a trail byte, and both have bytes that no character holds after its first byte, from which a
// walk over characters can start anywhere: GB18030's below 0x30, Big5's below 0x40. Their characters
// are asked of the system's converter once, into a table by lead and trail byte that every decoding
// reads.

#include "TextEncodingRows.h"
#include "Unicode.h"

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstring>
#include <string>
#include <vector>

#include <iconv.h>

namespace {

unsigned char ByteAt(std::string_view Bytes, std::size_t Pos) { return static_cast<unsigned char>(Bytes[Pos]); }

bool IsLead(unsigned char Byte) { return Byte >= 0x81 && Byte <= 0xFE; }

// ---- What the converter says ----------------------------------------------------------------------

// The code points the converter makes of one character of From, none where it refuses it.
std::u32string ConvertOne(iconv_t Cd, std::string_view Character) {
  std::string In(Character);
  unsigned char Out[32];
  char* InPos = In.data();
  std::size_t InLeft = In.size();
  char* OutPos = reinterpret_cast<char*>(Out);
  std::size_t OutLeft = sizeof Out;
  iconv(Cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft) == static_cast<std::size_t>(-1) || InLeft != 0) return {};
  std::u32string Codes;
  for (const unsigned char* At = Out; At + 4 <= reinterpret_cast<unsigned char*>(OutPos); At += 4)
    Codes.push_back(static_cast<char32_t>(At[0] | At[1] << 8 | At[2] << 16 | static_cast<char32_t>(At[3]) << 24));
  return Codes;
}

// What the converter makes of each of a run of characters of Width bytes in From: its code points
// (one, or two for Big5's letters with a combining mark), none where it refuses the character. In
// one pass where each gives one code point: converting them one at a time takes tens of milliseconds.
std::vector<std::u32string> ConvertEach(const char* From, const std::string& Characters, std::size_t Width) {
  const std::size_t Count = Characters.size() / Width;
  std::vector<std::u32string> Codes(Count);
  const iconv_t Cd = iconv_open("UTF-32LE", From);
  if (Cd == reinterpret_cast<iconv_t>(-1)) return Codes;  // no converter: every one decodes as U+FFFD
  std::string In = Characters;
  std::vector<unsigned char> Out(Count * 8 + 16);
  std::size_t Done = 0;
  while (Done < Count) {
    char* const Begin = In.data() + Done * Width;
    char* InPos = Begin;
    std::size_t InLeft = (Count - Done) * Width;
    char* OutPos = reinterpret_cast<char*>(Out.data());
    std::size_t OutLeft = Out.size();
    iconv(Cd, nullptr, nullptr, nullptr, nullptr);
    const bool Failed = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft) == static_cast<std::size_t>(-1);
    const std::size_t Converted = static_cast<std::size_t>(InPos - Begin) / Width;
    if (static_cast<std::size_t>(OutPos - reinterpret_cast<char*>(Out.data())) == Converted * 4) {
      for (std::size_t I = 0; I < Converted; ++I) {
        const unsigned char* At = Out.data() + I * 4;
        Codes[Done + I] = std::u32string(
            1, static_cast<char32_t>(At[0] | At[1] << 8 | At[2] << 16 | static_cast<char32_t>(At[3]) << 24));
      }
    } else {  // some gave more than one: these one at a time
      for (std::size_t I = 0; I < Converted; ++I)
        Codes[Done + I] = ConvertOne(Cd, std::string_view(Begin + I * Width, Width));
    }
    Done += Converted;
    if (Failed) ++Done;  // the one refused keeps none
  }
  iconv_close(Cd);
  return Codes;
}

// ---- The table by lead and trail byte --------------------------------------------------------------

// Every character of two bytes of a code page, by lead - 0x81 and trail byte: its UTF-8 (up to three
// bytes, in memory order) with their count in the top byte, so that a decoder copies four bytes and
// moves on by the count; 0 for the rest. The few of four UTF-8 bytes or more (Big5's past the Basic
// Multilingual Plane, and its four letters with a combining mark) are kept aside in Long, for the
// slow path. Beside them, for the screen, the one UTF-16 unit of each character that has one.
// An entry's bytes are its UTF-8 in memory order on a little-endian machine.
static_assert(std::endian::native == std::endian::little);

class TPairTable {
public:
  TPairTable() : FEntries(126 * 256, 0), FUnits(126 * 256, 0) {}

  // Made in order of lead and trail byte.
  void Set(unsigned Lead, unsigned Trail, const std::u32string& Codes) {
    if (Codes.empty()) return;
    std::string Utf8;
    for (const char32_t Code : Codes) {
      char Bytes[4];
      Utf8.append(Bytes, PutUtf8(Code, Bytes));
    }
    if (Utf8.size() <= 3) {
      std::uint32_t Entry = static_cast<std::uint32_t>(Utf8.size()) << 24;
      std::memcpy(&Entry, Utf8.data(), Utf8.size());
      FEntries[Index(Lead, Trail)] = Entry;
    } else {
      FLong.emplace_back(Index(Lead, Trail), std::move(Utf8));
    }
    if (Codes.size() == 1 && Codes[0] <= 0xFFFF) FUnits[Index(Lead, Trail)] = static_cast<char16_t>(Codes[0]);
  }

  const std::uint32_t* Entries() const { return FEntries.data(); }
  const char16_t* Units() const { return FUnits.data(); }
  static std::size_t Index(unsigned Lead, unsigned Trail) { return (Lead - 0x81) << 8 | Trail; }

  // The UTF-8 of the pair's character, empty where the pair makes none.
  std::string_view Utf8(unsigned Lead, unsigned Trail) const {
    const std::size_t At = Index(Lead, Trail);
    const std::uint32_t& Entry = FEntries[At];
    if (Entry != 0) return {reinterpret_cast<const char*>(&Entry), Entry >> 24};
    const auto Long = std::lower_bound(FLong.begin(), FLong.end(), At,
                                       [](const auto& Kept, std::size_t Wanted) { return Kept.first < Wanted; });
    return Long != FLong.end() && Long->first == At ? std::string_view(Long->second) : std::string_view();
  }
  // The (first) code point of the pair's character, which it makes.
  char32_t CodePoint(unsigned Lead, unsigned Trail) const { return ReadUtf8(Utf8(Lead, Trail)).Code; }

private:
  std::vector<std::uint32_t> FEntries;
  std::vector<char16_t> FUnits;
  std::vector<std::pair<std::size_t, std::string>> FLong;  // by index, in order
};

// One step of a decoder's slow path: the bytes it takes, and what they decode to, a code point or a
// long character of the table (small enough to come back in registers).
struct TStep {
  std::uint32_t Bytes;
  char32_t Code;
  const char* Long = nullptr;  // its UTF-8, NUL-terminated
};

// ---- GB18030 ----------------------------------------------------------------------------------------

struct TGb18030 {
  static constexpr const char* Name = "GB18030";
  static constexpr std::size_t FourBmpCount = 39420;  // 0x81308130 .. 0x8431A439
  static constexpr std::size_t Supplementary = 189000;  // the four-byte index of 0x90308130, U+10000

  static bool IsDigit(unsigned char Byte) { return Byte >= 0x30 && Byte <= 0x39; }
  static bool IsTrail(unsigned char Byte) { return Byte >= 0x40 && Byte <= 0xFE && Byte != 0x7F; }
  // No character holds a byte below 0x30 after its first byte, so such a byte always starts one.
  static bool Anchor(unsigned char Byte) { return Byte < 0x30; }

  // Lead, digit, lead, digit is one four-byte character; a lead byte without a valid second byte is a
  // (bad) character of its own.
  static std::size_t Length(std::string_view Bytes, std::size_t Pos) {
    const std::size_t Left = Bytes.size() - Pos;
    if (!IsLead(ByteAt(Bytes, Pos))) return 1;
    if (Left < 2) return 2;
    const unsigned char Second = ByteAt(Bytes, Pos + 1);
    if (IsDigit(Second)) {
      if (Left < 3) return 4;
      if (!IsLead(ByteAt(Bytes, Pos + 2))) return 1;
      if (Left < 4) return 4;
      return IsDigit(ByteAt(Bytes, Pos + 3)) ? 4 : 1;
    }
    return IsTrail(Second) ? 2 : 1;
  }

  // Every two-byte character, and the code points they decode to (for their columns).
  struct TTables {
    TPairTable Pairs;
    std::bitset<0x10000> TwoByte;

    TTables() {
      std::string Characters;
      for (unsigned Lead = 0x81; Lead <= 0xFE; ++Lead)
        for (unsigned Trail = 0x40; Trail <= 0xFE; ++Trail) {
          Characters.push_back(static_cast<char>(Lead));
          Characters.push_back(static_cast<char>(Trail == 0x7F ? 0x40 : Trail));  // 0x7F is no trail: kept aside
        }
      const std::vector<std::u32string> Codes = ConvertEach(Name, Characters, 2);
      std::size_t At = 0;
      for (unsigned Lead = 0x81; Lead <= 0xFE; ++Lead)
        for (unsigned Trail = 0x40; Trail <= 0xFE; ++Trail, ++At) {
          if (Trail == 0x7F) continue;
          const bool Known = Codes[At].size() == 1 && Codes[At][0] <= 0xFFFF;
          // A structurally whole pair the converter refuses is still one character: one U+FFFD.
          Pairs.Set(Lead, Trail, Known ? Codes[At] : std::u32string(1, ReplacementCharacter));
          if (Known) TwoByte[Codes[At][0]] = true;
        }
    }
  };

  // Made on first use, and only then: a walk over bytes needs none of it.
  static const TTables& Tables() {
    static const TTables Made;
    return Made;
  }
  static const TPairTable& Pairs() { return Tables().Pairs; }

  // Every four-byte character of the Basic Multilingual Plane by its index from 0x81308130, 0 where
  // there is none; the four-byte characters past it follow a formula. Made when the first is read:
  // few texts hold any, and asking the converter takes several times as long as for the pairs.
  static const std::vector<char16_t>& FourBmp() {
    static const std::vector<char16_t> Made = [] {
      std::string Quads;
      for (std::size_t Index = 0; Index < FourBmpCount; ++Index) {
        Quads.push_back(static_cast<char>(0x81 + Index / 12600));
        Quads.push_back(static_cast<char>(0x30 + Index / 1260 % 10));
        Quads.push_back(static_cast<char>(0x81 + Index / 10 % 126));
        Quads.push_back(static_cast<char>(0x30 + Index % 10));
      }
      const std::vector<std::u32string> Codes = ConvertEach(Name, Quads, 4);
      std::vector<char16_t> Units(FourBmpCount, 0);
      for (std::size_t Index = 0; Index < FourBmpCount; ++Index)
        if (Codes[Index].size() == 1 && Codes[Index][0] <= 0xFFFF) Units[Index] = static_cast<char16_t>(Codes[Index][0]);
      return Units;
    }();
    return Made;
  }

  // The code point of lead, digit, lead, digit at Bytes; U+FFFD where there is none.
  static char32_t FourByte(const unsigned char* Bytes) {
    const std::size_t Index =
        (((Bytes[0] - 0x81u) * 10 + (Bytes[1] - 0x30u)) * 126 + (Bytes[2] - 0x81u)) * 10 + (Bytes[3] - 0x30u);
    if (Index < FourBmpCount) {
      const char32_t Code = FourBmp()[Index];
      return Code != 0 ? Code : ReplacementCharacter;
    }
    if (Index >= Supplementary && Index - Supplementary <= 0xFFFFF)
      return static_cast<char32_t>(0x10000 + (Index - Supplementary));
    return ReplacementCharacter;
  }

  // The decoder's slow path: everything but ASCII and a two-byte character. The single byte 0x80 is
  // the euro sign, as code page 936 shows it.
  [[gnu::noinline]] static TStep Slow(const unsigned char* Bytes, std::size_t Size, std::size_t Pos) {
    const unsigned char Lead = Bytes[Pos];
    if (Lead < 0x80) return {1, Lead};
    if (Lead == 0x80) return {1, 0x20AC};
    const std::string_view Text(reinterpret_cast<const char*>(Bytes), Size);
    const std::size_t Bytes4 = Length(Text, Pos);
    if (Bytes4 > Size - Pos || Bytes4 == 1) return {1, ReplacementCharacter};
    if (Bytes4 == 4) return {4, FourByte(Bytes + Pos)};
    return {2, Pairs().CodePoint(Lead, Bytes[Pos + 1])};
  }

  static TCharacter Read(std::string_view Bytes) {
    const unsigned char Lead = ByteAt(Bytes, 0);
    if (Lead < 0x80) return {1, Lead, true};
    if (Lead == 0x80) return {1, 0x20AC, true};
    const std::size_t Bytes4 = Length(Bytes, 0);
    if (Bytes4 > Bytes.size()) return {Bytes4, 0, true};  // the rest is still to come
    if (Bytes4 == 1) return {1, 0, false};
    const auto* Data = reinterpret_cast<const unsigned char*>(Bytes.data());
    if (Bytes4 == 4) return {4, FourByte(Data), true};
    return {2, Pairs().CodePoint(Lead, Data[1]), true};
  }
};

// ---- Big5 -------------------------------------------------------------------------------------------

struct TBig5 {
  static constexpr const char* Name = "BIG5-HKSCS";

  static bool IsTrail(unsigned char Byte) { return (Byte >= 0x40 && Byte <= 0x7E) || (Byte >= 0xA1 && Byte <= 0xFE); }
  // A trail byte is 0x40 or above, so a byte below it always starts a character.
  static bool Anchor(unsigned char Byte) { return Byte < 0x40; }

  static const TPairTable& Pairs() {
    static const TPairTable Made = [] {
      std::string Characters;
      for (unsigned Lead = 0x81; Lead <= 0xFE; ++Lead)
        for (unsigned Trail = 0x40; Trail <= 0xFE; ++Trail)
          if (IsTrail(static_cast<unsigned char>(Trail))) {
            Characters.push_back(static_cast<char>(Lead));
            Characters.push_back(static_cast<char>(Trail));
          }
      const std::vector<std::u32string> Codes = ConvertEach(Name, Characters, 2);
      TPairTable Table;
      for (std::size_t At = 0; At < Codes.size(); ++At)
        Table.Set(static_cast<unsigned char>(Characters[2 * At]), static_cast<unsigned char>(Characters[2 * At + 1]),
                  Codes[At]);
      return Table;
    }();
    return Made;
  }

  // A lead byte and a trail byte that the code page maps are a character; a lead byte without one is
  // a (bad) character of its own, and the byte after it is read anew.
  static std::size_t Length(std::string_view Bytes, std::size_t Pos) {
    const unsigned char Lead = ByteAt(Bytes, Pos);
    if (!IsLead(Lead)) return 1;
    if (Pos + 1 >= Bytes.size()) return 2;
    return Pairs().Utf8(Lead, ByteAt(Bytes, Pos + 1)).empty() ? 1 : 2;
  }

  [[gnu::noinline]] static TStep Slow(const unsigned char* Bytes, std::size_t Size, std::size_t Pos) {
    const unsigned char Lead = Bytes[Pos];
    if (Lead < 0x80) return {1, Lead};
    if (!IsLead(Lead) || Pos + 1 >= Size) return {1, ReplacementCharacter};
    const std::string_view Utf8 = Pairs().Utf8(Lead, Bytes[Pos + 1]);
    if (Utf8.empty()) return {1, ReplacementCharacter};
    return {2, 0, Utf8.data()};  // one kept aside: the decoders' fast path takes the others
  }

  // A letter with a combining mark reads as its letter: its columns are the letter's.
  static TCharacter Read(std::string_view Bytes) {
    const unsigned char Lead = ByteAt(Bytes, 0);
    if (Lead < 0x80) return {1, Lead, true};
    if (!IsLead(Lead)) return {1, 0, false};
    if (Bytes.size() < 2) return {2, 0, true};  // the rest is still to come
    const std::string_view Utf8 = Pairs().Utf8(Lead, ByteAt(Bytes, 1));
    if (Utf8.empty()) return {1, 0, false};
    return {2, ReadUtf8(Utf8).Code, true};
  }
};

// ---- What both share ----------------------------------------------------------------------------------

// The functions of a row for a code page Code (TGb18030, TBig5): its Length, Anchor, Pairs and Slow.
template <class Code>
struct TDoubleByte {
  static std::size_t Length(std::string_view Bytes, std::size_t Pos) { return Code::Length(Bytes, Pos); }

  // Where the walk from a character start at Pos ends: just before the character the end of Bytes
  // cuts off, or the end.
  static std::size_t WholeEnd(std::string_view Bytes, std::size_t Pos) {
    while (Pos < Bytes.size()) {
      const std::size_t Step = Code::Length(Bytes, Pos);
      if (Step > Bytes.size() - Pos) break;
      Pos += Step;
    }
    return Pos;
  }

  // Where the first whole character of Page starts, walking on from the last byte of LookBack that
  // starts a character (or from LookBack's first byte when AtFileStart).
  static std::size_t FirstWhole(std::string_view LookBack, std::string_view Page, bool AtFileStart) {
    std::size_t Pos = LookBack.size();
    while (Pos > 0 && !Code::Anchor(ByteAt(LookBack, Pos - 1))) --Pos;
    if (Pos > 0)
      --Pos;
    else if (!AtFileStart)
      return 0;  // nothing in reach tells: the start counts as whole
    // Inside LookBack while a whole character's bytes are all there; the last few across into Page.
    while (Pos + 4 <= LookBack.size()) Pos += Code::Length(LookBack, Pos);
    std::string Seam(LookBack.substr(Pos));
    Seam.append(Page.substr(0, 4));
    const std::size_t Before = LookBack.size() - Pos;
    std::size_t InSeam = 0;
    while (InSeam < Before) InSeam += Code::Length(Seam, InSeam);
    return std::min(InSeam - Before, Page.size());
  }

  static std::size_t LookBack(TFileOffset PageStart, std::string_view Page) {
    if (PageStart <= 0 || Page.empty() || Code::Anchor(ByteAt(Page, 0))) return 0;
    return static_cast<std::size_t>(std::min<TFileOffset>(PageStart, LookBackBytes));
  }

  static bool Settles(std::string_view LookBack) {
    return std::any_of(LookBack.begin(), LookBack.end(), [](char Byte) { return Code::Anchor(static_cast<unsigned char>(Byte)); });
  }

  static TWholeCharacters Whole(TFileOffset PageStart, std::string_view LookBack, std::string_view Page, std::size_t From) {
    const std::size_t Size = Page.size();
    TWholeCharacters Whole{From, Size};
    if (PageStart > 0 && !LookBack.empty() && TDoubleByte::LookBack(PageStart, Page) > 0)
      Whole.From = FirstWhole(LookBack, Page, static_cast<TFileOffset>(LookBack.size()) == PageStart);
    // Walk only from the last byte that surely starts a character: usually the page's final line feed.
    std::size_t Known = Size;
    while (Known > Whole.From && !Code::Anchor(ByteAt(Page, Known - 1))) --Known;
    Whole.To = WholeEnd(Page, Known > Whole.From ? Known - 1 : Whole.From);
    return Whole;
  }

  static bool Starts(std::string_view Bytes, TFileOffset, std::size_t& Walked, std::size_t Pos) {
    if (Pos < Walked) return false;  // walked over: inside a character
    // A byte that always starts a character: walk on from the last one, else from where the walk stands.
    for (std::size_t Back = Pos + 1; Back > Walked + 1; --Back)
      if (Code::Anchor(ByteAt(Bytes, Back - 1))) {
        Walked = Back - 1;
        break;
      }
    while (Walked < Pos) Walked += Code::Length(Bytes, Walked);
    return Walked == Pos;
  }

  static std::size_t KnownStart(std::string_view Bytes, std::size_t Pos) {
    for (; Pos > 0; --Pos)
      if (Code::Anchor(ByteAt(Bytes, Pos - 1))) return Pos - 1;
    return 0;
  }

  // Two loops alike, one a form: each line of a page goes through one of them.
  static std::size_t Decode(std::string_view Text, std::size_t Pos, std::size_t To, char*& Out) {
    const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
    const std::size_t Size = Text.size();
    const std::uint32_t* Entries = Code::Pairs().Entries();
    char* At = Out;
    while (Pos < To) {
      const unsigned Lead = Bytes[Pos];
      if (Lead < 0x80) {
        *At++ = static_cast<char>(Lead);
        ++Pos;
        continue;
      }
      if (Pos + 1 < Size && IsLead(static_cast<unsigned char>(Lead))) {
        const std::uint32_t Entry = Entries[TPairTable::Index(Lead, Bytes[Pos + 1])];
        if (Entry != 0) {
          std::memcpy(At, &Entry, 4);  // the fourth byte is overwritten by what follows
          At += Entry >> 24;
          Pos += 2;
          continue;
        }
      }
      const TStep Step = Code::Slow(Bytes, Size, Pos);
      At = Put(Step, At);
      Pos += Step.Bytes;
    }
    Out = At;
    return Pos;
  }

  static char16_t* DecodeUtf16(std::string_view Text, char16_t* At) {
    const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
    const std::size_t Size = Text.size();
    const char16_t* Units = Code::Pairs().Units();
    for (std::size_t Pos = 0; Pos < Size;) {
      const unsigned Lead = Bytes[Pos];
      if (Lead < 0x80) {
        *At++ = static_cast<char16_t>(Lead);
        ++Pos;
        continue;
      }
      if (Pos + 1 < Size && IsLead(static_cast<unsigned char>(Lead))) {
        const char16_t Unit = Units[TPairTable::Index(Lead, Bytes[Pos + 1])];
        if (Unit != 0) {
          *At++ = Unit;
          Pos += 2;
          continue;
        }
      }
      const TStep Step = Code::Slow(Bytes, Size, Pos);
      At = Put(Step, At);
      Pos += Step.Bytes;
    }
    return At;
  }

  // A slow step's character written at At, in UTF-8 or UTF-16.
  static char* Put(const TStep& Step, char* At) {
    if (!Step.Long) return PutUtf8(Step.Code, At);
    const std::string_view Utf8(Step.Long);
    return std::copy(Utf8.begin(), Utf8.end(), At);
  }

  static char16_t* Put(const TStep& Step, char16_t* At) {
    if (!Step.Long) return PutUtf16(Step.Code, At);
    const std::string_view Utf8(Step.Long);
    for (std::size_t Pos = 0; Pos < Utf8.size(); Pos += ReadUtf8(Utf8.substr(Pos)).Length)
      At = PutUtf16(ReadUtf8(Utf8.substr(Pos)).Code, At);
    return At;
  }

  // Bytes of UTF-8 a slow step decodes to.
  static std::size_t Utf8Size(const TStep& Step) {
    return Step.Long ? std::string_view(Step.Long).size() : ::Utf8Size(Step.Code);
  }

  static std::size_t SkipDecoded(std::string_view Text, std::size_t Pos, std::size_t Utf8Bytes) {
    const auto* Bytes = reinterpret_cast<const unsigned char*>(Text.data());
    const std::size_t Size = Text.size();
    const std::uint32_t* Entries = Code::Pairs().Entries();
    while (Utf8Bytes > 0 && Pos < Size) {
      const unsigned Lead = Bytes[Pos];
      if (Lead < 0x80) {
        ++Pos;
        --Utf8Bytes;
        continue;
      }
      if (Pos + 1 < Size && IsLead(static_cast<unsigned char>(Lead))) {
        const std::uint32_t Entry = Entries[TPairTable::Index(Lead, Bytes[Pos + 1])];
        if (Entry != 0) {
          Pos += 2;
          Utf8Bytes -= std::min<std::size_t>(Utf8Bytes, Entry >> 24);
          continue;
        }
      }
      const TStep Step = Code::Slow(Bytes, Size, Pos);
      Pos += Step.Bytes;
      Utf8Bytes -= std::min(Utf8Bytes, Utf8Size(Step));
    }
    return Pos;
  }
};

// ---- How a sample reads -------------------------------------------------------------------------------

// Both code pages read a text in either one as valid two-byte characters, pair by pair alike (GB18030
// takes every Big5 trail byte, Big5 every trail byte of GB2312), so validity cannot tell them apart;
// where those pairs fall can. Most characters of a Chinese text are among its code page's commonest
// hanzi, which each code page keeps in one block: GB2312's first level (0xB0A1..0xD7FE, 3,755
// hanzi) and Big5's frequent hanzi (0xA440..0xC67E, 5,401). The same pairs read in the other code page
// land there far less often: a Big5 text's pairs with a lead below 0xB0 (its commonest, fewest-stroke
// hanzi) miss GB2312's block, and a GB2312 text's pairs with a lead above 0xC6 miss Big5's. A
// sample's likeness is the count of its pairs in the block, less four for each lead byte without a
// trail (GBK's extension pairs with a trail 0x80..0xA0 in Big5, for one).
TLikeness Gb18030Likeness(std::string_view Sample) {
  TLikeness Common = 0, Bad = 0;
  for (std::size_t Pos = 0; Pos < Sample.size();) {
    const unsigned char Lead = ByteAt(Sample, Pos);
    const std::size_t Step = TGb18030::Length(Sample, Pos);
    if (Step > Sample.size() - Pos) break;  // cut by the sample's end
    if (Lead == 0xFF || (IsLead(Lead) && Step == 1)) ++Bad;
    if (Step == 2 && Lead >= 0xB0 && Lead <= 0xD7 && ByteAt(Sample, Pos + 1) >= 0xA1) ++Common;
    Pos += Step;
  }
  return Common - 4 * Bad;
}

TLikeness Big5Likeness(std::string_view Sample) {
  TLikeness Common = 0, Bad = 0;
  for (std::size_t Pos = 0; Pos < Sample.size(); ++Pos) {
    const unsigned char Lead = ByteAt(Sample, Pos);
    if (Lead < 0x80) continue;
    if (!IsLead(Lead)) {
      ++Bad;
      continue;
    }
    if (Pos + 1 == Sample.size()) break;  // cut by the sample's end
    const unsigned char Trail = ByteAt(Sample, Pos + 1);
    if (!TBig5::IsTrail(Trail)) {
      ++Bad;
      continue;
    }
    const unsigned Pair = static_cast<unsigned>(Lead) << 8 | Trail;
    if (Pair >= 0xA440 && Pair <= 0xC67E) ++Common;
    ++Pos;
  }
  return Common - 4 * Bad;
}

template <class Code>
TEncodingRules DoubleByteRow(TTextEncoding Encoding, const char* MenuName, std::string_view ByteOrderMark,
                             bool BytesAreColumns, TLikeness (*Likeness)(std::string_view)) {
  using namespace std::string_view_literals;
  using Row = TDoubleByte<Code>;
  return {Encoding,       MenuName,         Code::Name,     ByteOrderMark, 1,         "\n"sv,       "\r"sv,
          Row::Length,    Code::Read,       BytesAreColumns, LookBackBytes, Row::Starts, Row::KnownStart,
          Row::Whole,     Row::LookBack,    Row::Settles,   Row::Decode,   Row::SkipDecoded, Row::DecodeUtf16,
          false,          Likeness};
}

}  // namespace

TEncodingRules Gb18030Row() {
  using namespace std::string_view_literals;
  return DoubleByteRow<TGb18030>(TTextEncoding::Gb18030, "GB18030", "\x84\x31\x95\x33"sv, true, Gb18030Likeness);
}

// Big5 has no byte-order mark.
TEncodingRules Big5Row() { return DoubleByteRow<TBig5>(TTextEncoding::Big5, "Big5", {}, false, Big5Likeness); }

std::size_t Gb18030Columns(char32_t CodePoint) {
  if (CodePoint < 0x80) return 1;
  return CodePoint <= 0xFFFF && TGb18030::Tables().TwoByte[CodePoint] ? 2 : 4;
}
