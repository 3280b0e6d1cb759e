#include "TOpenDialog.h"

#include "ModalAnswer.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QAbstractFileIconProvider>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const TextFilter = "文本文件(*.Txt)|*.txt|所有文件(*.*)|*.*";

// The names the dialog's file list shows (folders included).
std::set<std::string> ListedNames(QFileDialog* Dialog) {
  std::set<std::string> Names;
  auto* List = Dialog->findChild<QListView*>(QStringLiteral("listView"));
  if (!List) return Names;
  QAbstractItemModel* Model = List->model();
  const QModelIndex Root = List->rootIndex();
  for (int Row = 0; Row < Model->rowCount(Root); ++Row)
    Names.insert(Model->index(Row, 0, Root).data().toString().toStdString());
  return Names;
}

// Waits until the dialog's file list has read its folder.
void WaitForListing(QFileDialog* Dialog, std::size_t AtLeast) {
  QTRY_VERIFY(ListedNames(Dialog).size() >= AtLeast);
}

struct TDialogSeen {
  bool Shown = false;
  std::string Directory;
  std::string NameFilter;
  std::string TypedName;
  std::string Caption;
  bool Native = true;
  QFileDialog::FileMode Mode = QFileDialog::AnyFile;
  std::string DefaultSuffix;
};

// Reads the next open dialog, then lets Act answer it.
class TDialogAnswer {
public:
  explicit TDialogAnswer(std::function<void(QFileDialog*)> Act)
      : FAnswer([this, Act = std::move(Act)](QFileDialog* Dialog) {
          Seen.Shown = true;
          Seen.Directory = Dialog->directory().absolutePath().toStdString();
          Seen.NameFilter = Dialog->selectedNameFilter().toStdString();
          if (auto* Edit = Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            Seen.TypedName = Edit->text().toStdString();
          Seen.Caption = Dialog->windowTitle().toStdString();
          Seen.Native = !Dialog->testOption(QFileDialog::DontUseNativeDialog);
          Seen.Mode = Dialog->fileMode();
          Seen.DefaultSuffix = Dialog->defaultSuffix().toStdString();
          Act(Dialog);
        }) {}
  TDialogSeen Seen;

private:
  TModalAnswer<QFileDialog> FAnswer;
};

TOpenDialog TextDialog() {
  TOpenDialog Dialog;
  Dialog.Filter = TextFilter;
  Dialog.DefaultExt = "txt";
  Dialog.Title = "打开";
  return Dialog;
}

} // namespace

TEST(TOpenDialogFilter, PairsBecomeQtNameFilters) {
  struct TRow {
    const char* What;
    const char* Filter;
    QStringList Expected;
  };
  const TRow Rows[] = {
      // "*.*" is every file, with or without a dot in the name.
      {"the program's filter", TextFilter, {"文本文件(*.Txt) (*.txt)", "所有文件(*.*) (*)"}},
      {"several patterns", "Texts|*.txt;*.log|All|*", {"Texts (*.txt *.log)", "All (*)"}},
      {"description without patterns is dropped", "Texts|*.txt|Lonely", {"Texts (*.txt)"}},
      {"empty", "", {}},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.What);
    EXPECT_EQ(TOpenDialog::NameFilters(Row.Filter), Row.Expected);
  }
}

