#pragma once
// Offers an accepted event to the rules, in row order, and carries out the
// action of every rule that fires.
#include "monitor/EventKind.h"
#include "rules/ActionOutcome.h"
#include "rules/FileActions.h"
#include "rules/RuleFile.h"
#include "time/Clock.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vantrel {

class MatchHost {
 public:
  virtual ~MatchHost() = default;
  virtual std::size_t RuleCount() const = 0;
  virtual const MonitorRule& RuleAt(std::size_t row) const = 0;
  virtual void SetLastActionTarget(const std::string& target) = 0;
  virtual void LogAction(const ActionOutcome& outcome) = 0;
  virtual void ShowErrorPrompt(const std::string& title, const std::string& text) = 0;
  // Whether the change is one that our own actions made; an expected change
  // it answers for is used up.
  virtual bool CausedByUs(const std::string& path, EventKind kind) = 0;
  // What an action changed, so that the events it causes fire no rule.
  virtual void Changed(const ActionChange& change) = 0;
  // The event's file was seen whole by a wait (the copy need not ask who
  // writes it where nobody can tell).
  virtual bool FileJudgedWhole() const { return false; }
  // The row the walk begins at: a walk that was put off goes on from there.
  virtual std::size_t FirstRow() const { return 0; }
  // The file a rule is to copy or move turned out to be still written (or
  // changed while copied), before anything of it was placed. True when the
  // host will walk again from this row once the file is whole; the walk
  // then stops here. False makes it an ordinary failure.
  virtual bool PutOff(std::size_t row) {
    (void)row;
    return false;
  }
};

// The operation name between the first "【" and the first "】" after it,
// and the operand after the last "】".
std::string OperationName(const std::string& actionText);
std::string Operand(const std::string& actionText);
// The operation the action names; None for a rule that only lists.
Operation OperationOf(const std::string& actionText);
// For renames: the path with its last component replaced by the new name.
// For renames: where the item now is (NewPathOfRename).
std::string EffectivePath(const std::string& eventPath, EventKind kind, const std::string& itemName,
                          const std::string& newPath = {});

// Whether the rule fires for an event of that name at that path.
bool RuleFires(const MonitorRule& rule, const std::string& eventPath, EventKind kind);

void MatchRules(const std::string& eventPath, EventKind kind, const std::string& itemName,
                MatchHost& host, const std::string& newPath = {});

// The changes our actions made, each used up by the one event it causes
// (counted per path and kind), so that anyone's later change at the same
// path, or inside a folder an action made, fires rules as usual. What never
// comes back (an event the filter dropped) is forgotten once events handed
// over a while after it have all been seen.
class OwnChanges {
 public:
  // now: when the action that made the change ended.
  void Remember(const ActionChange& change, Clock::time_point now);
  // Whether an event of that name at path, handed over at the time given,
  // is one of ours.
  bool Consume(const std::string& path, EventKind kind, Clock::time_point handedOver);
  // Nothing is remembered any more (what has run out is forgotten now and
  // then, not at every call).
  bool Empty(Clock::time_point now);

 private:
  enum Folder : std::uint8_t { File, IsFolder, Either };
  struct Expected {
    bool appears;
    Folder folder;
    std::string partner;  // the other end of a rename, used up with it
    Clock::time_point until;
    std::optional<platform::FileStamp> made;  // a file we made, as we left it
  };
  void Forget(Clock::time_point now);
  void Erase(const std::string& path, const std::string& partner);
  std::multimap<std::string, Expected> paths_;
  Clock::time_point forgotAt_{};
};

}  // namespace vantrel
