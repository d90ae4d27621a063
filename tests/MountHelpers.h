#pragma once
// Mounts for one test, undone when the fixture ends, also after a failure.
#include "text/AtomicFile.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace vantrel {

// Runs a program found on PATH and waits for it; its exit status, or -1
// when it could not be started.
inline int RunProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class Mounts {
 public:
  ~Mounts() { UnmountAll(); }
  // A file system of the kernel's (tmpfs, a bind mount); "" or the reason.
  std::string Mount(const std::string& source, const std::string& at, const char* type, unsigned long flags,
                    const char* options) {
    if (::mount(source.c_str(), at.c_str(), type, flags, options) != 0) return FileErrorText(errno);
    points_.push_back(at);
    return {};
  }
  // A bindfs view of folder at the mount point; "" or the reason.
  std::string MountBindfs(const std::string& folder, const std::string& at) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
    int status = RunProgram({"bindfs", folder, at});
    if (status != 0) return status < 0 ? "bindfs is not installed" : "bindfs failed with " + std::to_string(status);
    points_.push_back(at);
    struct stat a {}, b {};
    if (::stat(folder.c_str(), &a) != 0 || ::stat(at.c_str(), &b) != 0 || a.st_dev == b.st_dev) return "bindfs mounted nothing";
    return {};
  }
  void UnmountAll() {
    for (auto it = points_.rbegin(); it != points_.rend(); ++it)
      if (::umount2(it->c_str(), MNT_DETACH) != 0) RunProgram({"fusermount", "-u", "-z", *it});
    points_.clear();
  }

 private:
  std::vector<std::string> points_;
};

}  // namespace vantrel
