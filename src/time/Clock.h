#pragma once
// The time that the engine's parts wait by, given to each part rather than
// read from the system where it is needed: the system's runs by itself, a
// test's only when the test moves it, so that a test of a wait takes no
// time and is never late on a loaded machine.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vantrel {

// A moment of the local wall clock, as the list, the log and their file
// names write it.
struct LocalDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const LocalDateTime&) const = default;
};

class Clock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  using duration = std::chrono::steady_clock::duration;

  virtual ~Clock() = default;
  virtual time_point Now() const = 0;
  // The local wall clock, for the texts of times.
  virtual LocalDateTime Local() const = 0;
  // Waits on cv, with lock held on its mutex, until ready() holds or the
  // clock reaches until; says whether ready() holds.
  virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, time_point until,
                         const std::function<bool()>& ready) const = 0;

  // The system's steady clock. It holds no state, so one serves everybody.
  static const Clock& System();
};

// Milliseconds since the Unix epoch by the system's wall clock: the time the
// program's records (the journal, the folders' record) keep.
std::int64_t UnixMilliseconds();

// Stands still until moved. Its start is the system's time when it was
// made, so that a time point of zero still means "never"; its local time is
// what it was set to.
class ManualClock final : public Clock {
 public:
  ManualClock();
  explicit ManualClock(const LocalDateTime& local);
  time_point Now() const override;
  LocalDateTime Local() const override;
  void SetLocal(const LocalDateTime& local);
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, time_point until,
                 const std::function<bool()>& ready) const override;
  void Advance(duration by);

 private:
  std::atomic<duration::rep> now_;
  mutable std::mutex localMutex_;
  LocalDateTime local_;
};

}  // namespace vantrel
