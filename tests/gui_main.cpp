#include <gtest/gtest.h>

#include "TApplication.h"

#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  // No test reads or writes the kept state of the person running them, nor Qt's own files in his
  // home: all of it goes to a folder of the run's own, set before anything starts (a window reads the
  // store when it is made, a program a test starts inherits the environment).
  QTemporaryDir Home(QDir::tempPath() + QStringLiteral("/pagorin-home-XXXXXX"));
  if (!Home.isValid()) return 1;
  for (const char* Variable : {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
    const QString Folder = Home.path() + QLatin1Char('/') + QLatin1String(Variable);
    QDir().mkpath(Folder);
    qputenv(Variable, Folder.toLocal8Bit());
  }
  // Tests never need a display: without one, Qt would abort at start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The program's own application object, so that the guard, the error box and modal forms behave
  // in tests as they do in the program.
  TApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
