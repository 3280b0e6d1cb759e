#include "ChapterCache.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Bytes;
  Bytes << In.rdbuf();
  return Bytes.str();
}

struct THeading {
  TFileOffset Offset;
  std::string Title;
  std::uint8_t Level;
};

// Offsets past 4 GiB, a volume among the chapters, a title of the longest kept and an empty one.
const std::vector<THeading> Headings = {{3, "第一卷 龙城", 0},
                                        {40, "第一章 风起", 1},
                                        {5'000'000'000, std::string(TChapterList::MaxTitleBytes, 'x'), 1},
                                        {5'000'000'001, "", 1}};

class ChapterCache : public ::testing::Test {
protected:
  ChapterCache() { Cache->SetFolder(Dir.Path("chapters")); }

  bool Keep(const TChapterKey& For, std::size_t Chosen = 1) {
    TChapterCache::TWriter Writer(Cache, For, Chosen);
    for (const THeading& Heading : Headings) Writer.Add(Heading.Offset, Heading.Title, Heading.Level);
    return Writer.Commit();
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Dir.Path("chapters"))) Names.push_back(Entry.path().filename().string());
    return Names;
  }

  TempDir Dir;
  std::shared_ptr<TChapterCache> Cache = std::make_shared<TChapterCache>();
  const TChapterKey Key{Dir.Path("book.txt"), 6'000'000'000, 1'700'000'000'123'456'789, "GB18030", {"^第.章", "^卷"}};
};

// A list kept comes back whole while its file, encoding and patterns are the same; another of any of
// them finds nothing and leaves it kept; a damaged one is set aside as it was, and a new one is kept.
TEST_F(ChapterCache, KeepsAListForItsFileAsItWasAndSetsADamagedOneAside) {
  ASSERT_TRUE(Keep(Key));
  std::optional<TChapterCache::TKept> Kept = Cache->Load(Key);
  ASSERT_TRUE(Kept);
  EXPECT_EQ(Kept->Chosen, 1u);
  ASSERT_EQ(Kept->List.Count(), Headings.size());
  for (std::size_t Index = 0; Index < Headings.size(); ++Index) {
    EXPECT_EQ(Kept->List.Offset(Index), Headings[Index].Offset);
    EXPECT_EQ(Kept->List.Title(Index), Headings[Index].Title);
    EXPECT_EQ(Kept->List.Level(Index), Headings[Index].Level);
  }

  const auto Changed = [&](auto Change) {
    TChapterKey Other = Key;
    Change(Other);
    return Other;
  };
  const struct {
    const char* What;
    TChapterKey For;
  } Stale[] = {{"longer", Changed([](TChapterKey& K) { ++K.Size; })},
               {"written since", Changed([](TChapterKey& K) { ++K.ModifiedNs; })},
               {"another encoding", Changed([](TChapterKey& K) { K.Encoding = "UTF-8"; })},
               {"another rule", Changed([](TChapterKey& K) { K.Patterns.pop_back(); })}};
  for (const auto& Row : Stale) {
    SCOPED_TRACE(Row.What);
    EXPECT_FALSE(Cache->Load(Row.For));
  }
  EXPECT_TRUE(Cache->Load(Key));

  const std::string File = Cache->FileFor(Key.Path);
  const std::string Whole = ReadAll(File);
  std::string Flipped = Whole;
  Flipped[Whole.find("风起")] ^= 1;
  const struct {
    const char* What;
    std::string Bytes;
  } Damaged[] = {{"cut short", Whole.substr(0, Whole.size() - 30)},
                 {"a byte changed", Flipped},
                 {"garbage", "PGRNCHAP garbage"}};
  for (const auto& Row : Damaged) {
    SCOPED_TRACE(Row.What);
    Dir.Write("chapters/" + fs::path(File).filename().string(), Row.Bytes);
    EXPECT_FALSE(Cache->Load(Key));
    EXPECT_EQ(ReadAll(File + ".damaged"), Row.Bytes);
    EXPECT_FALSE(fs::exists(File));
    ASSERT_TRUE(Keep(Key));
    EXPECT_TRUE(Cache->Load(Key));
  }

  // A list begun before the lists were cleared is never kept; nothing stays behind of it.
  TChapterCache::TWriter Late(Cache, Key, 0);
  Cache->Clear();
  EXPECT_FALSE(Late.Commit());
  EXPECT_FALSE(fs::exists(Dir.Path("chapters")));
}

// The lists of the books used last are kept: a new one drops the one used longest ago; one read
// counts as used.
TEST_F(ChapterCache, KeepsTheListsUsedLast) {
  TChapterKey Book = Key;
  const auto Name = [](std::size_t Index) { return "/books/" + std::to_string(Index) + ".txt"; };
  for (std::size_t Index = 0; Index < TChapterCache::MaxBooks; ++Index) {
    Book.Path = Name(Index);
    ASSERT_TRUE(Keep(Book));
    fs::last_write_time(Cache->FileFor(Book.Path), fs::file_time_type::clock::now() - std::chrono::hours(100 - Index));
  }
  Book.Path = Name(0);
  EXPECT_TRUE(Cache->Load(Book));
  Book.Path = "/books/new.txt";
  ASSERT_TRUE(Keep(Book));
  EXPECT_EQ(Files().size(), TChapterCache::MaxBooks);
  for (const std::size_t Index : {std::size_t{0}, std::size_t{2}}) {
    Book.Path = Name(Index);
    EXPECT_TRUE(Cache->Load(Book));
  }
  Book.Path = Name(1);
  EXPECT_FALSE(Cache->Load(Book));
}

}  // namespace
