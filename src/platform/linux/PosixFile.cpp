#include "platform/linux/PosixFile.h"

#include "platform/Error.h"
#include "platform/OwnTemporary.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vantrel {

int OpenRegularFile(int dirfd, const char* name, bool followLinks, struct stat* st) {
  int nofollow = followLinks ? 0 : O_NOFOLLOW;
  int path = ::openat(dirfd, name, O_PATH | O_CLOEXEC | nofollow);
  if (path < 0) return -1;
  struct stat own {};
  if (!st) st = &own;
  if (::fstat(path, st) != 0 || !S_ISREG(st->st_mode)) {
    int error = S_ISLNK(st->st_mode) ? ELOOP : kNotRegularFile;
    ::close(path);
    errno = error;
    return -1;
  }
  // Reopening the inode already checked leaves no moment in which another
  // kind of file could be swapped in under the name.
  std::string self = "/proc/self/fd/" + std::to_string(path);
  int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  int error = errno;
  if (fd < 0 && error == ENOENT) {
    // No /proc: open by name without blocking, and make sure it is the same file.
    fd = ::openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | nofollow);
    struct stat again {};
    if (fd >= 0 && (::fstat(fd, &again) != 0 || again.st_ino != st->st_ino || again.st_dev != st->st_dev)) {
      ::close(fd);
      fd = -1;
      error = kNotRegularFile;
    } else {
      error = errno;
    }
  }
  ::close(path);
  if (fd < 0) errno = error;
  return fd;
}

bool WriteAllBytes(int fd, std::string_view bytes, std::size_t* written) {
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written) *written = done;
  return ok;
}

int CreateOwnTemporary(int dirFd, std::string& name, int flags, mode_t mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = OwnTemporaryName();
    int fd = ::openat(dirFd, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      // Where the file system keeps no locks the file is simply not known
      // to be live; start-up then leaves alone only what is locked.
      ::flock(fd, LOCK_EX | LOCK_NB);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace vantrel
