#pragma once
// Helpers for tests on whole trees: deep ones, snapshots of everything under
// a folder, and a lowered descriptor limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
// with its level as content. Made with descriptors so that no path is long.
inline void MakeDeepTree(const std::string& top, int depth) {
  std::filesystem::create_directories(top);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 1; level <= depth; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0) << level;
    int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(next, 0) << level;
    fd = next;
    std::string name = "f" + std::to_string(level), content = std::to_string(level);
    int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0) << level;
    ASSERT_EQ(::write(file, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(file);
  }
  ::close(fd);
}

// How many levels of a tree made by MakeDeepTree are there whole.
inline int DeepTreeLevels(const std::string& top) {
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int level = 0;
  for (;;) {
    int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    if (next < 0) return level;
    fd = next;
    std::string name = "f" + std::to_string(level + 1);
    int file = ::openat(fd, name.c_str(), O_RDONLY | O_CLOEXEC);
    char buf[16] = {};
    ssize_t n = file >= 0 ? ::read(file, buf, sizeof buf) : -1;
    if (file >= 0) ::close(file);
    if (n <= 0 || std::string(buf, static_cast<std::size_t>(n)) != std::to_string(level + 1)) {
      ::close(fd);
      return level;
    }
    ++level;
  }
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
