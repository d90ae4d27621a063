#include "rules/ActionQueue.h"

#include "text/PathRoutines.h"
#include "text/TextRules.h"
#include "time/Timing.h"

#include <algorithm>
#include <optional>

namespace vantrel {
namespace {

// A waiting job acts on the file where it now is.
void Retarget(ActionJob& job, const std::string& path) {
  if (EffectivePath(job.path, job.kind, job.itemName, job.newPath) == path) return;
  job.itemName = PathFileName(path, true);
  if (IsRenameKind(job.kind)) {
    job.newPath = path;
  } else {
    job.path = path;
  }
}

// A copy asks who writes its file on the descriptor it reads, and puts its
// job off when it cannot be whole yet: the job need not look first.
bool LooksForWritersItself(const MonitorRule& rule) { return OperationOf(rule.actionText) == Operation::Copy; }

}  // namespace

void GatheredNotices::Add(std::size_t count, std::string example) {
  if (!count) return;
  gathered_ += count;
  example_ = std::move(example);
}

std::optional<GatheredNotices::Due> GatheredNotices::Take(Clock::time_point now) {
  if (!gathered_ || (toldAt_ && now < *toldAt_ + timing::kNoticeInterval)) return std::nullopt;
  Due due{gathered_, std::move(example_)};
  gathered_ = 0;
  example_.clear();
  toldAt_ = now;
  return due;
}


ActionQueue::ActionQueue(ActionOutputs outputs, const Clock& clock) : outputs_(std::move(outputs)), clock_(clock) {}

ActionQueue::~ActionQueue() { Stop(); }

void ActionQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
  }
  wake_.notify_all();
  // A large copy in hand is given up rather than waited for: it leaves
  // nothing, and its source stays where it was.
  stopCopies_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<ActionJob> ActionQueue::TakeNotDone() {
  std::lock_guard lock(mutex_);
  std::vector<ActionJob> left;
  for (Waiting& w : waiting_) left.push_back(std::move(w.job));
  waiting_.clear();
  waitingCount_ = 0;
  anyWaiting_ = false;
  for (ActionJob& job : jobs_) left.push_back(std::move(job));
  jobs_.clear();
  // The waiting ones came first.
  std::stable_sort(left.begin(), left.end(),
                   [](const ActionJob& a, const ActionJob& b) { return a.submitted < b.submitted; });
  unfinished_ = 0;
  idle_.notify_all();
  return left;
}

bool ActionQueue::Wanted(const ActionJob& job) const {
  if (!job.rules.empty() || remembering_.load()) return true;
  // An action still running may be about to remember what this event is.
  std::lock_guard lock(mutex_);
  return unfinished_ > waitingCount_;
}

void ActionQueue::Follow(const std::string& from, const std::string& to) {
  if (!anyWaiting_.load()) return;
  std::lock_guard lock(mutex_);
  follows_.emplace_back(from, to);
}

void ActionQueue::Submit(ActionJob job) {
  if (job.submitted == Clock::time_point{}) job.submitted = clock_.Now();
  bool wasIdle;
  {
    std::lock_guard lock(mutex_);
    // After the stop a job is kept, to be told as not done.
    if (!stopping_ && !thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wasIdle = jobs_.empty();
    jobs_.push_back(std::move(job));
    ++unfinished_;
  }
  // A busy thread looks at the queue again by itself.
  if (wasIdle) wake_.notify_one();
}

void ActionQueue::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return unfinished_ == waitingCount_ || (stopping_ && !thread_.joinable()); });
}

std::size_t ActionQueue::WaitingCount() const {
  std::lock_guard lock(mutex_);
  return waitingCount_;
}

std::uint64_t ActionQueue::LooksAtWaiting() const {
  std::lock_guard lock(mutex_);
  return looks_;
}

std::string ActionQueue::LastActionTarget() const {
  std::lock_guard lock(mutex_);
  return lastActionTarget_;
}

bool ActionQueue::InLastActionTarget(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return PathContains(path, lastActionTarget_);
}

void ActionQueue::SetLastActionTarget(const std::string& target) {
  std::lock_guard lock(mutex_);
  lastActionTarget_ = target;
}

void ActionQueue::Report(ActionOutcome outcome) {
  if (outputs_.logAction) outputs_.logAction(outcome);
}

