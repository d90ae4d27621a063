#include "platform/ThisProcess.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vantrel::platform {

std::int32_t ThisProcessId() { return static_cast<std::int32_t>(::getpid()); }

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string exe(buf, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

std::string UserHome() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string DefaultHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  return (data && *data == '/' ? std::string(data) : UserHome() + "/.local/share") + "/vantrel";
}

std::string CurrentFolder() {
  char cwd[PATH_MAX];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

bool FolderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

}  // namespace vantrel::platform
