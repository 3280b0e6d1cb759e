#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // Tests never need a display: without one, Qt would abort at start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
