#include "platform/StoredFile.h"

#include "platform/OwnTemporary.h"
#include "platform/linux/PosixFile.h"
#include "text/PathRoutines.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace vantrel::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes the descriptor without letting close() change errno.
void CloseKeepingErrno(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

Error ReadRegularFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
  bytes.clear();
  struct stat st {};
  int fd = OpenRegularFile(AT_FDCWD, path.c_str(), true, &st);
  if (fd < 0) return LastSystemError();
  if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return OwnError(kFileTooLarge);
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Error error = n == 0 ? Error{} : LastSystemError();
      ::close(fd);
      return error;
    }
    // Files whose size the kernel does not know (/proc) are still bounded.
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      return OwnError(kFileTooLarge);
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

namespace {

// One attempt; taken is set when another copy's start-up removed the
// temporary in the instant between its creation and its lock.
Error ReplaceOnce(const std::string& path, std::string_view bytes, mode_t mode, bool& taken) {
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return LastSystemError();
  std::string temp;
  int fd = CreateOwnTemporary(dir, temp, O_WRONLY, 0600);
  if (fd < 0) {
    CloseKeepingErrno(dir);
    return LastSystemError();
  }
  bool ok = WriteAllBytes(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  Error error = ok ? Error{} : LastSystemError();
  // Renamed while still open, so still locked: closed first, the temporary
  // would be free for another copy's start-up to take in between.
  if (ok && ::renameat(dir, temp.c_str(), AT_FDCWD, path.c_str()) == 0) {
    ::close(fd);
    ::fsync(dir);
    ::close(dir);
    return {};
  }
  CloseKeepingErrno(fd);
  if (ok || !error) error = LastSystemError();
  struct stat st {};
  taken = error.code == ENOENT && ::fstatat(dir, temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
  ::unlinkat(dir, temp.c_str(), 0);
  ::close(dir);
  return error;
}

}  // namespace

Error ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  // A lock cannot be taken in the same step as the file is made: the rare
  // temporary taken before it was locked is written again.
  Error error;
  for (int attempt = 0; attempt < 20; ++attempt) {
    bool taken = false;
    error = ReplaceOnce(path, bytes, mode, taken);
    if (!taken) break;
  }
  return error;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampOfStatus(st);
}

void WalkStamps(const std::string& folder,
                const std::function<bool(const std::string& path, bool isFolder, const FileStamp& stamp)>& visit) {
  // By descriptor, one look at each name in the folder that holds it: what
  // a walk by whole paths would resolve again and again.
  struct Open {
    DIR* dir;
    std::string path;
  };
  std::vector<Open> stack;
  auto enter = [&](int at, const char* name, std::string path) {
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    if (DIR* dir = ::fdopendir(fd)) {
      stack.push_back({dir, std::move(path)});
    } else {
      ::close(fd);
    }
  };
  enter(AT_FDCWD, folder.c_str(), folder);
  bool going = true;
  while (!stack.empty()) {
    Open& top = stack.back();
    const dirent* e = going ? ::readdir(top.dir) : nullptr;
    if (!e) {
      ::closedir(top.dir);
      stack.pop_back();
      continue;
    }
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(::dirfd(top.dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string path = JoinPath(top.path, name);
    const bool isFolder = S_ISDIR(st.st_mode);
    going = visit(path, isFolder, StampOfStatus(st));
    if (going && isFolder) enter(::dirfd(top.dir), e->d_name, std::move(path));
  }
}

std::optional<FileStamp> StampOfItem(const std::string& path, bool& isFolder) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  isFolder = S_ISDIR(st.st_mode);
  return StampOfStatus(st);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectory(const std::string& path) { ::mkdir(path.c_str(), 0755); }

std::size_t RemoveStaleTemporaries(const std::string& dir) {
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* d = ::fdopendir(dirFd);
  if (!d) {
    ::close(dirFd);
    return 0;
  }
  std::size_t removed = 0;
  while (dirent* e = ::readdir(d)) {
    if (!IsOwnTemporaryName(e->d_name)) continue;
    struct stat st {};
    int fd = OpenRegularFile(dirFd, e->d_name, false, &st);
    if (fd < 0) continue;
    // Locked: a copy of the program still writes it.
    if (st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat now {};
      if (::fstatat(dirFd, e->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == st.st_ino &&
          now.st_dev == st.st_dev && ::unlinkat(dirFd, e->d_name, 0) == 0)
        ++removed;
    }
    ::close(fd);
  }
  ::closedir(d);
  return removed;
}

}  // namespace vantrel::platform

namespace vantrel {

platform::FileStamp StampOfStatus(const struct stat& st) {
  auto ns = [](const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; };
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

}  // namespace vantrel
