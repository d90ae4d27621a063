#pragma once
// The mounted file systems, read from /proc/self/mountinfo, and which of them
// hold the user's files (as opposed to kernel pseudo file systems and network
// shares, which are never watched).
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

// The folders to watch in custom-path mode: for each rule path the nearest
// existing folder that holds it (a folder made later is then seen). A rule
// path that names no folder below the root (a bare text such as "data" or
// ".txt", which the containment test matches anywhere) takes the whole-disk
// roots. Paths in skip (the global-path marker) name nothing.
// wholeDiskRoots is asked only when needed, since it reads the mount table.
std::vector<std::string> CustomPathRoots(const std::vector<std::string>& rulePaths, std::string_view skip,
                                         const std::function<std::vector<std::string>()>& wholeDiskRoots);

// Removes duplicates and roots that lie inside another root.
std::vector<std::string> NormaliseRoots(std::vector<std::string> roots);

}  // namespace vantrel
