#pragma once

// The program's start, as the entry point runs it: the command line read, then the title, the two
// windows, the file named on the command line, and the loop until the main window closes.

#include <iosfwd>
#include <string>
#include <vector>

class TApplication;

struct TCommandLine {
  std::string File;       // the file to open, as a full path; empty: none, the start is as ever
  bool Answered = false;  // --help, --version or a mistake: answered, the program ends here
  int ExitCode = 0;
};

// Reads the arguments after the program's name: at most one file, --help and --version (answered on
// Out, exit code 0), and "--" before a file whose name starts with "-". Anything else, an empty name
// too, is a mistake, said on Err (exit code 2). Qt's own options are not among them.
TCommandLine ReadCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out, std::ostream& Err);

// Names the application, makes its two windows, opens File (unless empty) as File > Open opens a
// chosen file once the main window is on screen at its size, and runs until the main window closes.
// An exception on the way is reported and ends the start. Returns the exit code, 0.
int RunProgram(TApplication& App, const std::string& File);
