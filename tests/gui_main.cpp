#include <gtest/gtest.h>

#include "TApplication.h"

int main(int argc, char** argv) {
  // Tests never need a display: without one, Qt would abort at start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The program's own application object, so that the guard, the error box and modal forms behave
  // in tests as they do in the program.
  TApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
