#pragma once

#include "FileOffset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

// Chapter headings packed for a list of a million: each costs its offset, where its title ends, its
// level and its title's bytes. They are added to an open block of a fixed size; a full block is sealed
// into arrays of just the size its headings need, and a list appended to another hands its sealed
// blocks over as they are. So a growing list is never copied, keeps no room for growth beyond its one
// open block, and a scan can build the blocks on its own thread for the window's list to take.
class TChapterList {
public:
  // The most bytes of a title: longer ones are cut (at a byte; the scan's titles are far shorter).
  static constexpr std::size_t MaxTitleBytes = 1024;

  TChapterList() = default;
  // A list moved from is empty.
  TChapterList(TChapterList&& Other) noexcept
      : FBlocks(std::move(Other.FBlocks)), FOpen(std::exchange(Other.FOpen, false)),
        FCount(std::exchange(Other.FCount, 0)) {}
  TChapterList& operator=(TChapterList&& Other) noexcept {
    FBlocks = std::move(Other.FBlocks);
    FOpen = std::exchange(Other.FOpen, false);
    FCount = std::exchange(Other.FCount, 0);
    return *this;
  }

  std::size_t Count() const { return FCount; }
  TFileOffset Offset(std::size_t Index) const;
  std::uint8_t Level(std::size_t Index) const;
  std::string_view Title(std::size_t Index) const;

  // Offsets must not fall: the index of the first heading after Offset (Count() when there is none),
  // and of the first at or after it.
  std::size_t FirstAfter(TFileOffset Offset) const;
  std::size_t FirstFrom(TFileOffset Offset) const;

  void Add(TFileOffset Offset, std::string_view Title, std::uint8_t Level);
  // Moves the headings of Other (none of them before the last of this list) to its end; Other is left
  // empty.
  void Append(TChapterList&& Other);
  // Forgets every heading and lets their memory go.
  void Clear();
  // Forgets the headings from Index on (a block cut short keeps its arrays).
  void Truncate(std::size_t Index);

private:
  // Headings an open block has room for, and bytes for their titles.
  static constexpr std::size_t BlockHeadings = 4096;
  static constexpr std::size_t BlockTitleBytes = 64 * 1024;

  struct TBlock {
    std::size_t First = 0;  // the index of its first heading in the list
    std::size_t Count = 0;
    std::unique_ptr<TFileOffset[]> Offsets;
    std::unique_ptr<std::uint32_t[]> TitleEnds;  // where each title ends in Titles
    std::unique_ptr<std::uint8_t[]> Levels;
    std::unique_ptr<char[]> Titles;
  };

  // The block of heading Index, and its place there.
  const TBlock& BlockOf(std::size_t Index, std::size_t& At) const;
  // The open block, if any, into arrays of its own size (or gone when it is empty).
  void Seal();

  std::vector<TBlock> FBlocks;  // in file order; the last one is open when FOpen
  bool FOpen = false;
  std::size_t FCount = 0;
};
