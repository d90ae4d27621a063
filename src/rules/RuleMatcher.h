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

class MatchHost {
 public:
  virtual ~MatchHost() = default;
  virtual std::size_t RuleCount() const = 0;
  virtual const MonitorRule& RuleAt(std::size_t row) const = 0;
  virtual void SetLastActionTarget(const std::string& target) = 0;
  virtual void LogAction(const std::string& report) = 0;
  virtual void ShowErrorPrompt(const std::string& title, const std::string& text) = 0;
  // Lets pending work of the program run during a long action.
  virtual void Pump() = 0;
  // Whether the change was made by one of our own actions.
  virtual bool CausedByUs(const std::string& path) const = 0;
  // Paths an action is about to change, so that their events fire no rule.
  virtual void WillChange(const std::string& path, bool wholeTree) = 0;
};

// The operation name between the first "【" and the first "】" after it,
// and the operand after the last "】".
std::string OperationName(const std::string& actionText);
std::string Operand(const std::string& actionText);
// For renames: the path with its last component replaced by the new name.
std::string EffectivePath(const std::string& eventPath, const std::string& eventName, const std::string& itemName);

void MatchRules(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                MatchHost& host);

// Paths our actions changed, remembered long enough for their change events
// (held back up to five seconds for a writer) to come back.
class OwnChanges {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kMemory{30};
  void Remember(const std::string& path, bool wholeTree, Clock::time_point now = Clock::now());
  bool Contains(const std::string& path, Clock::time_point now = Clock::now()) const;

 private:
  void Forget(Clock::time_point now);
  std::map<std::string, Clock::time_point> paths_;
  std::map<std::string, Clock::time_point> trees_;
};

}  // namespace vantrel
