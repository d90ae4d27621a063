#include "rules/ProgramAction.h"

#include "text/AtomicFile.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantrel {
namespace {

// A program part that names something other than an executable (a document,
// a folder) is opened with the desktop's opener.
bool IsExecutable(const std::string& program) {
  if (program.find('/') == std::string::npos) return true;  // looked up in PATH
  struct stat st {};
  return ::stat(program.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(program.c_str(), X_OK) == 0;
}

}  // namespace

void StartProgram(const std::string& program, const std::vector<std::string>& args, int showMode,
                  ProgramLaunch& launch) {
  bool hidden = showMode == 1;
  std::vector<std::string> argv;
  if (IsExecutable(program)) {
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
  } else {
    argv = {"xdg-open", program};
  }
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session, so it outlives us and takes no signals meant for us;
  // the signals we take as events are its own again.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (hidden) {
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, cargv[0], &files, &attr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    launch.error = FileErrorText(rc);
    return;
  }
  launch.started = true;
  launch.pid = pid;
  // Not waited for, but reaped when it ends, so no zombie is left.
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::vector<std::string> SplitProgramParameters(const std::string& text) { return SplitWords(text); }

}  // namespace vantrel
