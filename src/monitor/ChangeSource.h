#pragma once
// A change source turns the kernel's file-system events into
// ChangeNotifications. A reader thread of its own drains the kernel queue
// into memory; the GUI thread takes the notifications from Queue() in order.
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


// Writes to a file that has no name yet (O_TMPFILE) are reported under a
// made-up "#inode" name that nothing on disk has: no change anybody could
// see. True for such a path; never on Windows, where every file has a name.
bool NamesAnUnnamedFile(std::string_view path);



// Auto takes fanotify in this process where it may use it, else through
// the shared watch service where it is installed, else through the watch
// helper where that starts, else inotify; Fanotify the same
// without inotify. Null, with the reasons, when no backend can start. On
// Windows every backend is the one there is: overlapped directory reads
// over the roots, or over every local drive when roots is empty.
std::unique_ptr<ChangeSource> StartChangeSource(WatchBackend backend, std::vector<std::string> roots,
                                                std::string& error);

}  // namespace vantrel
