#include "monitor/WatchRoots.h"

#include "text/PathRoutines.h"

#include <algorithm>
#include <optional>

namespace vantrel {

std::vector<std::string> CustomPathRoots(const std::vector<std::string>& rulePaths, std::string_view skip,
                                         const std::function<std::vector<std::string>()>& wholeDiskRoots) {
  std::vector<std::string> roots;
  bool whole = false;
  // A folder on a mount whose server may not answer is taken as named:
  // asking whether it exists could hold this thread up for good.
  const std::function<bool(const std::string&)> answerable = FolderAnswerable();
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

}  // namespace vantrel
