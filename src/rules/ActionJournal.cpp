#include "rules/ActionJournal.h"

#include "platform/LogFile.h"
#include "platform/Utf8Path.h"
#include "rules/Files.h"
#include "rules/Trash.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"
#include "text/RecordFields.h"
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
      const auto volume = FieldNumber(f[4]), id = FieldNumber(f[5]), size = FieldNumber(f[6]), written = FieldNumber(f[7]),
                 changed = FieldNumber(f[8]);
      if (volume && id && size && written && changed)
        e.result = platform::FileStamp{static_cast<std::uint64_t>(*volume), static_cast<std::uint64_t>(*id),
                                       static_cast<std::uint64_t>(*size), *written, *changed};
    } else if (f[0] == "U") {
      if (e.state == JournalEntry::State::Begun) e.state = JournalEntry::State::Unfinished;
    } else if (f[0] == "T") {
      e.state = JournalEntry::State::TakenBack;
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

std::vector<JournalEntry> ActionJournal::Entries() const {
  std::lock_guard lock(mutex_);
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
  const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
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
                        const std::optional<platform::FileStamp>& result) {
  std::string line = "E\t" + std::to_string(seq) + "\t" + (done ? "1" : "0") + "\t" + EscapeField(target);
  if (result) {
    line += "\t" + std::to_string(result->volume) + "\t" + std::to_string(result->id) + "\t" +
            std::to_string(result->size) + "\t" + std::to_string(result->writtenNs) + "\t" +
            std::to_string(result->changedNs);
  } else {
    line += "\t-\t-\t-\t-\t-";
  }
  Append(line + "\n");
}

void ActionJournal::TakenBack(std::uint64_t seq) { Append("T\t" + std::to_string(seq) + "\n"); }

void ActionJournal::Append(const std::string& line) {
  std::lock_guard lock(mutex_);
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
TakeBackResult TakeBackDeletion(const JournalEntry& entry) {
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
  return {true, "已撤销删除: " + entry.source + " 已从回收站还原"};
}

}  // namespace

bool CanBeTakenBack(const JournalEntry& entry) {
  if (entry.state != JournalEntry::State::Done) return false;
  if (entry.operation == Operation::Delete) return entry.result.has_value() && entry.target != entry.source;
  return !entry.folder && (entry.operation == Operation::Copy || entry.operation == Operation::Move);
}

TakeBackResult TakeBack(const JournalEntry& entry) {
  if (entry.operation == Operation::Delete && entry.state == JournalEntry::State::Done) return TakeBackDeletion(entry);
  const std::string what = entry.operation == Operation::Copy ? "复制" : "移动";
  if (entry.state != JournalEntry::State::Done || entry.folder || !entry.result ||
      (entry.operation != Operation::Copy && entry.operation != Operation::Move))
    return {false, "无法撤销: " + entry.target + " (只有完成的文件复制和移动可以撤销)"};
  files::Item item;
  if (files::Error e = files::OpenItem(entry.target, item))
    return {false, "未撤销" + what + ": " + entry.target + " (" + e.Text() + ")"};
  // As the action left it: same file, same bytes.
  if (item.info.kind != files::Kind::File || !item.info.stamp.SameContent(*entry.result))
    return {false, "未撤销" + what + ": " + entry.target + " (此后已被改变)"};
  if (entry.operation == Operation::Copy) {
    if (files::Error e = files::RemoveItem(item))
      return {false, "未撤销复制: " + entry.target + " (" + e.Text() + ")"};
    return {true, "已撤销复制: 删除了 " + entry.target};
  }
  const std::size_t slash = LastSeparator(entry.source);
  if (slash == std::string::npos) return {false, "未撤销移动: " + entry.target + " (原位置无效)"};
  files::Folder back;
  if (files::Error e = files::OpenTarget(std::string(FolderPart(entry.source)), back))
    return {false, "未撤销移动: " + entry.target + " (原文件夹: " + e.Text() + ")"};
  bool linked = false;
  if (files::Error e = files::RenameInto(item, back, entry.source.substr(slash + 1), linked)) {
    if (e.code == EEXIST) return {false, "未撤销移动: " + entry.target + " (原位置 " + entry.source + " 已被占用)"};
    return {false, "未撤销移动: " + entry.target + " (" + e.Text() + ")"};
  }
  // Where a rename cannot refuse to replace, the file was linked back: its
  // name at the target goes now.
  if (linked) files::RemoveItem(item);
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
