#pragma once
// Carries out the rules' actions on a thread of its own, one at a time and
// in the order their events came, so that copying a large file or removing
// a large tree never holds up the window. The window lists each event as it
// comes and hands the queue the rules it fires; what the actions report
// comes back through the outputs, called on the queue's thread.
//
// A file still being written is acted on once it is whole: its job waits
// aside while later jobs go on, and runs once when the writer is done.
#include "rules/ActionJournal.h"
#include "rules/RuleFile.h"
#include "rules/RuleMatcher.h"
#include "rules/WholeFile.h"
#include "time/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {

struct ActionJob {
  std::string path;
  EventKind kind = EventKind::None;
  std::string itemName, newPath;
  // The change was made by this process (the change source knows its pid).
  bool ours = false;
  // The rules the event fires, in row order, as they stood when it came.
  RuleList rules;
  // When the window handed it over; our own changes are known as such for
  // the events handed over within a while after them.
  std::chrono::steady_clock::time_point submitted{};
  // Where its walk of the rules goes on, after a file that was still
  // written put it off.
  std::size_t firstRule = 0;
  // Its file was seen whole by the queue's wait.
  bool judgedWhole = false;
  // Deletions go to the trash, as the settings said when the event came.
  bool toTrash = false;
};

struct ActionOutputs {
  std::function<void(const ActionOutcome& outcome)> logAction;
  std::function<void(const std::string& title, const std::string& text)> errorPrompt;
  // Something the user must hear of beside the rows (a file written for
  // very long): a row, a record and a prompt.
  std::function<void(const std::string& type, const std::string& text)> notice;
};

// Notices of one kind (files written for very long) told the first at once
// and then at most one a minute, each with how many were gathered since, so
// that hundreds of files at once make one notice, not hundreds.
class GatheredNotices {
 public:
  struct Due {
    std::size_t count;
    std::string example;  // the latest one
  };
  void Add(std::size_t count, std::string example);
  // What is to be told now, if anything.
  std::optional<Due> Take(Clock::time_point now);

 private:
  std::size_t gathered_ = 0;
  std::string example_;
  std::optional<Clock::time_point> toldAt_;
};

class ActionQueue {
 public:
  // clock: what waiting files are looked at again by.
  explicit ActionQueue(ActionOutputs outputs, const Clock& clock = Clock::System());
  ~ActionQueue();
  ActionQueue(const ActionQueue&) = delete;
  ActionQueue& operator=(const ActionQueue&) = delete;

  // Whether the event must go to the queue: it fires a rule, or it may be
  // the echo of one of our actions, which it then uses up.
  bool Wanted(const ActionJob& job) const;
  void Submit(ActionJob job);
  // Blocks until every submitted job is done or waits for its file.
  void WaitIdle();

  // For the program's end: a copy in hand is given up at its next chunk and
  // any other action in hand finishes; nothing further starts. Jobs handed
  // over afterwards are kept, not run.
  void Stop();
  // After Stop: the jobs that never began, in the order they came.
  std::vector<ActionJob> TakeNotDone();

  // A file or folder was seen renamed: a job waiting for a file there
  // follows it to its new name.
  void Follow(const std::string& from, const std::string& to);

  // How many jobs wait for their file to be whole, and how many times the
  // waiting files were looked at: what a status line or a test waits on.
  std::size_t WaitingCount() const;
  std::uint64_t LooksAtWaiting() const;

  // Every copy, move and deletion is recorded there before it begins and
  // once it ends (set before the first job).
  void SetJournal(ActionJournal* journal) { journal_ = journal; }

  // Changes made beside the queue (an action taken back): their echoes act
  // on nothing, as those of the queue's own actions.
  void RememberOwn(const std::vector<ActionChange>& changes);

  // The target of the action most recently begun.
  std::string LastActionTarget() const;
  bool InLastActionTarget(std::string_view path) const;
  void SetLastActionTarget(const std::string& target);

 private:
  struct Waiting {
    ActionJob job;
    WholeFileWatch file;
    Clock::time_point since;
    bool toldLong = false;
  };
  // A file a waiting job acted on, as it was: another event for that very
  // file, come while the job waited, is not acted on again.
  struct Acted {
    std::string path;
    EventKind kind;
    platform::FileStamp stamp;
    Clock::time_point until;
  };
  bool ActedOnAlready(const ActionJob& job, const std::string& path, Clock::time_point now);
  void Run();
  // Runs the job now, or sets it aside while its file is being written.
  void Process(ActionJob job);
  // Whether the job's event is the echo of one of our own actions.
  bool CausedByUs(const ActionJob& job);
  void RememberOwn(const std::vector<ActionChange>& changes, Clock::time_point now);
  void ForgetOwnBefore(Clock::time_point submitted);
  void Act(const ActionJob& job);
  // The end of a journalled action: what it made, and whether it was done.
  void Record(std::uint64_t seq, bool folder, const RuleActionResult& r);
  // The file of the rule at row is still written: the walk goes on from
  // there once it is whole.
  void PutOff(const ActionJob& job, std::size_t row);
  // Sets the job aside until its file is whole, and says so in a row.
  void Wait(ActionJob job, WholeFileWatch file, Clock::time_point now);
  // Runs what became whole; the time of the next look, if anything waits.
  void LookAtWaiting(Clock::time_point now);
  void Report(ActionOutcome outcome);

  ActionOutputs outputs_;
  const Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<ActionJob> jobs_;
  std::size_t unfinished_ = 0;
  // How many of them wait for their file (waiting_ is the thread's own).
  std::size_t waitingCount_ = 0;
  std::uint64_t looks_ = 0;
  std::atomic<bool> anyWaiting_{false};
  // Renames seen since the waiting jobs were last looked at.
  std::vector<std::pair<std::string, std::string>> follows_;
  bool stopping_ = false;
  // Set by Stop: the copy in hand gives up at its next chunk.
  std::atomic<bool> stopCopies_{false};
  std::string lastActionTarget_;
  ActionJournal* journal_ = nullptr;
  // Mostly the thread's own; a change taken back is remembered from the
  // engine's thread.
  std::mutex ownMutex_;
  OwnChanges own_;
  std::list<Waiting> waiting_;
  std::deque<Acted> acted_;
  GatheredNotices longWrites_;
  Clock::time_point nextLook_{};
  // Whether own_ holds anything, for Wanted() on the window's thread.
  std::atomic<bool> remembering_{false};
  std::thread thread_;
};

}  // namespace vantrel
