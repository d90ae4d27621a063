#include "engine/ProgramDir.h"

#include "log/LogOutput.h"
#include "text/PathRoutines.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vantrel {
namespace {

std::string& Dir() {
  static std::string dir;
  return dir;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return CleanPath(path);
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return CleanPath(path);
  return CleanPath(JoinPath(cwd, path));
}

std::string ExecutableDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

std::string UserHome() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

const std::string& ProgramDir() { return Dir(); }

void SetProgramDirForTesting(const std::string& dir) { Dir() = dir; }

bool InitProgramDir(const std::optional<std::string>& home, std::string& error) {
  std::string dir;
  if (home) {
    dir = *home;
  } else {
    // Files an earlier version kept beside the program stay in use there;
    // otherwise they live in the user's data folder, not in a build or
    // install folder that a rebuild or an upgrade replaces.
    const std::string besideProgram = ExecutableDir();
    const bool earlierFiles = Exists(besideProgram + "/config.ini") || Exists(besideProgram + "/data.jl");
    if (!besideProgram.empty() && earlierFiles && ::access(besideProgram.c_str(), W_OK) == 0) {
      dir = besideProgram;
    } else {
      const char* data = std::getenv("XDG_DATA_HOME");
      dir = (data && *data == '/' ? std::string(data) : UserHome() + "/.local/share") + "/vantrel";
    }
  }
  dir = Absolute(dir);
  if (!EnsureDirectoryPath(dir)) {
    error = "vantrel: cannot create the directory " + dir;
    return false;
  }
  Dir() = dir;
  return true;
}

std::string ConfigFilePath() { return ProgramDir() + "/config.ini"; }

}  // namespace vantrel
