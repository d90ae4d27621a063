#include "log/EventList.h"

#include "text/PathRoutines.h"

#include "text/TextRules.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace vantrel {
namespace {



std::size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

void CellIndex::Grow() {
  std::size_t size = rows_.empty() ? 1024 : rows_.size() * 2;
  std::vector<std::uint32_t> oldRows;
  oldRows.swap(rows_);
  rows_.assign(size, kEmpty);
  tags_.assign(size, 0);
  used_ = 0;
  // Rows in ascending order, so the first row of a text keeps its slot.
  std::vector<std::uint32_t> live;
  for (std::uint32_t r : oldRows)
    if (r != kEmpty) live.push_back(r);
  std::sort(live.begin(), live.end());
  for (std::uint32_t r : live) Insert(r, cellOf_(owner_, r));
}

void CellIndex::Insert(std::uint32_t row, std::string_view text) {
  if ((used_ + 1) * 2 > rows_.size()) Grow();
  std::size_t h = Hash(text);
  std::uint32_t tag = static_cast<std::uint32_t>(h >> 32);
  std::size_t mask = rows_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    if (rows_[i] == kEmpty) {
      rows_[i] = row;
      tags_[i] = tag;
      ++used_;
      return;
    }
    if (tags_[i] == tag && cellOf_(owner_, rows_[i]) == text) return;
  }
}

std::int64_t CellIndex::Find(std::string_view text) const {
  if (rows_.empty()) return -1;
  std::size_t h = Hash(text);
  std::uint32_t tag = static_cast<std::uint32_t>(h >> 32);
  std::size_t mask = rows_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    if (rows_[i] == kEmpty) return -1;
    if (tags_[i] == tag && cellOf_(owner_, rows_[i]) == text) return rows_[i];
  }
}

void CellIndex::Clear() {
  rows_.clear();
  tags_.clear();
  used_ = 0;
}

std::uint32_t EventList::Pool::Intern(std::string_view text, std::uint32_t row, bool foldCase) {
  auto [it, inserted] = ids.try_emplace(std::string(text), 0);
  if (inserted) {
    it->second = static_cast<std::uint32_t>(texts.size());
    texts.emplace_back(text);
    firstRow.push_back(row);
    if (foldCase) firstRowFolded.try_emplace(Fold(text), row);
  }
  return it->second;
}

std::int64_t EventList::Pool::Find(std::string_view text, bool foldCase) const {
  if (foldCase) {
    auto it = firstRowFolded.find(Fold(text));
    return it == firstRowFolded.end() ? std::int64_t{-1} : std::int64_t{it->second};
  }
  auto it = ids.find(std::string(text));
  return it == ids.end() ? std::int64_t{-1} : std::int64_t{firstRow[it->second]};
}

void EventList::Pool::Clear() {
  texts.clear();
  firstRow.clear();
  ids.clear();
  firstRowFolded.clear();
}

EventList::EventList() : names_(this, &EventList::NameOf), paths_(this, &EventList::PathOf) {}

std::string_view EventList::NameOf(const void* self, std::uint32_t row) {
  const auto* list = static_cast<const EventList*>(self);
  return list->NameText(list->rows_[row]);
}

std::string_view EventList::PathOf(const void* self, std::uint32_t row) {
  const auto* list = static_cast<const EventList*>(self);
  return list->PathText(list->rows_[row]);
}

std::uint64_t EventList::Store(std::string_view text, std::string_view after) {
  constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;
  const std::size_t size = text.size() + after.size();
  if (size == 0) return 0;
  std::uint64_t at = 0;
  if (size > kBlockSize / 4) {
    // A very long text gets a block of its own, so the shared blocks stay well used.
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    at = std::uint64_t{blocks_.size() - 1} << kBlockBits;
  } else {
    if (sharedBlock_ == SIZE_MAX || blockUsed_ + size > kBlockSize) {
      // Not cleared first: every byte is written before it is read.
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
      sharedBlock_ = blocks_.size() - 1;
      blockUsed_ = 0;
    }
    at = (std::uint64_t{sharedBlock_} << kBlockBits) | blockUsed_;
    blockUsed_ += size;
  }
  char* to = blocks_[at >> kBlockBits].get() + (at & (kBlockSize - 1));
  if (!text.empty()) std::memcpy(to, text.data(), text.size());
  if (!after.empty()) std::memcpy(to + text.size(), after.data(), after.size());
  return at;
}

std::string_view EventList::TypeOf(std::uint32_t row) const {
  const std::uint16_t type = rows_[row].type;
  return type == kOverflowType ? std::string_view(overflowTypes_.at(row)) : std::string_view(types_.texts[type]);
}

