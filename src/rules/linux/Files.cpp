#include "rules/Files.h"

#include "platform/OwnTemporary.h"
#include "platform/linux/PosixFile.h"
#include "rules/linux/WriterLook.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace vantrel::files {
namespace {

Error Sys(int error) { return !error ? Error{} : error >= kNotRegularFile ? Own(error) : Error{error, error}; }
Error Last() { return Sys(errno); }
int Fd(const Handle& h) { return static_cast<int>(h.Get()); }
int Fd(const Folder& f) { return Fd(f.handle); }

Entry EntryOf(const struct stat& st) {
  Entry e;
  e.kind = S_ISREG(st.st_mode)   ? Kind::File
           : S_ISDIR(st.st_mode) ? Kind::Folder
           : S_ISLNK(st.st_mode) ? Kind::Link
                                 : Kind::Other;
  e.stamp = StampOfStatus(st);
  e.mode = st.st_mode & 07777;
  e.readOnly = !S_ISDIR(st.st_mode) && !(st.st_mode & 0222);
  return e;
}

Error StatAt(int dir, const char* name, Entry& out) {
  struct stat st {};
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Last();
  out = EntryOf(st);
  return {};
}

Error StatOf(int fd, Entry& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Last();
  out = EntryOf(st);
  return {};
}

// Without changing any permission: a file goes when its folder allows it.
Error RemoveIn(int dir, const char* name, const Entry& expected, bool unchanged = false) {
  Entry now;
  if (Error e = StatAt(dir, name, now)) return e;
  if (!SameItem(now, expected) || (unchanged && now.kind == Kind::File && !Unchanged(now, expected)))
    return Own(kSourceChanged);
  return ::unlinkat(dir, name, now.kind == Kind::Folder ? AT_REMOVEDIR : 0) == 0 ? Error{} : Last();
}

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

int ReadLinkAt(int dir, const char* name, std::string& target) {
  std::vector<char> buf(4096);
  ssize_t n = ::readlinkat(dir, name, buf.data(), buf.size());
  if (n < 0) return errno;
  if (static_cast<std::size_t>(n) == buf.size()) return ENAMETOOLONG;
  target.assign(buf.data(), static_cast<std::size_t>(n));
  return 0;
}

}  // namespace

void Handle::Reset(std::intptr_t h) {
  if (Valid()) ::close(static_cast<int>(h_));
  h_ = h;
}

const std::size_t kHeldFolders = 16;

Error OpenFolder(const std::string& path, Folder& out, bool) {
  out.handle.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return out.handle.Valid() ? StatOf(Fd(out), out.info) : Last();
}

Error Look(const Folder& dir, const std::string& name, Entry& out) { return StatAt(Fd(dir), name.c_str(), out); }

