#pragma once
#include <optional>
#include <string>

namespace vantrel {

// Where the program's files may live, as the system has it.
struct ProgramDirPlaces {
  std::string besideProgram;  // the executable's own folder
  bool besideWritable = false;
  std::string dataHome;  // $XDG_DATA_HOME/vantrel, %APPDATA%\Vantrel
};
ProgramDirPlaces SystemProgramDirPlaces();

// The directory every file of the program lives in, without a trailing "/":
// the one given on the command line, else the executable's own where an
// earlier version left config.ini or data.jl there, else the data home.
// Files an earlier version left beside a program in a folder the user may
// not write (an install folder) are carried to the data home the first
// time, and notice says so. Made if missing; none, with a reason, when it
// cannot be. The face that chose it hands it to its engine.
std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, const ProgramDirPlaces& places,
                                            std::string& error, std::string& notice);
std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, std::string& error,
                                            std::string& notice);

// The user's home folder.
std::string UserHome();

}  // namespace vantrel
