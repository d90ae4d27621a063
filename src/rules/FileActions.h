#pragma once
// What a firing rule does to a file or a directory. Copies and moves never
// replace what is already there; every call reports whether it worked.
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

struct ActionResult {
  std::string target;  // the path the action wrote or removed
  bool ok = false;
  std::string error;  // the system's reason when it failed
};

// Called while a long enumeration runs, so that the program stays responsive.
using Pump = std::function<void()>;

bool ExistsAsFile(const std::string& path);
// Files (not directories) directly in the directory matching one of the
// "|"-separated wildcard patterns.
std::size_t CountMatchingFiles(const std::string& directory, std::string_view patterns, const Pump& pump = {});

// Into targetDir under the file's name, or a numbered name when it is taken:
// base(n).ext, n starting at the count of files matching "*" plus the
// monitored path's extension and going up until a name is free.
ActionResult CopyFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const Pump& pump = {});
ActionResult MoveFileAction(const std::string& path, const std::string& targetDir, const std::string& monitoredPath,
                            const Pump& pump = {});
// A file without any write permission bit is read-only and stays.
ActionResult DeleteFileAction(const std::string& path);

// Copies into targetDir/<name without its last dot-suffix>, merging into what
// is there and overwriting files of the same name; links are copied as links.
ActionResult CopyDirectoryAction(const std::string& path, const std::string& targetDir);
// Moves to targetDir/<last component>, never replacing anything.
ActionResult MoveDirectoryAction(const std::string& path, const std::string& targetDir);
// Removes the tree bottom-up without ever following a link out of it;
// read-only files are made writable first.
ActionResult DeleteDirectoryTree(const std::string& path);

}  // namespace vantrel
