#include "CodePage.h"
#include "Program.h"
#include "TApplication.h"
#include "TMemo.h"
#include "TStatusBar.h"
#include "TempDir.h"
#include "UAboutBox.h"
#include "UMain.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

namespace {

QProcessEnvironment Offscreen() {
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("QT_QPA_PLATFORM", "offscreen");
  return Environment;
}

// The real program, started offscreen with a file it cannot read: it comes up, stays up, and when
// the session asks it to end it shuts down through its own path with exit code 0.
TEST(Program, StartsRunsAndEndsWithExitCodeZero) {
  QProcess Program;
  Program.setProcessEnvironment(Offscreen());
  Program.start(PAGORIN_BINARY, {"/no/such/file.txt"});
  ASSERT_TRUE(Program.waitForStarted(10000));
  EXPECT_FALSE(Program.waitForFinished(2000)) << "ended on its own: " << Program.readAllStandardError().toStdString();
  ASSERT_EQ(Program.state(), QProcess::Running);
  ::kill(static_cast<pid_t>(Program.processId()), SIGTERM);
  ASSERT_TRUE(Program.waitForFinished(10000));
  EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Program.exitCode(), 0);
}

// Answers on the command line come at once, without a window: --help and --version on standard
// output, a mistake (Qt's own options among them) on standard error.
TEST(Program, AnswersOnTheCommandLine) {
  const struct {
    QStringList Arguments;
    int ExitCode;
    const char* Out;
    const char* Err;
  } Rows[] = {{{"--help"}, 0, "用法：pagorin [文件]", ""},
              {{"--version"}, 0, "Pagorin高速文本文件浏览器 1.0", ""},
              {{"a.txt", "b.txt"}, 2, "", "多出了“b.txt”"},
              {{"-style", "windows"}, 2, "", "无法识别的选项“-style”"},
              {{""}, 2, "", "文件名不能为空"}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Arguments.join(' ').toStdString());
    QProcess Program;
    Program.setProcessEnvironment(Offscreen());
    Program.start(PAGORIN_BINARY, Row.Arguments);
    ASSERT_TRUE(Program.waitForFinished(10000));
    EXPECT_EQ(Program.exitCode(), Row.ExitCode);
    const QString Out = QString::fromUtf8(Program.readAllStandardOutput());
    const QString Err = QString::fromUtf8(Program.readAllStandardError());
    EXPECT_EQ(Out.isEmpty(), *Row.Out == '\0') << Out.toStdString();
    EXPECT_TRUE(Out.contains(QString::fromUtf8(Row.Out))) << Out.toStdString();
    EXPECT_EQ(Err.isEmpty(), *Row.Err == '\0') << Err.toStdString();
    EXPECT_TRUE(Err.contains(QString::fromUtf8(Row.Err))) << Err.toStdString();
  }
}

// The start with a file, as the entry point runs it: the file opens as File > Open opens it once the
// main window is on screen (caption, size status, first page); one it cannot read gives what the
// open command gives for it: why not. A relative name is taken from the working folder.
TEST(Program, OpensTheFileNamedOnTheCommandLine) {
  TempDir Dir;
  const std::string Novel = TCodePage::Ansi().Encode(QStringLiteral("第一章\r\n　　天地玄黄，宇宙洪荒。\r\n"));
  const std::string Readable = Dir.Write("小说.txt", Novel);
  const std::string Fifo = Dir.Path("fifo.txt");
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
  const std::string Title = "Pagorin高速文本文件浏览器";
  const std::string Opened = "Pagorin文本文件浏览器--";
  const struct {
    std::vector<std::string> Arguments;
    std::string Path;
    std::string Caption;
    std::string Status;
    QString Page;
  } Rows[] = {{{Readable}, Readable, Opened + Readable, "文件大小：" + std::to_string(Novel.size()) + "字节",
               QStringLiteral("第一章\n　　天地玄黄，宇宙洪荒。\n")},
              {{"--", Dir.Path("missing.txt")}, Dir.Path("missing.txt"), Opened + Dir.Path("missing.txt"),
               "无法打开文件：文件不存在", ""},
              {{Fifo}, Fifo, Opened + Fifo, "无法打开文件：不是普通文件", ""},
              // A folder opens nothing.
              {{Dir.Path("")}, Dir.Path(""), Title, "不能打开文件夹", QStringLiteral("请打开文件...\n\n")}};
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Path);
    std::ostringstream Out, Err;
    const TCommandLine Line = ReadCommandLine(Row.Arguments, Out, Err);
    ASSERT_FALSE(Line.Answered);
    EXPECT_EQ(Line.File, Row.Path);
    std::string Caption, Status;
    QString Page;
    bool Maximized = false, FitsTheWindow = false;
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(QTest::qWaitFor([] { return !FrmMain->StsBar->Panels(1).Text().empty(); }, 5000));
      Maximized = FrmMain->isMaximized();
      // Measured at the maximized size, not at the size the window had before it was shown.
      FitsTheWindow = FrmMain->Viewer.FileName().empty() ||
                      FrmMain->Viewer.LinesPerPage() == FrmMain->Memo->ClientHeight() / 14;
      Caption = FrmMain->Caption();
      Status = TCodePage::Ansi().Decode(FrmMain->StsBar->Panels(1).Text()).toStdString();
      Page = FrmMain->Memo->toPlainText();
      FrmMain->MnuExit->trigger();
    });
    EXPECT_EQ(RunProgram(*Application, Line.File), 0);
    FrmMain = nullptr;
    AboutBox = nullptr;
    EXPECT_TRUE(Maximized);
    EXPECT_TRUE(FitsTheWindow);
    EXPECT_EQ(Caption, Row.Caption);
    EXPECT_EQ(Status, Row.Status);
    EXPECT_EQ(Page, Row.Page);
  }
  std::ostringstream Out, Err;
  const std::filesystem::path Here = std::filesystem::current_path();
  std::filesystem::current_path(Dir.Path(""));
  const TCommandLine Relative = ReadCommandLine({"./sub/../小说.txt"}, Out, Err);
  std::filesystem::current_path(Here);
  EXPECT_EQ(Relative.File, Readable);
}

}  // namespace
