#include "TChapterIndex.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Calls handed to the GUI thread, run when the test says, as its event loop would.
struct TLater {
  std::mutex Guard;
  std::vector<std::function<void()>> Calls;
  void Post(std::function<void()> Call) {
    const std::lock_guard<std::mutex> Lock(Guard);
    Calls.push_back(std::move(Call));
  }
  void Run() {
    std::vector<std::function<void()>> Now;
    {
      const std::lock_guard<std::mutex> Lock(Guard);
      Now.swap(Calls);
    }
    for (auto& Call : Now) Call();
  }
};

// Enough headings for several blocks, full of headings or of titles, titles of every length, volumes
// among them; found with the rules, which choose the default.
TEST(TChapterIndex, KeepsManyHeadingsWithTheirTitlesLevelsAndTheRuleChosen) {
  TempDir Dir;
  std::string Text = "　　前面的话。\n";
  std::vector<TChapter> Expected;
  for (int Chapter = 1; Chapter <= 10000; ++Chapter) {
    if (Chapter % 100 == 1) {
      Expected.push_back({static_cast<TFileOffset>(Text.size()), "第" + std::to_string(Chapter / 100 + 1) + "卷", 0});
      Text += Expected.back().Title + "\n";
    }
    const int Characters = Chapter > 5000 ? Chapter % 30 : 0;  // blocks full of headings, then of titles
    std::string Title = "第" + std::to_string(Chapter) + "章" + (Characters ? " " : "");
    for (int Character = 0; Character < Characters; ++Character) Title += "风";
    Expected.push_back({static_cast<TFileOffset>(Text.size()), Title, 1});
    Text += Title + "\n　　正文。\n";
  }
  const std::string File = Dir.Write("novel.txt", Text);
  TLater Later;
  TChapterIndex Chapters([&](std::function<void()> Call) { Later.Post(std::move(Call)); });
  std::vector<std::string> Patterns;
  for (const TChapterRule& Rule : BuiltInChapterRules()) Patterns.push_back(Rule.Pattern);
  Chapters.Scan(File, TTextEncoding::Utf8, Patterns);
  EXPECT_EQ(Chapters.Chosen(), std::nullopt);
  for (int Wait = 0; Wait < 20000 && Chapters.State() == TChapterIndex::TState::Scanning; ++Wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Later.Run();
  }
  ASSERT_EQ(Chapters.State(), TChapterIndex::TState::Done);
  EXPECT_EQ(Chapters.Chosen(), 0u);
  ASSERT_EQ(Chapters.Count(), Expected.size());
  for (std::size_t I = 0; I < Expected.size(); ++I) {
    ASSERT_EQ(Chapters.Offset(I), Expected[I].Offset) << I;
    ASSERT_EQ(Chapters.Title(I), Expected[I].Title) << I;
    ASSERT_EQ(Chapters.Level(I), Expected[I].Level) << I;
    ASSERT_EQ(Chapters.At(Expected[I].Offset + 1), I);
  }
  EXPECT_EQ(Chapters.At(Expected.front().Offset - 1), std::nullopt);
  EXPECT_EQ(Chapters.Step(Expected[4096].Offset, true).Index, 4097u);
  EXPECT_EQ(Chapters.Step(Expected[4096].Offset, false).Index, 4095u);
  Chapters.Clear();
  EXPECT_EQ(Chapters.Count(), 0u);
  EXPECT_EQ(Chapters.Chosen(), std::nullopt);
}

}  // namespace
