#include "CodePage.h"

#include "Exception.h"
#include "Unicode.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <iconv.h>

namespace {

// Host-order UTF-16 is what QString holds, so the converter writes straight into its buffer.
constexpr const char* Utf16Name = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "UTF-16LE" : "UTF-16BE";

constexpr char16_t Euro = u'\u20AC';
constexpr unsigned char EuroByte = 0x80;

} // namespace

// An iconv conversion descriptor, opened on first use and kept for the code page's life: glibc loads
// the conversion module with the first descriptor and unloads it with the last, so a descriptor per
// call would load it again for every text. Each conversion starts from the initial shift state.
class TCodePage::TIconv {
public:
  TIconv(const char* To, const char* From) : Cd(iconv_open(To, From)) {
    if (Cd == reinterpret_cast<iconv_t>(-1))
      throw Exception(std::string("The system cannot convert ") + From + " to " + To);
  }
  ~TIconv() { iconv_close(Cd); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  void Reset() { iconv(Cd, nullptr, nullptr, nullptr, nullptr); }

  // Converts as much as it can; false with errno set where it stopped.
  bool Convert(char*& In, std::size_t& InLeft, char*& Out, std::size_t& OutLeft) {
    return iconv(Cd, &In, &InLeft, &Out, &OutLeft) != static_cast<std::size_t>(-1);
  }

private:
  iconv_t Cd;
};

TCodePage::TCodePage(TTextEncoding Encoding, const char* EncodeTo) : FEncoding(Encoding), FEncodeTo(EncodeTo) {}
TCodePage::~TCodePage() = default;

TCodePage::TIconv& TCodePage::Converter(std::unique_ptr<TIconv>& Held, const char* To, const char* From) const {
  if (!Held) Held = std::make_unique<TIconv>(To, From);
  Held->Reset();
  return *Held;
}

// GBK for the way back is exactly code page 936's repertoire, so a character the code page lacks turns
// into "?" as it would on a GBK system.
const TCodePage& TCodePage::Ansi() {
  static const TCodePage Instance(TTextEncoding::Gb18030, "GBK");
  return Instance;
}

const TCodePage& TCodePage::Of(TTextEncoding Encoding) {
  // One code page per row of the encodings' table, made on first use and kept for the program's life.
  static const std::vector<std::unique_ptr<TCodePage>> All = [] {
    std::vector<std::unique_ptr<TCodePage>> Made;
    for (const TEncodingRules& Rules : Encodings())
      Made.push_back(std::unique_ptr<TCodePage>(new TCodePage(Rules.Encoding, Rules.IconvName)));
    return Made;
  }();
  for (const auto& CodePage : All)
    if (CodePage->Encoding() == Encoding) return *CodePage;
  return *All.front();
}

QString TCodePage::Decode(std::string_view Bytes) const {
  if (Bytes.empty()) return QString();
  // The table's decoder, the one the search and the chapter titles read with too, straight into the
  // string: no character takes more units than bytes.
  QString Text(static_cast<qsizetype>(Bytes.size()), Qt::Uninitialized);
  char16_t* const Begin = reinterpret_cast<char16_t*>(Text.data());
  Text.truncate(RulesOf(FEncoding).DecodeUtf16(Bytes, Begin) - Begin);
  return Text;
}

std::string TCodePage::Encode(const QString& Text) const {
  if (Text.isEmpty()) return std::string();
  TIconv& Iconv = Converter(FEncoder, FEncodeTo, Utf16Name);
  // At most four bytes for each UTF-16 unit (GB18030's four-byte characters).
  std::string Bytes(static_cast<std::size_t>(Text.size()) * 4, '\0');
  // "?" as one code unit: the line feed's unit with the question mark in its place.
  std::string Question(RulesOf(FEncoding).LineFeed);
  Question[Question.find('\n')] = '?';
  const char16_t* Units = reinterpret_cast<const char16_t*>(Text.utf16());
  char* In = reinterpret_cast<char*>(const_cast<char16_t*>(Units));
  std::size_t InLeft = static_cast<std::size_t>(Text.size()) * sizeof(char16_t);
  char* Out = Bytes.data();
  std::size_t OutLeft = Bytes.size();
  while (InLeft > 0 && !Iconv.Convert(In, InLeft, Out, OutLeft)) {
    if (errno != EILSEQ && errno != EINVAL)
      throw Exception(std::string("The system failed to convert text to ") + FEncodeTo);
    const char16_t* Unit = reinterpret_cast<const char16_t*>(In);
    std::size_t Skip = 1;
    if (IsHighSurrogate(Unit[0]) && InLeft >= 2 * sizeof(char16_t) && IsLowSurrogate(Unit[1])) Skip = 2;
    if (Unit[0] == Euro && ::CodeUnitBytes(FEncoding) == 1) {
      *Out++ = static_cast<char>(EuroByte);
      --OutLeft;
    } else {
      Out = std::copy(Question.begin(), Question.end(), Out);
      OutLeft -= Question.size();
    }
    In += Skip * sizeof(char16_t);
    InLeft -= Skip * sizeof(char16_t);
  }
  Bytes.resize(static_cast<std::size_t>(Out - Bytes.data()));
  return Bytes;
}
