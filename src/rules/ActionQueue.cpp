#include "rules/ActionQueue.h"

#include <cstdio>

namespace vantrel {

// What MatchRules needs, for one job on the queue's thread.
class ActionQueue::JobHost : public MatchHost {
 public:
  JobHost(ActionQueue& queue, const ActionJob& job) : queue_(queue), job_(job) {}
  std::size_t RuleCount() const override { return job_.rules.size(); }
  const MonitorRule& RuleAt(std::size_t row) const override { return job_.rules[row]; }
  void SetLastActionTarget(const std::string& target) override { queue_.SetLastActionTarget(target); }
  void LogAction(const std::string& report) override {
    if (queue_.outputs_.logAction) queue_.outputs_.logAction(report);
  }
  void ShowErrorPrompt(const std::string& title, const std::string& text) override {
    if (queue_.outputs_.errorPrompt) queue_.outputs_.errorPrompt(title, text);
  }
  bool CausedByUs(const std::string& path, const std::string& eventName) override {
    // Used up in either case, so that nothing of it lingers to silence a
    // later change by someone else at the same path.
    const bool remembered = queue_.own_.Consume(path, eventName);
    return remembered || job_.ours;
  }
  void Changed(const OwnChange& change) override { queue_.own_.Remember(change); }

 private:
  ActionQueue& queue_;
  const ActionJob& job_;
};

ActionQueue::ActionQueue(ActionOutputs outputs) : outputs_(std::move(outputs)) { StopCopies(false); }

ActionQueue::~ActionQueue() {
  std::size_t dropped = 0;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped = jobs_.size();
    jobs_.clear();
  }
  wake_.notify_all();
  // A large copy in hand is given up rather than waited for: it leaves
  // nothing, and its source stays where it was.
  StopCopies(true);
  if (thread_.joinable()) thread_.join();
  if (dropped) std::fprintf(stderr, "vantrel: %zu events' rules were not carried out before the program ended\n", dropped);
}

bool ActionQueue::Wanted(const ActionJob& job) const {
  if (!job.rules.empty() || remembering_.load()) return true;
  // An action still running may be about to remember what this event is.
  std::lock_guard lock(mutex_);
  return unfinished_ > 0;
}

void ActionQueue::Submit(ActionJob job) {
  bool wasIdle;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wasIdle = jobs_.empty();
    jobs_.push_back(std::move(job));
    ++unfinished_;
  }
  // A busy thread looks at the queue again by itself.
  if (wasIdle) wake_.notify_one();
}

void ActionQueue::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return unfinished_ == 0; });
}

std::string ActionQueue::LastActionTarget() const {
  std::lock_guard lock(mutex_);
  return lastActionTarget_;
}

void ActionQueue::SetLastActionTarget(const std::string& target) {
  std::lock_guard lock(mutex_);
  lastActionTarget_ = target;
}

void ActionQueue::Run() {
  for (;;) {
    ActionJob job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    JobHost host(*this, job);
    MatchRules(job.path, job.eventName, job.itemName, host, job.newPath);
    remembering_ = !own_.Empty();
    {
      std::lock_guard lock(mutex_);
      if (--unfinished_ == 0) idle_.notify_all();
    }
  }
}

}  // namespace vantrel
