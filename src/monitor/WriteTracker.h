#pragma once
// Holds back what a writer is still doing to a file. A new file is reported
// once its creator has closed it, after a second without writes, or at the
// latest five seconds after it appeared, so that rules acting on new files
// see their content; nothing later about the same path goes out before that
// report. Content changes of existing files are reported once per burst of
// writes, when the writer closes the file or after a second of quiet.
#include "monitor/ShellEvents.h"
#include "time/Timing.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

class WriteTracker {
 public:
  explicit WriteTracker(std::vector<ChangeNotification>& out) : out_(out) {}

  void Created(std::string_view path, std::int64_t now, std::int32_t pid);
  void Written(std::string_view path, std::int64_t now, std::int32_t pid);
  void Closed(std::string_view path, std::int32_t pid);
  void AttributesChanged(std::string_view path, std::int32_t pid);
  // Reports what is held for the path now, before a deletion or rename of it.
  // A creation held for a path that is removed as a folder was a folder's
  // whose kind could not be seen when it came (it was gone already).
  void Settle(std::string_view path, bool removedAsFolder = false);
  // A directory moved: what is held inside it continues under the new name.
  void MoveTree(std::string_view oldDir, std::string_view newDir);
  void Expire(std::int64_t now);
  void SettleAll();

  // Drops timers of entries already reported, so they cause no wake-ups.
  std::optional<std::int64_t> NextDeadline();

 private:
  enum class Kind { Create, Update };
  struct Entry {
    Kind kind;
    std::int64_t appeared;
    std::int64_t lastWrite;
    std::int32_t pid;
    std::uint32_t slot;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, Entry, Hash, std::equal_to<>>;
  struct Slot {
    std::uint32_t gen = 0;
    Map::value_type* item = nullptr;
  };
  struct Timer {
    std::int64_t deadline;
    std::uint32_t slot;
    std::uint32_t gen;
    bool operator>(const Timer& o) const { return deadline > o.deadline; }
  };

  static std::int64_t Deadline(const Entry& e);
  void Hold(std::string_view path, Kind kind, std::int64_t now, std::int32_t pid);
  void Report(Map::iterator it, bool asFolder = false);
  // Validity of a timer: the live item it refers to, or null.
  Map::value_type* Live(const Timer& t) const;

  std::vector<ChangeNotification>& out_;
  Map entries_;
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> freeSlots_;
  // First deadlines arrive in time order, so a queue serves most entries;
  // entries still being written come back through the heap.
  std::deque<Timer> first_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> later_;
};

}  // namespace vantrel
