#include "rules/FileActions.h"

#include "rules/ActionNames.h"
#include "rules/linux/WriterLook.h"

#include "platform/linux/PosixFile.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <set>
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
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
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

ActionResult Failed(std::string target, int error) { return {std::move(target), false, FileErrorText(error), error}; }
ActionResult Done(std::string target) { return {std::move(target), true, {}}; }

void Tell(const ActionChanges& changes, ActionChange::Kind kind, std::string path, std::string to = {}) {
  if (changes) changes({kind, std::move(path), std::move(to)});
}

// Tells the changes made in one folder, each under the folder's path and
// its name.
class Teller {
 public:
  Teller(const ActionChanges& changes, std::string folder) : changes_(changes), folder_(std::move(folder)) {}
  void operator()(ActionChange::Kind kind, std::string_view name) const {
    Tell(changes_, kind, JoinPath(folder_, name));
  }

 private:
  const ActionChanges& changes_;
  std::string folder_;
};

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

// The kernel copies (and shares blocks where the file system can); plain
// reads and writes where it cannot. In chunks, so that a stop is heard.
int CopyData(int in, int out) {
  bool kernel = true;
  std::vector<char> buf;
  for (;;) {
    if (CopyStop::Requested()) return ECANCELED;
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
  NewFile(int dir, bool durable, Teller tell) : dir_(dir), durable_(durable), tell_(std::move(tell)) {}
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
    if (linksRefused_) return PlaceByCopy(name);
    int error = temp_.empty() ? LinkUnnamed(name) : NameTemporary(name);
    if (!error) tell_(ActionChange::FileAppeared, name);
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
    tell_(ActionChange::FileAppeared, name);
    return 0;
  }

 private:
  int NameTemporary(const char* name) {
    int error = renameRefused_ ? EINVAL : RenameNoReplaceAt(dir_, temp_.c_str(), dir_, name);
    if (!error) temp_.clear();
    if (!Unsupported(error)) return error;
    renameRefused_ = true;
    // A link, like the refused rename, fails on a taken name.
    if (::linkat(dir_, temp_.c_str(), dir_, name, 0) != 0) return errno;
    ::unlinkat(dir_, temp_.c_str(), 0);
    temp_.clear();
    return 0;
  }

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
    // Told once filled: its echo is known by the content it was left with.
    tell_(ActionChange::FileAppeared, name);
    if (!error) return 0;
    struct stat now {};
    if (::fstatat(dir_, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == made.st_dev &&
        now.st_ino == made.st_ino && ::unlinkat(dir_, name, 0) == 0)
      tell_(ActionChange::FileVanished, name);
    return error;
  }

  int dir_;
  bool durable_;
  bool renameRefused_ = false;
  bool linksRefused_ = false;
  Teller tell_;
  UniqueFd fd_;
  std::string temp_;
};

