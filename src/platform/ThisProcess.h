#pragma once
// What the program knows of itself and its user from the system: its
// process, the folder of its executable, the user's folders.
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::platform {

std::int32_t ThisProcessId();
// The program's arguments after its name, as UTF-8: on Windows from the
// UTF-16 command line, since argv is in the ANSI code page and loses what
// it cannot show.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// The folder holding the running executable, without a trailing separator;
// empty where it cannot be told.
std::string ExecutableFolder();
// The user's home (profile) folder.
std::string UserHome();
// Where the program keeps its files when no earlier version left them
// beside the executable: $XDG_DATA_HOME/vantrel (~/.local/share/vantrel) on
// Linux, %APPDATA%\Vantrel on Windows.
std::string DefaultHome();
// The process's current folder, for making a relative path absolute.
std::string CurrentFolder();
// Whether this user may create files in the folder.
bool FolderWritable(const std::string& folder);

}  // namespace vantrel::platform
