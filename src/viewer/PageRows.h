#pragma once

#include <cstddef>
#include <vector>

// How a page is set on the screen: the one place its layout is kept, read by the page reader and the
// text area alike, so that a page ends where the screen does.
struct TLayoutSettings {
  double LineSpacing = 1.0;       // rows apart, in the font's pixel heights (1.0 - 3.0)
  double ParagraphSpacing = 0.0;  // more after a row that a line feed ends, in rows (0 - 2)
  int Margin = 0;                 // pixels around the text, each side
  int MaxColumns = 0;             // 0: the text spans the width; else a column that many Chinese characters wide, centred
  bool BreakRules = false;        // Chinese line breaking (避头尾): see TRowBreaker

  bool operator==(const TLayoutSettings&) const = default;

  // 原样: the page as the reader has always counted and drawn it, bytes against columns; the default.
  static TLayoutSettings Original() { return {}; }
  // 书页: a book's page, with comfortable margins, spacing and a column of some 40 characters.
  static TLayoutSettings Book() { return {1.5, 0.5, 48, 40, true}; }
  // Whether pages are counted in bytes against columns as always, rather than in the rows shown.
  bool CountsBytes() const { return *this == Original(); }
};

// Where the rows of a laid-out page go, in pixels of the text area's client.
struct TRowGeometry {
  int Pitch = 1;         // a row's glyph box: the font's pixel height
  int RowAdvance = 1;    // from one row's top to the next's
  int ParagraphGap = 0;  // more after a row that a line feed ends
  int Lead = 0;          // from a row's top down to its glyph box: half the spacing
  int Left = 0;          // the column's left and top
  int Top = 0;
  int Width = 1;         // the column's width and height
  int Height = 0;

  // Whether a row whose top lies Y below the column's top shows whole.
  bool Fits(int Y) const { return Y + Lead + Pitch <= Height; }
};

// The rows of Layout in a client area of ClientWidth x ClientHeight for a font Pitch pixels high whose
// Chinese characters advance FullWidth pixels.
TRowGeometry RowGeometryOf(const TLayoutSettings& Layout, int Pitch, int ClientWidth, int ClientHeight, int FullWidth);

// Chinese line breaking (W3C clreq): a closing mark may not begin a row, an opening mark may not end one.
bool ClosingMark(char32_t Code);
bool OpeningMark(char32_t Code);

// One row of a laid-out text: characters [Start, End) by their index among those added, Top pixels
// below the column's top. A row ended by a line feed holds it at End.
struct TRow {
  std::size_t Start = 0;
  std::size_t End = 0;
  bool LineFeed = false;
  int Top = 0;
};

// Breaks characters into rows as they come, the one breaking that the page reader counts and the text
// area draws. A row ends at a line feed, or before the first character that no longer fits the column
// on a row that holds one (also inside a word). With BreakRules, a row that would begin with a closing
// mark takes the character before it along to the next row (and more, for several marks in a row), and
// an opening mark at a row's end moves to the next: the row then ends short of the column, nothing
// hangs into the margin. Where no such place is left on the row, it breaks where it is full.
class TRowBreaker {
public:
  TRowBreaker(const TRowGeometry& Geometry, bool BreakRules) : FGeometry(Geometry), FBreakRules(BreakRules) {}

  // The next character, Advance pixels wide; '\n' ends the row.
  void Add(char32_t Code, int Advance);
  // Ends the row under way, also an empty one.
  void Finish();

  const std::vector<TRow>& Rows() const { return FRows; }
  // Where the row under way starts, and its top.
  std::size_t RowStart() const { return FStart; }
  int RowTop() const { return FTop; }

private:
  void EndRow(std::size_t Kept, bool LineFeed);

  TRowGeometry FGeometry;
  bool FBreakRules;
  std::vector<TRow> FRows;
  std::size_t FStart = 0;
  int FTop = 0;
  int FX = 0;
  std::vector<char32_t> FCodes;  // of the row under way
  std::vector<int> FAdvances;
};
