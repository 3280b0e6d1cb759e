#pragma once

#include "FileOffset.h"
#include "NovelText.h"

#include <algorithm>
#include <string>
#include <vector>

// Where in a file the page reader is measured: the start, the middle, and either just past 4 GiB (for
// a file that reaches that far) or the end region. The generator writes text around exactly these
// offsets when it makes a sparse file, so the benchmark and the generator share this one list.
struct TPageSpot {
  std::string Name;
  TFileOffset Offset = 0;
};

inline constexpr TFileOffset KiB = 1024;
inline constexpr TFileOffset MiB = 1024 * KiB;
inline constexpr TFileOffset GiB = 1024 * MiB;

// Room after a spot for a full page however the geometry is set, and the text a sparse file holds
// around each spot.
inline constexpr TFileOffset PageRoom = 64 * KiB;
inline constexpr TFileOffset SpotTextBytes = 4 * MiB;

inline std::vector<TPageSpot> PageSpots(TFileOffset Size) {
  std::vector<TPageSpot> Spots{{"start", 0}, {"middle", Size / 2}};
  const TFileOffset Past4GiB = 4 * GiB + MiB;
  if (Size >= Past4GiB + SpotTextBytes / 2)
    Spots.push_back({"past 4 GiB", Past4GiB});
  else
    Spots.push_back({"end region", std::max<TFileOffset>(0, Size - PageRoom)});
  return Spots;
}

// The stretches of a sparse file that hold text: SpotTextBytes centred on each spot, clipped to the file.
inline std::vector<TTextRegion> TextRegionsAround(const std::vector<TPageSpot>& Spots, TFileOffset Size) {
  std::vector<TTextRegion> Regions;
  for (const TPageSpot& Spot : Spots) {
    const TFileOffset Begin = std::clamp<TFileOffset>(Spot.Offset - SpotTextBytes / 2, 0, Size);
    const TFileOffset End = std::clamp<TFileOffset>(Begin + SpotTextBytes, Begin, Size);
    Regions.push_back({Begin, End - Begin});
  }
  return Regions;
}
