#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

// A fresh folder under $TMPDIR (or /tmp) for the benchmark's files, removed with everything in it when
// the benchmark ends, so a multi-GiB test file never outlives the run.
class TBenchFolder {
public:
  TBenchFolder() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "pagorin-bench-XXXXXX").string();
    if (!::mkdtemp(Pattern.data())) throw std::runtime_error("cannot make a temporary folder " + Pattern);
    FPath = Pattern;
  }
  ~TBenchFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  TBenchFolder(const TBenchFolder&) = delete;
  TBenchFolder& operator=(const TBenchFolder&) = delete;

  const std::filesystem::path& Root() const { return FPath; }
  std::string Path(std::string_view Name) const { return (FPath / Name).string(); }

private:
  std::filesystem::path FPath;
};