void ActionQueue::Run() {
  const CopyStop stop(stopCopies_);
  for (;;) {
    ActionJob job;
    {
      std::unique_lock lock(mutex_);
      auto ready = [this] { return stopping_ || !jobs_.empty() || (!waiting_.empty() && clock_.Now() >= nextLook_); };
      clock_.WaitUntil(lock, wake_, waiting_.empty() ? Clock::time_point::max() : nextLook_, ready);
      if (stopping_) return;
      if (!waiting_.empty() && clock_.Now() >= nextLook_) {
        lock.unlock();
        LookAtWaiting(clock_.Now());
        if (journal_) journal_->Flush();
        continue;
      }
      if (jobs_.empty()) continue;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    const Clock::time_point submitted = job.submitted;
    Process(std::move(job));
    ForgetOwnBefore(submitted);
    bool pause;
    {
      std::lock_guard lock(mutex_);
      pause = jobs_.empty();
    }
    // The journal's last ends go out before anyone is told the queue is idle.
    if (pause && journal_) journal_->Flush();
    {
      std::lock_guard lock(mutex_);
      --unfinished_;
      if (unfinished_ == waitingCount_) idle_.notify_all();
    }
  }
}

bool ActionQueue::ActedOnAlready(const ActionJob& job, const std::string& path, Clock::time_point now) {
  while (!acted_.empty() && acted_.front().until < now) acted_.pop_front();
  for (const Acted& a : acted_) {
    if (a.path != path || a.kind != job.kind) continue;
    std::optional<platform::FileStamp> stamp = platform::StampOf(path);
    if (stamp && stamp->SameContent(a.stamp)) return true;
  }
  return false;
}

void ActionQueue::RememberOwn(const std::vector<ActionChange>& changes, Clock::time_point now) {
  std::lock_guard lock(ownMutex_);
  for (const ActionChange& change : changes) own_.Remember(change, now);
  if (!changes.empty()) remembering_ = true;
}

void ActionQueue::RememberOwn(const std::vector<ActionChange>& changes) { RememberOwn(changes, clock_.Now()); }

void ActionQueue::ForgetOwnBefore(Clock::time_point submitted) {
  std::lock_guard lock(ownMutex_);
  remembering_ = !own_.Empty(submitted);
}

bool ActionQueue::CausedByUs(const ActionJob& job) {
  // Used up in either case, so that nothing of it lingers to silence a later
  // change by someone else at the same path.
  std::lock_guard lock(ownMutex_);
  const bool remembered = own_.Consume(job.path, job.kind, job.submitted);
  return remembered || job.ours;
}

void ActionQueue::Process(ActionJob job) {
  // Asked once per job: a job that waits for its file comes back to Act.
  if (CausedByUs(job) || job.rules.empty()) return;
  if (!IsFolderKind(job.kind)) {
    const std::string path = EffectivePath(job.path, job.kind, job.itemName, job.newPath);
    const Clock::time_point now = clock_.Now();
    if (IsContentKind(job.kind)) {
      // Another event for a file a job already waits for, or just acted on
      // after waiting: the file is acted on once.
      for (const Waiting& w : waiting_)
        if (w.file.Path() == path) return;
      if (ActedOnAlready(job, path, now)) return;
    }
    // Every action waits for a whole file, whatever it does with it.
    const bool actionLooks = job.firstRule < job.rules.size() && LooksForWritersItself(job.rules[job.firstRule]);
    WholeFileWatch file(path);
    if (!actionLooks && file.Check(now) == WholeFileWatch::State::BeingWritten) {
      Wait(std::move(job), std::move(file), now);
      return;
    }
  }
  Act(job);
}

void ActionQueue::Wait(ActionJob job, WholeFileWatch file, Clock::time_point now) {
  Report({ActionOutcome::Kind::WaitingForWriter, Operation::None, file.Path(), {}});
  std::lock_guard lock(mutex_);
  if (waiting_.empty()) nextLook_ = now + timing::kRecheck;
  // Still unfinished, so that nobody takes the queue for done.
  ++unfinished_;
  ++waitingCount_;
  anyWaiting_ = true;
  waiting_.push_back({std::move(job), std::move(file), now, false});
}

// The rules the job fires, in row order, from where it was put off.
void ActionQueue::Act(const ActionJob& job) {
  for (std::size_t row = job.firstRule; row < job.rules.size(); ++row) {
    const MonitorRule& rule = job.rules[row];
    // Before the action: the filter reads it while the action's echoes come.
    SetLastActionTarget(Operand(rule.actionText));
    const Operation operation = OperationOf(rule.actionText);
    std::optional<std::uint64_t> recorded;
    if (journal_ && (operation == Operation::Copy || operation == Operation::Move || operation == Operation::Delete))
      recorded = journal_->Begin(operation, IsFolderKind(job.kind),
                                 EffectivePath(job.path, job.kind, job.itemName, job.newPath),
                                 operation == Operation::Delete ? std::string() : Operand(rule.actionText));
    RuleActionResult r =
        RunRuleAction(rule, job.path, job.kind, job.itemName, job.newPath, job.judgedWhole, job.toTrash);
    if (recorded) Record(*recorded, IsFolderKind(job.kind), r);
    // Remembered once the action is done, so that none of them runs out
    // while a long action is still making the rest.
    const Clock::time_point now = clock_.Now();
    RememberOwn(r.changes, now);
    if (r.unfinished) return PutOff(job, row);
    if (r.error) {
      if (outputs_.errorPrompt) outputs_.errorPrompt(r.error->first, r.error->second);
      return;
    }
    if (r.outcome) Report(std::move(*r.outcome));
    if (r.endsWalk) return;
  }
}

void ActionQueue::Record(std::uint64_t seq, bool folder, const RuleActionResult& r) {
  // What the action made at its target, as it left it: a file, a folder
  // renamed whole, or every item a folder's copy made, up to a bound past
  // which the journal would outgrow what a start reads (then it cannot be
  // taken back).
  constexpr std::size_t kItemsRecorded = 100000;
  std::string target;
  std::optional<platform::FileStamp> made;
  std::vector<JournalItem> items;
  for (const ActionChange& c : r.changes) {
    const bool appeared = c.kind == ActionChange::FileAppeared || c.kind == ActionChange::FolderAppeared;
    if (folder && appeared && items.size() <= kItemsRecorded) {
      const bool isFolder = c.kind == ActionChange::FolderAppeared;
      // A folder is known by its identity alone: what goes into it changes its time.
      if (std::optional<platform::FileStamp> stamp = isFolder ? platform::StampOf(c.path) : c.made)
        items.push_back({c.path, isFolder, *stamp});
      continue;
    }
    if (!target.empty()) continue;
    if (appeared) {
      target = c.path;
      made = c.made;
    } else if (c.kind == ActionChange::Renamed) {
      target = c.to;
      made = c.made ? c.made : platform::StampOf(c.to);
    }
  }
  if (items.size() > kItemsRecorded) items.clear();
  const bool done = r.outcome && r.outcome->kind == ActionOutcome::Kind::Done;
  // A folder's row names its target folder, whatever was made inside.
  if (r.outcome && (folder || target.empty())) target = r.outcome->detail;
  journal_->End(seq, done, target, made, items);
}

void ActionQueue::PutOff(const ActionJob& job, std::size_t row) {
  ActionJob rest = job;
  rest.firstRule = row;
  WholeFileWatch file(EffectivePath(job.path, job.kind, job.itemName, job.newPath));
  const Clock::time_point now = clock_.Now();
  // Not yet judged, but whole at the first look (a file nobody can ask
  // about, untouched for long): acted on at once, no wait shown.
  if (file.Check(now) == WholeFileWatch::State::Whole && !job.judgedWhole) {
    rest.judgedWhole = true;
    Act(rest);
    return;
  }
  Wait(std::move(rest), std::move(file), now);
}

void ActionQueue::LookAtWaiting(Clock::time_point now) {
  std::vector<std::pair<std::string, std::string>> follows;
  {
    std::lock_guard lock(mutex_);
    follows.swap(follows_);
  }
  std::vector<ActionJob> whole;
  std::vector<std::string> gone;
  // The looks touch the disk: the window's thread never waits on them.
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    for (const auto& [from, to] : follows) it->file.Follow(from, to);
    const WholeFileWatch::State state = it->file.Check(now);
    if (state == WholeFileWatch::State::Whole) {
      Retarget(it->job, it->file.Path());
      it->job.judgedWhole = true;
      if (it->file.LastSeen() && IsContentKind(it->job.kind))
        acted_.push_back({it->file.Path(), it->job.kind, *it->file.LastSeen(), now + timing::kOwnChangeMemory});
      whole.push_back(std::move(it->job));
      it = waiting_.erase(it);
      continue;
    }
    if (state == WholeFileWatch::State::Gone) {
      gone.push_back(it->file.Path());
      it = waiting_.erase(it);
      continue;
    }
    if (!it->toldLong && now - it->since >= timing::kLongWrite) {
      it->toldLong = true;
      longWrites_.Add(1, it->file.Path());
    }
    ++it;
  }
  {
    std::lock_guard lock(mutex_);
    nextLook_ = now + timing::kRecheck;
    unfinished_ -= gone.size();
    waitingCount_ = waiting_.size();
    anyWaiting_ = !waiting_.empty();
  }
  for (const std::string& path : gone) Report({ActionOutcome::Kind::SourceGone, Operation::None, path, {}});
  if (auto due = longWrites_.Take(now); due && outputs_.notice) {
    outputs_.notice("仍在写入", due->count == 1 ? "文件已被写入超过 10 分钟, 写完后再执行规则: " + due->example
                                                : std::to_string(due->count) +
                                                      " 个文件已被写入超过 10 分钟, 写完后再执行规则 (如 " +
                                                      due->example + ")");
  }
  for (const ActionJob& job : whole) {
    Act(job);
    ForgetOwnBefore(job.submitted);
    std::lock_guard lock(mutex_);
    --unfinished_;
  }
  std::lock_guard lock(mutex_);
  ++looks_;
  if (unfinished_ == waitingCount_) idle_.notify_all();
}

}  // namespace vantrel
