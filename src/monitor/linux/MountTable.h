#pragma once
// The mounted file systems, read from /proc/self/mountinfo, and which of them
// hold the user's files (as opposed to kernel pseudo file systems and network
// shares, which are never watched).
#include "monitor/WatchRoots.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct MountEntry {
  std::string mountPoint;
  std::string root;  // the part of the file system mounted there
  std::string type;
  std::string source;
};

std::vector<MountEntry> ParseMountInfo(std::string_view text);
std::vector<MountEntry> ReadMountTable();
// The table again from an open /proc/self/mountinfo, which is read from its
// start each time (it is polled for changes while open).
std::vector<MountEntry> ReadMountTable(int fd);

bool IsLocalFileSystemType(std::string_view type);
// File systems whose every lookup may wait on a server (FUSE of any kind, the
// network ones): no path on them is resolved where one stall would hold up
// everything else, and fanotify cannot mark FUSE at all.
bool IsServedFileSystemType(std::string_view type);
// The mount a path lies on, by its name alone (nothing on the mount is asked,
// so a mount that does not answer cannot hold the caller up); null if none.
const MountEntry* MountOf(const std::vector<MountEntry>& mounts, std::string_view path);
// The same where that mount's file system is served, else null.
const MountEntry* ServedMountOf(const std::vector<MountEntry>& mounts, std::string_view path);

// Mount points of removable media, which whole-disk mode watches besides the
// home directory.
bool IsRemovableMountPoint(std::string_view mountPoint);

// The mount points present in after but not in before.
std::vector<std::string> AddedMountPoints(const std::vector<MountEntry>& before,
                                          const std::vector<MountEntry>& after);

// The local file systems that came and went between two readings of the
// table, as the drive changes to report.
struct DriveChanges {
  std::vector<std::string> added, removed;  // every mount point
  std::vector<std::string> localAdded, localRemoved;
};
DriveChanges CompareMounts(const std::vector<MountEntry>& before, const std::vector<MountEntry>& after);

// The directories that whole-disk mode watches when only a per-directory
// change source is available.
std::vector<std::string> WholeDiskRoots(const std::string& home, const std::vector<MountEntry>& mounts);

}  // namespace vantrel
