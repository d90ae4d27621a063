#include "rules/WholeFile.h"

#include "text/AtomicFile.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {
namespace {

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// How long ago the file last changed, by its own times.
std::chrono::nanoseconds Age(const struct stat& st) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const timespec& latest = (st.st_mtim.tv_sec > st.st_ctim.tv_sec ||
                            (st.st_mtim.tv_sec == st.st_ctim.tv_sec && st.st_mtim.tv_nsec > st.st_ctim.tv_nsec))
                               ? st.st_mtim
                               : st.st_ctim;
  return std::chrono::seconds(now.tv_sec - latest.tv_sec) + std::chrono::nanoseconds(now.tv_nsec - latest.tv_nsec);
}

}  // namespace

WholeFileWatch::State WholeFileWatch::Check(Clock::time_point now) {
  struct stat st {};
  int fd = OpenRegularFile(AT_FDCWD, path_.c_str(), false, &st);
  if (fd < 0) return State::Whole;
  // Should a writer break the lease in the instant it is held, the signal is
  // one whose default is to be ignored.
  ::fcntl(fd, F_SETSIG, SIGURG);
  int lease = ::fcntl(fd, F_SETLEASE, F_RDLCK);
  int error = errno;
  if (lease == 0) ::fcntl(fd, F_SETLEASE, F_UNLCK);
  ::close(fd);
  if (lease == 0) return State::Whole;
  if (error == EAGAIN) return State::BeingWritten;
  // No lease to be had: whole once unchanged for a while, both by the
  // file's own times and by our looks (a clock set back makes the times lie).
  if (!seen_ || !SameState(st, last_)) {
    // Untouched for long before we first looked: nobody is writing it.
    bool old = !seen_ && Age(st) >= 5 * kSteady;
    seen_ = true;
    last_ = st;
    steadySince_ = now;
    if (old) return State::Whole;
  }
  return now - steadySince_ >= kSteady && Age(st) >= kSteady ? State::Whole : State::BeingWritten;
}

}  // namespace vantrel
