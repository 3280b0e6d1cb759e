// The entry point: reads the command line, then runs the program (Program.h). The exit code is 0,
// or 2 after a mistake on the command line.

#include "Program.h"
#include "TApplication.h"

#include <iostream>

int main(int argc, char** argv) {
  const TCommandLine Line = ReadCommandLine({argv + 1, argv + argc}, std::cout, std::cerr);
  if (Line.Answered) return Line.ExitCode;
  // Qt's own options (-style, -reverse, ...) are not the program's: Qt sees its name alone.
  int QtArgc = 1;
  TApplication App(QtArgc, argv);
  return RunProgram(App, Line.File);
}
