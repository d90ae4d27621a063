#include "monitor/NotificationQueue.h"

namespace vantrel {

NotificationQueue::NotificationQueue() = default;

NotificationQueue::~NotificationQueue() = default;

void NotificationQueue::SignalLocked() {
  if (signalled_) return;
  signalled_ = true;
  ready_.Raise();
}

void NotificationQueue::Push(std::vector<ChangeNotification>& batch) {
  if (batch.empty()) return;
  std::lock_guard lock(mutex_);
  if (items_.empty()) {
    items_.swap(batch);
  } else {
    items_.insert(items_.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
    batch.clear();
  }
  SignalLocked();
}

void NotificationQueue::Report(SourceReport report) {
  std::lock_guard lock(mutex_);
  reports_.push_back(std::move(report));
  SignalLocked();
}

void NotificationQueue::TakeAll(std::vector<ChangeNotification>& out) {
  std::lock_guard lock(mutex_);
  ready_.Clear();
  signalled_ = false;
  if (!reports_.empty()) SignalLocked();  // reports are still to be taken
  if (out.empty()) {
    out.swap(items_);
  } else {
    out.insert(out.end(), std::make_move_iterator(items_.begin()), std::make_move_iterator(items_.end()));
    items_.clear();
  }
}

std::vector<SourceReport> NotificationQueue::TakeReports() {
  std::lock_guard lock(mutex_);
  std::vector<SourceReport> out;
  out.swap(reports_);
  return out;
}

}  // namespace vantrel
