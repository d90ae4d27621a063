#include "rules/ActionNames.h"

#include "rules/FileActions.h"
#include "text/PathRoutines.h"

namespace vantrel {

ActionNames SplitActionName(const std::string& path) {
  ActionNames n;
  n.file = PathFileName(path, true);
  n.extension = PathExtension(n.file);
  n.base = n.file.substr(0, n.file.size() - n.extension.size());
  return n;
}

std::string NumberingPattern(const std::string& monitoredPath) {
  return "*" + PathExtension(PathFileName(monitoredPath, true));
}

std::string DirectoryCopyName(const std::string& path) {
  std::string name = PathFileName(path, false);
  return name.empty() ? PathFileName(path, true) : name;
}

}  // namespace vantrel
