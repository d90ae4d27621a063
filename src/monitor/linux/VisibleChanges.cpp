#include "monitor/linux/VisibleChanges.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vantrel {
namespace {

// The stored form of an access ACL: a version, then entries of a tag, the
// rights and an id, in the order owner, named users, owning group, named
// groups, mask, others.
constexpr std::uint32_t kAclVersion = 2;
enum AclTag : std::uint16_t { kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20 };
struct AclEntry {
  std::uint16_t tag, perm;
  std::uint32_t id;
};

std::uint32_t Le32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// Nothing when the bytes are no ACL: the mode bits alone then decide,
// which is what the kernel does without one.
std::vector<AclEntry> ParseAcl(std::string_view bytes) {
  std::vector<AclEntry> entries;
  if (bytes.size() < 4 || (bytes.size() - 4) % 8 != 0 || Le32(bytes.data()) != kAclVersion) return entries;
  for (std::size_t at = 4; at < bytes.size(); at += 8) {
    const std::uint32_t tagPerm = Le32(bytes.data() + at);
    entries.push_back({static_cast<std::uint16_t>(tagPerm & 0xffff), static_cast<std::uint16_t>(tagPerm >> 16),
                       Le32(bytes.data() + at + 4)});
  }
  return entries;
}

// The kernel's reading of an ACL for anyone but the owner: a named user's
// entry, or any matching group entry that grants, limited by the mask;
// matching groups that all refuse refuse; otherwise the others' entry.
bool AclAllows(const std::vector<AclEntry>& acl, std::uint32_t fileGroup, const Viewer& who, int want) {
  std::uint16_t mask = 7;
  for (const AclEntry& e : acl)
    if (e.tag == kMask) mask = e.perm;
  bool groupMatched = false;
  for (const AclEntry& e : acl) {
    switch (e.tag) {
      case kUser:
        if (e.id == who.uid) return (e.perm & mask & want) == want;
        break;
      case kGroupObj:
      case kGroup:
        if (who.InGroup(e.tag == kGroupObj ? fileGroup : e.id)) {
          groupMatched = true;
          if ((e.perm & want) == want) return (e.perm & mask & want) == want;
        }
        break;
      case kOther:
        return !groupMatched && (e.perm & want) == want;
      default:
        break;
    }
  }
  return false;
}

}  // namespace

Viewer Viewer::Of(std::uint32_t uid, std::uint32_t gid, std::vector<std::uint32_t> groups) {
  Viewer v;
  v.kernel = false;
  v.uid = uid;
  v.gid = gid;
  groups.push_back(gid);
  std::sort(groups.begin(), groups.end());
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  v.groups = std::move(groups);
  return v;
}

bool Viewer::Everything() const { return Uid() == 0; }

long Viewer::Uid() const { return kernel ? static_cast<long>(::getuid()) : static_cast<long>(uid); }

bool Viewer::InGroup(std::uint32_t group) const { return std::binary_search(groups.begin(), groups.end(), group); }

bool MayAccess(const struct stat& st, std::string_view aclBytes, const Viewer& who, int mode) {
  if (who.Everything()) return true;
  const int want = mode & 7;
  // The owner is judged by the owner's bits alone, ACL or not.
  if (st.st_uid == who.uid) return (want & ~(st.st_mode >> 6) & 7) == 0;
  // The ACL is read only when the group bits (its mask) grant anything.
  if (!aclBytes.empty() && (st.st_mode & S_IRWXG)) {
    std::vector<AclEntry> acl = ParseAcl(aclBytes);
    if (!acl.empty()) return AclAllows(acl, st.st_gid, who, want);
  }
  unsigned bits = st.st_mode & 7;
  if (who.InGroup(st.st_gid)) bits = (st.st_mode >> 3) & 7;
  return (want & ~bits) == 0;
}