TEST(TOpenDialogRun, ConfirmGivesTheFullPathAndKeepsTheFilter) {
  TempDir Folder;
  const std::string Novel = Folder.Write("三国演义.txt", "abc");
  Folder.Write("notes.log", "x");
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  TDialogAnswer Answer([&](QFileDialog* Up) {
    Up->selectFile(QString::fromStdString(Novel));
    static_cast<QDialog*>(Up)->accept(); // QFileDialog::accept, which checks the file exists
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_TRUE(Answer.Seen.Shown);
  EXPECT_FALSE(Answer.Seen.Native);
  EXPECT_EQ(Answer.Seen.Mode, QFileDialog::ExistingFile);
  EXPECT_EQ(Answer.Seen.DefaultSuffix, "txt");
  EXPECT_EQ(Answer.Seen.Caption, "打开");
  EXPECT_EQ(Answer.Seen.NameFilter, "文本文件(*.Txt)"); // shown as described, patterns hidden
  EXPECT_EQ(QDir(QString::fromStdString(Answer.Seen.Directory)), QDir(QString::fromStdString(Folder.Path(""))));
  EXPECT_EQ(Dialog.FileName, Novel);
  EXPECT_EQ(Dialog.FilterIndex, 1);
  // Qt's dialog writes nothing of its own when it goes (no QtProject.conf): the program keeps the
  // reader's last folder itself, and nothing when he asks it to remember nothing.
  Dialog = TOpenDialog();
  const QString Config = qEnvironmentVariable("XDG_CONFIG_HOME");
  ASSERT_FALSE(Config.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(Config + QStringLiteral("/QtProject.conf")));
  EXPECT_FALSE(QFileInfo::exists(QDir::homePath() + QStringLiteral("/.config/QtProject.conf")));
}

TEST(TOpenDialogRun, FilterTheUserChoseIsKeptAndTheNextRunStartsFromTheFile) {
  TempDir Folder;
  const std::string Log = Folder.Write("notes.log", "x");
  TOpenDialog Dialog = TextDialog();
  TDialogAnswer First([&](QFileDialog* Up) {
    Up->selectNameFilter(TOpenDialog::NameFilters(TextFilter)[1]);
    Up->selectFile(QString::fromStdString(Log));
    static_cast<QDialog*>(Up)->accept(); // QFileDialog::accept, which checks the file exists
  });
  ASSERT_TRUE(Dialog.Execute());
  EXPECT_EQ(Dialog.FileName, Log);
  EXPECT_EQ(Dialog.FilterIndex, 2);

  TDialogAnswer Second([](QFileDialog* Up) { Up->reject(); });
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_EQ(Second.Seen.NameFilter, "所有文件(*.*)");
  EXPECT_EQ(QDir(QString::fromStdString(Second.Seen.Directory)), QDir(QString::fromStdString(Folder.Path(""))));
  EXPECT_EQ(Second.Seen.TypedName, "notes.log");
}

TEST(TOpenDialogRun, CancelChangesNothing) {
  TempDir Folder;
  const std::string Novel = Folder.Write("a.txt", "abc");
  const std::string Other = Folder.Write("b.txt", "abc");
  TOpenDialog Dialog = TextDialog();
  Dialog.FileName = Novel;
  Dialog.FilterIndex = 1;
  TDialogAnswer Answer([&](QFileDialog* Up) {
    Up->selectNameFilter(TOpenDialog::NameFilters(TextFilter)[1]);
    Up->selectFile(QString::fromStdString(Other));
    Up->reject();
  });
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_TRUE(Answer.Seen.Shown);
  EXPECT_EQ(Dialog.FileName, Novel);
  EXPECT_EQ(Dialog.FilterIndex, 1);
}

TEST(TOpenDialogRun, NameTypedWithoutExtensionGetsTheDefaultOne) {
  TempDir Folder;
  const std::string Novel = Folder.Write("novel.txt", "abc");
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  TDialogAnswer Answer([](QFileDialog* Up) {
    Up->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("novel"));
    static_cast<QDialog*>(Up)->accept(); // QFileDialog::accept, which checks the file exists
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Dialog.FileName, Novel);
}

// Plenty of text files here have no extension: all files lists them, and their name opens them.
TEST(TOpenDialogRun, FilesWithoutExtensionAreListedAndOpenAsTyped) {
  TempDir Folder;
  const std::string Plain = Folder.Write("novel", "abc");
  Folder.Write("other.txt", "abc");
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  Dialog.FilterIndex = 2;
  std::set<std::string> Listed;
  TDialogAnswer Answer([&](QFileDialog* Up) {
    WaitForListing(Up, 2);
    Listed = ListedNames(Up);
    Up->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("novel"));
    static_cast<QDialog*>(Up)->accept();
  });
  EXPECT_TRUE(Dialog.Execute());
  EXPECT_EQ(Listed, (std::set<std::string>{"novel", "other.txt"}));
  EXPECT_EQ(Dialog.FileName, Plain);
}

TEST(TOpenDialogRun, TextFilterListsTextFilesInAnyLetterCase) {
  TempDir Folder;
  Folder.Write("lower.txt", "a");
  Folder.Write("UPPER.TXT", "a");
  Folder.Write("Mixed.Txt", "a");
  Folder.Write("other.log", "a");
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  std::set<std::string> Listed;
  TDialogAnswer Answer([&](QFileDialog* Up) {
    WaitForListing(Up, 3);
    Listed = ListedNames(Up);
    Up->reject();
  });
  Dialog.Execute();
  EXPECT_EQ(Listed, (std::set<std::string>{"lower.txt", "UPPER.TXT", "Mixed.Txt"}));
}

// Listing a folder never reads a file: not a FIFO without a writer, not a device, and not a file whose
// content would tell another type than its name (a read of /proc/kmsg would block for good).
TEST(TOpenDialogRun, ListsAFolderWithoutReadingItsFiles) {
  TempDir Folder;
  Folder.Write("report", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  ASSERT_EQ(::mkfifo(Folder.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", Folder.Path("zero").c_str()), 0);
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  Dialog.FilterIndex = 2;
  std::set<std::string> Listed;
  QString ReportType;
  TDialogAnswer Answer([&](QFileDialog* Up) {
    WaitForListing(Up, 1);
    Listed = ListedNames(Up);
    ReportType = Up->iconProvider()->type(QFileInfo(QString::fromStdString(Folder.Path("report"))));
    Up->reject();
  });
  Dialog.Execute();
  EXPECT_EQ(Listed, (std::set<std::string>{"report"})); // special files are not listed at all
  EXPECT_FALSE(ReportType.contains(QStringLiteral("PDF"))) << ReportType.toStdString();
  EXPECT_FALSE(ReportType.isEmpty());
}

// A FIFO or a device typed by name is said to be no regular file, and the dialog stays up for another
// choice, instead of looking for "name.txt" or handing the viewer something it cannot page.
TEST(TOpenDialogRun, SpecialFileTypedByNameIsRefusedAndTheDialogStays) {
  TempDir Folder;
  ASSERT_EQ(::mkfifo(Folder.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", Folder.Path("zero.txt").c_str()), 0);
  TOpenDialog Dialog = TextDialog();
  Dialog.InitialDir = Folder.Path("");
  std::vector<std::string> Said;
  bool StayedUp = true;
  TDialogAnswer Answer([&](QFileDialog* Up) {
    for (const char* Typed : {"fifo", "zero.txt"}) {
      Up->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromUtf8(Typed));
      TErrorBoxAnswer Box;
      static_cast<QDialog*>(Up)->accept();
      Said.push_back(Box.Seen.Text);
      StayedUp = StayedUp && Up->isVisible();
    }
    Up->reject();
  });
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_EQ(Said, (std::vector<std::string>{Folder.Path("fifo") + "\n不是普通文件，不能作为文本打开。",
                                             Folder.Path("zero.txt") + "\n不是普通文件，不能作为文本打开。"}));
  EXPECT_TRUE(StayedUp);
}
