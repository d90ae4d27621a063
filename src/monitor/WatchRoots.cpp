#include "monitor/WatchRoots.h"

#ifdef _WIN32
#include "monitor/DirectoryChangesSource.h"
#else
#include "monitor/MountTable.h"
#endif
#include "text/PathRoutines.h"

#include <algorithm>
#include <optional>

namespace vantrel {
namespace {

// The part of an absolute path no folder lies above: "/" on Linux; "X:\"
// or "\\server\share" on Windows.
std::size_t RootLength(std::string_view path) {
#ifdef _WIN32
  if (path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2])) return 3;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    std::size_t server = path.find_first_of(kPathSeparators, 2);
    if (server == std::string_view::npos) return path.size();
    std::size_t share = path.find_first_of(kPathSeparators, server + 1);
    return share == std::string_view::npos ? path.size() : share;
  }
  return 0;
#else
  return !path.empty() && path.front() == '/' ? 1 : 0;
#endif
}

}  // namespace

std::vector<std::string> CustomPathRoots(const std::vector<std::string>& rulePaths, std::string_view skip,
                                         const std::function<std::vector<std::string>()>& wholeDiskRoots) {
  std::vector<std::string> roots;
  bool whole = false;
#ifndef _WIN32
  // A folder on a mount whose server may not answer is taken as named:
  // asking whether it exists could hold this thread up for good.
  // Read only when a folder is to be asked about at all.
  std::optional<std::vector<MountEntry>> mounts;
  auto answerable = [&](const std::string& folder) {
    if (!mounts) mounts = ReadMountTable();
    return !ServedMountOf(*mounts, folder);
  };
#else
  auto answerable = [](const std::string&) { return true; };
#endif
  for (const std::string& path : rulePaths) {
    if (path == skip) continue;
    if (!IsAbsolutePath(path)) {
      whole = true;
      continue;
    }
    std::string folder = CleanPath(path);
    const std::size_t root = RootLength(folder);
    while (folder.size() > root && answerable(folder) && !IsDirectoryPath(folder))
      folder.erase(std::max(LastSeparator(folder), root));
    if (folder.size() <= root) {
      whole = true;
    } else {
      roots.push_back(std::move(folder));
    }
  }
  if (whole) {
    std::vector<std::string> more = wholeDiskRoots();
    roots.insert(roots.end(), more.begin(), more.end());
  }
  return NormaliseRoots(std::move(roots));
}

std::vector<std::string> NormaliseRoots(std::vector<std::string> roots) {
  for (std::string& r : roots) r = CleanPath(r);
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  std::vector<std::string> kept;
  for (const std::string& r : roots) {
    if (!IsAbsolutePath(r)) continue;
    bool inside = std::any_of(kept.begin(), kept.end(), [&](const std::string& k) { return PathWithin(r, k); });
    if (!inside) kept.push_back(r);
  }
  return kept;
}

#ifdef _WIN32
std::vector<std::string> WholeDiskRoots() { return DirectoryChangesSource::LocalDrives(); }
#endif

}  // namespace vantrel
