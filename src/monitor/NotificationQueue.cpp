#include "monitor/NotificationQueue.h"

#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantrel {

NotificationQueue::NotificationQueue() : readyFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (readyFd_ < 0) throw std::runtime_error("eventfd failed");
}

NotificationQueue::~NotificationQueue() { ::close(readyFd_); }

void NotificationQueue::SignalLocked() {
  if (signalled_) return;
  signalled_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(readyFd_, &one, sizeof one);
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
  std::uint64_t value = 0;
  [[maybe_unused]] ssize_t n = ::read(readyFd_, &value, sizeof value);
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
