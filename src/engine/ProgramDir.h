#pragma once
#include <optional>
#include <string>

namespace vantrel {

// The directory every file of the program lives in, without a trailing "/":
// the one given on the command line, else the executable's own where an
// earlier version left config.ini or data.jl there, else
// $XDG_DATA_HOME/vantrel. Made if missing; none, with a reason, when it
// cannot be. The face that chose it hands it to its engine.
std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, std::string& error);

// The user's home folder.
std::string UserHome();

}  // namespace vantrel
