#include "monitor/WatchRoots.h"

#include "text/PathRoutines.h"

#include <algorithm>
#include <optional>

namespace vantrel {

std::vector<std::string> CustomPathRoots(const std::vector<std::string>& rulePaths, std::string_view skip,
                                         const std::function<std::vector<std::string>()>& wholeDiskRoots,
                                         std::vector<std::string>* waiting) {
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
    if (folder.size() > root) {
      roots.push_back(std::move(folder));
    } else if (root == 1) {
      // "/" stands for the whole disk, watched as whole-disk mode watches it.
      whole = true;
    } else if (answerable(folder) && IsDirectoryPath(folder)) {
      // A drive's or share's root covers the rule on its own.
      roots.push_back(std::move(folder));
    } else if (waiting) {
      // A drive or share that is not there: the rule waits for it (the
      // source tells when a drive comes). The whole disk instead would
      // watch every other drive for a rule that can match on none of them.
      waiting->push_back(path);
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
  // Spelled in two cases ("C:\\CF\\A", "c:\\cf\\a"), a folder on Windows is
  // still one: watched twice, every change in it would be listed twice.
  auto byKey = [](const std::string& a, const std::string& b) { return PathKey(a) < PathKey(b); };
  auto sameKey = [](const std::string& a, const std::string& b) { return PathKey(a) == PathKey(b); };
  std::stable_sort(roots.begin(), roots.end(), byKey);
  roots.erase(std::unique(roots.begin(), roots.end(), sameKey), roots.end());
  std::vector<std::string> kept;
  for (const std::string& r : roots) {
    if (!IsAbsolutePath(r)) continue;
    bool inside = std::any_of(kept.begin(), kept.end(), [&](const std::string& k) { return PathWithin(r, k); });
    if (!inside) kept.push_back(r);
  }
  return kept;
}

}  // namespace vantrel
