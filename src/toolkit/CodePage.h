#pragma once

#include <QString>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// The display encoding of file bytes and status texts: the system's ANSI code page, GBK (code page 936).
// One object carries both halves, so that the byte walk that keeps two-byte characters whole and the
// decoder that shows them always agree on what a character is.
//
// Decoding goes through glibc iconv's GB18030, which agrees with GBK on every one- and two-byte
// character and also shows the four-byte characters. It never fails: every byte that does not begin a
// character shows as one U+FFFD; the single byte 0x80 shows as the euro sign, as code page 936 maps it.
class TCodePage {
public:
  // The code page of page bytes and status texts.
  static const TCodePage& Ansi();

  // A byte 0x81..0xFE opens a two-byte character.
  bool IsLeadByte(unsigned char Byte) const { return Byte >= 0x81 && Byte <= 0xFE; }

  // Where the character after the one at Pos starts: two bytes on after a lead byte, one byte on
  // otherwise. A lead byte whose trail is missing (the end of Bytes, or a NUL) is a character of its
  // own. At or past the end, the end.
  std::size_t CharNext(std::string_view Bytes, std::size_t Pos) const;

  // Display text of Bytes. A NUL byte shows as U+0000; callers that hold NUL-terminated text cut first.
  QString Decode(std::string_view Bytes) const;

  // Bytes of Text in this code page, for texts typed by the user or written in the source: a character
  // the code page does not hold becomes "?", the euro sign becomes 0x80.
  std::string Encode(const QString& Text) const;

  ~TCodePage();
  TCodePage(const TCodePage&) = delete;
  TCodePage& operator=(const TCodePage&) = delete;

private:
  class TIconv;

  TCodePage();
  TIconv& Converter(std::unique_ptr<TIconv>& Held, const char* To, const char* From) const;

  // Opened on first use; the program's one GUI thread is their only user.
  mutable std::unique_ptr<TIconv> FDecoder;
  mutable std::unique_ptr<TIconv> FEncoder;
};
