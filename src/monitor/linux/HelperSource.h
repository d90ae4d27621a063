#pragma once
// Whole file systems for an ordinary user: the shared watch service (a
// socket every user connects to) or, where it is not installed, the watch
// helper (a process of the user's own), which alone carry the capabilities
// fanotify needs, read the kernel and pass on the changes this user may see;
// this source reads them. Nothing either sends is trusted.
//
// The source never runs blind: a helper that ends, or that has said nothing
// (not even that it is alive) for a few seconds, is ended and started again,
// at once and then with a growing pause; while none runs, inotify watches
// the roots in its place. Each of these turns is told to the user.
#include "monitor/linux/KernelSource.h"
#include "monitor/linux/HelperRecords.h"
#include "time/Timing.h"

#include <memory>
#include <sys/types.h>

namespace vantrel {

inline constexpr const char* kWatchHelperName = "vantrel-watch-helper";
// Where the service manager keeps the shared watch service's socket.
inline constexpr const char* kWatchServiceSocket = "/run/vantrel-watch.sock";

class InotifySource;

class HelperSource final : public KernelSource {
 public:
  // startTimeoutMs: how long the helper may take to say whether it watches;
  // silentMs: how long a running helper may say nothing.
  explicit HelperSource(std::string helperPath, int startTimeoutMs = static_cast<int>(timing::kHelperStart.count()),
                        int silentMs = static_cast<int>(timing::kHelperSilence.count()));
  // Connects to the shared watch service at this socket instead.
  static std::unique_ptr<HelperSource> Service(std::string socketPath, int startTimeoutMs = static_cast<int>(timing::kHelperStart.count()),
                                               int silentMs = static_cast<int>(timing::kHelperSilence.count()));
  ~HelperSource() override;
  const char* Name() const override { return socket_.empty() ? "fanotify (helper)" : "fanotify (service)"; }

 private:
  // Starts the helper and waits for its first record: it watches, or why not.
  bool Open(std::string& error) override;
  int KernelFd() const override { return fd_; }
  void ReadKernel(std::int64_t now) override;
  void Close() override;
  // The helper follows the mounts and tells the drive changes once it
  // watches them.
  bool FollowsMounts() const override { return false; }
  void OnRootsChanged(const std::vector<std::string>& roots) override;
  std::optional<std::int64_t> NextDeadline() override;
  void OnTick(std::int64_t now) override;

  bool Spawn(std::string& error);
  // Starts the helper, or connects to the service: fd_ on success.
  bool Begin(std::string& error);
  bool Connect(std::string& error);
  void Take(const HelperRecord& record, std::int64_t now);
  // The helper is lost: says why, ends it (stopIt: one still running), and
  // starts another or, failing that, the stand-in.
  void Lost(const std::string& why, bool stopIt, std::int64_t now);
  void TryAgain(std::int64_t now);
  // Inotify watches the roots until the next try.
  void StandIn(std::int64_t now, const std::string& why);
  // Ends the helper and the pipe; how it ended, in words.
  std::string EndHelper(bool stopIt);
  // Reaps the helper; how it ended, in words.
  std::string Reap(int waitMs);
  void Tell(std::string text);

  std::string helper_;
  std::string socket_;
  // What the user is told is lost or back.
  const char* what_ = "监控助手";
  int startTimeoutMs_;
  int silentMs_;
  int fd_ = -1;
  pid_t pid_ = -1;
  HelperRecordReader records_;
  unsigned generation_ = 0;
  std::int64_t lastHeard_ = 0;
  std::int64_t startedAt_ = 0;
  // While no helper runs: when to try again, and the pause after that.
  std::int64_t retryAt_ = 0;
  std::int64_t retryPauseMs_ = timing::kHelperFirstRetry.count();
  std::vector<std::string> roots_;
  std::unique_ptr<InotifySource> standIn_;
};

}  // namespace vantrel
