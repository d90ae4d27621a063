#include "monitor/WriteTracker.h"

#include "text/PathRoutines.h"
#include "time/Timing.h"

#include <algorithm>

namespace vantrel {

std::int64_t WriteTracker::Deadline(const Entry& e) {
  std::int64_t quiet = e.lastWrite + timing::kWriteQuiet.count();
  return e.kind == Kind::Create ? std::min(quiet, e.appeared + timing::kCreateHoldLimit.count()) : quiet;
}

void WriteTracker::Hold(std::string_view path, Kind kind, std::int64_t now, std::int32_t pid) {
  std::uint32_t slot;
  if (!freeSlots_.empty()) {
    slot = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  auto [it, inserted] = entries_.emplace(std::string(path), Entry{kind, now, now, pid, slot});
  slots_[slot].item = &*it;
  Timer timer{Deadline(it->second), slot, slots_[slot].gen};
  if (first_.empty() || first_.back().deadline <= timer.deadline) {
    first_.push_back(timer);
  } else {
    later_.push(timer);
  }
}

void WriteTracker::Report(Map::iterator it, bool asFolder) {
  ChangeNotification n;
  n.code = it->second.kind == Kind::Create ? (asFolder ? SHCNE_MKDIR : SHCNE_CREATE) : SHCNE_UPDATEITEM;
  n.pid = it->second.pid;
  Slot& slot = slots_[it->second.slot];
  ++slot.gen;
  slot.item = nullptr;
  freeSlots_.push_back(it->second.slot);
  n.item1 = std::move(entries_.extract(it).key());
  out_.push_back(std::move(n));
}

void WriteTracker::Created(std::string_view path, std::int64_t now, std::int32_t pid) {
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    Hold(path, Kind::Create, now, pid);
    return;
  }
  // Recreated while an update was held: the update belongs to the old file.
  if (it->second.kind == Kind::Update) {
    Report(it);
    Hold(path, Kind::Create, now, pid);
  }
}

void WriteTracker::Written(std::string_view path, std::int64_t now, std::int32_t pid) {
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    Hold(path, Kind::Update, now, pid);
  } else {
    it->second.lastWrite = now;
  }
}

void WriteTracker::Closed(std::string_view path, std::int32_t pid) {
  auto it = entries_.find(path);
  if (it == entries_.end()) return;
  if (pid != 0) it->second.pid = pid;
  Report(it);
}

void WriteTracker::AttributesChanged(std::string_view path, std::int32_t pid) {
  // Attributes set while a file is being created are part of its creation.
  if (entries_.find(path) != entries_.end()) return;
  ChangeNotification n;
  n.code = SHCNE_ATTRIBUTES;
  n.item1 = std::string(path);
  n.pid = pid;
  out_.push_back(std::move(n));
}

void WriteTracker::Settle(std::string_view path, bool removedAsFolder) {
  auto it = entries_.find(path);
  if (it != entries_.end()) Report(it, removedAsFolder);
}

void WriteTracker::SettleAll() {
  // Oldest first, so the reports keep the order in which the files appeared.
  std::vector<std::pair<std::int64_t, std::string>> held;
  for (auto& [path, e] : entries_) held.emplace_back(e.appeared, path);
  std::stable_sort(held.begin(), held.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [t, path] : held) Settle(path);
}

void WriteTracker::MoveTree(std::string_view oldDir, std::string_view newDir) {
  if (entries_.empty()) return;
  std::vector<std::string> moved;
  for (auto& [path, e] : entries_)
    if (path.size() > oldDir.size() && IsPathSeparator(path[oldDir.size()]) && path.compare(0, oldDir.size(), oldDir) == 0)
      moved.push_back(path);
  for (const std::string& path : moved) {
    auto node = entries_.extract(path);
    node.key() = std::string(newDir) + path.substr(oldDir.size());
    auto result = entries_.insert(std::move(node));
    slots_[result.position->second.slot].item = &*result.position;
  }
}

WriteTracker::Map::value_type* WriteTracker::Live(const Timer& t) const {
  const Slot& slot = slots_[t.slot];
  return slot.gen == t.gen ? slot.item : nullptr;
}

void WriteTracker::Expire(std::int64_t now) {
  auto handle = [&](const Timer& t) {
    Map::value_type* item = Live(t);
    if (!item) return;
    std::int64_t due = Deadline(item->second);
    if (due > now) {
      later_.push(Timer{due, t.slot, t.gen});
    } else {
      Report(entries_.find(item->first));
    }
  };
  // Both queues in deadline order, so reports go out in the order they fell due.
  for (;;) {
    bool fromFirst = !first_.empty() && first_.front().deadline <= now;
    bool fromLater = !later_.empty() && later_.top().deadline <= now;
    if (fromFirst && fromLater) fromFirst = first_.front().deadline <= later_.top().deadline;
    if (!fromFirst && !fromLater) break;
    Timer t = fromFirst ? first_.front() : later_.top();
    if (fromFirst) {
      first_.pop_front();
    } else {
      later_.pop();
    }
    handle(t);
  }
}

std::optional<std::int64_t> WriteTracker::NextDeadline() {
  while (!first_.empty() && !Live(first_.front())) first_.pop_front();
  while (!later_.empty() && !Live(later_.top())) later_.pop();
  std::optional<std::int64_t> next;
  if (!first_.empty()) next = first_.front().deadline;
  if (!later_.empty() && (!next || later_.top().deadline < *next)) next = later_.top().deadline;
  return next;
}

}  // namespace vantrel
