#pragma once
// Carries out the rules' actions on a thread of its own, one at a time and
// in the order their events came, so that copying a large file or removing
// a large tree never holds up the window. The window lists each event as it
// comes and hands the queue the rules it fires; what the actions report
// comes back through the outputs, called on the queue's thread.
#include "rules/RuleFile.h"
#include "rules/RuleMatcher.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantrel {

struct ActionJob {
  std::string path, eventName, itemName, newPath;
  // The change was made by this process (the change source knows its pid).
  bool ours = false;
  // The rules the event fires, in row order, as they stood when it came.
  RuleList rules;
};

struct ActionOutputs {
  std::function<void(const std::string& report)> logAction;
  std::function<void(const std::string& title, const std::string& text)> errorPrompt;
};

class ActionQueue {
 public:
  explicit ActionQueue(ActionOutputs outputs);
  // Stops a copy in hand at its next chunk (other actions in hand finish);
  // what has not started is dropped and said.
  ~ActionQueue();
  ActionQueue(const ActionQueue&) = delete;
  ActionQueue& operator=(const ActionQueue&) = delete;

  // Whether the event must go to the queue: it fires a rule, or it may be
  // the echo of one of our actions, which it then uses up.
  bool Wanted(const ActionJob& job) const;
  void Submit(ActionJob job);
  // Blocks until every submitted job is done.
  void WaitIdle();

  // The target of the action most recently begun.
  std::string LastActionTarget() const;
  void SetLastActionTarget(const std::string& target);

 private:
  class JobHost;
  void Run();

  ActionOutputs outputs_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<ActionJob> jobs_;
  std::size_t unfinished_ = 0;
  bool stopping_ = false;
  std::string lastActionTarget_;
  // The thread's own: only it acts, so only it knows what its actions made.
  OwnChanges own_;
  // Whether own_ holds anything, for Wanted() on the window's thread.
  std::atomic<bool> remembering_{false};
  std::thread thread_;
};

}  // namespace vantrel
