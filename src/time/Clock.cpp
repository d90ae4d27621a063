#include "time/Clock.h"

#include "platform/LocalTime.h"

namespace vantrel {
namespace {

class SystemClock final : public Clock {
 public:
  time_point Now() const override { return std::chrono::steady_clock::now(); }
  LocalDateTime Local() const override {
    const platform::LocalTimeFields t = platform::LocalTimeNow();
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond};
  }
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, time_point until,
                 const std::function<bool()>& ready) const override {
    if (until == time_point::max()) {
      cv.wait(lock, ready);
      return true;
    }
    return cv.wait_until(lock, until, ready);
  }
};

}  // namespace

std::int64_t UnixMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const Clock& Clock::System() {
  static const SystemClock clock;
  return clock;
}

ManualClock::ManualClock() : now_(std::chrono::steady_clock::now().time_since_epoch().count()) {}

ManualClock::ManualClock(const LocalDateTime& local) : ManualClock() { local_ = local; }

LocalDateTime ManualClock::Local() const {
  std::lock_guard lock(localMutex_);
  return local_;
}

void ManualClock::SetLocal(const LocalDateTime& local) {
  std::lock_guard lock(localMutex_);
  local_ = local;
}

Clock::time_point ManualClock::Now() const { return time_point(duration(now_.load())); }

bool ManualClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, time_point until,
                            const std::function<bool()>& ready) const {
  // Advance cannot notify a waiter it does not know, so the waiter looks at
  // the clock often in real time; only tests run this clock.
  while (!ready()) {
    if (Now() >= until) return false;
    cv.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

void ManualClock::Advance(duration by) { now_ += by.count(); }

}  // namespace vantrel
