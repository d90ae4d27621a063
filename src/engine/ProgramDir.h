#pragma once
#include <optional>
#include <string>

namespace vantrel {

// The directory every file of the program lives in, without a trailing "/":
// the one given on the command line, else the executable's own where an
// earlier version left config.ini or data.jl there, else
// $XDG_DATA_HOME/vantrel.
const std::string& ProgramDir();
// Chooses it; returns false with a reason when the directory cannot be made.
bool InitProgramDir(const std::optional<std::string>& home, std::string& error);
void SetProgramDirForTesting(const std::string& dir);

std::string ConfigFilePath();

// The user's home folder.
std::string UserHome();

}  // namespace vantrel
