#pragma once
// Catching up on what changed in the rules' folders while the program was
// not running: what it saw last is kept in the home (seen.txt, one line an
// item: its path, identity, size and time), and compared at start with what
// is there now.
#include "monitor/EventKind.h"
#include "platform/StoredFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct SeenItem {
  std::string path;
  bool folder = false;
  platform::FileStamp stamp;
};
struct SeenRecord {
  std::int64_t savedMs = 0;  // when it was taken, since the Unix epoch
  std::vector<SeenItem> items;  // sorted by path
  bool complete = true;  // false: the bound was reached, the rest unseen
};

// The folders' items, below them all, links never followed; at most limit.
SeenRecord LookAt(const std::vector<std::string>& folders, std::size_t limit);
bool SaveSeen(const std::string& file, const SeenRecord& record);
std::optional<SeenRecord> LoadSeen(const std::string& file);

struct MissedChange {
  EventKind kind = EventKind::None;
  std::string path, newPath;  // newPath: a rename's new place
};
// What happened between the two looks, as the change source would have told
// it: an item kept by its identity under another name is a rename, one with
// new bytes an update.
std::vector<MissedChange> Compare(const SeenRecord& before, const SeenRecord& now);

}  // namespace vantrel
