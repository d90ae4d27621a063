#pragma once
// Starting the program of an execute rule: program§parameters§show mode,
// with "#文件名" and "#路径" filled in. Programs are started with an argument
// vector, never through a shell, so a file name is always one argument, and
// never an option: a name that would begin an argument with "-" (or "/" on
// Windows) is given as the file's full path instead.
#include <string>
#include <vector>

namespace vantrel {

struct ProgramLaunch {
  bool fieldsOk = false;  // false: fewer than three fields, nothing started
  bool started = false;
  std::string error;
  std::string detail;  // program, one space, parameters (substituted)
  int pid = 0;
};

// How the parameter text becomes words, before anything is filled in: the
// way the system's users write a command. Linux: POSIX shell word splitting
// without any expansion (blanks separate words, quotes and backslashes
// group them). Windows: the C runtime's reading of a command line, where a
// backslash is literal unless quotes follow it, so C:\dir\x.txt stays one
// path.
std::vector<std::string> SplitWords(const std::string& text);
std::vector<std::string> SplitCommandLine(const std::string& text);
// The one of the two this system's users write (defined in each system's
// ProgramStart.cpp).
std::vector<std::string> SplitProgramParameters(const std::string& text);
// One argument as a Windows command line carries it so that the C runtime
// (and CommandLineToArgvW) reads back exactly the argument.
std::string QuoteCommandLineArgument(const std::string& argument);

// Show modes: 0 normal, 1 hidden, 2 minimised, 3 maximised, anything else
// normal. On Windows the started program is told the mode. On Linux a
// desktop cannot be told another program's first window state, so all but
// hidden start the program normally; hidden starts it with no terminal and
// its output discarded.
ProgramLaunch RunProgramAction(const std::string& operand, const std::string& itemName,
                               const std::string& effectivePath);

// The start itself, per system: sets started, error and pid.
void StartProgram(const std::string& program, const std::vector<std::string>& args, int showMode,
                  ProgramLaunch& launch);

}  // namespace vantrel
