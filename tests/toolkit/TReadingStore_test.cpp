#include "TReadingStore.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Bytes;
  Bytes << In.rdbuf();
  return Bytes.str();
}

class ReadingStore : public ::testing::Test {
protected:
  TReadingStore Make() const {
    TReadingStore Store(Dir.Path("state"), Dir.Path("config"));
    Store.Load();
    return Store;
  }
  static void KeepAt(TReadingStore& Store, const std::string& Path, TFileOffset Position) {
    Store.Update(Path, [&](TFileRecord& Record) { Record.Position = Position; });
  }
  static std::optional<TFileOffset> PositionOf(const TReadingStore& Store, const std::string& Path) {
    const std::optional<TFileRecord> Record = Store.Record(Path);
    return Record ? Record->Position : std::nullopt;
  }

  TempDir Dir;
};

// A process that dies between writing the new store and renaming it over the old one leaves the old
// store whole, and the next write goes through.
TEST_F(ReadingStore, ACrashBetweenWriteAndRenameKeepsTheOldStore) {
  TReadingStore Store = Make();
  KeepAt(Store, "/books/a.txt", 100);
  const std::string Before = ReadAll(Store.StateFile());
  const pid_t Child = ::fork();
  ASSERT_NE(Child, -1);
  if (Child == 0) {
    Store.BeforeRename = [] { ::_exit(0); };
    KeepAt(Store, "/books/a.txt", 200);
    ::_exit(1);  // the rename was reached: not the crash asked for
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  ASSERT_EQ(WEXITSTATUS(Status), 0);
  EXPECT_EQ(ReadAll(Store.StateFile()), Before);
  TReadingStore Again = Make();
  EXPECT_EQ(PositionOf(Again, "/books/a.txt"), 100);
  EXPECT_EQ(Again.TakeProblem(), "");
  KeepAt(Again, "/books/b.txt", 7);
  EXPECT_EQ(PositionOf(Make(), "/books/a.txt"), 100);
  EXPECT_EQ(PositionOf(Make(), "/books/b.txt"), 7);
}

// Whatever a damaged store holds, it is set aside as it was, said once, and the store starts anew.
TEST_F(ReadingStore, ADamagedStoreIsSetAsideSaidOnceAndStartsAnew) {
  std::string Whole;
  {
    TReadingStore Store = Make();
    KeepAt(Store, "/books/a.txt", 100);
    Whole = ReadAll(Store.StateFile());
  }
  const struct {
    const char* What;
    std::string Bytes;
  } Rows[] = {{"cut short", Whole.substr(0, Whole.size() / 2)},
              {"not JSON", std::string("\x00\xff garbage", 10)},
              {"another version", R"({"version": 99, "files": []})"},
              {"not an object", "[1, 2, 3]"}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.What);
    std::filesystem::create_directories(Dir.Path("state"));
    Dir.Write("state/reading.json", Row.Bytes);
    TReadingStore Store = Make();
    EXPECT_EQ(PositionOf(Store, "/books/a.txt"), std::nullopt);
    EXPECT_NE(Store.TakeProblem().find("已损坏"), std::string::npos);
    EXPECT_EQ(Store.TakeProblem(), "");
    EXPECT_EQ(ReadAll(Dir.Path("state/reading.json.damaged")), Row.Bytes);
    KeepAt(Store, "/books/c.txt", 3);
    EXPECT_EQ(PositionOf(Make(), "/books/c.txt"), 3);
  }
}

// A write that fails (a full disk, a folder that cannot be made) leaves the old store as it was, is
// said once, and the change still holds for this run.
TEST_F(ReadingStore, AFailedWriteKeepsTheOldStoreAndIsSaidOnce) {
  TReadingStore Store = Make();
  KeepAt(Store, "/books/a.txt", 100);
  const std::string Before = ReadAll(Store.StateFile());
  {
    // The disk is full: no file may grow past a few bytes while the bookmark is written.
    const auto Ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Old{};
    ::getrlimit(RLIMIT_FSIZE, &Old);
    rlimit Tight = Old;
    Tight.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &Tight);
    Store.Update("/books/a.txt", [](TFileRecord& Record) { Record.Bookmarks.push_back({5, "第一章", "天地玄黄", 1}); });
    KeepAt(Store, "/books/b.txt", 9);
    ::setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, Ignored);
  }
  EXPECT_EQ(ReadAll(Store.StateFile()), Before);
  const std::string Said = Store.TakeProblem();
  EXPECT_NE(Said.find("无法保存阅读记录"), std::string::npos) << Said;
  EXPECT_EQ(Store.TakeProblem(), "");
  ASSERT_TRUE(Store.Record("/books/a.txt"));
  EXPECT_EQ(Store.Record("/books/a.txt")->Bookmarks.size(), 1u);
  EXPECT_EQ(PositionOf(Store, "/books/b.txt"), 9);

  // XDG_STATE_HOME naming a file: the store's folder can never be made.
  const std::string NotAFolder = Dir.Write("file", "x");
  TReadingStore Nowhere(NotAFolder + "/pagorin", Dir.Path("config"));
  Nowhere.Load();
  KeepAt(Nowhere, "/books/a.txt", 5);
  EXPECT_EQ(PositionOf(Nowhere, "/books/a.txt"), 5);
  EXPECT_NE(Nowhere.TakeProblem().find("文件夹不可写"), std::string::npos);
  EXPECT_EQ(ReadAll(NotAFolder), "x");
}

