#pragma once
// The Windows change source: one overlapped, recursive ReadDirectoryChangesW
// per root, read on a thread of its own. The roots are the rule folders or,
// in whole-disk mode, the local drives; drives that come and go are told,
// as mounts are on Linux, for the roots to follow.
#include "monitor/ChangeSource.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {

class DirectoryChangesSource final : public RawChangeSource {
 public:
  // What one read may bring: a burst of tens of thousands of new files
  // (an unpacked archive, a build) must fit between two reads, or it
  // overflows; Windows takes at most 64 KiB a read on a network folder.
  static constexpr std::size_t kBufferBytes = 1024 * 1024;
  static constexpr std::size_t kNetworkBufferBytes = 64 * 1024;

  using DriveList = std::function<std::vector<std::string>()>;
  // The system's drives, as whole-disk mode takes them.
  static std::vector<std::string> LocalDrives();

  // bufferBytes other than the default is for tests that need the system's
  // buffer to overflow; drives for tests that make drives come and go.
  explicit DirectoryChangesSource(std::size_t bufferBytes = kBufferBytes, DriveList drives = LocalDrives);
  ~DirectoryChangesSource() override;
  const char* Name() const override { return "ReadDirectoryChangesW"; }
  // Returns once the roots' reads are pending; their folders are walked after.
  bool Start(std::string& error) override;
  void Stop() override;
  // Empty means nothing is watched.
  void SetRoots(std::vector<std::string> roots) override;
  double ReaderCpuSeconds() const override;

  // How many root sets have been taken up, walks included: tests wait for it
  // before they touch folders that existed before.
  std::uint64_t RootSetsApplied() const { return rootSetsApplied_; }

 private:
  struct Watch;
  struct Completion {
    std::uint64_t watch;
    unsigned long error;
    std::vector<char> data;
  };
  struct PendingRename {
    std::string path;
    bool isDir;
    std::int64_t at;
  };

  // The completion routine's way in.
  friend struct DirectoryReadDone;
  void OnCompleted(Watch& watch, unsigned long error, unsigned long bytes);
  void Loop();
  void ApplyRoots(std::vector<std::string> roots);
  // Tells the drives that came and went since the last look.
  void PollDrives(bool report, std::int64_t now);
  Watch* OpenWatch(const std::string& root, unsigned long& error);
  void Arm(Watch& watch);
  void Retire(Watch& watch);
  void ReapRetired(bool wait);
  Watch* FindWatch(std::uint64_t id);
  void TakeCompletions(std::int64_t now);
  void Handle(std::uint32_t action, std::string path, std::int64_t now);
  void Overflowed(Watch& watch, std::int64_t now);
  void CheckRoots(std::int64_t now);
  void RootLost(Watch& watch, unsigned long error, std::int64_t now);
  void ExpireRename(std::int64_t now, bool all);
  // Learns the folders below dir, so that their removal is a folder's.
  void LearnTree(const std::string& dir);
  // Whatever holds a named item is a folder, even if gone by now.
  void LearnParents(const std::string& root, const std::string& path);
  // The known folders below dir.
  std::pair<std::set<std::string>::iterator, std::set<std::string>::iterator> Below(const std::string& dir);
  void ForgetTree(const std::string& dir);
  void MoveTree(const std::string& from, const std::string& to);
  bool KnownFolder(const std::string& path) const { return folders_.count(path) != 0; }

  const std::size_t bufferBytes_;
  const DriveList drives_;
  void* stopEvent_ = nullptr;
  void* wakeEvent_ = nullptr;
  void* armedEvent_ = nullptr;
  void* threadHandle_ = nullptr;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<double> cpuAtExit_{0.0};
  std::atomic<std::uint64_t> rootSetsApplied_{0};

  std::mutex rootsMutex_;
  std::vector<std::string> roots_;
  bool rootsDirty_ = true;

  // The rest belongs to the reader thread.
  bool drivesKnown_ = false;
  std::vector<std::string> knownDrives_;
  std::int64_t nextPoll_ = 0;
  std::uint64_t nextWatchId_ = 1;
  std::vector<std::unique_ptr<Watch>> watches_;
  std::vector<std::unique_ptr<Watch>> retired_;
  // Filled by the completion routines, which do nothing else but re-arm:
  // what a read brought is handled outside them, in order.
  std::deque<Completion> completions_;
  std::optional<PendingRename> rename_;
  // Folders moved in, listed again a little later: Wine watches inside a
  // folder only once it has been listed after it arrived, and a listing at
  // once does not always take.
  std::vector<std::pair<std::string, std::int64_t>> relist_;
  // Every folder known below the roots; ordered, so that a folder's subtree
  // is one range.
  std::set<std::string> folders_;
};

// The roots of the drives that whole-disk mode watches, from GetLogicalDrives'
// mask and each root's GetDriveTypeW.
std::vector<std::string> DrivesToWatch(unsigned long mask, const std::function<unsigned(const std::string&)>& typeOf);

}  // namespace vantrel
