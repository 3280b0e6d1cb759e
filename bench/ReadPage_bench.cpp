// pagorin_bench_readpage: the cost of one page read, beside the cheapest ways to read the same bytes.
//
//   pagorin_bench_readpage [--repetitions N]
//
// Makes a 10 MiB text file and a sparse 6 GiB one in a temporary folder, and at the start, the middle
// and the far end (past 4 GiB for the big file) times one ReadPage of a full page against two floors
// for the same bytes at the same offset:
//   floor a: one pread from a file descriptor opened once beforehand (the bare cost of the bytes);
//   floor b: fopen, fseeko, one fread, fclose (what any reader that reopens the file pays).
// ReadPage opens the file, reads it byte by byte through the stream's buffer and closes it on every
// call, so the ratio to floor b shows what the byte loop costs and the ratio to floor a what reopening
// costs on top.

#include "TempDir.h"
#include "NovelText.h"
#include "PageSpots.h"
#include "ReadPage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A 588 x 420 text area with a 14-pixel font.
constexpr int LinesPerPage = 30;
constexpr int CharsPerLine = 42;
constexpr int WarmUpRounds = 50;

using Clock = std::chrono::steady_clock;

// Every timed call feeds this, so the compiler cannot drop a read whose result is unused.
volatile std::uint64_t Sink = 0;

struct TBenchFile {
  std::string Label;
  TFileOffset Size = 0;
  bool Sparse = false;
  std::string Path;
};

struct TRow {
  std::string File;
  TPageSpot Spot;
  std::size_t PageBytes = 0;
  double ReadPageUs = 0;
  double FloorAUs = 0;
  double FloorBUs = 0;
};

double Median(std::vector<double> Values) {
  const auto Middle = Values.begin() + static_cast<std::ptrdiff_t>(Values.size() / 2);
  std::nth_element(Values.begin(), Middle, Values.end());
  if (Values.size() % 2 == 1) return *Middle;
  return (*Middle + *std::max_element(Values.begin(), Middle)) / 2;
}

template <typename F>
double Microseconds(F&& Call) {
  const Clock::time_point Begin = Clock::now();
  Call();
  const Clock::time_point End = Clock::now();
  return std::chrono::duration<double, std::micro>(End - Begin).count();
}

std::runtime_error Failure(const std::string& What) {
  return std::runtime_error(What + ": " + std::strerror(errno));
}

class TDescriptor {
public:
  explicit TDescriptor(const std::string& FileName) : FFd(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (FFd < 0) throw Failure("cannot open " + FileName);
  }
  ~TDescriptor() { ::close(FFd); }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return FFd; }

private:
  int FFd;
};

// Floor a: the page's bytes with one system call, nothing opened or closed.
bool ReadWithPread(int Fd, TFileOffset Offset, std::string& Buffer) {
  const ssize_t Got = ::pread(Fd, Buffer.data(), Buffer.size(), Offset);
  return Got == std::ssize(Buffer);
}

// Floor b: the page's bytes through a stream opened and closed for this read alone.
bool ReadWithStream(const std::string& FileName, TFileOffset Offset, std::string& Buffer) {
  std::FILE* File = std::fopen(FileName.c_str(), "rb");
  if (!File) return false;
  const bool Ok = ::fseeko(File, Offset, SEEK_SET) == 0 &&
                  std::fread(Buffer.data(), 1, Buffer.size(), File) == Buffer.size();
  std::fclose(File);
  return Ok;
}

TRow Measure(const TBenchFile& File, const TPageSpot& Spot, int Repetitions) {
  TFileOffset PageEnd = -1;
  const std::string Page = ReadPage(File.Path, Spot.Offset, LinesPerPage, CharsPerLine, PageEnd);
  if (Page.empty() || PageEnd != Spot.Offset + std::ssize(Page))
    throw std::runtime_error("ReadPage gave no full page at " + std::to_string(Spot.Offset) + " of " + File.Path);
  if (Page.find('\0') != std::string::npos)
    throw std::runtime_error("the page at " + std::to_string(Spot.Offset) + " runs into a hole of " + File.Path);

  // The floors must read exactly the bytes the page holds, or the comparison means nothing.
  const TDescriptor Fd(File.Path);
  std::string Buffer(Page.size(), '\0');
  if (!ReadWithPread(Fd.Get(), Spot.Offset, Buffer) || Buffer != Page)
    throw std::runtime_error("pread disagrees with ReadPage at " + std::to_string(Spot.Offset));
  std::fill(Buffer.begin(), Buffer.end(), '\0');
  if (!ReadWithStream(File.Path, Spot.Offset, Buffer) || Buffer != Page)
    throw std::runtime_error("fread disagrees with ReadPage at " + std::to_string(Spot.Offset));

  std::vector<double> ReadPageTimes, FloorATimes, FloorBTimes;
  ReadPageTimes.reserve(static_cast<std::size_t>(Repetitions));
  FloorATimes.reserve(static_cast<std::size_t>(Repetitions));
  FloorBTimes.reserve(static_cast<std::size_t>(Repetitions));
  bool Ok = true;
  // The three reads take turns, so a slow stretch of the machine (another process, a frequency
  // change) falls on all three alike instead of on one of them.
  for (int Round = -WarmUpRounds; Round < Repetitions; ++Round) {
    const double R = Microseconds([&] {
      TFileOffset End = 0;
      Sink = Sink + ReadPage(File.Path, Spot.Offset, LinesPerPage, CharsPerLine, End).size();
    });
    const double A = Microseconds([&] {
      Ok = ReadWithPread(Fd.Get(), Spot.Offset, Buffer) && Ok;
      Sink = Sink + static_cast<unsigned char>(Buffer.back());
    });
    const double B = Microseconds([&] {
      Ok = ReadWithStream(File.Path, Spot.Offset, Buffer) && Ok;
      Sink = Sink + static_cast<unsigned char>(Buffer.back());
    });
    if (Round < 0) continue;
    ReadPageTimes.push_back(R);
    FloorATimes.push_back(A);
    FloorBTimes.push_back(B);
  }
  if (!Ok) throw std::runtime_error("a floor read failed at " + std::to_string(Spot.Offset));
  return {File.Label, Spot, Page.size(), Median(ReadPageTimes), Median(FloorATimes), Median(FloorBTimes)};
}

