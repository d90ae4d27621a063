#pragma once
// Which rules an accepted event fires, and what the action of one does; the
// action queue walks the rules that fire, in row order.
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
#include <utility>
#include <vector>

namespace vantrel {

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

// Whether the rule fires for an event of that kind at that path; itemName
// (the new name of a renamed item) is what name patterns are matched with.
bool RuleFires(const MonitorRule& rule, const std::string& eventPath, EventKind kind,
               const std::string& itemName = {});

// Why a rule as it stands can never act, in the user's words (an event or
// operation this version does not know, a path no change's path contains);
// nothing when it can. The list marks such a rule rather than keep it
// silently.
std::optional<std::string> WhyRuleNeverActs(const MonitorRule& rule);

// What one firing rule's action did to the event's item.
struct RuleActionResult {
  // The row to list; none when the rule could not run or is put off.
  std::optional<ActionOutcome> outcome;
  // What the action changed, in order, so that the events it causes fire no
  // rule; a file made is known by its content as it was placed.
  std::vector<ActionChange> changes;
  // The file was still written, changed while it was read, or not yet seen
  // whole where nobody can say who writes it, and nothing of it was placed:
  // the rule is to act once the file is whole.
  bool unfinished = false;
  // A program rule whose fields do not fit: told as an error, and the walk
  // of the rules ends.
  std::optional<std::pair<std::string, std::string>> error;
  // A folder was copied or moved: the later rules would find nothing.
  bool endsWalk = false;
};
// Carries out the action of a rule that fires for the event. judgedWhole:
// the file was seen whole by a wait (the copy need not ask who writes it
// where nobody can tell).
RuleActionResult RunRuleAction(const MonitorRule& rule, const std::string& eventPath, EventKind kind,
                               const std::string& itemName, const std::string& newPath = {},
                               bool judgedWhole = false, bool toTrash = false);

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
