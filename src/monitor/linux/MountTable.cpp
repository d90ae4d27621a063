#include "monitor/linux/MountTable.h"

#include "monitor/WatchRoots.h"

#include <cerrno>
#include <unistd.h>

#include "platform/ThisProcess.h"
#include "platform/linux/PosixFile.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>

namespace vantrel {
namespace {

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      auto oct = [&](char c) { return c >= '0' && c <= '7'; };
      if (oct(field[i + 1]) && oct(field[i + 2]) && oct(field[i + 3])) {
        out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool StartsWithDir(std::string_view path, std::string_view dir) {
  if (dir == "/") return true;
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  for (const std::string& line : SplitText(text, "\n")) {
    std::vector<std::string> f = SplitText(line, " ");
    auto dash = std::find(f.begin(), f.end(), "-");
    if (dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
    mounts.push_back({Unescape(f[4]), Unescape(f[3]), *(dash + 1), Unescape(*(dash + 2))});
  }
  return mounts;
}

std::vector<MountEntry> ReadMountTable() {
  std::string text;
  ReadWholeFile("/proc/self/mountinfo", text);
  return ParseMountInfo(text);
}

std::vector<MountEntry> ReadMountTable(int fd) {
  std::string text;
  if (::lseek(fd, 0, SEEK_SET) != 0) return {};
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return ParseMountInfo(text);
}

bool IsLocalFileSystemType(std::string_view type) {
  static constexpr std::array<std::string_view, 34> kNotLocal{
      "proc",      "sysfs",     "devpts",  "devtmpfs",    "cgroup",     "cgroup2", "securityfs",
      "debugfs",   "tracefs",   "pstore",  "bpf",         "mqueue",     "hugetlbfs", "configfs",
      "fusectl",   "autofs",    "binfmt_misc", "efivarfs", "nsfs",      "rpc_pipefs", "selinuxfs",
      "nfs",       "nfs4",      "cifs",    "smb3",        "smbfs",      "ceph",    "9p",
      "afs",       "glusterfs", "fuse.sshfs", "fuse.gvfsd-fuse", "fuse.portal", "ramfs"};
  return std::find(kNotLocal.begin(), kNotLocal.end(), type) == kNotLocal.end();
}

bool IsServedFileSystemType(std::string_view type) {
  static constexpr std::array<std::string_view, 19> kServed{
      "nfs",  "nfs4",   "cifs", "smb3",      "smbfs",  "ceph",  "9p",   "afs",   "glusterfs", "lustre",
      "gfs2", "ocfs2", "coda", "ncpfs",     "davfs",  "fuse",  "fuseblk", "virtiofs", "orangefs"};
  return type.substr(0, 5) == "fuse." || std::find(kServed.begin(), kServed.end(), type) != kServed.end();
}

const MountEntry* MountOf(const std::vector<MountEntry>& mounts, std::string_view path) {
  const MountEntry* best = nullptr;
  // The table lists mounts in the order they were made: the last one over a
  // place hides those before it.
  for (const MountEntry& m : mounts)
    if ((path == m.mountPoint || StartsWithDir(path, m.mountPoint)) && (!best || m.mountPoint.size() >= best->mountPoint.size())) best = &m;
  return best;
}

const MountEntry* ServedMountOf(const std::vector<MountEntry>& mounts, std::string_view path) {
  const MountEntry* mount = MountOf(mounts, path);
  return mount && IsServedFileSystemType(mount->type) ? mount : nullptr;
}

bool IsRemovableMountPoint(std::string_view mountPoint) {
  return StartsWithDir(mountPoint, "/media") || StartsWithDir(mountPoint, "/run/media") ||
         StartsWithDir(mountPoint, "/mnt");
}

std::vector<std::string> AddedMountPoints(const std::vector<MountEntry>& before,
                                          const std::vector<MountEntry>& after) {
  std::set<std::string> old;
  for (const MountEntry& m : before) old.insert(m.mountPoint);
  std::vector<std::string> added;
  std::set<std::string> seen;
  for (const MountEntry& m : after)
    if (!old.count(m.mountPoint) && seen.insert(m.mountPoint).second) added.push_back(m.mountPoint);
  return added;
}

DriveChanges CompareMounts(const std::vector<MountEntry>& before, const std::vector<MountEntry>& after) {
  DriveChanges changes;
  changes.added = AddedMountPoints(before, after);
  changes.removed = AddedMountPoints(after, before);
  auto local = [](const std::vector<MountEntry>& table, const std::string& point) {
    return std::any_of(table.begin(), table.end(), [&](const MountEntry& m) {
      return m.mountPoint == point && IsLocalFileSystemType(m.type);
    });
  };
  for (const std::string& p : changes.removed)
    if (local(before, p)) changes.localRemoved.push_back(p);
  for (const std::string& p : changes.added)
    if (local(after, p)) changes.localAdded.push_back(p);
  return changes;
}

std::vector<std::string> WholeDiskRoots(const std::string& home, const std::vector<MountEntry>& mounts) {
  std::vector<std::string> roots;
  if (!home.empty()) roots.push_back(home);
  for (const MountEntry& m : mounts)
    if (IsLocalFileSystemType(m.type) && IsRemovableMountPoint(m.mountPoint)) roots.push_back(m.mountPoint);
  return NormaliseRoots(std::move(roots));
}

std::vector<std::string> WholeDiskRoots() { return WholeDiskRoots(platform::UserHome(), ReadMountTable()); }

std::function<bool(const std::string&)> FolderAnswerable() {
  return [mounts = std::optional<std::vector<MountEntry>>()](const std::string& folder) mutable {
    if (!mounts) mounts = ReadMountTable();
    return !ServedMountOf(*mounts, folder);
  };
}

}  // namespace vantrel
