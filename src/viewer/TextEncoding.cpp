#include "TextEncoding.h"

#include "ReadPage.h"
#include "TextEncodingRows.h"
#include "Unicode.h"

#include <algorithm>

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Made on first use: other objects made before main() ask for it. The rows stand in the order of
// TTextEncoding, which RulesOf counts on.
const std::vector<TEncodingRules>& Table() {
  static const std::vector<TEncodingRules> Rows = {Gb18030Row(), Big5Row(), Utf8Row(), Utf16LeRow(), Utf16BeRow()};
  return Rows;
}

bool StartsWith(std::string_view Bytes, std::string_view Prefix) { return Bytes.substr(0, Prefix.size()) == Prefix; }

// A sample from inside a file, from a character's start: just after its first byte below 0x30 (a line
// break, mostly), which no character of an encoding of one-byte units holds after its first byte; with
// none, past the continuation bytes of a UTF-8 character begun before it.
std::string_view FromCharacterStart(std::string_view Sample) {
  const auto Low = std::find_if(Sample.begin(), Sample.end(), [](char Byte) { return static_cast<unsigned char>(Byte) < 0x30; });
  if (Low != Sample.end()) return Sample.substr(static_cast<std::size_t>(Low - Sample.begin()));
  std::size_t Start = 0;
  while (Start < Sample.size() && Start < 3 && IsContinuation(static_cast<unsigned char>(Sample[Start]))) ++Start;
  return Sample.substr(Start);
}

// One row's likeness over all samples: unfit if any sample is, certain if any is (and none unfit),
// else their sum.
TLikeness LikenessOver(const TEncodingRules& Rules, const std::vector<std::string_view>& Samples) {
  TLikeness Sum = 0;
  bool Sure = false;
  for (const std::string_view Sample : Samples) {
    const TLikeness Likeness = Rules.Likeness(Sample);
    if (Likeness == Unfit) return Unfit;
    if (Likeness == Certain)
      Sure = true;
    else
      Sum += Likeness;
  }
  return Sure ? Certain : Sum;
}

}  // namespace

const std::vector<TEncodingRules>& Encodings() { return Table(); }

const TEncodingRules& RulesOf(TTextEncoding Encoding) { return Table()[static_cast<std::size_t>(Encoding)]; }

std::vector<std::string> ReadEncodingSamples(const std::string& FileName) {
  const int Fd = OpenRegularFile(FileName);
  struct stat Info {};
  if (Fd < 0 || ::fstat(Fd, &Info) != 0) {
    if (Fd >= 0) ::close(Fd);
    return {std::string()};
  }
  const TFileOffset Size = Info.st_size;
  const auto Span = static_cast<TFileOffset>(EncodingSampleBytes);
  const auto Count = static_cast<TFileOffset>(EncodingSampleCount);
  const auto Read = [Fd](TFileOffset From, TFileOffset Bytes) {
    std::string Sample(static_cast<std::size_t>(Bytes), '\0');
    Sample.resize(ReadAt(Fd, From, Sample.data(), Sample.size()));
    return Sample;
  };
  std::vector<std::string> Samples;
  if (Size <= Span * Count) {
    Samples.push_back(Read(0, Size));
  } else {
    for (TFileOffset Index = 0; Index < Count; ++Index) Samples.push_back(Read(Index * (Size - Span) / (Count - 1), Span));
  }
  ::close(Fd);
  return Samples;
}

TTextEncoding DetectEncoding(const std::vector<std::string>& Samples) {
  const std::string_view Head = Samples.empty() ? std::string_view() : Samples.front();
  for (const TEncodingRules& Rules : Table())
    if (!Rules.ByteOrderMark.empty() && StartsWith(Head, Rules.ByteOrderMark)) return Rules.Encoding;
  std::vector<std::string_view> Views;
  for (std::size_t Index = 0; Index < Samples.size(); ++Index)
    Views.push_back(Index == 0 ? Head : FromCharacterStart(Samples[Index]));
  const TEncodingRules* Best = &Table().front();
  TLikeness Most = LikenessOver(*Best, Views);
  for (const TEncodingRules& Rules : Table()) {
    if (&Rules == &Table().front() || !Rules.Likeness) continue;
    const TLikeness Likeness = LikenessOver(Rules, Views);
    if (Likeness > Most && Likeness > 0) {
      Best = &Rules;
      Most = Likeness;
    }
  }
  return Best->Encoding;
}

std::size_t CharNext(TTextEncoding Encoding, std::string_view Bytes, std::size_t Pos) {
  if (Pos >= Bytes.size()) return Bytes.size();
  return Pos + std::min(RulesOf(Encoding).Length(Bytes, Pos), Bytes.size() - Pos);
}

std::size_t TextEnd(TTextEncoding Encoding, std::string_view Bytes) {
  const std::size_t Unit = CodeUnitBytes(Encoding);
  if (Unit == 1) return std::min(Bytes.find('\0'), Bytes.size());
  for (std::size_t Pos = 0; Pos + Unit <= Bytes.size(); Pos += Unit)
    if (Bytes.substr(Pos, Unit).find_first_not_of('\0') == std::string_view::npos) return Pos;
  return Bytes.size();
}

std::size_t LookBackNeeded(TTextEncoding Encoding, TFileOffset PageStart, std::string_view Page) {
  return RulesOf(Encoding).LookBack(PageStart, Page);
}

bool LookBackSettles(TTextEncoding Encoding, std::string_view LookBack) { return RulesOf(Encoding).Settles(LookBack); }

TWholeCharacters WholeCharacters(TTextEncoding Encoding, TFileOffset PageStart, std::string_view LookBack,
                                 std::string_view Page) {
  const TEncodingRules& Rules = RulesOf(Encoding);
  // The file's byte-order mark, or as much of it as the page holds, is no character.
  const std::string_view Mark = Rules.ByteOrderMark;
  std::size_t From = 0;
  if (PageStart == 0 && !Page.empty() && StartsWith(Mark, Page.substr(0, Mark.size())))
    From = std::min(Mark.size(), Page.size());
  TWholeCharacters Whole = Rules.Whole(PageStart, LookBack, Page, From);
  Whole.From = std::min(Whole.From, Page.size());
  Whole.To = std::max(Whole.To, Whole.From);
  return Whole;
}

// ---- The encoder ------------------------------------------------------------------------------------

TTextEncoder::TTextEncoder(TTextEncoding Encoding)
    : FConverter(iconv_open(RulesOf(Encoding).IconvName, "UTF-8")) {}

TTextEncoder::~TTextEncoder() {
  if (*this) iconv_close(static_cast<iconv_t>(FConverter));
}

TTextEncoder::operator bool() const { return FConverter != reinterpret_cast<void*>(-1); }

bool TTextEncoder::Encode(std::string_view Utf8, std::string& Bytes) {
  if (!*this) return false;
  const auto Cd = static_cast<iconv_t>(FConverter);
  std::string In(Utf8);
  Bytes.assign(In.size() * 4 + 16, '\0');
  char* InPos = In.data();
  std::size_t InLeft = In.size();
  char* OutPos = Bytes.data();
  std::size_t OutLeft = Bytes.size();
  iconv(Cd, nullptr, nullptr, nullptr, nullptr);
  const bool Done = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft) != static_cast<std::size_t>(-1) && InLeft == 0 &&
                    // A converter may hold back a letter that a combining mark could still join (Big5).
                    iconv(Cd, nullptr, nullptr, &OutPos, &OutLeft) != static_cast<std::size_t>(-1);
  Bytes.resize(Done ? static_cast<std::size_t>(OutPos - Bytes.data()) : 0);
  return Done;
}
