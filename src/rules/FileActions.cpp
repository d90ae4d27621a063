#include "rules/FileActions.h"

#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace vantrel {
namespace {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Release() { return std::exchange(fd_, -1); }
  // Closes now, for the error that some file systems tell only here.
  int Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

ActionResult Failed(std::string target, int error) { return {std::move(target), false, FileErrorText(error)}; }
ActionResult Done(std::string target) { return {std::move(target), true, {}}; }

int RenameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to) {
  return ::syscall(SYS_renameat2, fromDir, from, toDir, to, RENAME_NOREPLACE) == 0 ? 0 : errno;
}

// How a file system says it does not offer a call at all: FUSE ones (and
// by the kernel's source NFS) refuse the rename flag and unnamed files.
bool Unsupported(int error) { return error == EINVAL || error == EOPNOTSUPP || error == ENOSYS; }
// How it refuses hard links: FAT-like ones refuse them outright.
bool LinksRefused(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == EMLINK;
}

// The user's target folder itself may be a link (a backup disk mounted
// elsewhere); what lies below it is never reached through one.
int OpenTargetDir(const std::string& dir, UniqueFd& fd) {
  fd.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.Valid() ? 0 : errno;
}

int OpenFolderBelow(int parent, const char* name, UniqueFd& fd) {
  fd.Reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Valid()) return 0;
  if (errno == ELOOP) return kLinkInTarget;
  return errno == ENOTDIR ? kNotFolderInTarget : errno;
}

bool SameContent(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Whether another program holds the file open for writing: the kernel grants
// a read lease exactly when nobody does. Where leases are not to be had (not
// our file and no capability, some file systems) nothing is known.
bool HeldOpenForWriting(int fd) {
  // Should a writer break the lease in the instant we hold it, the signal is
  // one whose default is to be ignored.
  ::fcntl(fd, F_SETSIG, SIGURG);
  if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
  }
  return errno == EAGAIN;
}

std::atomic<bool> copiesStopped{false};

// The kernel copies (and shares blocks where the file system can); plain
// reads and writes where it cannot. In chunks, so that a stop is heard.
int CopyData(int in, int out) {
  bool kernel = true;
  std::vector<char> buf;
  for (;;) {
    if (copiesStopped.load(std::memory_order_relaxed)) return ECANCELED;
    if (kernel) {
      ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{64} << 20, 0);
      if (n > 0) continue;
      if (n == 0) return 0;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
        return errno;
      kernel = false;
      buf.resize(std::size_t{1} << 17);
    }
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (!WriteAllBytes(out, std::string_view(buf.data(), static_cast<std::size_t>(n)))) return errno ? errno : EIO;
  }
}