// Writes a complete copy of a regular file into an unnamed file. Refused
// when another program is still writing the source or it changed meanwhile.
int CopyIntoNewFile(int srcDir, const char* srcName, NewFile& copy, struct stat& before, bool judgedWhole) {
  UniqueFd in(OpenRegularFile(srcDir, srcName, false, &before));
  // A program holding a write lease refuses an open that will not wait.
  if (!in.Valid()) return errno == EWOULDBLOCK ? kSourceBeingWritten : errno;
  // Asked on the descriptor the copy reads, so that the common case costs
  // no second open; where nobody can tell, the queue must first see the
  // file steady (WholeFile.h).
  const WriterLook::Answer writers = WritersOf(in.Get());
  if (writers == WriterLook::Writer) return kSourceBeingWritten;
  if (writers == WriterLook::Unknown && !judgedWhole) return kWritersUnknown;
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
  // A writer that opened it meanwhile, where the kernel can tell.
  if (writers == WriterLook::NoWriter && WritersOf(in.Get(), false) == WriterLook::Writer) return kSourceBeingWritten;
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
int PlaceLink(const std::string& target, int dir, const char* name, bool replace, const Teller& tell) {
  if (!replace) {
    if (::symlinkat(target.c_str(), dir, name) != 0) return errno;
    tell(ActionChange::FileAppeared, name);
    return 0;
  }
  std::string temp;
  int error = WithTemporaryName(
      temp, [&](const char* t) { return ::symlinkat(target.c_str(), dir, t) == 0 ? 0 : errno; });
  if (error) return error;
  if (::renameat(dir, temp.c_str(), dir, name) == 0) {
    tell(ActionChange::FileAppeared, name);
    return 0;
  }
  error = errno;
  ::unlinkat(dir, temp.c_str(), 0);
  return error;
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

// Numbered as everywhere, counting in the open folder.
template <typename Place>
PlacedName PlaceNumberedIn(int dir, const ActionNames& names, const std::string& monitoredPath, Place place) {
  return vantrel::PlaceNumbered(names, monitoredPath, place,
                                [dir](const std::string& pattern) { return CountMatchingIn(dir, pattern); });
}

ActionResult Result(const std::string& targetDir, const PlacedName& placed) {
  std::string target = JoinPath(targetDir, placed.name);
  return placed.error ? Failed(std::move(target), placed.error) : Done(std::move(target));
}

// Across file systems: a complete, unchanged copy first, then the source.
ActionResult MoveAcross(const std::string& path, const struct stat& st, int dir, const std::string& targetDir,
                        const ActionNames& names, const std::string& monitoredPath, const ActionChanges& changes) {
  const Teller tell(changes, targetDir);
  std::string first = JoinPath(targetDir, names.file);
  if (S_ISDIR(st.st_mode)) return Failed(first, EXDEV);
  PlacedName placed;
  struct stat copied = st;
  if (S_ISLNK(st.st_mode)) {
    std::string link;
    if (int error = ReadLinkAt(AT_FDCWD, path.c_str(), link)) return Failed(first, error);
    placed = PlaceNumberedIn(dir, names, monitoredPath,
                           [&](const char* name) { return PlaceLink(link, dir, name, false, tell); });
  } else {
    NewFile copy(dir, true, tell);
    // A move waited for its file in the queue before it began.
    if (int error = CopyIntoNewFile(AT_FDCWD, path.c_str(), copy, copied, true)) return Failed(first, error);
    placed = PlaceNumberedIn(dir, names, monitoredPath, [&](const char* name) { return copy.LinkNoReplace(name); });
  }
  if (placed.error) return Result(targetDir, placed);
  ::fsync(dir);
  struct stat now {};
  // Whatever now stands at the source path is not what was copied: it stays,
  // and so does the copy.
  if (::lstat(path.c_str(), &now) != 0 || now.st_ino != copied.st_ino || now.st_dev != copied.st_dev)
    return Failed(JoinPath(targetDir, placed.name), kSourceChanged);
  // Written to since it was copied: the copy is not the file, and goes; the
  // source stays whole where it was.
  if (S_ISREG(copied.st_mode) && !SameContent(now, copied)) {
    if (::unlinkat(dir, placed.name.c_str(), 0) == 0) tell(ActionChange::FileVanished, placed.name);
    return Failed(JoinPath(targetDir, placed.name), kSourceChanged);
  }
  if (::unlink(path.c_str()) != 0) {
    int error = errno;
    if (::unlinkat(dir, placed.name.c_str(), 0) == 0) tell(ActionChange::FileVanished, placed.name);
    return Failed(JoinPath(targetDir, placed.name), error);
  }
  Tell(changes, ActionChange::FileVanished, path);
  return Result(targetDir, placed);
}

// Entries a folder move copied, so that exactly those leave the source: one
// list, the top folder first, each folder naming its entries by index.
struct CopiedEntry {
  std::string name;
  struct stat st {};
  std::vector<std::size_t> children;
};
using CopiedTree = std::vector<CopiedEntry>;

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

bool SameFolder(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Every name in the open folder. Read whole before anything below it is
// opened, so that a walk holds no listing open on the way down.
int ReadNames(int dir, std::vector<std::string>& names) {
  int listFd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!d) {
    int error = errno;
    if (listFd >= 0) ::close(listFd);
    return error;
  }
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d);
    if (!e) break;
    std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  int error = errno;
  ::closedir(d);
  return error;
}

// The folders from the top of a walk down to the one it is in. However deep
// the walk goes, only the first kHeldLevels and the current one stay open;
// the way back up from below them is "..", which must lead to the very
// folder the walk came down from.
class FolderChain {
 public:
  static constexpr std::size_t kHeldLevels = 16;

  // From an open folder, which stays the caller's.
  int Start(int fd) {
    Level top;
    top.fd.Reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!top.fd.Valid() || ::fstat(top.fd.Get(), &top.st) != 0) return errno;
    seen_.insert(Key(top.st));
    levels_.push_back(std::move(top));
    return 0;
  }
  int Current() const { return levels_.back().fd.Get(); }
  const struct stat& CurrentStat() const { return levels_.back().st; }
  // The way back up was lost: this level can only be dropped.
  bool Lost() const { return !levels_.back().fd.Valid(); }
  bool Holds(const struct stat& st) const { return seen_.count(Key(st)) != 0; }

  // Opens the folder name below the current one without following a link
  // and without going down yet; a folder already on the way down (here or
  // in other) is met again through a mount, and is not entered.
  int Open(const char* name, UniqueFd& fd, struct stat& st, const FolderChain* other = nullptr) const {
    fd.Reset(::openat(Current(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return errno;
    if (Holds(st) || (other && other->Holds(st))) return kFolderLoop;
    return 0;
  }
  void Enter(UniqueFd fd, const struct stat& st) {
    if (levels_.size() > kHeldLevels) levels_.back().fd.Reset();
    seen_.insert(Key(st));
    levels_.push_back({std::move(fd), st});
  }
  // Back to the parent; kFolderMoved when ".." is no longer it. On any
  // failure the parent is Lost.
  int Leave() {
    UniqueFd child = std::move(levels_.back().fd);
    Drop();
    if (!levels_.back().fd.Valid()) {
      UniqueFd up(::openat(child.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      struct stat st {};
      if (!up.Valid() || ::fstat(up.Get(), &st) != 0) return errno;
      if (!SameFolder(st, levels_.back().st)) return kFolderMoved;
      levels_.back().fd = std::move(up);
    }
    return 0;
  }
  void Drop() {
    seen_.erase(Key(levels_.back().st));
    levels_.pop_back();
  }

 private:
  struct Level {
    UniqueFd fd;
    struct stat st {};
  };
  static std::pair<dev_t, ino_t> Key(const struct stat& st) { return {st.st_dev, st.st_ino}; }
  std::vector<Level> levels_;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

// Copies one entry that is not a folder: a link as a link, a regular file
// whole, replacing a file or link standing at its name.
int CopyEntry(int src, int dst, const char* name, const struct stat& st, TreeCopy& copy, CopiedEntry& entry,
              const Teller& tell) {
  struct stat existing {};
  bool exists = ::fstatat(dst, name, &existing, AT_SYMLINK_NOFOLLOW) == 0;
  entry.st = st;
  if (S_ISLNK(st.st_mode)) {
    if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
    std::string link;
    if (int error = ReadLinkAt(src, name, link)) return error;
    return PlaceLink(link, dst, name, exists, tell);
  }
  if (!S_ISREG(st.st_mode)) return kNotRegularFile;
  if (exists && S_ISLNK(existing.st_mode)) return kLinkInTarget;
  if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
  NewFile file(dst, copy.durable, tell);
  // A folder's files are not waited for one by one: each is copied as it
  // stands, unless a writer is known, and only if unchanged by the end.
  if (int error = CopyIntoNewFile(src, name, file, entry.st, true)) return error;
  int error = exists ? EEXIST : file.LinkNoReplace(name);
  // Something came to stand at the name meanwhile: replaced like a file
  // that was there, a link included, which is removed and never written
  // through.
  return error == EEXIST ? file.LinkReplacing(name) : error;
}

// Copies everything in the open folder src into the open folder dst, which
// is top in the folder base; made tells whether dst was made for it and so
// takes src's permissions once filled. With record, what was copied is
// noted for a move, top folder first.
void CopyTree(int src, int dst, const std::string& base, const std::string& top, bool made, TreeCopy& copy,
              CopiedTree* record, const ActionChanges& changes) {
  struct Frame {
    std::vector<std::string> names;
    std::size_t next = 0;
    std::size_t pathSize = 0;
    bool made = false;
    mode_t mode = 0;
    std::size_t record = 0;
  };
  FolderChain from, to;
  if (int error = from.Start(src); error || (error = to.Start(dst))) return copy.Fail(top, error);
  std::string path = top;
  std::vector<Frame> frames(1);
  frames[0].pathSize = path.size();
  frames[0].made = made;
  frames[0].mode = from.CurrentStat().st_mode;
  if (record) record->push_back({PathFileName(top), from.CurrentStat(), {}});
  if (int error = ReadNames(src, frames[0].names)) copy.Fail(top, error);

  while (!frames.empty()) {
    Frame& f = frames.back();
    path.resize(f.pathSize);
    if (f.next == f.names.size()) {
      // Only now: a read-only source folder would have kept its copy empty.
      if (f.made) ::fchmod(to.Current(), f.mode & 0777);
      if (copy.durable) ::fsync(to.Current());
      frames.pop_back();
      if (frames.empty()) break;
      int up = from.Leave();
      if (int dstUp = to.Leave(); !up) up = dstUp;
      if (!up) continue;
      copy.Fail(path.substr(0, frames.back().pathSize), up);
      while (from.Lost() || to.Lost()) {
        frames.pop_back();
        from.Drop();
        to.Drop();
      }
      continue;
    }
    const std::string name = f.names[f.next++];
    const std::string folder = JoinPath(base, path);
    path += "/" + name;
    CopiedEntry entry{name, {}, {}};
    struct stat st {};
    int error = ::fstatat(from.Current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (!error && !S_ISDIR(st.st_mode)) {
      error = CopyEntry(from.Current(), to.Current(), name.c_str(), st, copy, entry, Teller(changes, folder));
      if (!error && record) {
        record->at(f.record).children.push_back(record->size());
        record->push_back(std::move(entry));
      }
    } else if (!error) {
      struct stat existing {};
      bool exists = ::fstatat(to.Current(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
      UniqueFd srcSub, dstSub;
      struct stat srcSt {}, dstSt {};
      bool madeSub = false;
      if (exists && !S_ISDIR(existing.st_mode)) {
        error = S_ISLNK(existing.st_mode) ? kLinkInTarget : kNotFolderInTarget;
      } else if (!(error = from.Open(name.c_str(), srcSub, srcSt, &to))) {
        if (!exists && ::mkdirat(to.Current(), name.c_str(), 0700) == 0) {
          madeSub = true;
          Tell(changes, ActionChange::FolderAppeared, JoinPath(folder, name));
        } else if (!exists && errno != EEXIST) {
          error = errno;
        }
        if (!error) error = to.Open(name.c_str(), dstSub, dstSt, &from);
        if (error == ELOOP) error = kLinkInTarget;
        if (error == ENOTDIR) error = kNotFolderInTarget;
      }
      if (!error) {
        Frame sub;
        sub.pathSize = path.size();
        sub.made = madeSub;
        sub.mode = srcSt.st_mode;
        if (record) {
          sub.record = record->size();
          record->at(f.record).children.push_back(record->size());
          record->push_back({name, srcSt, {}});
        }
        if (int listed = ReadNames(srcSub.Get(), sub.names)) copy.Fail(path, listed);
        from.Enter(std::move(srcSub), srcSt);
        to.Enter(std::move(dstSub), dstSt);
        frames.push_back(std::move(sub));
        continue;
      }
    }
    if (error) copy.Fail(path, error);
  }
}

ActionResult TreeResult(std::string target, const TreeCopy& copy) {
  if (!copy.failures) return Done(std::move(target));
  std::string text = std::to_string(copy.failures) + " 项未复制, 首项 " + copy.firstPath + ": " +
                     FileErrorText(copy.firstError);
  return {std::move(target), false, std::move(text)};
}

// Removes from the open folder parent exactly the entries that were copied,
// the top folder first in tree and named path, each only while it is still
// the same, unchanged file. Returns how many entries stayed.
std::size_t RemoveCopied(int parent, const CopiedTree& tree, const std::string& path,
                         const ActionChanges& changes) {
  struct Frame {
    const std::vector<std::size_t>* entries;
    std::size_t next = 0;
    std::size_t kept = 0;
    std::size_t self = 0;
    std::string path;
  };
  const std::vector<std::size_t> top{0};
  FolderChain chain;
  if (tree.empty() || chain.Start(parent) != 0) return 1;
  std::vector<Frame> frames{{&top, 0, 0, 0, {}}};
  for (;;) {
    Frame& f = frames.back();
    if (f.next == f.entries->size()) {
      if (frames.size() == 1) return f.kept;
      Frame done = std::move(f);
      frames.pop_back();
      if (chain.Leave() != 0) {
        frames.back().kept += done.kept + 1;
        while (chain.Lost()) {
          std::size_t lost = frames.back().kept + 1;
          frames.pop_back();
          chain.Drop();
          frames.back().kept += lost;
        }
        continue;
      }
      const CopiedEntry& folder = tree[done.self];
      struct stat now {};
      bool removed = ::fstatat(chain.Current(), folder.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                     SameFolder(now, folder.st) && ::unlinkat(chain.Current(), folder.name.c_str(), AT_REMOVEDIR) == 0;
      if (removed) Tell(changes, ActionChange::FolderVanished, done.path);
      frames.back().kept += done.kept + (!removed && done.kept == 0 ? 1 : 0);
      continue;
    }
    std::size_t index = (*f.entries)[f.next++];
    const CopiedEntry& e = tree[index];
    struct stat now {};
    if (::fstatat(chain.Current(), e.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bool same = SameFolder(now, e.st) && (now.st_mode & S_IFMT) == (e.st.st_mode & S_IFMT);
    if (!same || (S_ISREG(now.st_mode) && !SameContent(now, e.st))) {
      ++f.kept;
      continue;
    }
    std::string entryPath = frames.size() == 1 ? path : JoinPath(f.path, e.name);
    if (S_ISDIR(now.st_mode)) {
      UniqueFd sub;
      struct stat opened {};
      if (chain.Open(e.name.c_str(), sub, opened) != 0 || !SameFolder(opened, e.st)) {
        ++f.kept;
        continue;
      }
      chain.Enter(std::move(sub), opened);
      frames.push_back({&e.children, 0, 0, index, std::move(entryPath)});
    } else if (::unlinkat(chain.Current(), e.name.c_str(), 0) != 0) {
      ++f.kept;
    } else {
      Tell(changes, ActionChange::FileVanished, entryPath);
    }
  }
}

// Empties the folder name in parent, whose path is path, and removes it;
// links are removed, never followed. All that can go goes; the first
// failure is told.
int RemoveTreeAt(int parent, const char* name, const std::string& path, const ActionChanges& changes) {
  struct Frame {
    std::vector<std::string> names;
    std::size_t next = 0;
    std::string name;
    std::string path;
  };
  FolderChain chain;
  if (int error = chain.Start(parent)) return error;
  int first = 0;
  auto fail = [&first](int error) {
    if (!first) first = error;
  };
  std::vector<Frame> frames;
  // Goes down into the folder sub of the current one.
  auto enter = [&](const std::string& sub, std::string subPath) {
    UniqueFd fd;
    struct stat st {};
    if (int error = chain.Open(sub.c_str(), fd, st)) return fail(error);
    Frame frame{{}, 0, sub, std::move(subPath)};
    if (int error = ReadNames(fd.Get(), frame.names)) fail(error);
    chain.Enter(std::move(fd), st);
    frames.push_back(std::move(frame));
  };
  enter(name, path);
  while (!frames.empty()) {
    Frame& f = frames.back();
    if (f.next == f.names.size()) {
      const Frame done = std::move(f);
      const struct stat doneSt = chain.CurrentStat();
      frames.pop_back();
      if (int error = chain.Leave()) {
        fail(error);
        while (chain.Lost()) {
          frames.pop_back();
          chain.Drop();
        }
        continue;
      }
      struct stat now {};
      if (::fstatat(chain.Current(), done.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFolder(now, doneSt)) {
        fail(kFolderMoved);
      } else if (::unlinkat(chain.Current(), done.name.c_str(), AT_REMOVEDIR) != 0) {
        fail(errno);
      } else {
        Tell(changes, ActionChange::FolderVanished, done.path);
      }
      continue;
    }
    const std::string entry = f.names[f.next++];
    std::string entryPath = JoinPath(f.path, entry);
    struct stat st {};
    if (::fstatat(chain.Current(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      enter(entry, std::move(entryPath));
    } else if (::unlinkat(chain.Current(), entry.c_str(), 0) != 0) {
      fail(errno);
    } else {
      Tell(changes, ActionChange::FileVanished, entryPath);
    }
  }
  return first;
}

// Whether the target, name in the open folder dir, is the source folder or
// lies inside it, judged on the target's real path: the folders met going up
// by ".." to the root, compared with the source by device and inode, so that
// no spelling, link or bind mount hides it.
int CheckTargetOutside(int dir, const char* name, const struct stat& source) {
  struct stat st {};
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && SameFolder(st, source)) return kTargetInsideSource;
  UniqueFd here(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
  if (!here.Valid() || ::fstat(here.Get(), &st) != 0) return errno;
  for (;;) {
    if (SameFolder(st, source)) return kTargetInsideSource;
    UniqueFd up(::openat(here.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat upSt {};
    if (!up.Valid() || ::fstat(up.Get(), &upSt) != 0) return errno;
    // The root is its own parent.
    if (SameFolder(upSt, st)) return 0;
    here = std::move(up);
    st = upSt;
  }
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
ActionResult DropLinkedSource(const std::string& path, int dir, const std::string& targetDir, const PlacedName& placed,
                              const ActionChanges& changes) {
  const std::string target = JoinPath(targetDir, placed.name);
  struct stat moved {}, now {};
  if (::fstatat(dir, placed.name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0 || ::lstat(path.c_str(), &now) != 0 ||
      now.st_dev != moved.st_dev || now.st_ino != moved.st_ino)
    return Done(target);
  if (::unlink(path.c_str()) == 0) {
    Tell(changes, ActionChange::FileVanished, path);
    return Done(target);
  }
  int error = errno;
  if (::unlinkat(dir, placed.name.c_str(), 0) == 0) Tell(changes, ActionChange::FileVanished, target);
  return Failed(target, error);
}

}  // namespace


std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns) {
  UniqueFd dir;
  if (OpenTargetDir(directory, dir) != 0) return 0;
  return CountMatchingIn(dir.Get(), patterns);
}

ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes, bool judgedWhole) {
  const std::string folder = CleanPath(targetDir);
  const Teller tell(changes, folder);
  ActionNames names = SplitActionName(path);
  std::string first = JoinPath(folder, names.file);
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
    return Result(folder, PlaceNumberedIn(dir.Get(), names, monitoredPath, [&](const char* name) {
                    return PlaceLink(link, dir.Get(), name, false, tell);
                  }));
  }
  NewFile copy(dir.Get(), false, tell);
  struct stat copied {};
  if (int error = CopyIntoNewFile(AT_FDCWD, path.c_str(), copy, copied, judgedWhole)) return Failed(first, error);
  return Result(folder, PlaceNumberedIn(dir.Get(), names, monitoredPath,
                                      [&](const char* name) { return copy.LinkNoReplace(name); }));
}

ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  ActionNames names = SplitActionName(path);
  std::string first = JoinPath(folder, names.file);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(first, errno);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode)) return Failed(first, kNotRegularFile);
  UniqueFd dir;
  if (int error = OpenTargetDir(targetDir, dir)) return Failed(first, error);
  bool renameRefused = false;
  bool linked = false;
  PlacedName placed = PlaceNumberedIn(dir.Get(), names, monitoredPath, [&](const char* name) {
    if (!renameRefused) {
      int error = RenameNoReplaceAt(AT_FDCWD, path.c_str(), dir.Get(), name);
      if (!error) Tell(changes, ActionChange::Renamed, path, JoinPath(folder, name));
      if (!Unsupported(error) || S_ISDIR(st.st_mode)) return error;
      renameRefused = true;
    }
    // A link fails on a taken name as the refused rename would; the old
    // name goes once the new one stands. Without links, the file is copied.
    if (::linkat(AT_FDCWD, path.c_str(), dir.Get(), name, 0) == 0) {
      linked = true;
      Tell(changes, ActionChange::FileAppeared, JoinPath(folder, name));
      return 0;
    }
    return LinksRefused(errno) ? EXDEV : errno;
  });
  if (placed.error == EXDEV) return MoveAcross(path, st, dir.Get(), folder, names, monitoredPath, changes);
  if (placed.error || !linked) return Result(folder, placed);
  return DropLinkedSource(path, dir.Get(), folder, placed, changes);
}

ActionResult DeleteFileAction(const std::string& path, const ActionChanges& changes) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(path, errno);
  if (S_ISDIR(st.st_mode)) return Failed(path, EISDIR);
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & 0222)) return Failed(path, EACCES);
  if (::unlink(path.c_str()) != 0) return Failed(path, errno);
  Tell(changes, ActionChange::FileVanished, path);
  return Done(path);
}

ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  std::string name = DirectoryCopyName(path);
  std::string target = JoinPath(folder, name);
  if (name.empty()) return Failed(target, EINVAL);
  UniqueFd src(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!src.Valid()) return Failed(target, errno);
  struct stat st {};
  if (::fstat(src.Get(), &st) != 0) return Failed(target, errno);
  UniqueFd dst;
  if (int error = OpenTargetDir(targetDir, dst)) return Failed(target, error);
  // A target inside the source would copy itself forever.
  if (int error = CheckTargetOutside(dst.Get(), name.c_str(), st)) return Failed(target, error);
  bool made = ::mkdirat(dst.Get(), name.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return Failed(target, errno);
  if (made) Tell(changes, ActionChange::FolderAppeared, target);
  UniqueFd to;
  if (int error = OpenFolderBelow(dst.Get(), name.c_str(), to)) return Failed(target, error);
  TreeCopy copy;
  CopyTree(src.Get(), to.Get(), folder, name, made, copy, nullptr, changes);
  return TreeResult(target, copy);
}

ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir, const ActionChanges& changes) {
  const std::string folder = CleanPath(targetDir);
  std::string name = PathFileName(path, true);
  std::string target = JoinPath(folder, name);
  UniqueFd dst;
  if (int error = OpenTargetDir(targetDir, dst)) return Failed(target, error);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Failed(target, errno);
  // The kernel refuses such a rename, but the copy that follows a refusal would not end.
  if (S_ISDIR(st.st_mode))
    if (int error = CheckTargetOutside(dst.Get(), name.c_str(), st)) return Failed(target, error);
  int error = RenameNoReplaceAt(AT_FDCWD, path.c_str(), dst.Get(), name.c_str());
  if (!error) {
    Tell(changes, ActionChange::Renamed, path, target);
    return Done(target);
  }
  if (error != EXDEV && !Unsupported(error)) return Failed(target, error);

  UniqueFd parent;
  std::string sourceName;
  if (int e = OpenParent(path, parent, sourceName)) return Failed(target, e);
  UniqueFd src;
  if (int e = OpenFolderBelow(parent.Get(), sourceName.c_str(), src)) return Failed(target, e);
  // The folder is made here, so everything below it is ours to take back.
  if (::mkdirat(dst.Get(), name.c_str(), 0700) != 0) return Failed(target, errno);
  Tell(changes, ActionChange::FolderAppeared, target);
  TreeCopy copy;
  copy.durable = true;
  UniqueFd to;
  if (int e = OpenFolderBelow(dst.Get(), name.c_str(), to)) return Failed(target, e);
  CopiedTree copied;
  CopyTree(src.Get(), to.Get(), folder, name, true, copy, &copied, changes);
  ::fsync(dst.Get());
  if (copy.failures) {
    // A partial copy would block every later attempt: it goes, the source stays.
    RemoveTreeAt(dst.Get(), name.c_str(), target, changes);
    return TreeResult(target, copy);
  }
  copied[0].name = sourceName;
  std::size_t kept = RemoveCopied(parent.Get(), copied, path, changes);
  if (kept) return {target, false, "源文件夹中 " + std::to_string(kept) + " 项在移动时新出现或被改动, 已留在原处"};
  return Done(target);
}

ActionResult DeleteDirectoryTree(const std::string& path, const ActionChanges& changes) {
  UniqueFd parent;
  std::string name;
  if (int error = OpenParent(path, parent, name)) return Failed(path, error);
  int error = RemoveTreeAt(parent.Get(), name.c_str(), path, changes);
  return error ? Failed(path, error) : Done(path);
}

}  // namespace vantrel
