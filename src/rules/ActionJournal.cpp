#include "rules/ActionJournal.h"

#include "platform/LogFile.h"
#include "platform/Utf8Path.h"
#include "rules/Files.h"
#include "rules/Trash.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/RecordFields.h"
#include "time/Clock.h"
#include "text/TextRules.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace vantrel {
namespace {

constexpr const char* kOperationKeys[] = {"none", "copy", "move", "delete", "run"};

std::string RotatedPath(const std::string& path) { return path + ".1"; }

std::string StampFields(const platform::FileStamp& s) {
  return std::to_string(s.volume) + "\t" + std::to_string(s.id) + "\t" + std::to_string(s.size) + "\t" +
         std::to_string(s.writtenNs) + "\t" + std::to_string(s.changedNs);
}

// Five fields from f[at] on.
std::optional<platform::FileStamp> ParseStamp(const std::vector<std::string_view>& f, std::size_t at) {
  if (f.size() < at + 5) return std::nullopt;
  const auto volume = FieldNumber(f[at]), id = FieldNumber(f[at + 1]), size = FieldNumber(f[at + 2]),
             written = FieldNumber(f[at + 3]), changed = FieldNumber(f[at + 4]);
  if (!volume || !id || !size || !written || !changed) return std::nullopt;
  return platform::FileStamp{static_cast<std::uint64_t>(*volume), static_cast<std::uint64_t>(*id),
                             static_cast<std::uint64_t>(*size), *written, *changed};
}

// The records of one file, applied in order to the entries by number.
void Read(const std::string& path, std::map<std::uint64_t, JournalEntry>& entries) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, std::size_t(64) << 20)) return;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t end = bytes.find('\n', at);
    // A line without its end is one a kill cut short.
    if (end == std::string::npos) break;
    const std::vector<std::string_view> f = SplitFields(std::string_view(bytes).substr(at, end - at));
    at = end + 1;
    if (f.size() < 2) continue;
    const std::optional<std::int64_t> seq = FieldNumber(f[1]);
    if (!seq || *seq < 0) continue;
    const auto key = static_cast<std::uint64_t>(*seq);
    if (f[0] == "B" && f.size() == 7) {
      JournalEntry e;
      e.seq = key;
      e.beganMs = FieldNumber(f[2]).value_or(0);
      for (int op = 0; op < 5; ++op)
        if (f[3] == kOperationKeys[op]) e.operation = static_cast<Operation>(op);
      e.folder = f[4] == "1";
      e.source = UnescapeField(f[5]);
      e.target = UnescapeField(f[6]);
      entries[key] = std::move(e);
      continue;
    }
    const auto it = entries.find(key);
    if (it == entries.end()) continue;
    JournalEntry& e = it->second;
    if (f[0] == "E" && f.size() == 9) {
      e.state = f[2] == "1" ? JournalEntry::State::Done : JournalEntry::State::NotDone;
      if (!f[3].empty()) e.target = UnescapeField(f[3]);
      e.result = ParseStamp(f, 4);
    } else if (f[0] == "I" && f.size() == 9) {
      // An item comes before its action's end, which it belongs to.
      if (auto stamp = ParseStamp(f, 4)) e.items.push_back({UnescapeField(f[3]), f[2] == "1", *stamp});
    } else if (f[0] == "U") {
      if (e.state == JournalEntry::State::Begun) e.state = JournalEntry::State::Unfinished;
    } else if (f[0] == "T") {
      e.state = JournalEntry::State::TakenBack;
      if (f.size() > 2) e.takenBackMs = FieldNumber(f[2]).value_or(0);
    }
  }
}

}  // namespace

ActionJournal::ActionJournal(std::string path, std::size_t limitBytes) : path_(std::move(path)), limit_(limitBytes) {}

void ActionJournal::KnowNextSeq(const std::vector<JournalEntry>& entries) {
  std::lock_guard lock(mutex_);
  if (seqKnown_) return;
  for (const JournalEntry& e : entries) nextSeq_ = std::max(nextSeq_, e.seq + 1);
  seqKnown_ = true;
}

ActionJournal::~ActionJournal() { Flush(); }

void ActionJournal::Flush() const {
  std::lock_guard lock(mutex_);
  if (!pending_.empty()) AppendLocked({});
}

std::vector<JournalEntry> ActionJournal::Entries() const {
  std::lock_guard lock(mutex_);
  // Read as it stands, ends still held back included.
  if (!pending_.empty()) AppendLocked({});
  std::map<std::uint64_t, JournalEntry> entries;
  Read(RotatedPath(path_), entries);
  Read(path_, entries);
  std::vector<JournalEntry> out;
  out.reserve(entries.size());
  for (auto& [seq, entry] : entries) out.push_back(std::move(entry));
  return out;
}

