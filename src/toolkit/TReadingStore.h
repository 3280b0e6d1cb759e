#pragma once

#include "FileOffset.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A place kept in a file by the reader (转到 > 添加书签).
struct TBookmark {
  TFileOffset Offset = 0;  // the page start on screen when it was added
  std::string Chapter;     // the title of its chapter, when known (UTF-8)
  std::string Excerpt;     // the page's first characters (UTF-8)
  std::int64_t Added = 0;  // seconds since the epoch

  bool operator==(const TBookmark&) const = default;
};

// What is kept for one file, by its absolute path.
struct TFileRecord {
  std::optional<TFileOffset> Position;  // the page start on screen when the reader left the file
  std::string PositionChapter;          // the title of that page's chapter, when known
  std::vector<TBookmark> Bookmarks;     // in the order added
  std::string Encoding;                 // chosen by hand (its menu name); empty: detected
  std::string ChapterRule;              // the rule picked in 目录, by name; empty: chosen per book
  std::int64_t Used = 0;                // when it was last kept (ms since the epoch): the bound drops the oldest

  bool operator==(const TFileRecord&) const = default;
};

// The reader's own settings, kept in the config folder.
struct TReaderSettings {
  bool Remember = true;        // 设置 > 记住阅读位置和设置
  std::string FontName;        // empty: the program's own font
  int FontHeight = 0;
  unsigned FontStyle = 0;
  std::string ColourScheme;    // "desktop", "paper" or "night"; empty: as the program starts
  std::string LastFolder;      // where the open dialog last chose a file
  // The page layout (版式), field by field as its own record names them; kept as one JSON object.
  std::map<std::string, std::int64_t> PageLayout;

  bool operator==(const TReaderSettings&) const = default;
};

// The reader's kept state: positions, bookmarks and per-file choices in $XDG_STATE_HOME/pagorin/
// (reading.json), settings in $XDG_CONFIG_HOME/pagorin/ (settings.json), never beside a file read.
// Each change is written at once, atomically (a temporary file, flushed, then renamed over the old
// one), after reading the file again and applying only that change to it: two windows of the program
// keep each other's entries, the last write winning per entry. At most MaxFiles files are kept, the
// least recently kept dropped first. A file that is damaged is set aside (renamed *.damaged); one
// that cannot be read or written leaves the store working in memory only. Either is said once
// (TakeProblem) and never stops reading. With Remember off nothing is read or written but the flag.
class TReadingStore {
public:
  static constexpr std::size_t MaxFiles = 2000;

  // The store in StateFolder and ConfigFolder (the program's own folders, made when first written).
  TReadingStore(std::string StateFolder, std::string ConfigFolder);
  // The store of the user running the program, by the XDG base directories.
  static TReadingStore ForUser();

  // Reads what is kept. A missing file keeps nothing.
  void Load();

  const TReaderSettings& Settings() const { return FSettings; }
  // Keeps Settings (their Remember flag is SetRemember's).
  void SetSettings(const TReaderSettings& Settings);
  bool Remember() const { return FSettings.Remember; }
  // Off erases everything kept and writes the flag alone; on writes the settings in use again.
  void SetRemember(bool On);

  // What is kept for Path, if anything.
  std::optional<TFileRecord> Record(const std::string& Path) const;
  // Changes what is kept for Path (a record with nothing in it forgets the file).
  void Update(const std::string& Path, const std::function<void(TFileRecord&)>& Change);
  // Forgets every position and bookmark (the per-file choices stay).
  void ClearReading();
  std::size_t FileCount() const { return FFiles.size(); }

  bool CanWrite() const { return FSettings.Remember && !FStateBroken; }

  // The first problem met since the store was made, once; empty after that and when there is none.
  std::string TakeProblem();

  // Where the chapter lists of the books read last are kept (TChapterCache), beside the state file.
  std::string ChaptersFolder() const { return FStateFolder + "/chapters"; }
  std::string StateFile() const;
  std::string SettingsFile() const;

  // Runs between the flush of a new file and its rename over the old one: tests end the process
  // there, as a crash would.
  std::function<void()> BeforeRename;

private:
  using TFiles = std::map<std::string, TFileRecord>;
  // Reads FileName into Files; false when it cannot (missing: true and empty). Damage is set aside.
  bool ReadFiles(TFiles& Files);
  void ReadSettings();
  bool WriteFiles(const TFiles& Files);
  // Change made to the kept files, or to this run's alone when they cannot be read or written.
  void ChangeFiles(const std::function<void(TFiles&)>& Change);
  void WriteSettings();
  // Writes Bytes to Path atomically; false, with the problem noted, when it cannot.
  bool WriteAtomically(const std::string& Path, const std::string& Bytes, const std::string& What);
  void Problem(const std::string& Text);

  std::string FStateFolder;
  std::string FConfigFolder;
  TReaderSettings FSettings;
  TFiles FFiles;
  bool FStateBroken = false;     // the state file cannot be read: it is never written over
  bool FSettingsBroken = false;  // the same for the settings file
  std::string FProblem;
  bool FProblemSaid = false;
};