// Retries make() under fresh temporary names while a name is taken.
template <typename Make>
int WithTemporaryName(std::string& name, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = OwnTemporaryName();
    int error = make(name.c_str());
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

// A file being written into a folder. It is unnamed (O_TMPFILE) where the
// file system allows, so that nothing half-written ever has a name, and has
// a hidden temporary name elsewhere. Unless it was given its name, it is gone
// again when this object is.
class NewFile {
 public:
  NewFile(int dir, bool durable) : dir_(dir), durable_(durable) {}
  ~NewFile() {
    if (!temp_.empty()) ::unlinkat(dir_, temp_.c_str(), 0);
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  int Create() {
    // Readable too: where no name can be given to it, it is copied once more.
    fd_.Reset(::openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd_.Valid()) return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) return errno;
    return CreateNamed();
  }
  int Fd() const { return fd_.Get(); }
  bool Named() const { return !temp_.empty(); }
  bool Durable() const { return durable_; }

  // Gives the file its name; EEXIST when the name is taken.
  int LinkNoReplace(const char* name) {
    int error = 0;
    if (linksRefused_) return PlaceByCopy(name);
    if (temp_.empty()) {
      error = LinkUnnamed(name);
    } else {
      error = renameRefused_ ? EINVAL : RenameNoReplaceAt(dir_, temp_.c_str(), dir_, name);
      if (!error) temp_.clear();
      if (!Unsupported(error)) return error;
      renameRefused_ = true;
      // A link, like the refused rename, fails on a taken name.
      error = ::linkat(dir_, temp_.c_str(), dir_, name, 0) == 0 ? 0 : errno;
      if (!error) {
        ::unlinkat(dir_, temp_.c_str(), 0);
        temp_.clear();
      }
    }
    if (!LinksRefused(error)) return error;
    linksRefused_ = true;
    return PlaceByCopy(name);
  }

  // Puts the file in place of whatever file or link stands at name.
  int LinkReplacing(const char* name) {
    if (temp_.empty()) {
      int error = WithTemporaryName(temp_, [this](const char* t) { return LinkUnnamed(t); });
      if (error) {
        temp_.clear();
        if (!LinksRefused(error)) return error;
        if ((error = CopyIntoNamed())) return error;
      }
    }
    if (::renameat(dir_, temp_.c_str(), dir_, name) != 0) return errno;
    temp_.clear();
    return 0;
  }

 private:
  int CreateNamed() {
    fd_.Reset(CreateOwnTemporary(dir_, temp_, O_RDWR, 0600));
    if (fd_.Valid()) return 0;
    temp_.clear();
    return errno;
  }

  // An unnamed file /proc cannot name (no /proc, no capability) is refused
  // a link as much as on a file system without links.
  int LinkUnnamed(const char* name) {
    std::string self = "/proc/self/fd/" + std::to_string(fd_.Get());
    if (::linkat(AT_FDCWD, self.c_str(), dir_, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    if (::linkat(fd_.Get(), "", dir_, name, AT_EMPTY_PATH) == 0) return 0;
    return errno == ENOENT ? EPERM : errno;
  }

  // The finished content, from its start, into out.
  int CopyFinished(int from, int out) {
    struct stat st {};
    if (::fstat(from, &st) != 0 || ::lseek(from, 0, SEEK_SET) < 0) return errno;
    if (int error = CopyData(from, out)) return error;
    if (::fchmod(out, st.st_mode & 0777) != 0) return errno;
    if (durable_ && ::fsync(out) != 0 && errno != EINVAL) return errno;
    return 0;
  }

  int CopyIntoNamed() {
    UniqueFd unnamed(fd_.Release());
    if (int error = CreateNamed()) return error;
    return CopyFinished(unnamed.Get(), fd_.Get());
  }

  // Where nothing gives a finished file a name, the name is taken
  // exclusively and the finished copy written into it; a partial one goes.
  int PlaceByCopy(const char* name) {
    UniqueFd out(::openat(dir_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.Valid()) return errno;
    struct stat made {};
    ::fstat(out.Get(), &made);
    int error = CopyFinished(fd_.Get(), out.Get());
    if (int closed = out.Close(); !error) error = closed;
    if (!error) return 0;
    struct stat now {};
    if (::fstatat(dir_, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == made.st_dev && now.st_ino == made.st_ino)
      ::unlinkat(dir_, name, 0);
    return error;
  }

  int dir_;
  bool durable_;
  bool renameRefused_ = false;
  bool linksRefused_ = false;
  UniqueFd fd_;
  std::string temp_;
};

// Writes a complete copy of a regular file into an unnamed file. Refused
// when another program is still writing the source or it changed meanwhile.
int CopyIntoNewFile(int srcDir, const char* srcName, NewFile& copy, struct stat& before) {
  UniqueFd in(OpenRegularFile(srcDir, srcName, false, &before));
  if (!in.Valid()) return errno;
  if (HeldOpenForWriting(in.Get())) return kSourceBeingWritten;
  if (int error = copy.Create()) return error;
  if (int error = CopyData(in.Get(), copy.Fd())) return error;
  // Never wider than the source; set-id bits are not carried over, since the
  // copy belongs to whoever runs the program.
  if (::fchmod(copy.Fd(), before.st_mode & 0777) != 0) return errno;
  // A file system without unnamed files is often one across a network,
  // which may tell a failed write only when the data is flushed.
  if ((copy.Durable() || copy.Named()) && ::fsync(copy.Fd()) != 0 && errno != EINVAL) return errno;
  struct stat after {};
  if (::fstat(in.Get(), &after) != 0) return errno;
  if (!SameContent(before, after)) return kSourceChanged;
  if (HeldOpenForWriting(in.Get())) return kSourceBeingWritten;
  return 0;
}

int ReadLinkAt(int dir, const char* name, std::string& target) {
  std::vector<char> buf(4096);
  ssize_t n = ::readlinkat(dir, name, buf.data(), buf.size());
  if (n < 0) return errno;
  if (static_cast<std::size_t>(n) == buf.size()) return ENAMETOOLONG;
  target.assign(buf.data(), static_cast<std::size_t>(n));
  return 0;
}

// A link made under a hidden name and renamed over what stands at name, or
// made at name directly when replace is false (EEXIST when taken).
int PlaceLink(const std::string& target, int dir, const char* name, bool replace) {
  if (!replace) return ::symlinkat(target.c_str(), dir, name) == 0 ? 0 : errno;
  std::string temp;
  int error = WithTemporaryName(
      temp, [&](const char* t) { return ::symlinkat(target.c_str(), dir, t) == 0 ? 0 : errno; });
  if (error) return error;
  if (::renameat(dir, temp.c_str(), dir, name) == 0) return 0;
  error = errno;
  ::unlinkat(dir, temp.c_str(), 0);
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

std::size_t CountMatchingIn(int dir, std::string_view patterns) {
  std::size_t count = 0;
  for (const std::string& pattern : SplitText(patterns, "|")) {
    int listFd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!d) {
      if (listFd >= 0) ::close(listFd);
      return count;
    }
    while (dirent* e = ::readdir(d)) {
      std::string_view name = e->d_name;
      // Our own temporary, the copy itself where files cannot be unnamed.
      if (name == "." || name == ".." || IsOwnTemporaryName(name)) continue;
      struct stat st {};
      if (::fstatat(dir, e->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode)) continue;
      if (::fnmatch(pattern.c_str(), e->d_name, 0) != 0) continue;
      ++count;
    }
    ::closedir(d);
  }
  return count;
}

struct Placed {
  std::string name;
  int error = 0;
};

// Gives the file its own name in dir or, when that is taken, the first free
// numbered one. place(name) answers 0, EEXIST (taken) or another error.
template <typename Place>
Placed PlaceNumbered(int dir, const Names& names, const std::string& monitoredPath, Place place) {
  Placed placed{names.file, place(names.file.c_str())};
  if (placed.error != EEXIST) return placed;
  std::size_t n = CountMatchingIn(dir, "*" + PathExtension(PathFileName(monitoredPath, true)));
  for (std::size_t tries = 0; tries < (std::size_t{1} << 20); ++tries, ++n) {
    placed.name = names.base + "(" + std::to_string(n) + ")" + names.extension;
    placed.error = place(placed.name.c_str());
    if (placed.error != EEXIST) return placed;
  }
  return placed;
}

ActionResult Result(const std::string& targetDir, const Placed& placed) {
  std::string target = JoinPath(targetDir, placed.name);
  return placed.error ? Failed(std::move(target), placed.error) : Done(std::move(target));
}

// Across file systems: a complete, unchanged copy first, then the source.
ActionResult MoveAcross(const std::string& path, const struct stat& st, int dir, const std::string& targetDir,
                        const Names& names, const std::string& monitoredPath) {
  std::string first = JoinPath(targetDir, names.file);
  if (S_ISDIR(st.st_mode)) return Failed(first, EXDEV);
  Placed placed;
  struct stat copied = st;
  if (S_ISLNK(st.st_mode)) {
    std::string link;
    if (int error = ReadLinkAt(AT_FDCWD, path.c_str(), link)) return Failed(first, error);
    placed = PlaceNumbered(dir, names, monitoredPath,
                           [&](const char* name) { return PlaceLink(link, dir, name, false); });
  } else {
    NewFile copy(dir, true);
    if (int error = CopyIntoNewFile(AT_FDCWD, path.c_str(), copy, copied)) return Failed(first, error);
    placed = PlaceNumbered(dir, names, monitoredPath, [&](const char* name) { return copy.LinkNoReplace(name); });
  }
  if (placed.error) return Result(targetDir, placed);
  ::fsync(dir);
  struct stat now {};
  // Whatever now stands at the source path is not what was copied: it stays,
  // and so does the copy.
  if (::lstat(path.c_str(), &now) != 0 || now.st_ino != copied.st_ino || now.st_dev != copied.st_dev)
    return Failed(JoinPath(targetDir, placed.name), kSourceChanged);
  if (::unlink(path.c_str()) != 0) {
    int error = errno;
    ::unlinkat(dir, placed.name.c_str(), 0);
    return Failed(JoinPath(targetDir, placed.name), error);
  }
  return Result(targetDir, placed);
}

// Entries a folder move copied, so that exactly those leave the source.
struct CopiedEntry {
  std::string name;
  struct stat st {};
  std::vector<CopiedEntry> children;
};

// What a folder copy did: how many entries failed, and the first of them.
struct TreeCopy {
  bool durable = false;
  std::size_t failures = 0;
  int firstError = 0;
  std::string firstPath;
  void Fail(const std::string& relative, int error) {
    if (!failures++) {
      firstError = error;
      firstPath = relative;
    }
  }
};

void CopyEntries(int src, int dst, const std::string& relative, TreeCopy& copy, std::vector<CopiedEntry>* record);

// Copies the open source folder to name in dst, making it when it is not
// there; a link or a file standing at name fails it.
int CopyFolder(int src, const struct stat& st, int dst, const char* name, const std::string& relative,
               TreeCopy& copy, std::vector<CopiedEntry>* record) {
  bool made = false;
  if (::mkdirat(dst, name, 0700) == 0) {
    made = true;
  } else if (errno != EEXIST) {
    return errno;
  }
  UniqueFd to;
  if (int error = OpenFolderBelow(dst, name, to)) return error;
  CopyEntries(src, to.Get(), relative, copy, record);
  // Only now: a read-only source folder would have kept its copy empty.
  if (made) ::fchmod(to.Get(), st.st_mode & 0777);
  if (copy.durable) ::fsync(to.Get());
  return 0;
}

int CopyEntry(int src, int dst, const char* name, const struct stat& st, const std::string& relative, TreeCopy& copy,
              CopiedEntry& entry, bool recording) {
  struct stat existing {};
  bool exists = ::fstatat(dst, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (S_ISDIR(st.st_mode)) {
    if (exists && !S_ISDIR(existing.st_mode)) return S_ISLNK(existing.st_mode) ? kLinkInTarget : kNotFolderInTarget;
    UniqueFd from(::openat(src, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!from.Valid()) return errno;
    return CopyFolder(from.Get(), st, dst, name, relative, copy, recording ? &entry.children : nullptr);
  }
  if (S_ISLNK(st.st_mode)) {
    if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
    std::string link;
    if (int error = ReadLinkAt(src, name, link)) return error;
    return PlaceLink(link, dst, name, exists);
  }
  if (!S_ISREG(st.st_mode)) return kNotRegularFile;
  if (exists && S_ISLNK(existing.st_mode)) return kLinkInTarget;
  if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
  NewFile file(dst, copy.durable);
  if (int error = CopyIntoNewFile(src, name, file, entry.st)) return error;
  int error = exists ? EEXIST : file.LinkNoReplace(name);
  // Something came to stand at the name meanwhile: replaced like a file
  // that was there, a link included, which is removed and never written
  // through.
  return error == EEXIST ? file.LinkReplacing(name) : error;
}

void CopyEntries(int src, int dst, const std::string& relative, TreeCopy& copy, std::vector<CopiedEntry>* record) {
  int listFd = ::openat(src, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!d) {
    copy.Fail(relative, errno);
    if (listFd >= 0) ::close(listFd);
    return;
  }
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = relative.empty() ? std::string(name) : relative + "/" + std::string(name);
    CopiedEntry entry{std::string(name), {}, {}};
    int error = ::fstatat(src, e->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (!error) error = CopyEntry(src, dst, e->d_name, entry.st, path, copy, entry, record != nullptr);
    if (error) {
      copy.Fail(path, error);
    } else if (record) {
      record->push_back(std::move(entry));
    }
  }
  ::closedir(d);
}

ActionResult TreeResult(std::string target, const TreeCopy& copy) {
  if (!copy.failures) return Done(std::move(target));
  std::string text = std::to_string(copy.failures) + " 项未复制, 首项 " + copy.firstPath + ": " +
                     FileErrorText(copy.firstError);
  return {std::move(target), false, std::move(text)};
}

// Removes from the open folder exactly the entries that were copied, each
// only while it is still the same, unchanged file. Returns how many entries
// stayed.
std::size_t RemoveCopied(int dir, const std::vector<CopiedEntry>& entries) {
  std::size_t kept = 0;
  for (const CopiedEntry& e : entries) {
    struct stat now {};
    if (::fstatat(dir, e.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bool same = now.st_dev == e.st.st_dev && now.st_ino == e.st.st_ino &&
                (now.st_mode & S_IFMT) == (e.st.st_mode & S_IFMT);
    if (!same || (S_ISREG(now.st_mode) && !SameContent(now, e.st))) {
      ++kept;
      continue;
    }
    if (S_ISDIR(now.st_mode)) {
      UniqueFd sub;
      struct stat opened {};
      if (OpenFolderBelow(dir, e.name.c_str(), sub) != 0 || ::fstat(sub.Get(), &opened) != 0 ||
          opened.st_ino != e.st.st_ino) {
        ++kept;
        continue;
      }
      std::size_t inside = RemoveCopied(sub.Get(), e.children);
      kept += inside;
      if (::unlinkat(dir, e.name.c_str(), AT_REMOVEDIR) != 0 && inside == 0) ++kept;
    } else if (::unlinkat(dir, e.name.c_str(), 0) != 0) {
      ++kept;
    }
  }
  return kept;
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
    } else if (::unlinkat(fd, e->d_name, 0) != 0) {
      error = errno;
    }
    if (error && !first) first = error;
  }
  ::closedir(d);
  if (::unlinkat(parent, name, AT_REMOVEDIR) != 0) return first ? first : errno;
  return first;
}

// The folder that holds path, opened, and the last component's name.
int OpenParent(const std::string& path, UniqueFd& parent, std::string& name) {
  std::string clean = path;
  while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
  std::size_t slash = clean.rfind('/');
  if (slash == std::string::npos || clean == "/") return EINVAL;
  name = clean.substr(slash + 1);
  parent.Reset(::open(slash == 0 ? "/" : clean.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return parent.Valid() ? 0 : errno;
}

// A file given its new name by a link loses its old one, unless something
// else stands there by now, which stays.
ActionResult DropLinkedSource(const std::string& path, int dir, const std::string& targetDir, const Placed& placed) {
  struct stat moved {}, now {};
  if (::fstatat(dir, placed.name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 || ::lstat(path.c_str(), &now) != 0 ||
      now.st_dev != moved.st_dev || now.st_ino != moved.st_ino)
    return Result(targetDir, placed);
  if (::unlink(path.c_str()) == 0) return Result(targetDir, placed);
  int error = errno;
  ::unlinkat(dir, placed.name.c_str(), 0);
  return Failed(JoinPath(targetDir, placed.name), error);
}

}  // namespace

void StopCopies(bool stop) { copiesStopped = stop; }

std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns) {
  UniqueFd dir;
  if (OpenTargetDir(directory, dir) != 0) return 0;
  return CountMatchingIn(dir.Get(), patterns);
}

ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath) {
  Names names = SplitName(path);
  std::string first = JoinPath(targetDir, names.file);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(first, errno);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return Failed(first, S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile);
  UniqueFd dir;
  if (int error = OpenTargetDir(targetDir, dir)) return Failed(first, error);
  if (S_ISLNK(st.st_mode)) {
    // As a link: its target's content may be something the rule's folder
    // was never meant to hand out.
    std::string link;
    if (int error = ReadLinkAt(AT_FDCWD, path.c_str(), link)) return Failed(first, error);
    return Result(targetDir, PlaceNumbered(dir.Get(), names, monitoredPath, [&](const char* name) {
                    return PlaceLink(link, dir.Get(), name, false);
                  }));
  }
  NewFile copy(dir.Get(), false);
  struct stat copied {};
  if (int error = CopyIntoNewFile(AT_FDCWD, path.c_str(), copy, copied)) return Failed(first, error);
  return Result(targetDir, PlaceNumbered(dir.Get(), names, monitoredPath,
                                         [&](const char* name) { return copy.LinkNoReplace(name); }));
}

ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath) {
  Names names = SplitName(path);
  std::string first = JoinPath(targetDir, names.file);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(first, errno);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode)) return Failed(first, kNotRegularFile);
  UniqueFd dir;
  if (int error = OpenTargetDir(targetDir, dir)) return Failed(first, error);
  bool renameRefused = false;
  bool linked = false;
  Placed placed = PlaceNumbered(dir.Get(), names, monitoredPath, [&](const char* name) {
    if (!renameRefused) {
      int error = RenameNoReplaceAt(AT_FDCWD, path.c_str(), dir.Get(), name);
      if (!Unsupported(error) || S_ISDIR(st.st_mode)) return error;
      renameRefused = true;
    }
    // A link fails on a taken name as the refused rename would; the old
    // name goes once the new one stands. Without links, the file is copied.
    if (::linkat(AT_FDCWD, path.c_str(), dir.Get(), name, 0) == 0) {
      linked = true;
      return 0;
    }
    return LinksRefused(errno) ? EXDEV : errno;
  });
  if (placed.error == EXDEV) return MoveAcross(path, st, dir.Get(), targetDir, names, monitoredPath);
  if (placed.error || !linked) return Result(targetDir, placed);
  return DropLinkedSource(path, dir.Get(), targetDir, placed);
}

ActionResult DeleteFileAction(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(path, errno);
  if (S_ISDIR(st.st_mode)) return Failed(path, EISDIR);
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & 0222)) return Failed(path, EACCES);
  return ::unlink(path.c_str()) == 0 ? Done(path) : Failed(path, errno);
}

std::string DirectoryCopyName(const std::string& path) {
  std::string name = PathFileName(path, false);
  return name.empty() ? PathFileName(path, true) : name;
}

ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir) {
  std::string name = DirectoryCopyName(path);
  std::string target = JoinPath(targetDir, name);
  if (name.empty()) return Failed(target, EINVAL);
  UniqueFd src(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!src.Valid()) return Failed(target, errno);
  struct stat st {};
  if (::fstat(src.Get(), &st) != 0) return Failed(target, errno);
  UniqueFd dst;
  if (int error = OpenTargetDir(targetDir, dst)) return Failed(target, error);
  // A target inside the source would copy itself forever.
  if (TextFind(target + "/", path + "/") == 1) return Failed(target, EINVAL);
  TreeCopy copy;
  if (int error = CopyFolder(src.Get(), st, dst.Get(), name.c_str(), name, copy, nullptr)) return Failed(target, error);
  return TreeResult(target, copy);
}

ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir) {
  std::string name = PathFileName(path, true);
  std::string target = JoinPath(targetDir, name);
  UniqueFd dst;
  if (int error = OpenTargetDir(targetDir, dst)) return Failed(target, error);
  int error = RenameNoReplaceAt(AT_FDCWD, path.c_str(), dst.Get(), name.c_str());
  if (error != EXDEV && !Unsupported(error)) return error ? Failed(target, error) : Done(target);

  UniqueFd parent;
  CopiedEntry root;
  if (int e = OpenParent(path, parent, root.name)) return Failed(target, e);
  UniqueFd src;
  if (int e = OpenFolderBelow(parent.Get(), root.name.c_str(), src)) return Failed(target, e);
  if (::fstat(src.Get(), &root.st) != 0) return Failed(target, errno);
  // The folder is made here, so everything below it is ours to take back.
  if (::mkdirat(dst.Get(), name.c_str(), 0700) != 0) return Failed(target, errno);
  TreeCopy copy;
  copy.durable = true;
  UniqueFd to;
  if (int e = OpenFolderBelow(dst.Get(), name.c_str(), to)) return Failed(target, e);
  CopyEntries(src.Get(), to.Get(), name, copy, &root.children);
  ::fchmod(to.Get(), root.st.st_mode & 0777);
  ::fsync(to.Get());
  ::fsync(dst.Get());
  if (copy.failures) {
    // A partial copy would block every later attempt: it goes, the source stays.
    RemoveTreeAt(dst.Get(), name.c_str());
    return TreeResult(target, copy);
  }
  std::size_t kept = RemoveCopied(parent.Get(), {root});
  if (kept) return {target, false, "源文件夹中 " + std::to_string(kept) + " 项在移动时新出现或被改动, 已留在原处"};
  return Done(target);
}

ActionResult DeleteDirectoryTree(const std::string& path) {
  UniqueFd parent;
  std::string name;
  if (int error = OpenParent(path, parent, name)) return Failed(path, error);
  int error = RemoveTreeAt(parent.Get(), name.c_str());
  return error ? Failed(path, error) : Done(path);
}

}  // namespace vantrel