std::vector<JournalEntry> ActionJournal::Recover() {
  std::vector<JournalEntry> unfinished, entries = Entries();
  // The start reads the journal once, for both.
  KnowNextSeq(entries);
  for (JournalEntry& e : entries) {
    if (e.state != JournalEntry::State::Begun) continue;
    Append("U\t" + std::to_string(e.seq) + "\n");
    e.state = JournalEntry::State::Unfinished;
    unfinished.push_back(std::move(e));
  }
  return unfinished;
}

std::uint64_t ActionJournal::Begin(Operation operation, bool folder, const std::string& source,
                                   const std::string& targetFolder) {
  const std::int64_t ms = UnixMilliseconds();
  bool known;
  {
    std::lock_guard lock(mutex_);
    known = seqKnown_;
  }
  if (!known) KnowNextSeq(Entries());
  std::uint64_t seq;
  {
    std::lock_guard lock(mutex_);
    seq = nextSeq_++;
  }
  Append("B\t" + std::to_string(seq) + "\t" + std::to_string(ms) + "\t" +
         kOperationKeys[static_cast<int>(operation)] + "\t" + (folder ? "1" : "0") + "\t" + EscapeField(source) + "\t" +
         EscapeField(targetFolder) + "\n");
  return seq;
}

void ActionJournal::End(std::uint64_t seq, bool done, const std::string& target,
                        const std::optional<platform::FileStamp>& result, const std::vector<JournalItem>& items) {
  const std::string number = std::to_string(seq);
  // Items first, in one write with the end: the end stands for them all.
  std::string lines;
  for (const JournalItem& item : items)
    lines += "I\t" + number + "\t" + (item.folder ? "1" : "0") + "\t" + EscapeField(item.path) + "\t" +
             StampFields(item.stamp) + "\n";
  lines += "E\t" + number + "\t" + (done ? "1" : "0") + "\t" + EscapeField(target) + "\t" +
           (result ? StampFields(*result) : std::string("-\t-\t-\t-\t-")) + "\n";
  // Written with the next record, or once the actions pause: a burst costs
  // one write an action. A kill in between shows the action unfinished,
  // never done when it was not.
  std::lock_guard lock(mutex_);
  pending_ += lines;
}

// When, so that catching up at the next start leaves alone what the user
// took back meanwhile.
void ActionJournal::TakenBack(std::uint64_t seq) {
  Append("T\t" + std::to_string(seq) + "\t" + std::to_string(UnixMilliseconds()) + "\n");
}

void ActionJournal::Append(const std::string& line) {
  std::lock_guard lock(mutex_);
  AppendLocked(line);
}

void ActionJournal::AppendLocked(const std::string& more) const {
  std::string taken;
  taken.swap(pending_);
  const std::string& line = taken.empty() ? more : (taken += more);
  // Kept open: a record costs one write. Another process on the same home
  // (an --undo run) only ever appends whole lines beside it.
  if (!file_.IsOpen()) {
    if (file_.Open(path_)) return;
    std::error_code error;
    size_ = std::filesystem::file_size(PathFromUtf8(path_), error);
    if (error) size_ = 0;
    // A line a kill cut short ends where this one would begin: it is ended
    // first, so that it spoils only itself.
    if (size_ > 0) {
      std::ifstream in(PathFromUtf8(path_), std::ios::binary);
      in.seekg(-1, std::ios::end);
      if (in.get() != '\n' && !file_.Append("\n")) ++size_;
    }
  }
  if (size_ + line.size() > limit_ && size_ > 0) {
    // The one before is kept: what was just done can still be taken back.
    file_.Close();
    std::error_code error;
    std::filesystem::rename(PathFromUtf8(path_), PathFromUtf8(RotatedPath(path_)), error);
    size_ = 0;
    if (file_.Open(path_)) return;
  }
  if (!file_.Append(line)) size_ += line.size();
}

