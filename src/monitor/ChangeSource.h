#pragma once
// A change source turns the kernel's file-system events into
// ChangeNotifications. A reader thread of its own drains the kernel queue
// into memory; the GUI thread takes the notifications from Queue() in order.
#include "monitor/MountTable.h"
#include "monitor/NotificationQueue.h"
#include "monitor/RawChange.h"
#include "monitor/WatchBackend.h"
#include "monitor/WriteTracker.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantrel {

class ChangeSource {
 public:
  virtual ~ChangeSource() = default;
  virtual const char* Name() const = 0;
  // False, with the reason, when the source cannot run in this process.
  virtual bool Start(std::string& error) = 0;
  virtual void Stop() = 0;
  // The directories to watch, for sources that watch per directory; sources
  // that see whole file systems ignore them.
  virtual void SetRoots(std::vector<std::string> roots) { (void)roots; }
  // CPU time the source has spent on its own thread.
  virtual double ReaderCpuSeconds() const { return 0.0; }
  NotificationQueue& Queue() { return queue_; }
  // What this source sees goes into another source's queue instead: for a
  // source standing in for another one for a while.
  void SendTo(NotificationQueue& queue) { out_ = &queue; }

 protected:
  NotificationQueue queue_;
  NotificationQueue* out_ = &queue_;
};

// The part every system's kernel-backed sources share: the one way raw
// changes become notifications, and the batch they are handed on in. How the
// kernel is read (a poll loop on Linux, overlapped reads on Windows) is the
// subclass's business.
class RawChangeSource : public ChangeSource {
 protected:
  static std::int64_t NowMs();

  // Every source's raw changes take this way, so that what is held back,
  // what is left out (the program's own temporaries, files with no name,
  // paths too long to name) and what a rename becomes when one of its sides
  // is left out are the same whichever interface saw the change.
  void Consume(const RawChange& change, std::int64_t now);
  // Changes at paths too long to name, told with the next batch.
  void CountTooLong(std::size_t count, std::string_view ancestor);
  // The longest leading folder of a path that can be named.
  static std::string_view NameableAncestor(std::string_view path);
  void Emit(std::uint32_t code, std::string item1, std::optional<std::string> item2 = std::nullopt,
            std::int32_t pid = 0);
  void FlushBatch();
  void ReportProblem(SourceReport report) { out_->Report(std::move(report)); }

  std::vector<ChangeNotification> batch_;
  WriteTracker tracker_{batch_};

 private:
  std::size_t tooLong_ = 0;
  std::string tooLongAncestor_;
};

#ifndef _WIN32
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
#endif

// Writes to a file that has no name yet (O_TMPFILE) are reported under a
// made-up "#inode" name that nothing on disk has: no change anybody could
// see. True for such a path; never on Windows, where every file has a name.
bool NamesAnUnnamedFile(std::string_view path);


#ifndef _WIN32
// The watch helper beside the running program; empty when the program's
// own path is unknown.
std::string HelperBesideProgram();
// The shared watch service's socket.
std::string WatchServiceSocket();
#endif

// Auto takes fanotify in this process where it may use it, else through
// the shared watch service where it is installed, else through the watch
// helper where that starts, else inotify; Fanotify the same
// without inotify. Null, with the reasons, when no backend can start. On
// Windows every backend is the one there is: overlapped directory reads
// over the roots, or over every local drive when roots is empty.
std::unique_ptr<ChangeSource> StartChangeSource(WatchBackend backend, std::vector<std::string> roots,
                                                std::string& error);

}  // namespace vantrel
