#pragma once

#include "ChapterCache.h"
#include "ChapterList.h"
#include "ChapterRules.h"
#include "ChapterScan.h"
#include "FileOffset.h"
#include "TScanThread.h"
#include "TextEncoding.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The chapter headings of the open file: found by a scan on a thread of its own, kept on the GUI
// thread as they arrive. A heading costs its offset, its level and its title's bytes, packed in blocks
// the scan seals and the GUI thread takes as they are (TChapterList), so a million of them fit in a
// few tens of MiB.
class TChapterIndex {
public:
  enum class TState { NotScanned, Scanning, Done, Cancelled, FileChanged, TooMany, Failed };
  // The most headings a scan lists (ChapterScan.h).
  static constexpr std::size_t MaxChapters = ::MaxChapters;

  explicit TChapterIndex(TScanThread::TPost Post);

  // Where lists found whole are kept between runs, and looked for first (none: nowhere).
  std::shared_ptr<TChapterCache> Kept;

  // Runs on the GUI thread whenever headings arrive or the scan's state changes, and at once inside
  // Scan and Clear, which forget the headings: a listener never counts more headings than Count().
  std::function<void()> OnChange;

  // Compiles Pattern (a regular expression over the decoded lines) for Encoding, then forgets the
  // headings on hand and scans FileName from its start. A pattern that does not compile throws
  // ESearchQuery (its message says where) and changes nothing.
  void Scan(const std::string& FileName, TTextEncoding Encoding, const std::string& Pattern);
  // The same with the pattern that suits the file best among Patterns (the first is the default one):
  // the scan chooses it on a sample of the file first (ChooseChapterPattern), then lists the whole file
  // with it. Each pattern is compiled first: one that does not compile throws and changes nothing.
  void Scan(const std::string& FileName, TTextEncoding Encoding, const std::vector<std::string>& Patterns);
  // Forgets the headings on hand and takes the list kept for FileName read in Encoding with Patterns,
  // if there is one (Done, as if scanned), without scanning: the state stays NotScanned meanwhile,
  // and when none is kept. Scan replaces it.
  void Restore(const std::string& FileName, TTextEncoding Encoding, const std::vector<std::string>& Patterns);
  // Stops the scan under way and keeps what it found (Cancelled); false when none was under way.
  bool Cancel();
  // Stops any scan and forgets the headings: NotScanned.
  void Clear();
  // Forgets the headings at or after End (the file was cut there), and says so if there were any.
  void DropFrom(TFileOffset End);

  TState State() const { return FState; }
  // The pattern the headings are found with: its place among the patterns Scan was given, once the
  // scan has chosen it; none before, and when no scan has started.
  std::optional<std::size_t> Chosen() const { return FChosen; }
  // Changes whenever the headings are forgotten or cut: headings taken under another number are gone.
  unsigned Generation() const { return FGeneration; }
  std::size_t Count() const { return FList.Count(); }
  TFileOffset Offset(std::size_t Index) const { return FList.Offset(Index); }
  std::string_view Title(std::size_t Index) const { return FList.Title(Index); }
  // 0: the heading opens a volume (第一卷), 1: a chapter.
  std::uint8_t Level(std::size_t Index) const { return FList.Level(Index); }
  // The headings that open a volume, in file order: a few among a million, for the list's two levels.
  const std::vector<std::size_t>& Volumes() const { return FVolumes; }
  // The volume heading Index is in: the last volume heading at or before it; none before the first.
  std::optional<std::size_t> VolumeOf(std::size_t Index) const;
  // The heading of the text at Offset: the last one at or before it; none when the headings found do
  // not reach Offset and the scan has not read the whole file (it runs, or it stopped short).
  std::optional<std::size_t> At(TFileOffset Offset) const;

  // The heading a chapter step from a page that starts at From goes to: the first after From
  // (Forward) or the last before it. Settled is false while the headings found so far cannot tell yet.
  struct TStep {
    bool Settled = false;
    std::optional<std::size_t> Index;
  };
  TStep Step(TFileOffset From, bool Forward) const;

  // How the scan stands, as the table of contents says it ("共 12 章", "正在查找章节…37%…").
  std::string Status() const;

private:
  // Stops any scan and lets the headings' memory go.
  void Forget();
  void Changed();
  // Appends headings found by the scan, noting the volumes among them.
  void Take(TChapterList&& Found);
  // The call that ends a scan with a kept list.
  std::function<void()> TakeKept(TChapterCache::TKept&& Found);

  TScanThread FScan;
  TState FState = TState::NotScanned;
  int FPermille = 0;
  std::string FFailure;
  unsigned FGeneration = 0;
  std::optional<std::size_t> FChosen;
  TChapterList FList;
  std::vector<std::size_t> FVolumes;  // the headings of FList at level 0
};