void PrintTable(const std::vector<TRow>& Rows) {
  std::printf("| file | spot | offset | page bytes | ReadPage us | floor a us | floor b us | ReadPage / a | ReadPage / b |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const TRow& Row : Rows) {
    std::printf("| %s | %s | %lld | %zu | %.2f | %.2f | %.2f | %.1f | %.1f |\n", Row.File.c_str(),
                Row.Spot.Name.c_str(), static_cast<long long>(Row.Spot.Offset), Row.PageBytes, Row.ReadPageUs,
                Row.FloorAUs, Row.FloorBUs, Row.ReadPageUs / Row.FloorAUs, Row.ReadPageUs / Row.FloorBUs);
  }
}

int Usage() {
  std::fputs("usage: pagorin_bench_readpage [--repetitions N]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int Repetitions = 5001;  // odd, so the median is one measured value
  for (int I = 1; I < argc; ++I) {
    const std::string_view Arg = argv[I];
    if (Arg != "--repetitions" || ++I == argc) return Usage();
    const std::string_view Value = argv[I];
    const auto [End, Error] = std::from_chars(Value.data(), Value.data() + Value.size(), Repetitions);
    if (Error != std::errc{} || End != Value.data() + Value.size() || Repetitions < 1) return Usage();
  }

  try {
    const TempDir Folder;
    std::vector<TBenchFile> Files{{"10 MiB", 10 * MiB, false, Folder.Path("novel-10MiB.txt")},
                                  {"6 GiB sparse", 6 * GiB, true, Folder.Path("novel-6GiB.txt")}};

    std::printf("Pagorin page reader benchmark\n");
    std::printf("geometry: LinesPerPage %d, CharsPerLine %d (a 588 x 420 text area, 14-pixel font)\n",
                LinesPerPage, CharsPerLine);
    std::printf("each time: median of %d timed calls after %d untimed ones, all at the same offset;\n",
                Repetitions, WarmUpRounds);
    std::printf("  ReadPage opens and closes the file on every call, so each repetition pays the full cost\n");
    std::printf("page cache: warm (files just written, every page read before timing)\n");
    std::printf("floor a: one pread of the page's bytes from a file descriptor opened beforehand\n");
    std::printf("floor b: fopen \"rb\", fseeko, one fread of the page's bytes, fclose\n");
    std::printf("threads: %u hardware threads; everything runs on one\n", std::thread::hardware_concurrency());
    std::printf("files in %s (removed at exit):\n", Folder.Path("").c_str());
    for (const TBenchFile& File : Files) {
      const std::vector<TTextRegion> Regions =
          File.Sparse ? TextRegionsAround(PageSpots(File.Size), File.Size) : std::vector<TTextRegion>{};
      WriteNovelFile(File.Path, File.Size, Regions);
      std::printf("  %-13s %lld bytes, MeasureFileSize %lld, %lld bytes on disk\n", File.Label.c_str(),
                  static_cast<long long>(File.Size), static_cast<long long>(MeasureFileSize(File.Path)),
                  static_cast<long long>(AllocatedBytes(File.Path)));
    }
    std::printf("\n");
    std::fflush(stdout);

    std::vector<TRow> Rows;
    for (const TBenchFile& File : Files)
      for (const TPageSpot& Spot : PageSpots(File.Size)) Rows.push_back(Measure(File, Spot, Repetitions));
    PrintTable(Rows);
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "pagorin_bench_readpage: %s\n", Error.what());
    return 1;
  }
  return 0;
}
