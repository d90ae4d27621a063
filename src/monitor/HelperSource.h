#pragma once
// Whole file systems for an ordinary user: the watch helper, which alone
// carries the capabilities fanotify needs, reads the kernel and passes on
// over a pipe the changes this user may see; this source reads that pipe.
// Nothing the helper sends is trusted.
#include "monitor/ChangeSource.h"
#include "monitor/HelperRecords.h"

#include <sys/types.h>

namespace vantrel {

inline constexpr const char* kWatchHelperName = "vantrel-watch-helper";

class HelperSource final : public KernelSource {
 public:
  // startTimeoutMs: how long the helper may take to say whether it watches.
  explicit HelperSource(std::string helperPath, int startTimeoutMs = 10000)
      : helper_(std::move(helperPath)), startTimeoutMs_(startTimeoutMs) {}
  ~HelperSource() override { Stop(); }
  const char* Name() const override { return "fanotify (helper)"; }

 private:
  // Starts the helper and waits for its first record: it watches, or why not.
  bool Open(std::string& error) override;
  int KernelFd() const override { return fd_; }
  void ReadKernel(std::int64_t now) override;
  void Close() override;
  // The helper follows the mounts and tells the drive changes once it
  // watches them.
  bool FollowsMounts() const override { return false; }

  void Take(const HelperRecord& record, std::int64_t now);
  // Stops reading and tells why; stopIt ends a helper still running.
  void End(const std::string& why, bool stopIt);
  // Reaps the helper; how it ended, in words.
  std::string Reap(int waitMs);

  std::string helper_;
  int startTimeoutMs_;
  int fd_ = -1;
  pid_t pid_ = -1;
  HelperRecordReader records_;
  bool ended_ = false;
};

}  // namespace vantrel
