// pagorin_make_text: writes a novel-like GBK text file of a given size, for trying the viewer (and the
// benchmarks) on files far larger than any real novel.
//
//   pagorin_make_text [--sparse] [--seed N] FILE SIZE
//
// SIZE is a byte count, optionally with K, M or G (KiB, MiB, GiB): 10M, 6G. With --sparse the file is
// sized with ftruncate and text is written only around the offsets the page reader benchmark reads
// (start, middle, and just past 4 GiB or the end region); elsewhere it reads as zero bytes and takes no
// disk space.

#include "NovelText.h"
#include "PageSpots.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace {

int Usage() {
  std::fputs("usage: pagorin_make_text [--sparse] [--seed N] FILE SIZE   (SIZE like 10485760, 10M, 6G)\n",
             stderr);
  return 2;
}

bool ParseNumber(std::string_view Text, std::int64_t& Value) {
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return Error == std::errc{} && End == Text.data() + Text.size() && Value >= 0;
}

bool ParseSize(std::string_view Text, TFileOffset& Size) {
  TFileOffset Unit = 1;
  if (!Text.empty()) {
    switch (Text.back()) {
      case 'K': case 'k': Unit = KiB; break;
      case 'M': case 'm': Unit = MiB; break;
      case 'G': case 'g': Unit = GiB; break;
      default: break;
    }
    if (Unit != 1) Text.remove_suffix(1);
  }
  std::int64_t Count = 0;
  if (!ParseNumber(Text, Count) || Count > INT64_MAX / Unit) return false;
  Size = Count * Unit;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool Sparse = false;
  std::int64_t Seed = 1;
  std::string FileName;
  std::string SizeText;
  for (int I = 1; I < argc; ++I) {
    const std::string_view Arg = argv[I];
    if (Arg == "--sparse") {
      Sparse = true;
    } else if (Arg == "--seed") {
      if (++I == argc || !ParseNumber(argv[I], Seed)) return Usage();
    } else if (FileName.empty()) {
      FileName = Arg;
    } else if (SizeText.empty()) {
      SizeText = Arg;
    } else {
      return Usage();
    }
  }
  TFileOffset Size = 0;
  if (FileName.empty() || !ParseSize(SizeText, Size)) return Usage();

  try {
    const std::vector<TTextRegion> Regions =
        Sparse ? TextRegionsAround(PageSpots(Size), Size) : std::vector<TTextRegion>{};
    WriteNovelFile(FileName, Size, Regions, static_cast<std::uint64_t>(Seed));
    std::printf("%s: %lld bytes, %lld bytes on disk\n", FileName.c_str(), static_cast<long long>(Size),
                static_cast<long long>(AllocatedBytes(FileName)));
    for (const TTextRegion& Region : Regions)
      std::printf("  text at %lld..%lld\n", static_cast<long long>(Region.Offset),
                  static_cast<long long>(Region.Offset + Region.Length));
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "pagorin_make_text: %s\n", Error.what());
    return 1;
  }
  return 0;
}
