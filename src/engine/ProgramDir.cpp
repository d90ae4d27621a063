#include "engine/ProgramDir.h"

#include "log/LogOutput.h"
#include "platform/StoredFile.h"
#include "platform/ThisProcess.h"
#include "text/PathRoutines.h"

namespace vantrel {
namespace {

std::string Absolute(const std::string& path) {
  if (IsAbsolutePath(path)) return CleanPath(path);
  return CleanPath(JoinPath(platform::CurrentFolder(), path));
}

bool Exists(const std::string& path) { return platform::StampOf(path).has_value(); }

}  // namespace

std::string UserHome() { return platform::UserHome(); }

std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, std::string& error) {
  std::string dir;
  if (home) {
    dir = *home;
  } else {
    // Files an earlier version kept beside the program stay in use there;
    // otherwise they live in the user's data folder, not in a build or
    // install folder that a rebuild or an upgrade replaces.
    const std::string besideProgram = platform::ExecutableFolder();
    const bool earlierFiles = !besideProgram.empty() && (Exists(JoinPath(besideProgram, "config.ini")) ||
                                                         Exists(JoinPath(besideProgram, "data.jl")));
    dir = earlierFiles && platform::FolderWritable(besideProgram) ? besideProgram : platform::DefaultHome();
  }
  dir = Absolute(dir);
  if (!EnsureDirectoryPath(dir)) {
    error = "vantrel: cannot create the directory " + dir;
    return std::nullopt;
  }
  return dir;
}

}  // namespace vantrel
