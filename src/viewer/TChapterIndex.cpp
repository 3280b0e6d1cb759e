#include "TChapterIndex.h"

#include "DecimalText.h"
#include "ReadPage.h"
#include "TextSearch.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <iterator>
#include <stdexcept>

namespace {

// What the list of FileName is kept under as the file is now; none when it cannot be looked at.
std::optional<TChapterKey> KeyOf(const std::string& FileName, TTextEncoding Encoding,
                                 const std::vector<std::string>& Patterns) {
  const TFileFacts Facts = InspectFile(FileName);
  if (!Facts.Readable) return std::nullopt;
  return TChapterKey{FileName, Facts.Size, Facts.ModifiedNs, std::string(RulesOf(Encoding).MenuName), Patterns};
}

}  // namespace

TChapterIndex::TChapterIndex(TScanThread::TPost Post) : FScan(std::move(Post)) {}

std::function<void()> TChapterIndex::TakeKept(TChapterCache::TKept&& Found) {
  auto List = std::make_shared<TChapterList>(std::move(Found.List));
  return [this, List, Chosen = Found.Chosen] {
    FChosen = Chosen;
    FPermille = 1000;
    FState = TState::Done;
    FFailure.clear();
    Take(std::move(*List));
    Changed();
  };
}

void TChapterIndex::Restore(const std::string& FileName, TTextEncoding Encoding, const std::vector<std::string>& Patterns) {
  Forget();
  FState = TState::NotScanned;
  // Started before the listeners hear of the change: one that asks for a scan at once replaces it.
  if (Kept && !Kept->Folder().empty())
    FScan.Start([this, Cache = Kept, FileName, Encoding, Patterns](const std::atomic<bool>& Cancel,
                                                                   const TScanThread::TDeliver&) {
      const std::optional<TChapterKey> Key = KeyOf(FileName, Encoding, Patterns);
      std::optional<TChapterCache::TKept> Found;
      if (Key) Found = Cache->Load(*Key);
      if (Cancel) return std::function<void()>();
      if (!Found) return std::function<void()>([] {});
      return TakeKept(std::move(*Found));
    });
  Changed();
}

void TChapterIndex::Scan(const std::string& FileName, TTextEncoding Encoding, const std::string& Pattern) {
  Scan(FileName, Encoding, std::vector<std::string>{Pattern});
}

void TChapterIndex::Scan(const std::string& FileName, TTextEncoding Encoding, const std::vector<std::string>& Patterns) {
  std::vector<std::shared_ptr<const TSearchPattern>> Compiled;
  for (const std::string& Pattern : Patterns)
    Compiled.push_back(std::make_shared<const TSearchPattern>(TSearchQuery{Pattern, true, true}, Encoding));
  if (Compiled.empty()) throw std::invalid_argument("TChapterIndex::Scan needs a pattern");
  Forget();
  FState = TState::Scanning;
  FPermille = 0;
  FFailure.clear();
  if (Compiled.size() == 1) FChosen = 0;
  FScan.Start([this, Cache = Kept, FileName, Encoding, Patterns, Compiled](const std::atomic<bool>& Cancel,
                                                                          const TScanThread::TDeliver& Deliver) {
    // The file as it is before it is read: a list written for it is stale once it changes.
    const std::optional<TChapterKey> Key = Cache ? KeyOf(FileName, Encoding, Patterns) : std::nullopt;
    if (Key)
      if (std::optional<TChapterCache::TKept> Found = Cache->Load(*Key)) {
        if (Cancel) return std::function<void()>();
        return TakeKept(std::move(*Found));
      }
    // Headings and progress go over in bunches: the first at once, so the list fills without delay,
    // then at most every 50 ms, so a page turn never waits behind a queue of small calls. A list
    // shown lays all its rows out again for each bunch: a long one takes them less often, 1 ms later
    // for every 5,000 headings it holds, so that its layouts never crowd out the window's work.
    using TClock = std::chrono::steady_clock;
    TChapterList Pending;
    int Permille = 0;
    std::size_t Handed = 0;
    TClock::time_point Sent = TClock::now();  // progress alone waits: the first call brings headings
    bool FirstFound = true;
    const auto Send = [&](bool Now) {
      const auto Pause = std::chrono::milliseconds(50 + Handed / 5000);
      if (!Now && TClock::now() - Sent < Pause) return;
      Sent = TClock::now();
      Handed += Pending.Count();
      // Shared: a call must be copyable, the blocks are not.
      auto Found = std::make_shared<TChapterList>(std::move(Pending));
      Deliver([this, Found, Permille] {
        FPermille = Permille;
        Take(std::move(*Found));
        Changed();
      });
    };
    TScanOutcome Outcome = TScanOutcome::Done;
    std::string Failure;
    std::optional<TChapterCache::TWriter> Writer;  // the list as found, kept once the whole file is read
    try {
      // The choice comes first, on this thread: the window never waits for it.
      std::size_t Choice = 0;
      if (Compiled.size() > 1) {
        std::vector<const TSearchPattern*> Candidates;
        for (const auto& Pattern : Compiled) Candidates.push_back(Pattern.get());
        const std::optional<std::size_t> Chosen = ChooseChapterPattern(FileName, Candidates, Cancel);
        if (!Chosen) return std::function<void()>();
        Choice = *Chosen;
        Deliver([this, Choice] {
          FChosen = Choice;
          Changed();
        });
      }
      if (Key) Writer.emplace(Cache, *Key, Choice);
      Outcome = ScanChapters(
          FileName, *Compiled[Choice], Cancel,
          [&](std::vector<TChapter>&& Found) {
            for (const TChapter& Chapter : Found) {
              Pending.Add(Chapter.Offset, Chapter.Title, Chapter.Level);
              if (Writer) Writer->Add(Chapter.Offset, Chapter.Title, Chapter.Level);
            }
            Send(FirstFound);
            FirstFound = false;
          },
          [&](int Share, bool) {
            Permille = Share;
            Send(false);
          });
      if (Writer && Outcome == TScanOutcome::Done && !Cancel) Writer->Commit();
    } catch (const std::exception& Error) {
      Failure = Error.what();
    }
    if (Failure.empty() && Outcome == TScanOutcome::Cancelled) return std::function<void()>();
    TState State = TState::Failed;
    if (Failure.empty())
      State = Outcome == TScanOutcome::Done          ? TState::Done
              : Outcome == TScanOutcome::FileChanged ? TState::FileChanged
                                                      : TState::TooMany;
    auto Found = std::make_shared<TChapterList>(std::move(Pending));
    return std::function<void()>([this, Found, State, Failure] {
      FPermille = 1000;
      FState = State;
      FFailure = Failure;
      Take(std::move(*Found));
      Changed();
    });
  });
  Changed();
}

