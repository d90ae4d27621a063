#pragma once
// What the Linux change sources share: the reader thread's poll loop over
// the kernel descriptor, a stop and a wake descriptor and the mount table;
// and where the watch helper and the shared watch service are found.
#include "monitor/ChangeSource.h"
#include "monitor/linux/MountTable.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace vantrel {

// CPU time a running thread has spent so far.
double CpuSecondsOf(const std::thread& thread);

// The Linux sources' reader thread: its poll loop over the kernel
// descriptor, a stop and a wake descriptor, and the mount table.
class KernelSource : public RawChangeSource {
 public:
  ~KernelSource() override;
  bool Start(std::string& error) final;
  void Stop() final;
  void SetRoots(std::vector<std::string> roots) override;
  double ReaderCpuSeconds() const override;

 protected:
  KernelSource();

  // Called on the starting thread; opens the kernel interface.
  virtual bool Open(std::string& error) = 0;
  virtual int KernelFd() const = 0;
  // The rest run on the reader thread.
  virtual void ReadKernel(std::int64_t now) = 0;
  virtual void OnRootsChanged(const std::vector<std::string>& roots) { (void)roots; }
  virtual void OnMountsChanged(const std::vector<std::string>& added, const std::vector<std::string>& removed) {
    (void)added;
    (void)removed;
  }
  virtual std::optional<std::int64_t> NextDeadline() { return tracker_.NextDeadline(); }
  virtual void OnTick(std::int64_t now) { tracker_.Expire(now); }
  // Called after the reader thread has ended.
  virtual void Close() = 0;
  // False where the source learns of mounts from elsewhere.
  virtual bool FollowsMounts() const { return true; }

  // Whole-file-system sources: tells of the roots that lie on mounts they
  // cannot see into (FUSE, network file systems), once each; returns the
  // others.
  std::vector<std::string> TellRootsOutOfSight(const std::vector<std::string>& roots);

  // Raised when the source is to stop: for waits of its own on the reader
  // thread.
  int StopFd() const { return stopFd_; }

  std::vector<MountEntry> mounts_;

 private:
  void Loop();
  void CheckMounts();

  std::thread thread_;
  int stopFd_ = -1;
  int wakeFd_ = -1;
  int mountsFd_ = -1;
  std::mutex rootsMutex_;
  std::vector<std::string> roots_;
  bool rootsDirty_ = false;
  std::atomic<bool> running_{false};
  std::atomic<double> cpuAtExit_{0.0};
  std::vector<std::string> toldOutOfSight_;
};

// The watch helper beside the running program; empty when the program's
// own path is unknown.
std::string HelperBesideProgram();
// The shared watch service's socket.
std::string WatchServiceSocket();

}  // namespace vantrel