Error OpenBelow(const Folder& dir, const std::string& name, Folder& out) {
  out.handle.Reset(::openat(Fd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return out.handle.Valid() ? StatOf(Fd(out), out.info) : Last();
}

Error OpenAbove(const Folder& child, const Entry& expected, Folder& out) {
  out.handle.Reset(::openat(Fd(child), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!out.handle.Valid()) return Last();
  if (Error e = StatOf(Fd(out), out.info)) return e;
  return SameItem(out.info, expected) ? Error{} : Own(kFolderMoved);
}

Error MakeFolder(const Folder& dir, const std::string& name) {
  return ::mkdirat(Fd(dir), name.c_str(), 0700) == 0 ? Error{} : Last();
}

// Read whole before anything below is opened, so that a walk holds no
// listing open on the way down.
Error ListNames(const Folder& dir, std::vector<std::string>& names) {
  int listFd = ::openat(Fd(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (!d) {
    Error error = Last();
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
  Error error = Sys(errno);
  ::closedir(d);
  return error;
}

Error Remove(const Folder& dir, const std::string& name, const Entry& expected, bool unchanged) {
  return RemoveIn(Fd(dir), name.c_str(), expected, unchanged);
}

void FinishFolder(const Folder& copy, const Entry& source, bool made, bool durable) {
  if (made) ::fchmod(Fd(copy), source.mode & 0777);
  if (durable) ::fsync(Fd(copy));
}

std::size_t CountMatching(const Folder& dir, const std::string&, const std::string& pattern) {
  std::vector<std::string> names;
  ListNames(dir, names);
  std::size_t count = 0;
  for (const std::string& name : names) {
    struct stat st {};
    // Our own temporary, the copy itself where files cannot be unnamed.
    if (IsOwnTemporaryName(name) || ::fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
    if (::fstatat(Fd(dir), name.c_str(), &st, 0) == 0 && !S_ISDIR(st.st_mode)) ++count;
  }
  return count;
}

// Judged on the target's real path: the folders met going up by ".." to the
// root, compared with the source by device and inode, so that no spelling,
// link or bind mount hides it.
Error CheckTargetOutside(const Folder& dir, const std::string& name, const Handle&, const Entry& source) {
  Entry here, below;
  if (!StatAt(Fd(dir), name.c_str(), here) && here.stamp.SameFile(source.stamp)) return Own(kTargetInsideSource);
  for (Handle at(::fcntl(Fd(dir), F_DUPFD_CLOEXEC, 0));;
       at.Reset(::openat(Fd(at), "..", O_PATH | O_DIRECTORY | O_CLOEXEC))) {
    if (!at.Valid()) return Last();
    if (Error e = StatOf(Fd(at), here)) return e;
    if (here.stamp.SameFile(source.stamp)) return Own(kTargetInsideSource);
    // The root is its own parent.
    if (below.kind == Kind::Folder && below.stamp.SameFile(here.stamp)) return {};
    below = here;
  }
}

Error OpenItem(const std::string& path, Item& out) {
  out.path = path;
  return StatAt(AT_FDCWD, path.c_str(), out.info);
}

Error RenameInto(Item& item, const Folder& dir, const std::string& name, bool& linked) {
  linked = false;
  const int error = RenameNoReplaceAt(AT_FDCWD, item.path.c_str(), Fd(dir), name.c_str());
  if (!Unsupported(error)) return Sys(error);
  if (item.info.kind == Kind::Folder) return Own(EXDEV);
  // A link fails on a taken name as the refused rename would; the old name
  // goes once the new one stands. Without links, the file is copied.
  linked = ::linkat(AT_FDCWD, item.path.c_str(), Fd(dir), name.c_str(), 0) == 0;
  return linked ? Error{} : LinksRefused(errno) ? Own(EXDEV) : Last();
}

Error RemoveItem(Item& item) { return ::unlink(item.path.c_str()) == 0 ? Error{} : Last(); }

struct Source::State {
  std::string path;
  Handle fd;
  Entry info;
  std::string link;  // what a link source points to
  WriterLook::Answer writers = WriterLook::Unknown;
  Error Open(int dir, const std::string& name, bool judgedWhole);
};

Error Source::State::Open(int dir, const std::string& name, bool judgedWhole) {
  Entry entry;
  if (Error e = StatAt(dir, name.c_str(), entry)) return e;
  if (entry.kind == Kind::Link) {
    info = entry;
    return Sys(ReadLinkAt(dir, name.c_str(), link));
  }
  if (entry.kind != Kind::File) return Own(entry.kind == Kind::Folder ? EISDIR : kNotRegularFile);
  struct stat st {};
  fd.Reset(OpenRegularFile(dir, name.c_str(), false, &st));
  // A program holding a write lease refuses an open that will not wait.
  if (!fd.Valid()) return errno == EWOULDBLOCK ? Own(kSourceBeingWritten) : Last();
  info = EntryOf(st);
  // Asked on the descriptor the copy reads, so that the common case costs
  // no second open; where nobody can tell, the queue must first see the
  // file steady (WholeFile.h).
  writers = WritersOf(Fd(fd));
  if (writers == WriterLook::Writer) return Own(kSourceBeingWritten);
  return writers == WriterLook::Unknown && !judgedWhole ? Own(kWritersUnknown) : Error{};
}

Source::Source() : s_(std::make_unique<State>()) {}
Source::~Source() = default;
const Entry& Source::Info() const { return s_->info; }

// A link is read, never followed; a regular file is opened without ever
// opening anything else, not even for a moment.
Error Source::Open(const std::string& path, bool judgedWhole, bool) {
  s_->path = path;
  return s_->Open(AT_FDCWD, path, judgedWhole);
}

// A folder's files are taken as they stand, unless a writer is known.
Error Source::OpenAt(const Folder& dir, const std::string& name) { return s_->Open(Fd(dir), name, true); }

Error Source::RemoveAfterCopy(const Folder& dir, bool& keepCopy) {
  ::fsync(Fd(dir));
  Entry now;
  keepCopy = true;
  // Whatever now stands at the source path is not what was copied: it
  // stays, and so does the copy.
  if (StatAt(AT_FDCWD, s_->path.c_str(), now) || !SameItem(now, s_->info)) return Own(kSourceChanged);
  keepCopy = false;
  // Written to since it was copied: the copy is not the file, and goes; the
  // source stays whole where it was.
  if (now.kind == Kind::File && !Unchanged(now, s_->info)) return Own(kSourceChanged);
  return ::unlink(s_->path.c_str()) == 0 ? Error{} : Last();
}

// Unnamed (O_TMPFILE) where the file system allows, so that nothing
// half-written ever has a name, and under a hidden temporary name elsewhere.
struct NewFile::State {
  State(const Folder& folder, const Teller& teller) : dir(Fd(folder)), tell(teller) {}
  ~State() {
    if (!temp.empty()) ::unlinkat(dir, temp.c_str(), 0);
  }

  int Create() {
    // Readable too: where no name can be given to it, it is copied once more.
    fd.Reset(::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.Valid()) return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) return errno;
    return CreateNamed();
  }

  // As we leave it, while nobody else can reach it: named, a user may write first.
  std::optional<platform::FileStamp> Made(int out) const {
    Entry e;
    return StatOf(out, e) ? std::nullopt : std::optional(e.stamp);
  }

  int LinkNoReplace(const char* name) {
    if (linksRefused) return PlaceByCopy(name);
    const std::optional<platform::FileStamp> made = Made(Fd(fd));
    int error = temp.empty() ? LinkUnnamed(name) : NameTemporary(name);
    if (!error) tell(ActionChange::FileAppeared, name, {}, made);
    if (!LinksRefused(error)) return error;
    linksRefused = true;
    return PlaceByCopy(name);
  }

  // Puts the file in place of whatever file or link stands at name.
  int LinkReplacing(const char* name) {
    if (temp.empty()) {
      int error = WithOwnTemporaryName(temp, [this](const char* t) { return LinkUnnamed(t); });
      if (error) {
        temp.clear();
        if (!LinksRefused(error)) return error;
        if ((error = CopyIntoNamed())) return error;
      }
    }
    const std::optional<platform::FileStamp> made = Made(Fd(fd));
    if (::renameat(dir, temp.c_str(), dir, name) != 0) return errno;
    temp.clear();
    tell(ActionChange::FileAppeared, name, {}, made);
    return 0;
  }

  int NameTemporary(const char* name) {
    int error = renameRefused ? EINVAL : RenameNoReplaceAt(dir, temp.c_str(), dir, name);
    if (!error) temp.clear();
    if (!Unsupported(error)) return error;
    renameRefused = true;
    // A link, like the refused rename, fails on a taken name.
    if (::linkat(dir, temp.c_str(), dir, name, 0) != 0) return errno;
    ::unlinkat(dir, temp.c_str(), 0);
    temp.clear();
    return 0;
  }

  int CreateNamed() {
    fd.Reset(CreateOwnTemporary(dir, temp, O_RDWR, 0600));
    if (fd.Valid()) return 0;
    temp.clear();
    return errno;
  }

  // An unnamed file /proc cannot name (no /proc, no capability) is refused
  // a link as much as on a file system without links.
  int LinkUnnamed(const char* name) {
    std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
    if (::linkat(AT_FDCWD, self.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    if (::linkat(Fd(fd), "", dir, name, AT_EMPTY_PATH) == 0) return 0;
    return errno == ENOENT ? EPERM : errno;
  }

  // The finished content, from its start, into out.
  int CopyFinished(int from, int out) {
    struct stat st {};
    if (::fstat(from, &st) != 0 || ::lseek(from, 0, SEEK_SET) < 0) return errno;
    if (int error = CopyData(from, out)) return error;
    if (::fchmod(out, st.st_mode & 0777) != 0) return errno;
    if (durable && ::fsync(out) != 0 && errno != EINVAL) return errno;
    return 0;
  }

  int CopyIntoNamed() {
    Handle unnamed(std::exchange(fd, Handle{}));
    if (int error = CreateNamed()) return error;
    return CopyFinished(Fd(unnamed), Fd(fd));
  }

  // Where nothing gives a finished file a name, the name is taken
  // exclusively and the finished copy written into it; a partial one goes.
  int PlaceByCopy(const char* name) {
    const int out = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return errno;
    Entry entry;
    StatOf(out, entry);
    int error = CopyFinished(Fd(fd), out);
    // Told once filled: its echo is known by the content it was left with.
    const std::optional<platform::FileStamp> made = Made(out);
    // Closed now, for the error some file systems tell only here.
    if (::close(out) != 0 && !error) error = errno;
    tell(ActionChange::FileAppeared, name, {}, made);
    if (!error) return 0;
    if (!RemoveIn(dir, name, entry)) tell(ActionChange::FileVanished, name);
    return error;
  }

  int dir;
  const Teller& tell;
  bool durable = false;
  bool renameRefused = false;
  bool linksRefused = false;
  Handle fd;
  std::string temp;
  std::string placed;
  Entry placedEntry;
};

NewFile::NewFile(const Folder& dir, const Teller& tell) : s_(std::make_unique<State>(dir, tell)) {}
NewFile::~NewFile() = default;

Error NewFile::Fill(Source& from, bool durable) {
  s_->durable = durable;
  const int in = Fd(from.s_->fd);
  if (int error = s_->Create()) return Sys(error);
  if (int error = CopyData(in, Fd(s_->fd))) return Sys(error);
  // Never wider than the source; set-id bits are not carried over, since the
  // copy belongs to whoever runs the program.
  if (::fchmod(Fd(s_->fd), from.s_->info.mode & 0777) != 0) return Last();
  // A file system without unnamed files is often one across a network,
  // which may tell a failed write only when the data is flushed.
  if ((durable || !s_->temp.empty()) && ::fsync(Fd(s_->fd)) != 0 && errno != EINVAL) return Last();
  Entry after;
  if (Error e = StatOf(in, after)) return e;
  if (!Unchanged(after, from.s_->info)) return Own(kSourceChanged);
  // A writer that opened it meanwhile, where the kernel can tell.
  if (from.s_->writers == WriterLook::NoWriter && WritersOf(in, false) == WriterLook::Writer)
    return Own(kSourceBeingWritten);
  return {};
}

Error NewFile::Place(const std::string& name, bool replace) {
  if (int error = replace ? s_->LinkReplacing(name.c_str()) : s_->LinkNoReplace(name.c_str())) return Sys(error);
  s_->placed = name;
  StatAt(s_->dir, name.c_str(), s_->placedEntry);
  return {};
}

void NewFile::Unplace() {
  if (s_->placed.empty()) return;
  if (!RemoveIn(s_->dir, s_->placed.c_str(), s_->placedEntry)) s_->tell(ActionChange::FileVanished, s_->placed);
  s_->placed.clear();
}

// A link made under a hidden name and renamed over what stands at name, or
// made at name directly when replace is false (EEXIST when taken).
Error PlaceLink(const Source& link, const Folder& dir, const std::string& name, bool replace, const Teller& tell) {
  const std::string& target = link.s_->link;
  auto told = [&] {
    tell(ActionChange::FileAppeared, name);
    return Error{};
  };
  if (!replace) return ::symlinkat(target.c_str(), Fd(dir), name.c_str()) == 0 ? told() : Last();
  std::string temp;
  int error = WithOwnTemporaryName(
      temp, [&](const char* t) { return ::symlinkat(target.c_str(), Fd(dir), t) == 0 ? 0 : errno; });
  if (error) return Sys(error);
  if (::renameat(Fd(dir), temp.c_str(), Fd(dir), name.c_str()) == 0) return told();
  error = errno;
  ::unlinkat(Fd(dir), temp.c_str(), 0);
  return Sys(error);
}

}  // namespace vantrel::files
