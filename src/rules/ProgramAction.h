#pragma once
// Starting the program of an execute rule: program§parameters§show mode,
// with "#文件名" and "#路径" filled in. Programs are started with an argument
// vector, never through a shell, so a file name is always one argument.
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

// POSIX shell word splitting without any expansion: blanks separate words,
// quotes and backslashes group them.
std::vector<std::string> SplitWords(const std::string& text);

// Show modes: 0 normal, 1 hidden, 2 minimised, 3 maximised. A desktop cannot
// be told another program's first window state, so all but hidden start
// the program normally; hidden starts it with no terminal and its output
// discarded.
ProgramLaunch RunProgramAction(const std::string& operand, const std::string& itemName,
                               const std::string& effectivePath);

}  // namespace vantrel
