#pragma once

#include "TextEncoding.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// The code page of one text encoding: bytes to display text and back. What a character is, how it
// decodes, where a line breaks and where a NUL ends the text are the table of encodings' (TextEncoding.h):
// Decode is the row's decoder, the same the search and the chapter titles read with. The open file's
// text has the code page of its encoding (Of); the program's own texts, the status texts and the
// caption keep the system's ANSI code page, GBK (Ansi).
//
// GB18030 agrees with GBK on every one- and two-byte character and also shows the four-byte ones.
// Decoding never fails: a code unit that begins no whole character shows as one U+FFFD; in GB18030
// the single byte 0x80 shows as the euro sign, as code page 936 maps it. Encoding goes through glibc
// iconv, into the encoding the row names.
class TCodePage {
public:
  // The code page of the program's own texts and status texts: decodes GB18030, encodes GBK.
  static const TCodePage& Ansi();
  // The code page of a file's text in Encoding; one object per encoding for the program's life.
  static const TCodePage& Of(TTextEncoding Encoding);

  TTextEncoding Encoding() const { return FEncoding; }
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
  const char* FEncodeTo;  // iconv's name of what Encode writes: the encoding itself, or GBK for the ANSI code page
  // Opened on first use; the program's one GUI thread is its only user.
  mutable std::unique_ptr<TIconv> FEncoder;
};
