#include "TempDir.h"
#include "TMemo.h"
#include "TScrollBar.h"
#include "UAboutBox.h"
#include "UMain.h"
#include "toolkit/ModalAnswer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QFontDialog>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

std::string Contents(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

std::set<std::string> Entries(const std::string& Folder) {
  std::set<std::string> Names;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder)) Names.insert(Entry.path().filename());
  return Names;
}

struct stat StatusOf(const std::string& Path) {
  struct stat Status {};
  EXPECT_EQ(::stat(Path.c_str(), &Status), 0);
  return Status;
}

}  // namespace

// A whole reading session in the real window: opening, paging both ways, jumps, font changes and
// opening the file again. The file is writable, so any write would land; afterwards its bytes, its
// modification and change times and its inode are what they were, and the folder holds nothing new.
TEST(MainWindowSession, NothingIsEverWrittenToTheFileOrBesideIt) {
  TempDir Dir;
  std::string Text;
  for (int Line = 0; Line < 4000; ++Line) Text += "\xb5\xda" + std::to_string(Line) + "\xd5\xc2 line\r\n";
  const std::string Path = Dir.Write("novel.txt", Text);
  const timespec Past[2] = {{1000000000, 123456789}, {1000000000, 987654321}};  // 2001, odd nanoseconds
  ASSERT_EQ(::utimensat(AT_FDCWD, Path.c_str(), Past, 0), 0);
  const struct stat Before = StatusOf(Path);
  const std::set<std::string> Folder = Entries(Dir.Path(""));

  TAboutBox About;
  AboutBox = &About;
  TFrmMain Window;
  FrmMain = &Window;
  Window.resize(800, 600);
  Window.ShowForm();
  auto Open = [&] {
    TModalAnswer<QFileDialog> Answer([&](QFileDialog* Dialog) {
      Dialog->selectFile(QString::fromStdString(Path));
      static_cast<QDialog*>(Dialog)->accept();
    });
    Window.MnuOpen->trigger();
    ASSERT_EQ(Answer.Answered(), 1);
  };
  auto ChangeFont = [&](int Points) {
    TModalAnswer<QFontDialog> Answer([Points](QFontDialog* Dialog) {
      QFont Font = Dialog->currentFont();
      Font.setPointSize(Points);
      Dialog->setCurrentFont(Font);
      Dialog->accept();
    });
    Window.MnuFontSetup->trigger();
    ASSERT_EQ(Answer.Answered(), 1);
  };

  Open();
  for (int Turn = 0; Turn < 20; ++Turn) Window.TBDown->trigger();
  ChangeFont(21);
  for (int Turn = 0; Turn < 5; ++Turn) Window.TBUp->trigger();
  for (int Position : {Window.SclBar->Max(), 3, Window.SclBar->Max() / 2, 0}) Window.SclBar->SetPosition(Position);
  ChangeFont(8);
  for (int Turn = 0; Turn < 20; ++Turn) Window.TBDown->trigger();
  Open();
  Window.TBDown->trigger();
  ASSERT_GT(Window.Viewer.PageStart(), 0);  // the session really read the file
  FrmMain = nullptr;
  AboutBox = nullptr;

  const struct stat After = StatusOf(Path);
  EXPECT_EQ(Contents(Path), Text);
  EXPECT_EQ(After.st_ino, Before.st_ino);
  EXPECT_EQ(After.st_mtim.tv_sec, Before.st_mtim.tv_sec);
  EXPECT_EQ(After.st_mtim.tv_nsec, Before.st_mtim.tv_nsec);
  EXPECT_EQ(After.st_ctim.tv_sec, Before.st_ctim.tv_sec);
  EXPECT_EQ(After.st_ctim.tv_nsec, Before.st_ctim.tv_nsec);
  EXPECT_EQ(Entries(Dir.Path("")), Folder);
}
