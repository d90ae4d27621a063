#pragma once
// Recursive inotify over a set of root directories, for when the process may
// not watch whole file systems.
#include "monitor/linux/KernelSource.h"

#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace vantrel {

class InotifySource final : public KernelSource {
 public:
  ~InotifySource() override { Stop(); }
  const char* Name() const override { return "inotify"; }
  std::size_t WatchCount() const { return watchCount_; }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using PathSet = std::unordered_set<std::string, Hash, std::equal_to<>>;
  struct Move {
    std::uint32_t cookie;
    std::string path;
    bool isDir;
    std::int64_t at;
  };

  bool Open(std::string& error) override;
  int KernelFd() const override { return fd_; }
  void ReadKernel(std::int64_t now) override;
  void OnRootsChanged(const std::vector<std::string>& roots) override;
  std::optional<std::int64_t> NextDeadline() override;
  void OnTick(std::int64_t now) override;
  void Close() override;

  // Appends what the kernel has queued to raw_; false once it has nothing.
  bool DrainKernel();
  void Handle(std::uint32_t wd, std::uint32_t mask, std::uint32_t cookie, std::string_view name, std::int64_t now);
  bool AddWatch(const std::string& dir);
  // Watches dir and everything below it; with reportContents what is found
  // is reported as new, since it appeared after its parent was watched.
  void WatchTree(const std::string& dir, bool reportContents, std::int64_t now);
  void ForgetTree(const std::string& dir);
  void RenameTree(const std::string& from, const std::string& to);
  void MovedOut(const Move& move, std::int64_t now);
  void ExpireMoves(std::int64_t now, std::string_view path);
  bool IsRoot(std::string_view dir) const;

  int fd_ = -1;
  std::string raw_;
  std::size_t rawPos_ = 0;
  std::unordered_map<int, std::string> paths_;
  std::unordered_map<std::string, int, Hash, std::equal_to<>> wds_;
  std::vector<std::string> roots_;
  std::deque<Move> moves_;
  // Items a scan reported whose own create events may still be queued.
  PathSet scanned_;
  // Folders too deep to watch, told of once each.
  PathSet tooLongFolders_;
  bool limitReported_ = false;
  bool watchLimitHit_ = false;
  std::string full_;
  std::atomic<std::size_t> watchCount_{0};
};

}  // namespace vantrel