namespace {

// A deletion that went to the trash goes back from there.
TakeBackResult TakeBackDeletion(const JournalEntry& entry, const ActionChanges& changes) {
  if (!entry.result || entry.target.empty() || entry.target == entry.source)
    return {false, "无法撤销删除: " + entry.source + " (已永久删除, 或在回收站中, 请从回收站还原)"};
  files::Item item;
  if (files::Error e = files::OpenItem(entry.target, item))
    return {false, "未撤销删除: " + entry.source + " (回收站中的 " + entry.target + ": " + e.Text() + ")"};
  const bool same = entry.folder ? item.info.kind == files::Kind::Folder && item.info.stamp.SameFile(*entry.result)
                                 : item.info.kind == files::Kind::File && item.info.stamp.SameContent(*entry.result);
  if (!same) return {false, "未撤销删除: " + entry.source + " (回收站中的项目已不是删除时的那个)"};
  item = {};
  if (files::Error e = RestoreFromTrash(entry.target, entry.source)) {
    if (e.code == EEXIST) return {false, "未撤销删除: 原位置 " + entry.source + " 已被占用"};
    return {false, "未撤销删除: " + entry.source + " (" + e.Text() + ")"};
  }
  if (changes) changes({ActionChange::Renamed, entry.target, entry.source, entry.result});
  return {true, "已撤销删除: " + entry.source + " 已从回收站还原"};
}

// Why an item stays: its place taken, or changed since.
std::string WhyLeft(const std::string& path, const files::Error& e, const std::string& place) {
  if (e.code == EEXIST) return path + " (原位置 " + place + " 已被占用)";
  if (e.code == ENOTEMPTY) return path + " (文件夹中有新的内容)";
  return path + " (" + e.Text() + ")";
}

// A folder's copy or its move across file systems, item by item: a copy's
// files and folders go while as left; a move's go back to their places,
// folders first, and the folders it made at the target go once empty.
TakeBackResult TakeBackItems(const JournalEntry& entry, const ActionChanges& changes) {
  const bool copy = entry.operation == Operation::Copy;
  const std::string what = copy ? "复制" : "移动";
  TakeBackResult result;
  std::size_t done = 0;
  auto left = [&](const std::string& text) { result.left.push_back(text); };
  auto placeOf = [&](const std::string& item) {
    return entry.source + item.substr(std::min(item.size(), entry.target.size()));
  };
  if (!copy) {
    for (const JournalItem& item : entry.items) {
      if (!PathWithin(item.path, entry.target) && PathKey(item.path) != PathKey(entry.target)) continue;
      const std::string place = placeOf(item.path);
      files::Error e = item.folder ? MakeFolderAt(place, changes) : PutBack(item.path, false, item.stamp, place, changes);
      // Gone already: taken back before, or by the user.
      if (!e || (!item.folder && e.code == ENOENT)) {
        done += item.folder ? 0 : 1;
        continue;
      }
      left(WhyLeft(item.path, e, place));
    }
  }
  // Bottom up: what is in a folder before the folder.
  for (auto it = entry.items.rbegin(); it != entry.items.rend(); ++it) {
    if (!copy && !it->folder) continue;
    files::Error e = RemoveAsLeft(it->path, it->folder, it->stamp, changes);
    if (!e) {
      done += copy && !it->folder ? 1 : 0;
    } else if (e.code != ENOENT && !(e.code == ENOTEMPTY && !result.left.empty())) {
      left(WhyLeft(it->path, e, it->path));
    }
  }
  result.done = result.left.empty();
  result.text = (result.done ? "已撤销" : "部分撤销") + what + ": " + entry.target + " (" + std::to_string(done) +
                " 个文件" + (copy ? "已删除" : "已移回 " + entry.source) +
                (result.left.empty() ? "" : ", " + std::to_string(result.left.size()) + " 项未动") + ")";
  return result;
}

}  // namespace

bool CanBeTakenBack(const JournalEntry& entry) {
  if (entry.state != JournalEntry::State::Done) return false;
  switch (entry.operation) {
    case Operation::Delete:
      return entry.result.has_value() && entry.target != entry.source;
    case Operation::Copy:
      return entry.folder ? !entry.items.empty() : entry.result.has_value();
    case Operation::Move:
      return !entry.items.empty() || entry.result.has_value();
    default:
      return false;
  }
}

TakeBackResult TakeBack(const JournalEntry& entry, const ActionChanges& changes) {
  // A deletion says itself why it cannot come back.
  if (entry.operation == Operation::Delete && entry.state == JournalEntry::State::Done)
    return TakeBackDeletion(entry, changes);
  if (!CanBeTakenBack(entry))
    return {false, "无法撤销: " + entry.target + " (只有完成的复制、移动和删除到回收站的项目可以撤销)"};
  if (!entry.items.empty()) return TakeBackItems(entry, changes);
  const bool copy = entry.operation == Operation::Copy;
  const std::string what = copy ? "复制" : "移动";
  files::Error e = copy ? RemoveAsLeft(entry.target, false, *entry.result, changes)
                        : PutBack(entry.target, entry.folder, *entry.result, entry.source, changes);
  if (e.code == EEXIST) return {false, "未撤销移动: " + entry.target + " (原位置 " + entry.source + " 已被占用)"};
  if (e) return {false, "未撤销" + what + ": " + entry.target + " (" + e.Text() + ")"};
  if (copy) return {true, "已撤销复制: 删除了 " + entry.target};
  return {true, "已撤销移动: " + entry.target + " 移回 " + entry.source};
}

std::vector<TakeBackResult> TakeBackLast(ActionJournal& journal, std::size_t count, std::int64_t sinceMs) {
  std::vector<TakeBackResult> results;
  const std::vector<JournalEntry> entries = journal.Entries();
  for (auto it = entries.rbegin(); it != entries.rend() && results.size() < count; ++it) {
    const JournalEntry& e = *it;
    if (e.beganMs < sinceMs) break;
    if (!CanBeTakenBack(e)) continue;
    results.push_back(TakeBack(e));
    if (results.back().done) journal.TakenBack(e.seq);
  }
  if (results.empty()) results.push_back({false, "日志中没有可以撤销的操作: " + journal.Path()});
  return results;
}

}  // namespace vantrel
