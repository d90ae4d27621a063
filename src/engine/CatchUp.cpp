#include "engine/CatchUp.h"

#include "platform/Utf8Path.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/RecordFields.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>

namespace vantrel {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

using Identity = std::pair<std::uint64_t, std::uint64_t>;
Identity IdOf(const SeenItem& item) { return {item.stamp.volume, item.stamp.id}; }

}  // namespace

SeenRecord LookAt(const std::vector<std::string>& folders, std::size_t limit) {
  SeenRecord record;
  record.savedMs = NowMs();
  for (const std::string& folder : folders) {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             PathFromUtf8(folder), std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (record.items.size() >= limit) {
        record.complete = false;
        break;
      }
      const std::string path = Utf8FromPath(it->path());
      std::optional<platform::FileStamp> stamp = platform::StampOf(path);
      if (!stamp) continue;
      const bool folderItem = it->is_directory(error) && !it->is_symlink(error);
      record.items.push_back({path, folderItem, *stamp});
    }
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

std::vector<MissedChange> Compare(const SeenRecord& before, const SeenRecord& now) {
  std::map<std::string, const SeenItem*> beforeByPath, nowByPath;
  std::map<Identity, const SeenItem*> beforeById, nowById;
  for (const SeenItem& i : before.items) {
    beforeByPath[i.path] = &i;
    beforeById[IdOf(i)] = &i;
  }
  for (const SeenItem& i : now.items) {
    nowByPath[i.path] = &i;
    nowById[IdOf(i)] = &i;
  }
  std::vector<MissedChange> changes;
  auto kindOf = [](bool folder, EventKind file, EventKind dir) { return folder ? dir : file; };
  for (const SeenItem& old : before.items) {
    if (nowByPath.count(old.path)) continue;
    const auto moved = nowById.find(IdOf(old));
    if (moved != nowById.end() && !beforeByPath.count(moved->second->path)) {
      changes.push_back({kindOf(old.folder, EventKind::FileRenamed, EventKind::FolderRenamed), old.path,
                         moved->second->path});
    } else {
      changes.push_back({kindOf(old.folder, EventKind::FileDeleted, EventKind::FolderDeleted), old.path, {}});
    }
  }
  for (const SeenItem& item : now.items) {
    const auto was = beforeByPath.find(item.path);
    if (was == beforeByPath.end()) {
      const auto moved = beforeById.find(IdOf(item));
      // The other end of a rename told above.
      if (moved != beforeById.end() && !nowByPath.count(moved->second->path)) {
        if (!item.folder && !moved->second->stamp.SameContent(item.stamp))
          changes.push_back({EventKind::FileUpdated, item.path, {}});
        continue;
      }
      changes.push_back({kindOf(item.folder, EventKind::FileCreated, EventKind::FolderCreated), item.path, {}});
    } else if (!item.folder && !was->second->folder) {
      if (!was->second->stamp.SameFile(item.stamp)) {
        changes.push_back({EventKind::FileCreated, item.path, {}});
      } else if (!was->second->stamp.SameContent(item.stamp)) {
        changes.push_back({EventKind::FileUpdated, item.path, {}});
      }
    }
  }
  return changes;
}

}  // namespace vantrel
