#include "TChapterIndex.h"

#include "DecimalText.h"
#include "TextSearch.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <iterator>

TChapterIndex::TChapterIndex(TScanThread::TPost Post) : FScan(std::move(Post)) {}

void TChapterIndex::Scan(const std::string& FileName, TTextEncoding Encoding, const std::string& Pattern) {
  const auto Compiled = std::make_shared<const TSearchPattern>(TSearchQuery{Pattern, true, true}, Encoding);
  Forget();
  FState = TState::Scanning;
  FPermille = 0;
  FFailure.clear();
  FScan.Start([this, FileName, Compiled](const std::atomic<bool>& Cancel, const TScanThread::TDeliver& Deliver) {
    // Headings and progress go over in bunches: the first at once, so the list fills without delay,
    // then at most every 50 ms, so a page turn never waits behind a queue of small calls. A list
    // shown lays all its rows out again for each bunch: a long one takes them less often, 1 ms later
    // for every 5,000 headings it holds, so that its layouts never crowd out the window's work.
    using TClock = std::chrono::steady_clock;
    TBatch Pending;
    int Permille = 0;
    std::size_t Handed = 0;
    TClock::time_point Sent = TClock::now();  // progress alone waits: the first call brings headings
    bool FirstFound = true;
    const auto Send = [&](bool Now) {
      const auto Pause = std::chrono::milliseconds(50 + Handed / 5000);
      if (!Now && TClock::now() - Sent < Pause) return;
      Sent = TClock::now();
      Handed += Pending.Offsets.size();
      Pending.Titles.shrink_to_fit();  // here rather than on the GUI thread, which keeps the string
      Deliver([this, Found = std::move(Pending), Permille]() mutable {
        FPermille = Permille;
        Take(std::move(Found));
        Changed();
      });
      Pending = TBatch();
    };
    TScanOutcome Outcome = TScanOutcome::Done;
    std::string Failure;
    try {
      Outcome = ScanChapters(
          FileName, *Compiled, Cancel,
          [&](std::vector<TChapter>&& Found) {
            for (const TChapter& Chapter : Found) {
              Pending.Offsets.push_back(Chapter.Offset);
              Pending.Titles += Chapter.Title;
              Pending.TitleEnds.push_back(static_cast<std::uint32_t>(Pending.Titles.size()));
            }
            Send(FirstFound);
            FirstFound = false;
          },
          [&](int Share, bool) {
            Permille = Share;
            Send(false);
          },
          MaxChapters);
    } catch (const std::exception& Error) {
      Failure = Error.what();
    }
    if (Failure.empty() && Outcome == TScanOutcome::Cancelled) return std::function<void()>();
    TState State = TState::Failed;
    if (Failure.empty())
      State = Outcome == TScanOutcome::Done          ? TState::Done
              : Outcome == TScanOutcome::FileChanged ? TState::FileChanged
                                                      : TState::TooMany;
    Pending.Titles.shrink_to_fit();
    return std::function<void()>([this, Found = std::move(Pending), State, Failure]() mutable {
      FPermille = 1000;
      FState = State;
      FFailure = Failure;
      Take(std::move(Found));
      // The list is complete: no room kept for growth.
      FOffsets.shrink_to_fit();
      FTitleEnds.shrink_to_fit();
      Changed();
    });
  });
  Changed();
}

bool TChapterIndex::Cancel() {
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
  const auto Kept = static_cast<std::size_t>(std::lower_bound(FOffsets.begin(), FOffsets.end(), End) - FOffsets.begin());
  if (Kept == Count()) return;
  FOffsets.resize(Kept);
  FTitleEnds.resize(Kept);
  while (!FBatchFirst.empty() && FBatchFirst.back() >= Kept) {
    FBatchFirst.pop_back();
    FTitleBatches.pop_back();
  }
  if (Kept > 0) FTitleBatches.back().resize(FTitleEnds.back());
  // A shorter list is another list to the views over it, as after a rescan.
  ++FGeneration;
  Changed();
}

