#pragma once
// Every action a rule takes, recorded before the first byte changes and
// completed once it is done, with what taking it back needs: where the item
// was and went, and the identity, size and time of what the action left.
// A kill in the middle leaves a begun record without its end: the next start
// marks it unfinished and tells it. The journal is a text file of the home,
// one record a line, appended to (a torn last line is skipped) and rotated
// once it grows past its bound, the previous one kept beside it.
#include "platform/LogFile.h"
#include "platform/StoredFile.h"
#include "rules/ActionOutcome.h"
#include "rules/FileActions.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// One item a folder's copy or move made at its target, as it left it.
struct JournalItem {
  std::string path;
  bool folder = false;
  platform::FileStamp stamp;
};

struct JournalEntry {
  enum class State { Begun, Done, NotDone, Unfinished, TakenBack };
  std::uint64_t seq = 0;
  std::int64_t beganMs = 0;  // since the Unix epoch
  Operation operation = Operation::None;
  bool folder = false;
  std::string source;
  // The target folder at the start; the item the action made once done.
  std::string target;
  State state = State::Begun;
  // What the action left at target (a copy, the moved item).
  std::optional<platform::FileStamp> result;
  // A folder's copy, or its move across file systems: every item it made,
  // in the order made (a folder before what is in it).
  std::vector<JournalItem> items;
  std::int64_t takenBackMs = 0;
};

class ActionJournal {
 public:
  static constexpr std::size_t kDefaultLimit = 4u << 20;
  explicit ActionJournal(std::string path, std::size_t limitBytes = kDefaultLimit);
  ~ActionJournal();
  ActionJournal(const ActionJournal&) = delete;
  ActionJournal& operator=(const ActionJournal&) = delete;

  // At start: actions begun and never ended (a kill, a crash) are marked
  // unfinished and returned, to be told.
  std::vector<JournalEntry> Recover();

  // Before the action changes anything; the number its end is told with.
  std::uint64_t Begin(Operation operation, bool folder, const std::string& source, const std::string& targetFolder);
  // done: the action made what it meant to; target: the item it made.
  void End(std::uint64_t seq, bool done, const std::string& target, const std::optional<platform::FileStamp>& result,
           const std::vector<JournalItem>& items = {});
  void TakenBack(std::uint64_t seq);
  // Writes the ends held back (the queue calls it when it pauses).
  void Flush() const;


  // Every action the journal (and the one rotated before it) holds, oldest
  // first, each in its last state.
  std::vector<JournalEntry> Entries() const;
  const std::string& Path() const { return path_; }

 private:
  void Append(const std::string& line);
  // With mutex_ held: what is held back, then line, in one write.
  void AppendLocked(const std::string& line) const;
  // Numbers go on from the highest the journal holds, read once: at the
  // start's recovery, or at the first action of a journal nobody recovered.
  void KnowNextSeq(const std::vector<JournalEntry>& entries);

  std::string path_;
  std::size_t limit_;
  mutable std::mutex mutex_;
  std::uint64_t nextSeq_ = 0;
  bool seqKnown_ = false;
  // The file and the ends not yet written: a write-behind that reads see
  // through (Entries writes them first).
  mutable platform::AppendFile file_;
  mutable std::uint64_t size_ = 0;
  mutable std::string pending_;
};

// What taking an action back did, in the user's words: text sums it up,
// left names each item left alone and why.
struct TakeBackResult {
  bool done = false;
  std::string text;
  std::vector<std::string> left = {};
};
// Takes back a finished copy or move: a copy is removed while it is as the
// action left it; a moved item goes back while it is unchanged and its old
// place is free; a folder's copy or move the same, item by item; a trashed
// item comes back from the trash. Nothing is ever replaced; anything else is
// left alone and told. changes hears what was done, so that its echoes act
// on nothing.
TakeBackResult TakeBack(const JournalEntry& entry, const ActionChanges& changes = {});
// A finished copy or move, or a deletion that went to the trash.
bool CanBeTakenBack(const JournalEntry& entry);
// Takes back the newest count actions that can be taken back and were not
// yet (begun at sinceMs or later, when given), newest first, each recorded
// as taken back when it was.
std::vector<TakeBackResult> TakeBackLast(ActionJournal& journal, std::size_t count, std::int64_t sinceMs = 0);

}  // namespace vantrel
