#include "engine/CatchUp.h"

#include "platform/Utf8Path.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/RecordFields.h"
#include "time/Clock.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <unordered_map>
#include <system_error>

namespace vantrel {
namespace {

using Identity = std::pair<std::uint64_t, std::uint64_t>;
Identity IdOf(const SeenItem& item) { return {item.stamp.volume, item.stamp.id}; }

}  // namespace

SeenRecord LookAt(const std::vector<std::string>& folders, std::size_t limit) {
  SeenRecord record;
  record.savedMs = UnixMilliseconds();
  for (const std::string& folder : folders) {
    platform::WalkStamps(folder, [&](const std::string& path, bool isFolder, const platform::FileStamp& stamp) {
      if (record.items.size() >= limit) {
        record.complete = false;
        return false;
      }
      record.items.push_back({path, isFolder, stamp});
      return true;
    });
  }
  std::sort(record.items.begin(), record.items.end(), [](const SeenItem& a, const SeenItem& b) { return a.path < b.path; });
  record.items.erase(std::unique(record.items.begin(), record.items.end(),
                                 [](const SeenItem& a, const SeenItem& b) { return a.path == b.path; }),
                     record.items.end());
  return record;
}

bool SaveSeen(const std::string& file, const SeenRecord& record) {
  std::string text = "seen\t" + std::to_string(record.savedMs) + "\t" + (record.complete ? "1" : "0") + "\n";
  for (const SeenItem& item : record.items)
    text += EscapeField(item.path) + "\t" + (item.folder ? "d" : "f") + "\t" + std::to_string(item.stamp.volume) + "\t" +
            std::to_string(item.stamp.id) + "\t" + std::to_string(item.stamp.size) + "\t" +
            std::to_string(item.stamp.writtenNs) + "\n";
  return WriteFileAtomically(file, text);
}

std::optional<SeenRecord> LoadSeen(const std::string& file) {
  std::string bytes;
  if (!ReadWholeFile(file, bytes, std::size_t(512) << 20)) return std::nullopt;
  SeenRecord record;
  std::size_t at = 0;
  bool first = true;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const std::string_view line = std::string_view(bytes).substr(at, end - at);
    at = end + 1;
    const std::vector<std::string_view> f = SplitFields(line);
    if (first) {
      first = false;
      const std::optional<std::int64_t> saved = f.size() == 3 ? FieldNumber(f[1]) : std::nullopt;
      if (!saved || f[0] != "seen") return std::nullopt;
      record.savedMs = *saved;
      record.complete = f[2] == "1";
      continue;
    }
    if (f.size() != 6) continue;
    const auto volume = FieldNumber(f[2]), id = FieldNumber(f[3]), size = FieldNumber(f[4]),
               written = FieldNumber(f[5]);
    // A damaged line tells nothing.
    if (!volume || !id || !size || !written) continue;
    record.items.push_back({UnescapeField(f[0]), f[1] == "d",
                            {static_cast<std::uint64_t>(*volume), static_cast<std::uint64_t>(*id),
                             static_cast<std::uint64_t>(*size), *written, 0}});
  }
  if (first) return std::nullopt;
  return record;
}

std::vector<MissedChange> Compare(const SeenRecord& beforeRecord, const SeenRecord& nowRecord) {
  // Both in path order, walked side by side; a record read from a file is
  // put in order should it not be.
  auto inOrder = [](const SeenRecord& r, std::vector<SeenItem>& copy) -> const std::vector<SeenItem>& {
    auto byPath = [](const SeenItem& a, const SeenItem& b) { return a.path < b.path; };
    if (std::is_sorted(r.items.begin(), r.items.end(), byPath)) return r.items;
    copy = r.items;
    std::stable_sort(copy.begin(), copy.end(), byPath);
    return copy;
  };
  std::vector<SeenItem> beforeCopy, nowCopy;
  const std::vector<SeenItem>& before = inOrder(beforeRecord, beforeCopy);
  const std::vector<SeenItem>& now = inOrder(nowRecord, nowCopy);
  // Each item of now with its namesake before, if any; what went, in order.
  std::vector<std::pair<const SeenItem*, const SeenItem*>> nowWithBefore;
  std::vector<const SeenItem*> gone;
  nowWithBefore.reserve(now.size());
  std::size_t b = 0;
  for (const SeenItem& item : now) {
    while (b < before.size() && before[b].path < item.path) gone.push_back(&before[b++]);
    if (b < before.size() && before[b].path == item.path) {
      nowWithBefore.emplace_back(&item, &before[b++]);
    } else {
      nowWithBefore.emplace_back(&item, nullptr);
    }
  }
  while (b < before.size()) gone.push_back(&before[b++]);
  // Renames pair what went with what came by identity: only those two
  // lists are looked through.
  struct IdHash {
    std::size_t operator()(const Identity& id) const { return std::hash<std::uint64_t>{}(id.first * 0x9E3779B97F4A7C15ull ^ id.second); }
  };
  std::unordered_map<Identity, const SeenItem*, IdHash> goneById, cameById;
  for (const SeenItem* item : gone) goneById[IdOf(*item)] = item;
  for (const auto& [item, was] : nowWithBefore)
    if (!was) cameById[IdOf(*item)] = item;

  std::vector<MissedChange> changes;
  auto kindOf = [](bool folder, EventKind file, EventKind dir) { return folder ? dir : file; };
  for (const SeenItem* old : gone) {
    const auto moved = cameById.find(IdOf(*old));
    if (moved != cameById.end()) {
      changes.push_back({kindOf(old->folder, EventKind::FileRenamed, EventKind::FolderRenamed), old->path,
                         moved->second->path});
    } else {
      changes.push_back({kindOf(old->folder, EventKind::FileDeleted, EventKind::FolderDeleted), old->path, {}});
    }
  }
  for (const auto& [item, was] : nowWithBefore) {
    if (!was) {
      const auto moved = goneById.find(IdOf(*item));
      // The other end of a rename told above.
      if (moved != goneById.end()) {
        if (!item->folder && !moved->second->stamp.SameContent(item->stamp))
          changes.push_back({EventKind::FileUpdated, item->path, {}});
        continue;
      }
      changes.push_back({kindOf(item->folder, EventKind::FileCreated, EventKind::FolderCreated), item->path, {}});
    } else if (!item->folder && !was->folder) {
      if (!was->stamp.SameFile(item->stamp)) {
        changes.push_back({EventKind::FileCreated, item->path, {}});
      } else if (!was->stamp.SameContent(item->stamp)) {
        changes.push_back({EventKind::FileUpdated, item->path, {}});
      }
    }
  }
  return changes;
}

}  // namespace vantrel
