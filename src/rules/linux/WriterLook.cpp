#include "rules/WholeFile.h"

#include "text/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {
namespace {

std::int64_t Ns(const timespec& t) { return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

// How long ago the file last changed, by its own times.
std::chrono::nanoseconds Age(const struct stat& st) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t latest = std::max(Ns(st.st_mtim), Ns(st.st_ctim));
  return std::chrono::nanoseconds(Ns(now) - latest);
}

}  // namespace

WriterLook LookForWriters(const std::string& path) {
  WriterLook look;
  struct stat st {};
  int fd = OpenRegularFile(AT_FDCWD, path.c_str(), false, &st);
  if (fd < 0) return look;
  // Should a writer break the lease in the instant it is held, the signal is
  // one whose default is to be ignored.
  ::fcntl(fd, F_SETSIG, SIGURG);
  int lease = ::fcntl(fd, F_SETLEASE, F_RDLCK);
  int error = errno;
  if (lease == 0) ::fcntl(fd, F_SETLEASE, F_UNLCK);
  ::close(fd);
  if (lease == 0) {
    look.answer = WriterLook::NoWriter;
  } else if (error == EAGAIN) {
    look.answer = WriterLook::Writer;
  } else {
    look.answer = WriterLook::Unknown;
    look.stamp = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                  static_cast<std::uint64_t>(st.st_size), Ns(st.st_mtim), Ns(st.st_ctim)};
    look.age = Age(st);
  }
  return look;
}

}  // namespace vantrel
