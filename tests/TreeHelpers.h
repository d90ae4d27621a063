#pragma once
// Helpers for tests on whole trees: deep ones, snapshots of everything under
// a folder, and a lowered descriptor limit.
#include "FileHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace vantrel {

// Lowers the soft limit on open descriptors for as long as it lives.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    struct rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    set_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~DescriptorLimit() {
    if (set_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;
  bool Set() const { return set_; }

 private:
  struct rlimit saved_ {};
  bool set_ = false;
};

// A chain of depth folders named "d" below top, each holding a file f<level>
// with its level as content.
inline void MakeDeepTree(const std::string& top, int depth) {
  std::string dir = top;
  for (int level = 1; level <= depth; ++level) {
    dir += "/d";
    std::filesystem::create_directories(dir);
    WriteInPlace(dir + "/f" + std::to_string(level), std::to_string(level));
  }
}

// How many levels of a tree made by MakeDeepTree are there whole.
inline int DeepTreeLevels(const std::string& top) {
  std::string dir = top;
  int level = 0;
  for (std::string next = std::to_string(level + 1); Read(dir + "/d/f" + next) == next; next = std::to_string(level + 1)) {
    dir += "/d";
    ++level;
  }
  return level;
}

// Every entry below top (links not followed, mount points not crossed) with
// its kind, size and link text: two snapshots differ when anything was made,
// removed or changed.
inline std::map<std::string, std::string> Snapshot(const std::string& top) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  struct stat topStat {};
  ::lstat(top.c_str(), &topStat);
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(top, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    struct stat st {};
    std::string path = it->path().string();
    ::lstat(path.c_str(), &st);
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
    if (S_ISLNK(st.st_mode)) what += " -> " + fs::read_symlink(path, ec).string();
    if (S_ISDIR(st.st_mode) && st.st_dev != topStat.st_dev) it.disable_recursion_pending();
    entries[path.substr(top.size())] = what;
  }
  return entries;
}

}  // namespace vantrel
