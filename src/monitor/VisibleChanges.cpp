#include "monitor/VisibleChanges.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

// Past this many judged folders the verdicts start afresh.
constexpr std::size_t kVerdictLimit = 100000;

// Without AT_EACCESS the kernel judges with the real ids, and for a user
// other than root without any capability.
bool UserMay(int fd, int mode) { return ::faccessat(fd, "", mode, AT_EMPTY_PATH) == 0; }

}  // namespace

std::string_view FolderOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool UserMayList(int folderFd) {
  if (!UserMay(folderFd, R_OK | X_OK)) return false;
  struct stat here {};
  if (::fstat(folderFd, &here) != 0) return false;
  // Up through the folder's real parents, not through its name: what the
  // name leads to may no longer be this folder.
  int fd = ::openat(folderFd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int depth = 0; fd >= 0 && depth < PATH_MAX; ++depth) {
    struct stat up {};
    if (::fstat(fd, &up) != 0) break;
    if (up.st_dev == here.st_dev && up.st_ino == here.st_ino) {
      ::close(fd);
      return true;
    }
    // A folder the user may enter but not list keeps the names inside it
    // secret; a change below it would give one away.
    if (!UserMay(fd, R_OK | X_OK)) break;
    here = up;
    int next = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
  return false;
}

VisibleChanges::VisibleChanges(Opener open, Out out, bool everything, Later later)
    : open_(std::move(open)), out_(std::move(out)), everything_(everything), later_(std::move(later)) {}

bool VisibleChanges::SameViewBefore(std::string_view folder) {
  if (everything_ || !later_ || folder.empty()) return true;
  scratch_.clear();
  later_(folder, scratch_);
  for (const LaterRightsChange* r : scratch_) {
    if (r->moved) {
      if (r->oldParentKey.empty() || Judge(r->oldParentKey) != Verdict::Yes) return false;
    } else if (r->owner < 0 || r->owner != static_cast<long>(::getuid())) {
      return false;
    }
  }
  return true;
}

std::size_t VisibleChanges::TakeRightsChanged() {
  std::size_t n = rightsChanged_;
  rightsChanged_ = 0;
  return n;
}

VisibleChanges::Verdict VisibleChanges::Judge(std::string_view key) {
  if (everything_) return Verdict::Yes;
  if (auto hit = verdicts_.find(key); hit != verdicts_.end()) return hit->second ? Verdict::Yes : Verdict::No;
  int fd = open_(key);
  if (fd < 0) return Verdict::Gone;
  bool may = UserMayList(fd);
  ::close(fd);
  if (verdicts_.size() >= kVerdictLimit) verdicts_.clear();
  verdicts_.emplace(std::string(key), may);
  return may ? Verdict::Yes : Verdict::No;
}

bool VisibleChanges::Visible(std::string_view key) { return Judge(key) == Verdict::Yes; }

std::size_t VisibleChanges::TakeUnjudged() {
  std::size_t n = unjudged_;
  unjudged_ = 0;
  return n;
}

void VisibleChanges::Change(const RawChange& c) {
  if (c.kind == RawChange::DriveAdded || c.kind == RawChange::DriveRemoved) {
    // The mount table is for everyone to read.
    Forget();
    out_(c);
    return;
  }
  // New rights on a folder, or a folder under new parents, change what may
  // be seen below it; the change itself is judged by the rights before.
  const bool rightsMayChange = c.isDir && (c.kind == RawChange::Attrib || c.kind == RawChange::Rename);
  Verdict old = Judge(c.folder);
  if (old == Verdict::Yes && !SameViewBefore(FolderOf(c.path))) {
    old = Verdict::No;
    ++rightsChanged_;
  }
  if (old == Verdict::Gone) {
    // A folder removed before its change was read: its rights are gone with
    // it. Only its parent tells whether the user might have listed it.
    std::string parent(FolderOf(FolderOf(c.path)));
    if (!parent.empty() && ::faccessat(AT_FDCWD, parent.c_str(), R_OK | X_OK, 0) == 0) ++unjudged_;
  }
  if (c.kind != RawChange::Rename) {
    if (rightsMayChange) Forget();
    if (old == Verdict::Yes) out_(c);
    return;
  }
  bool newVisible = Judge(c.newFolder) == Verdict::Yes;
  if (newVisible && !SameViewBefore(FolderOf(c.newPath))) {
    newVisible = false;
    ++rightsChanged_;
  }
  if (rightsMayChange) Forget();
  RawChange seen = c;
  if (old == Verdict::Yes && newVisible) {
    out_(seen);
  } else if (newVisible) {
    seen.kind = RawChange::Appear;
    seen.path = c.newPath;
    seen.folder = c.newFolder;
    seen.newPath = {};
    seen.newFolder = {};
    out_(seen);
  } else if (old == Verdict::Yes) {
    seen.kind = RawChange::Delete;
    seen.newPath = {};
    seen.newFolder = {};
    out_(seen);
  }
}

}  // namespace vantrel
