#pragma once

#include "TextEncoding.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// An encoding of text bytes as an object: the character walk that keeps characters whole, where a NUL
// ends the text and the decoder that shows the bytes, together, so that they always agree on what a
// character is. The open file's text has the code page of its encoding (Of); the program's own
// texts, the status texts and the caption keep the system's ANSI code page, GBK (Ansi).
//
// Decoding goes through glibc iconv. GB18030 agrees with GBK on every one- and two-byte character and
// also shows the four-byte ones. Decoding never fails: a byte that begins no character (in UTF-16 a
// code unit) shows as one U+FFFD; in GB18030 the single byte 0x80 shows as the euro sign, as code
// page 936 maps it.
class TCodePage {
public:
  // The code page of the program's own texts and status texts: decodes GB18030, encodes GBK.
  static const TCodePage& Ansi();
  // The code page of a file's text in Encoding; one object per encoding for the program's life.
  static const TCodePage& Of(TTextEncoding Encoding);

  TTextEncoding Encoding() const { return FEncoding; }
  // 2 for UTF-16, 1 otherwise.
  std::size_t CodeUnitBytes() const { return ::CodeUnitBytes(FEncoding); }
  // The code unit at Pos, which needs CodeUnitBytes bytes from Pos inside Bytes.
  unsigned CodeUnitAt(std::string_view Bytes, std::size_t Pos) const { return ::CodeUnitAt(FEncoding, Bytes, Pos); }

  // Where the character after the one at Pos starts (see CharNext of the text encodings). In GB18030 a
  // lead byte whose trail is missing (the end of Bytes, or a NUL) is a character of its own, and any
  // other byte after it is its trail. At or past the end, the end.
  std::size_t CharNext(std::string_view Bytes, std::size_t Pos) const { return ::CharNext(FEncoding, Bytes, Pos); }

  // Where a text that is handed over NUL-terminated ends: its first zero byte, in UTF-16 its first zero
  // code unit; else its size.
  std::size_t TextEnd(std::string_view Bytes) const { return ::TextEnd(FEncoding, Bytes); }

  // Bytes of CR LF in this code page.
  std::string LineBreak() const;

  // Display text of Bytes. A NUL shows as U+0000; callers that hold NUL-terminated text cut first.
  QString Decode(std::string_view Bytes) const;

  // Bytes of Text in this code page, for texts typed by the user or written in the source: a character
  // the code page does not hold becomes "?"; in GBK the euro sign becomes 0x80.
  std::string Encode(const QString& Text) const;

  ~TCodePage();
  TCodePage(const TCodePage&) = delete;
  TCodePage& operator=(const TCodePage&) = delete;

private:
  class TIconv;

  TCodePage(TTextEncoding Encoding, const char* EncodeTo);
  TIconv& Converter(std::unique_ptr<TIconv>& Held, const char* To, const char* From) const;

  TTextEncoding FEncoding;
  const char* FName;      // iconv's name of the encoding
  const char* FEncodeTo;  // what Encode writes: the encoding itself, or GBK for the ANSI code page
  // Opened on first use; the program's one GUI thread is their only user.
  mutable std::unique_ptr<TIconv> FDecoder;
  mutable std::unique_ptr<TIconv> FEncoder;
};
