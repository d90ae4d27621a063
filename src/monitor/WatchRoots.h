#pragma once
// Which folders a per-folder change source watches.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The folders to watch in custom-path mode: for each rule path the nearest
// existing folder that holds it (a folder made later is then seen); on
// Windows that may be a drive's or a share's root. A rule path that names
// no folder below a root (a bare text such as "data" or ".txt", which the
// containment test matches anywhere, or a Linux path whose nearest folder
// is "/") takes the whole-disk roots. A path on a drive or share that is
// not there gives no root and is added to waiting. Paths in skip (the
// global-path marker) name nothing. wholeDiskRoots is asked only when
// needed, since it reads the system's table of volumes.
std::vector<std::string> CustomPathRoots(const std::vector<std::string>& rulePaths, std::string_view skip,
                                         const std::function<std::vector<std::string>()>& wholeDiskRoots,
                                         std::vector<std::string>* waiting = nullptr);

// Cleans the roots' text and removes duplicates, relative paths and roots
// that lie inside another root.
std::vector<std::string> NormaliseRoots(std::vector<std::string> roots);

// The directories whole-disk mode watches with a per-folder source: on
// Linux the home and local removable media (see MountTable.h); on Windows
// the root of every fixed, removable and memory drive with a medium in it.
std::vector<std::string> WholeDiskRoots();

// Whether a folder may be asked whether it exists without the risk of
// waiting for good: not on Linux where it lies on a mount whose server may
// not answer (the mount table is read at the first question). Each call
// makes a fresh judge.
std::function<bool(const std::string&)> FolderAnswerable();

}  // namespace vantrel
