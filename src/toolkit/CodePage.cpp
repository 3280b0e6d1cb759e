#include "CodePage.h"

#include "Exception.h"

#include <QtGlobal>

#include <cerrno>
#include <iconv.h>

namespace {

// Host-order UTF-16 is what QString holds, so the converter writes straight into its buffer.
constexpr const char* Utf16Name = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "UTF-16LE" : "UTF-16BE";
// GB18030 shows the four-byte characters as well; for the way back, GBK is exactly code page 936's
// repertoire, so a character the code page lacks turns into "?" as it would on a GBK system.
constexpr const char* DecodeFrom = "GB18030";
constexpr const char* EncodeTo = "GBK";

constexpr char16_t Replacement = u'\uFFFD';
constexpr char16_t Euro = u'\u20AC';
constexpr unsigned char EuroByte = 0x80;

bool IsHighSurrogate(char16_t Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

} // namespace

// An iconv conversion descriptor, opened on first use and kept for the code page's life: glibc loads
// the conversion module with the first descriptor and unloads it with the last, so a descriptor per
// call would load it again for every page. Each conversion starts from the initial shift state.
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

TCodePage::TCodePage() = default;
TCodePage::~TCodePage() = default;

TCodePage::TIconv& TCodePage::Converter(std::unique_ptr<TIconv>& Held, const char* To, const char* From) const {
  if (!Held) Held = std::make_unique<TIconv>(To, From);
  Held->Reset();
  return *Held;
}

const TCodePage& TCodePage::Ansi() {
  static const TCodePage Instance;
  return Instance;
}

std::size_t TCodePage::CharNext(std::string_view Bytes, std::size_t Pos) const {
  if (Pos >= Bytes.size()) return Bytes.size();
  if (IsLeadByte(static_cast<unsigned char>(Bytes[Pos])) && Pos + 1 < Bytes.size() && Bytes[Pos + 1] != '\0')
    return Pos + 2;
  return Pos + 1;
}

QString TCodePage::Decode(std::string_view Bytes) const {
  if (Bytes.empty()) return QString();
  TIconv& Iconv = Converter(FDecoder, Utf16Name, DecodeFrom);
  // Every byte yields at most one UTF-16 unit: one-byte and two-byte characters give one, four-byte
  // characters at most two, and a byte shown as U+FFFD or the euro sign one.
  QString Text(static_cast<qsizetype>(Bytes.size()), Qt::Uninitialized);
  char16_t* const Begin = reinterpret_cast<char16_t*>(Text.data());
  char* In = const_cast<char*>(Bytes.data());
  std::size_t InLeft = Bytes.size();
  char* Out = reinterpret_cast<char*>(Begin);
  std::size_t OutLeft = Bytes.size() * sizeof(char16_t);
  while (InLeft > 0 && !Iconv.Convert(In, InLeft, Out, OutLeft)) {
    if (errno != EILSEQ && errno != EINVAL)
      throw Exception("The system failed to convert text from GB18030");
    // EILSEQ: no character begins here; EINVAL: a character cut short by the end of the bytes.
    // Either way this one byte is shown on its own and the rest is decoded after it.
    const char16_t Shown = static_cast<unsigned char>(*In) == EuroByte ? Euro : Replacement;
    *reinterpret_cast<char16_t*>(Out) = Shown;
    Out += sizeof(char16_t);
    OutLeft -= sizeof(char16_t);
    ++In;
    --InLeft;
  }
  Text.truncate(reinterpret_cast<char16_t*>(Out) - Begin);
  return Text;
}

std::string TCodePage::Encode(const QString& Text) const {
  if (Text.isEmpty()) return std::string();
  TIconv& Iconv = Converter(FEncoder, EncodeTo, Utf16Name);
  // At most two bytes for each UTF-16 unit.
  std::string Bytes(static_cast<std::size_t>(Text.size()) * 2, '\0');
  const char16_t* Units = reinterpret_cast<const char16_t*>(Text.utf16());
  char* In = reinterpret_cast<char*>(const_cast<char16_t*>(Units));
  std::size_t InLeft = static_cast<std::size_t>(Text.size()) * sizeof(char16_t);
  char* Out = Bytes.data();
  std::size_t OutLeft = Bytes.size();
  while (InLeft > 0 && !Iconv.Convert(In, InLeft, Out, OutLeft)) {
    if (errno != EILSEQ && errno != EINVAL)
      throw Exception("The system failed to convert text to GBK");
    const char16_t* Unit = reinterpret_cast<const char16_t*>(In);
    std::size_t Skip = 1;
    if (IsHighSurrogate(Unit[0]) && InLeft >= 2 * sizeof(char16_t) && IsLowSurrogate(Unit[1])) Skip = 2;
    *Out++ = Unit[0] == Euro ? static_cast<char>(EuroByte) : '?';
    --OutLeft;
    In += Skip * sizeof(char16_t);
    InLeft -= Skip * sizeof(char16_t);
  }
  Bytes.resize(static_cast<std::size_t>(Out - Bytes.data()));
  return Bytes;
}