bool TChapterIndex::Cancel() {
  // A kept list being read is no scan: stopping it leaves nothing scanned.
  if (FState == TState::NotScanned) {
    FScan.Cancel();
    return false;
  }
  if (!FScan.Cancel()) return false;
  FState = TState::Cancelled;
  Changed();
  return true;
}

void TChapterIndex::Clear() {
  Forget();
  FState = TState::NotScanned;
  Changed();
}

void TChapterIndex::DropFrom(TFileOffset End) {
  const std::size_t Kept = FList.FirstFrom(End);
  if (Kept == Count()) return;
  FList.Truncate(Kept);
  FVolumes.erase(std::lower_bound(FVolumes.begin(), FVolumes.end(), Kept), FVolumes.end());
  // A shorter list is another list to the views over it, as after a rescan.
  ++FGeneration;
  Changed();
}

void TChapterIndex::Forget() {
  FScan.Cancel();
  ++FGeneration;
  FChosen.reset();
  FList.Clear();
  FVolumes.clear();
  FVolumes.shrink_to_fit();
}

void TChapterIndex::Take(TChapterList&& Found) {
  const std::size_t First = FList.Count();
  FList.Append(std::move(Found));
  for (std::size_t Index = First; Index < FList.Count(); ++Index)
    if (FList.Level(Index) == 0) FVolumes.push_back(Index);
}

std::optional<std::size_t> TChapterIndex::VolumeOf(std::size_t Index) const {
  const auto After = std::upper_bound(FVolumes.begin(), FVolumes.end(), Index);
  if (After == FVolumes.begin()) return std::nullopt;
  return *std::prev(After);
}

void TChapterIndex::Changed() {
  if (OnChange) OnChange();
}

std::optional<std::size_t> TChapterIndex::At(TFileOffset Offset) const {
  // Short of the whole file, the headings tell only up to the last one found: a scan under way may
  // still find, and one stopped may have missed, a heading between it and Offset.
  if (FState != TState::Done && (Count() == 0 || FList.Offset(Count() - 1) < Offset)) return std::nullopt;
  const std::size_t After = FList.FirstAfter(Offset);
  if (After == 0) return std::nullopt;
  return After - 1;
}

TChapterIndex::TStep TChapterIndex::Step(TFileOffset From, bool Forward) const {
  const bool Finished = FState != TState::Scanning;
  if (Forward) {
    const std::size_t After = FList.FirstAfter(From);
    if (After == Count()) return {Finished, std::nullopt};
    return {true, After};
  }
  // The last heading before From is known once one at or after From has been found.
  const std::size_t AtOrAfter = FList.FirstFrom(From);
  const bool Settled = Finished || AtOrAfter != Count();
  if (AtOrAfter == 0) return {Settled, std::nullopt};
  return {Settled, AtOrAfter - 1};
}

std::string TChapterIndex::Status() const {
  const std::string Found = "已找到 " + IntToStr(static_cast<TFileOffset>(Count())) + " 章";
  switch (FState) {
  case TState::NotScanned: return "";
  case TState::Scanning: return "正在查找章节…" + IntToStr(FPermille / 10) + "%，" + Found;
  case TState::Done:
    if (Count() == 0) return "没有找到章节：文件里没有与规则相符的行";
    return "共 " + IntToStr(static_cast<TFileOffset>(Count())) + " 章";
  case TState::Cancelled: return "章节查找已停止，" + Found;
  case TState::FileChanged: return "文件已改变，章节查找已停止，" + Found;
  case TState::TooMany:
    return "相符的行超过 " + IntToStr(static_cast<TFileOffset>(MaxChapters)) + " 个，只列出前 " +
           IntToStr(static_cast<TFileOffset>(MaxChapters)) + " 个：请改用更严格的规则";
  case TState::Failed: return "章节查找已停止：" + FFailure;
  }
  return "";
}