bool UserMay(int fd, const Viewer& who, int mode) {
  // Without AT_EACCESS the kernel judges with the real ids, and for a user
  // other than root without any capability.
  if (who.kernel) return ::faccessat(fd, "", mode, AT_EMPTY_PATH) == 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  // An O_PATH descriptor takes no xattr calls itself; its link in /proc
  // leads to the same file without a lookup by name.
  char acl[4 + 8 * 512];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::getxattr(link.c_str(), "system.posix_acl_access", acl, sizeof acl);
  if (n < 0 && errno != ENODATA && errno != EOPNOTSUPP) {
    // An ACL too large to read here, or one that cannot be read: refused,
    // never judged by the mode bits it would narrow.
    return false;
  }
  return MayAccess(st, std::string_view(acl, n > 0 ? static_cast<std::size_t>(n) : 0), who, mode);
}

std::string_view FolderOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool UserMayList(int folderFd, const Viewer& who, AncestorVerdicts* known) {
  struct stat here {};
  if (::fstat(folderFd, &here) != 0) return false;
  std::vector<FolderIdentity> walked;
  auto decided = [&](bool may) {
    if (known)
      for (const FolderIdentity& f : walked) known->emplace(f, may);
    return may;
  };
  auto cached = [&](const struct stat& st) -> std::optional<bool> {
    if (!known) return std::nullopt;
    auto it = known->find({st.st_dev, st.st_ino});
    if (it == known->end()) return std::nullopt;
    return it->second;
  };
  if (auto may = cached(here)) return *may;
  walked.push_back({here.st_dev, here.st_ino});
  if (!UserMay(folderFd, who, R_OK | X_OK)) return decided(false);
  // Up through the folder's real parents, not through its name: what the
  // name leads to may no longer be this folder.
  int fd = ::openat(folderFd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int depth = 0; fd >= 0 && depth < PATH_MAX; ++depth) {
    struct stat up {};
    if (::fstat(fd, &up) != 0) break;
    if (up.st_dev == here.st_dev && up.st_ino == here.st_ino) {
      ::close(fd);
      return decided(true);
    }
    if (auto may = cached(up)) {
      ::close(fd);
      return decided(*may);
    }
    walked.push_back({up.st_dev, up.st_ino});
    // A folder the user may enter but not list keeps the names inside it
    // secret; a change below it would give one away.
    if (!UserMay(fd, who, R_OK | X_OK)) {
      ::close(fd);
      return decided(false);
    }
    here = up;
    int next = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd >= 0) ::close(fd);
  // Too deep for its path to be named, and so is every folder walked with
  // at least half a path's length of folders above it: those are kept, or a
  // tree made one inside the next would walk this far for each folder.
  constexpr std::size_t kDeeperThanANameReaches = PATH_MAX / 2;
  if (known && walked.size() > PATH_MAX)
    for (std::size_t i = 0; i + kDeeperThanANameReaches < walked.size(); ++i) known->emplace(walked[i], false);
  return false;
}

VisibleChanges::VisibleChanges(Opener open, Out out, Viewer who, Later later, std::size_t verdictLimit)
    : open_(std::move(open)),
      out_(std::move(out)),
      who_(std::move(who)),
      everything_(who_.Everything()),
      verdictLimit_(verdictLimit),
      later_(std::move(later)) {}

bool VisibleChanges::SameViewBefore(std::string_view folder) {
  if (everything_ || !later_ || folder.empty()) return true;
  scratch_.clear();
  later_(folder, scratch_);
  for (const LaterRightsChange* r : scratch_) {
    if (r->moved) {
      if (r->oldParentKey.empty() || Judge(r->oldParentKey) != Verdict::Yes) return false;
    } else if (r->owner < 0 || r->owner != who_.Uid()) {
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
  if (ancestors_.size() >= verdictLimit_) ancestors_.clear();
  bool may = UserMayList(fd, who_, &ancestors_);
  ::close(fd);
  if (verdicts_.size() >= verdictLimit_) verdicts_.clear();
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
    if (parent.empty()) {
    } else if (who_.kernel) {
      if (::faccessat(AT_FDCWD, parent.c_str(), R_OK | X_OK, 0) == 0) ++unjudged_;
    } else if (int fd = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
      if (UserMayList(fd, who_, &ancestors_)) ++unjudged_;
      ::close(fd);
    }
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