std::size_t EventList::Append(std::string_view time, std::string_view name, std::string_view type,
                              std::string_view path) {
  auto row = static_cast<std::uint32_t>(rows_.size());
  Row r{};
  // The name is most often the path's last part: then it is kept only once.
  const bool tail = name.size() < path.size() && path.ends_with(name) &&
                    (name.empty() || IsPathSeparator(path[path.size() - name.size() - 1]));
  const std::uint64_t at = tail ? Store(path) : Store(path, name);
  r.at = static_cast<std::uint32_t>(at);
  r.atHigh = static_cast<std::uint16_t>(at >> 32);
  r.pathLength = static_cast<std::uint32_t>(path.size());
  r.nameLength = static_cast<std::uint32_t>(name.size());
  r.nameAfterPath = !tail;
  r.time = times_.Intern(time, row, true);
  const std::uint32_t typeId = types_.Intern(type, row, false);
  r.type = typeId < kOverflowType ? static_cast<std::uint16_t>(typeId) : kOverflowType;
  if (r.type == kOverflowType) overflowTypes_.emplace(row, type);
  rows_.push_back(r);
  if (r.time != latestTime_) {
    // A table grown for a busy second is let go once seconds are quiet again.
    if (latest_.size() > 4096 && latestUsed_ * 8 < latest_.size()) std::vector<LatestSlot>().swap(latest_);
    NextLatestStamp();
    latestTime_ = r.time;
  }
  NoteLatest(path, row);
  if (namesIndexed_) names_.Insert(row, name);
  if (pathsIndexed_) paths_.Insert(row, path);
  return row;
}

bool EventList::LatestSecondRepeats(std::string_view time, std::string_view type, std::string_view path) const {
  if (latestTime_ == UINT32_MAX || !EqualsIgnoreCase(times_.texts[latestTime_], time)) return false;
  const LatestSlot* slot = FindLatest(path);
  return slot && TypeOf(slot->row) == type;
}

// A stamp used again after it wrapped would make old slots look current:
// the table is emptied first.
void EventList::NextLatestStamp() {
  if (++latestStamp_ == 0) {
    std::fill(latest_.begin(), latest_.end(), LatestSlot{0, 0, 0});
    latestStamp_ = 1;
  }
  latestUsed_ = 0;
}

void EventList::NoteLatest(std::string_view path, std::uint32_t row) {
  if ((latestUsed_ + 1) * 2 > latest_.size()) {
    std::vector<LatestSlot> old;
    old.swap(latest_);
    latest_.assign(std::max<std::size_t>(1024, old.size() * 2), LatestSlot{0, 0, 0});
    latestUsed_ = 0;
    for (const LatestSlot& s : old)
      if (s.stamp == latestStamp_) NoteLatest(PathOf(this, s.row), s.row);
  }
  const std::size_t hash = Hash(path), mask = latest_.size() - 1;
  const auto tag = static_cast<std::uint16_t>(hash >> 48);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    LatestSlot& s = latest_[i];
    if (s.stamp != latestStamp_) {
      s = {row, latestStamp_, tag};
      ++latestUsed_;
      return;
    }
    if (s.tag == tag && PathOf(this, s.row) == path) {
      s.row = row;
      return;
    }
  }
}

const EventList::LatestSlot* EventList::FindLatest(std::string_view path) const {
  if (latest_.empty()) return nullptr;
  const std::size_t hash = Hash(path), mask = latest_.size() - 1;
  const auto tag = static_cast<std::uint16_t>(hash >> 48);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const LatestSlot& s = latest_[i];
    if (s.stamp != latestStamp_) return nullptr;
    if (s.tag == tag && PathOf(this, s.row) == path) return &s;
  }
}

std::string_view EventList::Cell(std::size_t row, int column) const {
  const Row& r = rows_[row];
  switch (column) {
    case 0:
      return times_.texts[r.time];
    case 1:
      return NameText(r);
    case 2:
      return TypeOf(static_cast<std::uint32_t>(row));
    default:
      return PathText(r);
  }
}

std::int64_t EventList::FindRowByCell(std::string_view text, int column) const {
  switch (column) {
    case 0:
      return times_.Find(text, true);
    case 1:
      if (!namesIndexed_) {
        for (std::uint32_t row = 0; row < rows_.size(); ++row) names_.Insert(row, NameOf(this, row));
        namesIndexed_ = true;
      }
      return names_.Find(text);
    case 2:
      return types_.Find(text, false);
    case 3:
      if (!pathsIndexed_) {
        for (std::uint32_t row = 0; row < rows_.size(); ++row) paths_.Insert(row, PathOf(this, row));
        pathsIndexed_ = true;
      }
      return paths_.Find(text);
    default:
      return -1;
  }
}

void EventList::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  blocks_.clear();
  sharedBlock_ = SIZE_MAX;
  blockUsed_ = 0;
  overflowTypes_.clear();
  times_.Clear();
  types_.Clear();
  names_.Clear();
  paths_.Clear();
  namesIndexed_ = pathsIndexed_ = false;
  NextLatestStamp();
  latestTime_ = UINT32_MAX;
}

}  // namespace vantrel
