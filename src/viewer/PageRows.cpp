#include "PageRows.h"

#include <algorithm>
#include <cmath>
#include <numeric>

TRowGeometry RowGeometryOf(const TLayoutSettings& Layout, int Pitch, int ClientWidth, int ClientHeight, int FullWidth) {
  TRowGeometry Geometry;
  Geometry.Pitch = std::max(Pitch, 1);
  const double Spacing = std::clamp(Layout.LineSpacing, 1.0, 3.0);
  const double Paragraph = std::clamp(Layout.ParagraphSpacing, 0.0, 2.0);
  Geometry.RowAdvance = std::max(static_cast<int>(std::lround(Geometry.Pitch * Spacing)), Geometry.Pitch);
  Geometry.ParagraphGap = static_cast<int>(std::lround(Geometry.Pitch * Paragraph));
  Geometry.Lead = (Geometry.RowAdvance - Geometry.Pitch) / 2;
  // Margins never leave less than one character's room.
  const int Room = std::max(ClientWidth - 1, 0) / 2;
  const int Margin = std::clamp(Layout.Margin, 0, Room);
  const int Across = std::max(ClientWidth - 2 * Margin, 1);
  Geometry.Width = Across;
  if (Layout.MaxColumns > 0 && FullWidth > 0)
    Geometry.Width = static_cast<int>(std::min<long long>(Across, static_cast<long long>(Layout.MaxColumns) * FullWidth));
  Geometry.Left = Margin + (Across - Geometry.Width) / 2;
  Geometry.Top = std::clamp(Layout.Margin, 0, std::max(ClientHeight - 1, 0) / 2);
  Geometry.Height = std::max(ClientHeight - 2 * Geometry.Top, 0);
  return Geometry;
}

bool ClosingMark(char32_t Code) {
  switch (Code) {
  case U',': case U'.': case U'!': case U'?': case U';': case U':': case U')': case U']': case U'}':
  case U'，': case U'。': case U'、': case U'！': case U'？': case U'；': case U'：': case U'．':
  case U'」': case U'』': case U'）': case U'》': case U'〉': case U'】': case U'〗': case U'〕': case U'］':
  case U'｝': case U'”': case U'’': case U'…': case U'—': case U'·': case U'・': case U'％':
    return true;
  default: return false;
  }
}

bool OpeningMark(char32_t Code) {
  switch (Code) {
  case U'(': case U'[': case U'{':
  case U'「': case U'『': case U'（': case U'《': case U'〈': case U'【': case U'〖': case U'〔': case U'［':
  case U'｛': case U'“': case U'‘':
    return true;
  default: return false;
  }
}

void TRowBreaker::Add(char32_t Code, int Advance) {
  if (Code == U'\n') {
    EndRow(FCodes.size(), true);
    return;
  }
  while (FX + Advance > FGeometry.Width && !FCodes.empty()) {
    std::size_t Kept = FCodes.size();
    if (FBreakRules) {
      // The first character of the next row, when Kept stay on this one.
      const auto Next = [&](std::size_t Stay) { return Stay < FCodes.size() ? FCodes[Stay] : Code; };
      const auto Forbidden = [&](std::size_t Stay) { return ClosingMark(Next(Stay)) || OpeningMark(FCodes[Stay - 1]); };
      std::size_t Stay = Kept;
      while (Stay > 1 && Forbidden(Stay)) --Stay;
      if (!Forbidden(Stay)) Kept = Stay;
    }
    EndRow(Kept, false);
  }
  FCodes.push_back(Code);
  FAdvances.push_back(Advance);
  FX += Advance;
}

void TRowBreaker::Finish() { EndRow(FCodes.size(), false); }

void TRowBreaker::EndRow(std::size_t Kept, bool LineFeed) {
  FRows.push_back({FStart, FStart + Kept, LineFeed, FTop});
  FTop += FGeometry.RowAdvance + (LineFeed ? FGeometry.ParagraphGap : 0);
  FStart += Kept + (LineFeed ? 1 : 0);
  FCodes.erase(FCodes.begin(), FCodes.begin() + static_cast<std::ptrdiff_t>(Kept));
  FAdvances.erase(FAdvances.begin(), FAdvances.begin() + static_cast<std::ptrdiff_t>(Kept));
  FX = std::accumulate(FAdvances.begin(), FAdvances.end(), 0);
}
