#include "rules/linux/WriterLook.h"

#include "platform/linux/PosixFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/vfs.h>
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

// File systems whose writers may sit on another machine or behind a server
// in user space (who writes to the folder a FUSE mount shows is not known to
// this kernel): a lease granted there says nothing of them.
bool LeasesBlind(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x6B414653:  // kAFS
    case 0x73757245:  // Coda
    case 0x564C:      // NCP
    case 0x7461636F:  // OCFS2
    case 0x01161970:  // GFS2
    case 0x0BD00BD0:  // Lustre
      return true;
    default:
      return false;
  }
}

}  // namespace

WriterLook::Answer WritersOf(int fd, bool askFileSystem) {
  if (askFileSystem && LeasesBlind(fd)) return WriterLook::Unknown;
  // Should a writer break the lease in the instant it is held, the signal is
  // one whose default is to be ignored.
  ::fcntl(fd, F_SETSIG, SIGURG);
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return WriterLook::NoWriter;
  }
  // EAGAIN: open for writing somewhere. Anything else (not our file and no
  // right to leases, a file system without them): nothing is known.
  return errno == EAGAIN ? WriterLook::Writer : WriterLook::Unknown;
}

WriterLook LookForWriters(const std::string& path) {
  WriterLook look;
  struct stat st {};
  int fd = OpenRegularFile(AT_FDCWD, path.c_str(), false, &st);
  if (fd >= 0) {
    look.answer = WritersOf(fd);
    ::close(fd);
  } else {
    const int error = errno;
    if (::lstat(path.c_str(), &st) != 0) {
      look.answer = errno == ENOENT || errno == ENOTDIR ? WriterLook::Missing : WriterLook::NotRegular;
      return look;
    }
    if (!S_ISREG(st.st_mode)) return look;
    // A program holding a write lease refuses an open that will not wait:
    // it is writing. Any other refusal leaves only the steadiness look.
    look.answer = error == EWOULDBLOCK ? WriterLook::Writer : WriterLook::Unknown;
  }
  look.stamp = StampOfStatus(st);
  look.age = Age(st);
  return look;
}

std::optional<std::string> FindByIdentity(const std::string& folder, const platform::FileStamp& identity) {
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return std::nullopt;
  DIR* d = ::fdopendir(dirFd);
  if (!d) {
    ::close(dirFd);
    return std::nullopt;
  }
  std::optional<std::string> found;
  // The listing's inode numbers spare a look at every entry; the one that
  // matches is made sure of.
  while (dirent* e = ::readdir(d)) {
    if (e->d_ino != identity.id) continue;
    struct stat st {};
    if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_dev) == identity.volume && static_cast<std::uint64_t>(st.st_ino) == identity.id) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace vantrel
