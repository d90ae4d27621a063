#pragma once
// One change as a kernel interface tells it, before any holding back of
// writes: what the fanotify reader produces, in this process or in the
// watch helper, and what the inotify source produces from its own events.
#include <cstdint>
#include <string_view>

namespace vantrel {

struct RawChange {
  enum Kind : std::uint8_t {
    Create,
    Modify,
    CloseWrite,
    Attrib,
    Delete,
    Rename,
    // Came into sight whole (moved in from where it was not seen): a new
    // item at once, with no writes to wait for.
    Appear,
    DriveAdded,
    DriveRemoved,
    kKinds
  };
  Kind kind = Create;
  bool isDir = false;
  std::int32_t pid = 0;
  std::string_view path;
  // The new path of a rename.
  std::string_view newPath;
  // Keys of the folders holding path and newPath, where the source knows
  // them (fanotify's directory handles); they stay valid during the call.
  std::string_view folder;
  std::string_view newFolder;
};

// A change as the per-folder sources make one: no process, no folder keys.
inline RawChange Raw(RawChange::Kind kind, bool isDir, std::string_view path, std::string_view newPath = {}) {
  RawChange c;
  c.kind = kind;
  c.isDir = isDir;
  c.path = path;
  c.newPath = newPath;
  return c;
}

}  // namespace vantrel