void TChapterIndex::Forget() {
  FScan.Cancel();
  ++FGeneration;
  // Swapped with empty ones: assigning {} would keep the old storage.
  std::vector<TFileOffset>().swap(FOffsets);
  std::vector<std::uint32_t>().swap(FTitleEnds);
  std::vector<std::string>().swap(FTitleBatches);
  std::vector<std::size_t>().swap(FBatchFirst);
}

void TChapterIndex::Take(TBatch&& Found) {
  if (Found.Offsets.empty()) return;
  FBatchFirst.push_back(FOffsets.size());
  FOffsets.insert(FOffsets.end(), Found.Offsets.begin(), Found.Offsets.end());
  FTitleEnds.insert(FTitleEnds.end(), Found.TitleEnds.begin(), Found.TitleEnds.end());
  FTitleBatches.push_back(std::move(Found.Titles));
}

void TChapterIndex::Changed() {
  if (OnChange) OnChange();
}

std::string_view TChapterIndex::Title(std::size_t Index) const {
  const auto Batch =
      static_cast<std::size_t>(std::upper_bound(FBatchFirst.begin(), FBatchFirst.end(), Index) - FBatchFirst.begin()) - 1;
  const std::uint32_t Start = Index == FBatchFirst[Batch] ? 0 : FTitleEnds[Index - 1];
  return std::string_view(FTitleBatches[Batch]).substr(Start, FTitleEnds[Index] - Start);
}

std::optional<std::size_t> TChapterIndex::At(TFileOffset Offset) const {
  // Short of the whole file, the headings tell only up to the last one found: a scan under way may
  // still find, and one stopped may have missed, a heading between it and Offset.
  if (FState != TState::Done && (FOffsets.empty() || FOffsets.back() < Offset)) return std::nullopt;
  const auto After = std::upper_bound(FOffsets.begin(), FOffsets.end(), Offset);
  if (After == FOffsets.begin()) return std::nullopt;
  return static_cast<std::size_t>(After - FOffsets.begin() - 1);
}

TChapterIndex::TStep TChapterIndex::Step(TFileOffset From, bool Forward) const {
  const bool Finished = FState != TState::Scanning;
  if (Forward) {
    const auto After = std::upper_bound(FOffsets.begin(), FOffsets.end(), From);
    if (After == FOffsets.end()) return {Finished, std::nullopt};
    return {true, static_cast<std::size_t>(After - FOffsets.begin())};
  }
  // The last heading before From is known once one at or after From has been found.
  const auto AtOrAfter = std::lower_bound(FOffsets.begin(), FOffsets.end(), From);
  const bool Settled = Finished || AtOrAfter != FOffsets.end();
  if (AtOrAfter == FOffsets.begin()) return {Settled, std::nullopt};
  return {Settled, static_cast<std::size_t>(AtOrAfter - FOffsets.begin() - 1)};
}

std::string TChapterIndex::Status() const {
  const std::string Found = "已找到 " + IntToStr(static_cast<TFileOffset>(Count())) + " 章";
  switch (FState) {
  case TState::NotScanned: return "";
  case TState::Scanning: return "正在查找章节…" + IntToStr(FPermille / 10) + "%，" + Found;
  case TState::Done:
    if (Count() == 0) return "没有找到章节：文件里没有与表达式相符的行";
    return "共 " + IntToStr(static_cast<TFileOffset>(Count())) + " 章";
  case TState::Cancelled: return "章节查找已停止，" + Found;
  case TState::FileChanged: return "文件已改变，章节查找已停止，" + Found;
  case TState::TooMany:
    return "相符的行超过 " + IntToStr(static_cast<TFileOffset>(MaxChapters)) + " 个，只列出前 " +
           IntToStr(static_cast<TFileOffset>(MaxChapters)) + " 个：请改用更严格的表达式";
  case TState::Failed: return "章节查找已停止：" + FFailure;
  }
  return "";
}
