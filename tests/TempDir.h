#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

// A fresh folder under the system's temporary directory, removed with everything in it at the end.
class TempDir {
public:
  TempDir() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "pagorin-test-XXXXXX").string();
    if (!::mkdtemp(Pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    FPath = Pattern;
  }
  ~TempDir() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(std::string_view Name) const { return (FPath / Name).string(); }

  // Writes Bytes to a new file Name and returns its path.
  std::string Write(std::string_view Name, std::string_view Bytes) const {
    const std::string FilePath = Path(Name);
    std::ofstream Out(FilePath, std::ios::binary | std::ios::trunc);
    Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    return FilePath;
  }

private:
  std::filesystem::path FPath;
};
