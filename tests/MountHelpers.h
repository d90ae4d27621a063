#pragma once
// Mounts for one test, undone when the fixture ends, also after a failure.
#include "text/AtomicFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace vantrel {

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
    if (std::system("command -v bindfs >/dev/null") != 0) return "bindfs is not installed";
    if (std::system(("bindfs '" + folder + "' '" + at + "'").c_str()) != 0) return "bindfs failed";
    points_.push_back(at);
    struct stat a {}, b {};
    if (::stat(folder.c_str(), &a) != 0 || ::stat(at.c_str(), &b) != 0 || a.st_dev == b.st_dev) return "bindfs mounted nothing";
    return {};
  }
  void UnmountAll() {
    for (auto it = points_.rbegin(); it != points_.rend(); ++it)
      if (::umount2(it->c_str(), MNT_DETACH) != 0) std::system(("fusermount -u -z '" + *it + "'").c_str());
    points_.clear();
  }

 private:
  std::vector<std::string> points_;
};

}  // namespace vantrel
