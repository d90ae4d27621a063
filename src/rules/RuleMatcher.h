#pragma once
// Offers an accepted event to the rules, in row order, and carries out the
// action of every rule that fires.
#include "rules/FileActions.h"
#include "rules/RuleFile.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace vantrel {

// One change an action made: a file that appeared (a copy, a move's
// target), one that vanished (a deletion, a move's source), both ends of a
// move, or a whole tree (a folder copied, moved or deleted).
struct OwnChange {
  enum Kind { Appeared, Vanished, Moved, Tree };
  Kind kind;
  std::string path;
  std::string to;  // Moved: where it went
};

class MatchHost {
 public:
  virtual ~MatchHost() = default;
  virtual std::size_t RuleCount() const = 0;
  virtual const MonitorRule& RuleAt(std::size_t row) const = 0;
  virtual void SetLastActionTarget(const std::string& target) = 0;
  virtual void LogAction(const std::string& report) = 0;
  virtual void ShowErrorPrompt(const std::string& title, const std::string& text) = 0;
  // Whether the change is one that our own actions made; an expected change
  // it answers for is used up.
  virtual bool CausedByUs(const std::string& path, const std::string& eventName) = 0;
  // What an action changed, so that the events it causes fire no rule.
  virtual void Changed(const OwnChange& change) = 0;
};

// The operation name between the first "【" and the first "】" after it,
// and the operand after the last "】".
std::string OperationName(const std::string& actionText);
std::string Operand(const std::string& actionText);
// For renames: the path with its last component replaced by the new name.
// For renames: where the item now is (NewPathOfRename).
std::string EffectivePath(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                          const std::string& newPath = {});

// Whether the rule fires for an event of that name at that path.
bool RuleFires(const MonitorRule& rule, const std::string& eventPath, const std::string& eventName);

void MatchRules(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                MatchHost& host, const std::string& newPath = {});

// The changes our actions made, each used up by the one event it causes, so
// that anyone's later change at the same path fires rules as usual. A tree
// covers every event inside it for the time of its memory. What never comes
// back (an event the filter dropped) is forgotten after that time.
class OwnChanges {
 public:
  using Clock = std::chrono::steady_clock;
  // Longer than a new file's event may be held back for its writer.
  static constexpr std::chrono::seconds kMemory{8};
  void Remember(const OwnChange& change, Clock::time_point now = Clock::now());
  // Whether an event of that name at path is one of ours.
  bool Consume(const std::string& path, const std::string& eventName, Clock::time_point now = Clock::now());
  // Nothing is remembered any more (what has run out is forgotten now and
  // then, not at every call).
  bool Empty(Clock::time_point now = Clock::now());

 private:
  struct Expected {
    bool appears;
    std::string partner;  // the other end of a move, used up with it
    Clock::time_point until;
  };
  void Forget(Clock::time_point now);
  void Erase(const std::string& path, const std::string& partner);
  std::multimap<std::string, Expected> paths_;
  std::map<std::string, Clock::time_point> trees_;
  Clock::time_point forgotAt_{};
};

}  // namespace vantrel
