#include "rules/FileActions.h"

#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace vantrel {
namespace {

ActionResult Failed(std::string target, int error) { return {std::move(target), false, std::strerror(error)}; }
ActionResult Done(std::string target) { return {std::move(target), true, {}}; }

int RenameNoReplace(const std::string& from, const std::string& to) {
  return static_cast<int>(
      ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
}

// Copies one regular file's content and mode. With exclusive set the target
// must not exist; otherwise an existing file is overwritten. With durable set
// the copy is on disk before this returns, for when the source goes next.
int CopyRegularFile(const std::string& from, const std::string& to, bool exclusive, bool durable = false) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat st {};
  ::fstat(in, &st);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  int out = ::open(to.c_str(), flags, st.st_mode & 07777);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return e;
  }
  int error = 0;
  std::vector<char> buf(1 << 17);
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      break;
    }
    if (n == 0) break;
    if (!WriteAllBytes(out, std::string_view(buf.data(), static_cast<std::size_t>(n)))) {
      error = errno ? errno : EIO;
      break;
    }
  }
  if (durable && !error && ::fsync(out) != 0 && errno != EINVAL) error = errno;
  if (::close(out) != 0 && !error) error = errno;
  ::close(in);
  if (error && exclusive) ::unlink(to.c_str());  // never leave a torn copy behind
  return error;
}

struct Names {
  std::string file, base, extension;
};

Names SplitName(const std::string& path) {
  Names n;
  n.file = PathFileName(path, true);
  n.extension = PathExtension(n.file);
  n.base = n.file.substr(0, n.file.size() - n.extension.size());
  return n;
}

std::string InDir(const std::string& dir, const std::string& name) { return JoinPath(dir, name); }

// Places the file under its own name or a free numbered one with place();
// place answers 0 or an errno, EEXIST meaning "taken, try the next number".
template <typename Place>
ActionResult PlaceNumbered(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                           const Pump& pump, Place place) {
  Names names = SplitName(path);
  std::string target = InDir(targetDir, names.file);
  if (!ExistsAsFile(target)) {
    int error = place(target);
    if (error != EEXIST) return error ? Failed(target, error) : Done(target);
  }
  std::size_t n = CountMatchingFiles(targetDir, "*" + PathExtension(PathFileName(monitoredPath, true)), pump);
  for (;; ++n) {
    target = InDir(targetDir, names.base + "(" + std::to_string(n) + ")" + names.extension);
    int error = place(target);
    if (error == EEXIST) continue;
    return error ? Failed(target, error) : Done(target);
  }
}

int Unlink(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int MoveFile(const std::string& from, const std::string& to) {
  if (RenameNoReplace(from, to) == 0) return 0;
  if (errno != EXDEV) return errno;
  // Across file systems: the source goes only once the copy is complete.
  if (int error = CopyRegularFile(from, to, true, true)) return error;
  if (int error = Unlink(from)) {
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

// Copies the tree, never following links.
int CopyTree(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) {
    char link[4096];
    ssize_t n = ::readlink(from.c_str(), link, sizeof link - 1);
    if (n < 0) return errno;
    link[n] = '\0';
    ::unlink(to.c_str());
    return ::symlink(link, to.c_str()) == 0 ? 0 : errno;
  }
  if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) ? CopyRegularFile(from, to, false) : 0;
  if (::mkdir(to.c_str(), st.st_mode & 07777) != 0 && errno != EEXIST) return errno;
  DIR* d = ::opendir(from.c_str());
  if (!d) return errno;
  int first = 0;
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    int error = CopyTree(JoinPath(from, name), JoinPath(to, name));
    if (error && !first) first = error;
  }
  ::closedir(d);
  return first;
}

// Empties the directory name in parent and removes it; links are removed,
// never followed.
int RemoveTreeAt(int parent, const char* name) {
  int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    int e = errno;
    ::close(fd);
    return e;
  }
  int first = 0;
  while (dirent* e = ::readdir(d)) {
    std::string_view entry = e->d_name;
    if (entry.empty() || entry == "." || entry == "..") continue;
    struct stat st {};
    if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    int error = 0;
    if (S_ISDIR(st.st_mode)) {
      error = RemoveTreeAt(fd, e->d_name);
    } else {
      if (!S_ISLNK(st.st_mode) && !(st.st_mode & 0222)) ::fchmodat(fd, e->d_name, st.st_mode | S_IWUSR, 0);
      if (::unlinkat(fd, e->d_name, 0) != 0) error = errno;
    }
    if (error && !first) first = error;
  }
  ::closedir(d);
  if (::unlinkat(parent, name, AT_REMOVEDIR) != 0) return first ? first : errno;
  return first;
}

}  // namespace

bool ExistsAsFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns, const Pump& pump) {
  std::size_t count = 0;
  for (const std::string& pattern : SplitText(patterns, "|")) {
    DIR* d = ::opendir(directory.c_str());
    if (!d) return count;
    while (dirent* e = ::readdir(d)) {
      std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      if (::fstatat(dirfd(d), e->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode)) continue;
      if (::fnmatch(pattern.c_str(), e->d_name, 0) != 0) continue;
      ++count;
      if (pump) pump();
    }
    ::closedir(d);
  }
  return count;
}

ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const Pump& pump) {
  return PlaceNumbered(path, targetDir, monitoredPath, pump,
                       [&](const std::string& target) { return CopyRegularFile(path, target, true); });
}

ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const Pump& pump) {
  return PlaceNumbered(path, targetDir, monitoredPath, pump,
                       [&](const std::string& target) { return MoveFile(path, target); });
}

ActionResult DeleteFileAction(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(path, errno);
  if (S_ISDIR(st.st_mode)) return Failed(path, EISDIR);
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & 0222)) return Failed(path, EACCES);
  return ::unlink(path.c_str()) == 0 ? Done(path) : Failed(path, errno);
}

ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir) {
  std::string target = InDir(targetDir, PathFileName(path, false));
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(target, errno);
  if (!S_ISDIR(st.st_mode)) return Failed(target, ENOTDIR);
  if (!IsDirectoryPath(targetDir)) return Failed(target, ENOENT);
  // A target inside the source would copy itself forever.
  if (TextFind(target + "/", path + "/") == 1) return Failed(target, EINVAL);
  int error = CopyTree(path, target);
  return error ? Failed(target, error) : Done(target);
}

ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir) {
  std::string target = InDir(targetDir, PathFileName(path, true));
  if (RenameNoReplace(path, target) == 0) return Done(target);
  if (errno != EXDEV) return Failed(target, errno);
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) return Failed(target, EEXIST);
  if (int error = CopyTree(path, target)) return Failed(target, error);
  ActionResult removed = DeleteDirectoryTree(path);
  return removed.ok ? Done(target) : Failed(target, EIO);
}

ActionResult DeleteDirectoryTree(const std::string& path) {
  std::string clean = path;
  while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
  std::size_t slash = clean.rfind('/');
  if (slash == std::string::npos || clean == "/") return Failed(path, EINVAL);
  std::string parent = slash == 0 ? "/" : clean.substr(0, slash);
  int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return Failed(path, errno);
  int error = RemoveTreeAt(parentFd, clean.c_str() + slash + 1);
  ::close(parentFd);
  return error ? Failed(path, error) : Done(path);
}

}  // namespace vantrel