// Two windows of the program keep each other's entries; the same entry takes the last write; writers
// at the same moment never leave a torn file.
TEST_F(ReadingStore, TwoWindowsKeepEachOthersEntriesAndNothingTears) {
  TReadingStore First = Make();
  TReadingStore Second = Make();
  KeepAt(First, "/books/a.txt", 1);
  KeepAt(Second, "/books/b.txt", 2);
  KeepAt(Second, "/books/a.txt", 3);
  TReadingStore Third = Make();
  EXPECT_EQ(PositionOf(Third, "/books/a.txt"), 3);
  EXPECT_EQ(PositionOf(Third, "/books/b.txt"), 2);

  const auto Writer = [this](const std::string& Book) {
    TReadingStore Store = Make();
    for (int Step = 0; Step < 40; ++Step) KeepAt(Store, Book, Step);
  };
  std::thread One(Writer, "/books/one.txt"), Two(Writer, "/books/two.txt");
  One.join();
  Two.join();
  TReadingStore After = Make();
  EXPECT_EQ(After.TakeProblem(), "");
  EXPECT_EQ(PositionOf(After, "/books/a.txt"), 3);
  // Each writer's last write stands unless the other's later one was made without it.
  EXPECT_TRUE(PositionOf(After, "/books/one.txt") == 39 || PositionOf(After, "/books/two.txt") == 39);
}

// The store keeps the 2,000 files read most recently.
TEST_F(ReadingStore, KeepsTheMostRecentlyReadFilesOnly) {
  QJsonArray Files;
  for (int Index = 0; Index < static_cast<int>(TReadingStore::MaxFiles); ++Index)
    Files.append(QJsonObject{{"path", QStringLiteral("/books/%1.txt").arg(Index)},
                             {"used", 1000 + Index},
                             {"position", Index}});
  std::filesystem::create_directories(Dir.Path("state"));
  Dir.Write("state/reading.json", QJsonDocument(QJsonObject{{"version", 1}, {"files", Files}}).toJson().toStdString());
  TReadingStore Store = Make();
  EXPECT_EQ(Store.FileCount(), TReadingStore::MaxFiles);
  KeepAt(Store, "/books/new.txt", 1);
  TReadingStore After = Make();
  EXPECT_EQ(After.FileCount(), TReadingStore::MaxFiles);
  EXPECT_EQ(PositionOf(After, "/books/new.txt"), 1);
  EXPECT_EQ(PositionOf(After, "/books/0.txt"), std::nullopt);
  EXPECT_EQ(PositionOf(After, "/books/1.txt"), 1);
}

// Off erases what is kept and leaves the flag alone in the config folder; nothing more is written
// until it is on again.
TEST_F(ReadingStore, OffErasesEverythingButTheFlag) {
  TReadingStore Store = Make();
  TReaderSettings Settings = Store.Settings();
  Settings.ColourScheme = "night";
  Store.SetSettings(Settings);
  KeepAt(Store, "/books/a.txt", 100);
  Store.SetRemember(false);
  KeepAt(Store, "/books/a.txt", 200);
  Store.SetSettings(Settings);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path("state")));
  const QJsonObject Kept = QJsonDocument::fromJson(QByteArray::fromStdString(ReadAll(Store.SettingsFile()))).object();
  EXPECT_EQ(Kept.value("remember"), QJsonValue(false));
  EXPECT_FALSE(Kept.contains("colours"));
  EXPECT_FALSE(Make().Remember());
  Store.SetRemember(true);
  EXPECT_EQ(Make().Settings().ColourScheme, "night");
}

}  // namespace
