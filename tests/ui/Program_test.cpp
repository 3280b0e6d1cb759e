#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>

namespace {

// The real program, started offscreen with arguments it must ignore: it comes up, stays up, and
// when the session asks it to end it shuts down through its own path with exit code 0.
TEST(Program, StartsRunsAndEndsWithExitCodeZero) {
  QProcess Program;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("QT_QPA_PLATFORM", "offscreen");
  Program.setProcessEnvironment(Environment);
  Program.start(PAGORIN_BINARY, {"--ignored", "/no/such/file.txt"});
  ASSERT_TRUE(Program.waitForStarted(10000));
  EXPECT_FALSE(Program.waitForFinished(2000)) << "ended on its own: " << Program.readAllStandardError().toStdString();
  ASSERT_EQ(Program.state(), QProcess::Running);
  ::kill(static_cast<pid_t>(Program.processId()), SIGTERM);
  ASSERT_TRUE(Program.waitForFinished(10000));
  EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(Program.exitCode(), 0);
}

}  // namespace
