#pragma once

#include "ChapterList.h"
#include "FileOffset.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a kept chapter list was found for. It holds only while all of it is the same: the same file
// (size and modification time), read in the same encoding, with the same patterns to choose among.
struct TChapterKey {
  std::string Path;                   // the file as opened
  TFileOffset Size = 0;
  std::int64_t ModifiedNs = 0;
  std::string Encoding;               // the encoding's menu name
  std::vector<std::string> Patterns;  // the patterns the scan chose among, in order

  bool operator==(const TChapterKey&) const = default;
};

// The chapter lists of the books read last, kept between runs so that a book opened again names its
// chapters at once: one small binary file per book in Folder, named by a hash of the book's absolute
// path. A list is written by the scan that finds it, as it finds it, into a temporary file that is
// flushed and renamed over the old one only when the scan has read the whole file. At most MaxBooks
// lists are kept, the least recently used dropped first. A kept file that is damaged is set aside
// (renamed *.damaged); one that is missing, stale or cannot be read or written just finds nothing:
// the headings are scanned again. Used from the GUI thread and the scan's at once.
class TChapterCache {
public:
  static constexpr std::size_t MaxBooks = 50;

  // Where the lists are kept from now on; empty: nowhere, nothing is read or written. A list being
  // written into the folder left is dropped.
  void SetFolder(std::string Folder);
  std::string Folder() const;
  // Forgets every list kept, those being written included.
  void Clear();

  struct TKept {
    std::size_t Chosen = 0;  // the pattern the list was found with, among Key.Patterns
    TChapterList List;
  };
  // The list kept for Key, when it was kept for exactly that.
  std::optional<TKept> Load(const TChapterKey& Key) const;

  // The file the list of Path is kept in (whether or not there is one).
  std::string FileFor(const std::string& Path) const;

  // One list, written as the scan finds it. Without a folder, or when the file cannot be made or
  // written, it writes nothing and Commit is false.
  class TWriter {
  public:
    TWriter(std::shared_ptr<TChapterCache> Cache, const TChapterKey& Key, std::size_t Chosen);
    ~TWriter();  // a list never committed is dropped
    TWriter(const TWriter&) = delete;
    TWriter& operator=(const TWriter&) = delete;

    void Add(TFileOffset Offset, std::string_view Title, std::uint8_t Level);
    // The whole list is found: it takes the place of the one kept before.
    bool Commit();

  private:
    void Flush();
    void Drop();

    std::shared_ptr<TChapterCache> FCache;
    std::string FTarget;
    std::string FTemporary;
    unsigned FGeneration = 0;
    int FFd = -1;
    std::string FBuffer;
    std::uint64_t FSum = 0;
    std::uint64_t FCount = 0;
    TFileOffset FLast = 0;
  };

private:
  // Keeps the MaxBooks files used last in Folder; temporary files left by a crash go too.
  static void Trim(const std::string& Folder);

  mutable std::mutex FGuard;
  std::string FFolder;
  unsigned FGeneration = 0;  // changes with the folder and at Clear: writers begun before are dropped
};
