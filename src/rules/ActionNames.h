#pragma once
// The names a copy or move takes in its target folder, the same on every
// system: the file's own name, else base(n).ext with n from a count of the
// folder's files and going up until a name is free.
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

struct ActionNames {
  std::string file, base, extension;
};
ActionNames SplitActionName(const std::string& path);

// The wildcard pattern whose count starts the numbering: "*" and the
// monitored path's extension, so a rule on *.log numbers by the .log files.
std::string NumberingPattern(const std::string& monitoredPath);

struct PlacedName {
  std::string name;
  int error = 0;
};

// Gives the file its own name or, when that is taken, the first free
// numbered one. place(name) answers 0, EEXIST (taken) or another error;
// count(pattern) the files matching it in the target folder.
template <typename Place, typename Count>
PlacedName PlaceNumbered(const ActionNames& names, const std::string& monitoredPath, Place place, Count count) {
  PlacedName placed{names.file, place(names.file.c_str())};
  if (placed.error != EEXIST) return placed;
  std::size_t n = count(NumberingPattern(monitoredPath));
  // A folder full of numbered names is not searched for ever.
  for (std::size_t tries = 0; tries < (std::size_t{1} << 20); ++tries, ++n) {
    placed.name = names.base + "(" + std::to_string(n) + ")" + names.extension;
    placed.error = place(placed.name.c_str());
    if (placed.error != EEXIST) return placed;
  }
  return placed;
}

}  // namespace vantrel
