#pragma once

#include "PageRows.h"

#include <QStringView>

#include <algorithm>
#include <vector>

// The screen lines of a text: where each starts in the text and how many characters it shows. A line
// ends at a line feed (which belongs to no line) or before the first character that no longer fits
// Width pixels on a line that already holds one, also inside a word, as the page reader counts lines.
// The code point at I of Text and, in Units, how many code units it takes: a surrogate pair is one.
inline char32_t CodePointAt(QStringView Text, qsizetype I, int& Units) {
  const char16_t Unit = Text[I].unicode();
  Units = 1;
  if (QChar::isHighSurrogate(Unit) && I + 1 < Text.size() && QChar::isLowSurrogate(Text[I + 1].unicode())) {
    Units = 2;
    return QChar::surrogateToUcs4(Unit, Text[I + 1].unicode());
  }
  return Unit;
}

// Whether Position falls between the two halves of a surrogate pair, where no caret may stand.
inline bool IsLowSurrogateAt(QStringView Text, int Position) {
  return Position > 0 && Position < Text.size() && Text[Position].isLowSurrogate() && Text[Position - 1].isHighSurrogate();
}

struct TPageLine {
  int Start = 0;
  int Length = 0;
  int Top = 0;  // of its glyph box, in the text's pixels
};

class TPageLayout {
public:
  std::vector<TPageLine> Lines;
  int Left = 0;  // where the lines start across

  // The lines of Text laid out in rows by Geometry, broken as the page reader counts them (TRowBreaker):
  // each character is one to the breaker, a surrogate pair too. A line feed that ends the text opens no
  // row: the page reader ends a page after it when the next row no longer fits, and a row below the
  // column would make the text scroll.
  template <class TAdvance>
  static TPageLayout MakeRows(QStringView Text, const TRowGeometry& Geometry, bool BreakRules, TAdvance&& Advance) {
    TRowBreaker Breaker(Geometry, BreakRules);
    std::vector<int> Places;  // of each character in Text
    Places.reserve(static_cast<std::size_t>(Text.size()) + 1);
    const int Size = static_cast<int>(Text.size());
    for (int I = 0, Units = 1; I < Size; I += Units) {
      Places.push_back(I);
      const char32_t Code = CodePointAt(Text, I, Units);
      Breaker.Add(Code, Code == U'\n' ? 0 : Advance(Code));
    }
    Places.push_back(Size);
    Breaker.Finish();
    std::vector<TRow> Rows = Breaker.Rows();
    if (Rows.size() > 1 && Rows.back().Start == Rows.back().End && Rows[Rows.size() - 2].LineFeed) Rows.pop_back();
    TPageLayout Layout;
    Layout.Left = Geometry.Left;
    Layout.Lines.reserve(Rows.size());
    for (const TRow& Row : Rows) {
      const int Start = Places[Row.Start];
      Layout.Lines.push_back({Start, Places[Row.End] - Start, Geometry.Top + Row.Top + Geometry.Lead});
    }
    return Layout;
  }

  // Advance(code point) gives a character's width in pixels. A surrogate pair is one character.
  template <class TAdvance> static TPageLayout Make(QStringView Text, int Width, TAdvance&& Advance) {
    TPageLayout Layout;
    int Start = 0;
    int X = 0;
    const int Size = static_cast<int>(Text.size());
    int I = 0;
    while (I < Size) {
      const char16_t Unit = Text[I].unicode();
      if (Unit == u'\n') {
        Layout.Lines.push_back({Start, I - Start, 0});
        Start = ++I;
        X = 0;
        continue;
      }
      int Units = 1;
      const int Wide = Advance(CodePointAt(Text, I, Units));
      if (X + Wide > Width && I > Start) {
        Layout.Lines.push_back({Start, I - Start, 0});
        Start = I;
        X = 0;
      }
      X += Wide;
      I += Units;
    }
    Layout.Lines.push_back({Start, Size - Start, 0});
    return Layout;
  }

  // The line that shows Position: the last one that starts at or before it (a caret at a wrap shows at
  // the start of the next line, one at a line feed at the end of its own).
  int LineOf(int Position) const {
    const auto After = std::upper_bound(Lines.begin(), Lines.end(), Position,
                                        [](int P, const TPageLine& Line) { return P < Line.Start; });
    int Line = static_cast<int>(After - Lines.begin()) - 1;
    return std::max(Line, 0);
  }
};
