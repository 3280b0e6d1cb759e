#pragma once

#include "FuzzCheck.h"

#include <QString>

#include <functional>
#include <string_view>

// What every decoder's text must be, whatever the bytes: UTF-16 without a lone surrogate.
inline bool IsValidUtf16(const QString& Text) {
  for (qsizetype I = 0; I < Text.size(); ++I) {
    const QChar Unit = Text[I];
    if (Unit.isHighSurrogate()) {
      if (I + 1 == Text.size() || !Text[I + 1].isLowSurrogate()) return false;
      ++I;
    } else if (Unit.isLowSurrogate()) {
      return false;
    }
  }
  return true;
}

// For an encoding in which a CR or LF byte is always a character of its own (GB18030, UTF-8): each
// shows as exactly that character, and no character before it reaches over it, so decoding the
// pieces between the breaks one by one gives the same text as decoding the whole.
inline void RequireBreaksKept(std::string_view Bytes, const QString& Whole,
                              const std::function<QString(std::string_view)>& Decode) {
  QString Pieces;
  std::size_t From = 0;
  for (std::size_t I = 0; I <= Bytes.size(); ++I) {
    if (I < Bytes.size() && Bytes[I] != '\r' && Bytes[I] != '\n') continue;
    Pieces += Decode(Bytes.substr(From, I - From));
    if (I < Bytes.size()) Pieces += QChar(Bytes[I]);
    From = I + 1;
  }
  FUZZ_REQUIRE(Pieces == Whole);
}
