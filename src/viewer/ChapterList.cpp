#include "ChapterList.h"

#include <algorithm>
#include <cstring>

const TChapterList::TBlock& TChapterList::BlockOf(std::size_t Index, std::size_t& At) const {
  const auto After = std::upper_bound(FBlocks.begin(), FBlocks.end(), Index,
                                      [](std::size_t Value, const TBlock& Block) { return Value < Block.First; });
  const TBlock& Block = *(After - 1);
  At = Index - Block.First;
  return Block;
}

TFileOffset TChapterList::Offset(std::size_t Index) const {
  std::size_t At = 0;
  return BlockOf(Index, At).Offsets[At];
}

std::uint8_t TChapterList::Level(std::size_t Index) const {
  std::size_t At = 0;
  return BlockOf(Index, At).Levels[At];
}

std::string_view TChapterList::Title(std::size_t Index) const {
  std::size_t At = 0;
  const TBlock& Block = BlockOf(Index, At);
  const std::uint32_t Start = At == 0 ? 0 : Block.TitleEnds[At - 1];
  return std::string_view(Block.Titles.get() + Start, Block.TitleEnds[At] - Start);
}

std::size_t TChapterList::FirstAfter(TFileOffset Value) const {
  const auto Block = std::partition_point(FBlocks.begin(), FBlocks.end(), [&](const TBlock& Block) {
    return Block.Offsets[Block.Count - 1] <= Value;
  });
  if (Block == FBlocks.end()) return FCount;
  return Block->First + static_cast<std::size_t>(
                            std::upper_bound(Block->Offsets.get(), Block->Offsets.get() + Block->Count, Value) -
                            Block->Offsets.get());
}

std::size_t TChapterList::FirstFrom(TFileOffset Value) const {
  const auto Block = std::partition_point(FBlocks.begin(), FBlocks.end(), [&](const TBlock& Block) {
    return Block.Offsets[Block.Count - 1] < Value;
  });
  if (Block == FBlocks.end()) return FCount;
  return Block->First + static_cast<std::size_t>(
                            std::lower_bound(Block->Offsets.get(), Block->Offsets.get() + Block->Count, Value) -
                            Block->Offsets.get());
}

void TChapterList::Add(TFileOffset Offset, std::string_view Title, std::uint8_t Level) {
  Title = Title.substr(0, MaxTitleBytes);
  if (FOpen) {
    const TBlock& Open = FBlocks.back();
    const std::uint32_t Used = Open.Count == 0 ? 0 : Open.TitleEnds[Open.Count - 1];
    if (Open.Count == BlockHeadings || Used + Title.size() > BlockTitleBytes) Seal();
  }
  if (!FOpen) {
    TBlock Open;
    Open.First = FCount;
    Open.Offsets = std::make_unique_for_overwrite<TFileOffset[]>(BlockHeadings);
    Open.TitleEnds = std::make_unique_for_overwrite<std::uint32_t[]>(BlockHeadings);
    Open.Levels = std::make_unique_for_overwrite<std::uint8_t[]>(BlockHeadings);
    Open.Titles = std::make_unique_for_overwrite<char[]>(BlockTitleBytes);
    FBlocks.push_back(std::move(Open));
    FOpen = true;
  }
  TBlock& Open = FBlocks.back();
  const std::uint32_t Start = Open.Count == 0 ? 0 : Open.TitleEnds[Open.Count - 1];
  std::memcpy(Open.Titles.get() + Start, Title.data(), Title.size());
  Open.Offsets[Open.Count] = Offset;
  Open.TitleEnds[Open.Count] = Start + static_cast<std::uint32_t>(Title.size());
  Open.Levels[Open.Count] = Level;
  ++Open.Count;
  ++FCount;
}

void TChapterList::Seal() {
  if (!FOpen) return;
  FOpen = false;
  TBlock& Open = FBlocks.back();
  const std::size_t Count = Open.Count;
  const std::size_t TitleBytes = Open.TitleEnds[Count - 1];
  const auto Fit = [&](auto& Array, std::size_t Size) {
    auto Exact = std::make_unique_for_overwrite<std::remove_reference_t<decltype(Array[0])>[]>(Size);
    std::copy_n(Array.get(), Size, Exact.get());
    Array = std::move(Exact);
  };
  if (Count < BlockHeadings) {
    Fit(Open.Offsets, Count);
    Fit(Open.TitleEnds, Count);
    Fit(Open.Levels, Count);
  }
  if (TitleBytes < BlockTitleBytes) Fit(Open.Titles, TitleBytes);
}

void TChapterList::Append(TChapterList&& Other) {
  Seal();
  Other.Seal();
  FBlocks.reserve(FBlocks.size() + Other.FBlocks.size());
  for (TBlock& Block : Other.FBlocks) {
    Block.First += FCount;
    FBlocks.push_back(std::move(Block));
  }
  FCount += Other.FCount;
  Other.Clear();
}

void TChapterList::Clear() {
  // Swapped with an empty one: clear() would keep the vector's storage.
  std::vector<TBlock>().swap(FBlocks);
  FOpen = false;
  FCount = 0;
}

void TChapterList::Truncate(std::size_t Index) {
  if (Index >= FCount) return;
  while (!FBlocks.empty() && FBlocks.back().First >= Index) FBlocks.pop_back();
  if (FBlocks.empty())
    FOpen = false;
  else
    FBlocks.back().Count = Index - FBlocks.back().First;
  FCount = Index;
}
