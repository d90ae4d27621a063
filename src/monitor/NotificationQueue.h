#pragma once
// Hands notifications from a source's reader thread to the GUI thread. The
// reader never waits for the GUI: the queue grows in memory instead, so a
// busy GUI thread cannot make the kernel drop events.
#include "monitor/ShellEvents.h"
#include "monitor/SourceReport.h"
#include "platform/Waker.h"

#include <mutex>
#include <string>
#include <vector>

namespace vantrel {

class NotificationQueue {
 public:
  NotificationQueue();
  ~NotificationQueue();
  NotificationQueue(const NotificationQueue&) = delete;
  NotificationQueue& operator=(const NotificationQueue&) = delete;

  // Raised while notifications or reports wait to be taken: what the GUI
  // thread's event loop waits on.
  platform::WaitHandle ReadyHandle() const { return ready_.Handle(); }

  // Moves the batch in, in order; leaves it empty.
  void Push(std::vector<ChangeNotification>& batch);
  // Problems the user must hear of (overflow, watch limit).
  void Report(SourceReport report);

  // Appends everything waiting, in order.
  void TakeAll(std::vector<ChangeNotification>& out);
  std::vector<SourceReport> TakeReports();

 private:
  void SignalLocked();

  std::mutex mutex_;
  std::vector<ChangeNotification> items_;
  std::vector<SourceReport> reports_;
  bool signalled_ = false;
  platform::Waker ready_;
};

}  // namespace vantrel
