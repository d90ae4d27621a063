#include "rules/RuleMatcher.h"

#include "rules/ProgramAction.h"
#include "rules/RulePath.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"
#include "time/Timing.h"

namespace vantrel {
namespace {

constexpr std::string_view kOpen = "【";
constexpr std::string_view kClose = "】";

bool IsDirectoryEvent(EventKind kind) { return kind == EventKind::FolderCreated || kind == EventKind::FolderRenamed; }

ActionOutcome Outcome(Operation operation, const ActionResult& result, const std::string& detail) {
  return {result.ok ? ActionOutcome::Kind::Done : ActionOutcome::Kind::Failed, operation, detail, result.error};
}

}  // namespace

std::string OperationName(const std::string& actionText) {
  std::size_t open = actionText.find(kOpen);
  if (open == std::string::npos) return {};
  std::size_t close = actionText.find(kClose, open + kOpen.size());
  if (close == std::string::npos) return {};
  return actionText.substr(open + kOpen.size(), close - open - kOpen.size());
}

std::string Operand(const std::string& actionText) {
  std::size_t close = actionText.rfind(kClose);
  return close == std::string::npos ? std::string() : actionText.substr(close + kClose.size());
}

Operation OperationOf(const std::string& actionText) { return OperationOfWord(OperationName(actionText)); }

std::string EffectivePath(const std::string& eventPath, EventKind kind, const std::string& itemName,
                          const std::string& newPath) {
  return IsRenameKind(kind) ? NewPathOfRename(eventPath, itemName, newPath) : eventPath;
}

bool RuleFires(const MonitorRule& rule, const std::string& eventPath, EventKind kind, const std::string& itemName) {
  return rule.enabled && kind != EventKind::None && EventKindOfName(rule.eventName) == kind && RuleActs(rule) &&
         RulePathTakes(rule.monitoredPath, eventPath, itemName);
}

std::optional<std::string> WhyRuleNeverActs(const MonitorRule& rule) {
  if (EventKindOfName(rule.eventName) == EventKind::None) return "未知的监控事件 “" + rule.eventName + "”";
  if (!RuleActs(rule) || OperationOf(rule.actionText) == Operation::None)
    return "执行操作 “" + rule.actionText + "” 无法识别, 规则只列出, 不会执行";
  return RulePathNeverMatches(rule.monitoredPath);
}

RuleActionResult RunRuleAction(const MonitorRule& rule, const std::string& eventPath, EventKind kind,
                               const std::string& itemName, const std::string& newPath, bool judgedWhole,
                               bool toTrash) {
  const Operation operation = OperationOf(rule.actionText);
  const std::string operand = Operand(rule.actionText);
  const std::string path = EffectivePath(eventPath, kind, itemName, newPath);
  RuleActionResult result;
  // A file made is known by its content at the moment it was placed; read
  // by its name only where the action could not tell it, since by then a
  // user may have written to it.
  const ActionChanges changes = [&result](const ActionChange& c) {
    result.changes.push_back(c);
    if (c.kind == ActionChange::FileAppeared && !c.made) result.changes.back().made = platform::StampOf(c.path);
  };
  if (operation == Operation::Copy || operation == Operation::Move) {
    const bool copy = operation == Operation::Copy;
    if (IsDirectoryEvent(kind)) {
      ActionResult r = copy ? CopyDirectoryAction(path, operand, changes) : MoveDirectoryAction(path, operand, changes);
      result.outcome = Outcome(operation, r, r.target);
      result.endsWalk = true;
      return result;
    }
    ActionResult r = copy ? CopyFileAction(path, operand, rule.monitoredPath, changes, judgedWhole)
                          : MoveFileAction(path, operand, rule.monitoredPath, changes);
    // Still written, changed while copied, or not yet seen whole where
    // nobody can say who writes it: act once it is whole.
    const bool unfinished = r.code == kSourceBeingWritten || r.code == kSourceChanged || r.code == kWritersUnknown;
    result.unfinished = !r.ok && unfinished && result.changes.empty();
    if (!result.unfinished) result.outcome = Outcome(operation, r, r.target);
  } else if (operation == Operation::Delete) {
    ActionResult r = toTrash               ? TrashAction(path, IsFolderKind(kind), changes)
                     : IsFolderKind(kind) ? DeleteDirectoryTree(path, changes)
                                          : DeleteFileAction(path, changes);
    result.outcome = Outcome(operation, r, path);
  } else if (operation == Operation::RunProgram) {
    ProgramLaunch launch = RunProgramAction(operand, itemName, path);
    if (!launch.fieldsOk) {
      result.error.emplace(std::string(OperationWord(operation)) + "错误", "参数不符合,请重新检查后再执行!");
      return result;
    }
    result.outcome = Outcome(operation, {launch.detail, launch.started, launch.error}, launch.detail);
  }
  return result;
}

void OwnChanges::Forget(Clock::time_point now) {
  std::erase_if(paths_, [&](const auto& entry) { return entry.second.until < now; });
}

bool OwnChanges::Empty(Clock::time_point now) {
  if (paths_.empty()) return true;
  if (now - forgotAt_ >= std::chrono::seconds(1)) {
    Forget(now);
    forgotAt_ = now;
  }
  return paths_.empty();
}

void OwnChanges::Remember(const ActionChange& change, Clock::time_point now) {
  if (change.path.empty()) return;
  // Echoes that never come (a target nobody watches) would pile up: they are
  // let go once run out, looked for at most once a second so that a burst of
  // actions costs no sweep each.
  if (paths_.size() > 4096 && now - forgotAt_ >= std::chrono::seconds(1)) {
    Forget(now);
    forgotAt_ = now;
  }
  Clock::time_point until = now + timing::kOwnChangeMemory;
  switch (change.kind) {
    case ActionChange::FileAppeared:
    case ActionChange::FolderAppeared:
      paths_.emplace(PathKey(change.path),
                     Expected{true, change.kind == ActionChange::FolderAppeared ? IsFolder : File, {}, until, change.made});
      break;
    case ActionChange::FileVanished:
    case ActionChange::FolderVanished:
      paths_.emplace(PathKey(change.path),
                     Expected{false, change.kind == ActionChange::FolderVanished ? IsFolder : File, {}, until, {}});
      break;
    case ActionChange::Renamed:
      // One event may stand for both ends (a rename), or one for each.
      paths_.emplace(PathKey(change.path), Expected{false, Either, PathKey(change.to), until, {}});
      paths_.emplace(PathKey(change.to), Expected{true, Either, PathKey(change.path), until, {}});
      break;
  }
}

void OwnChanges::Erase(const std::string& path, const std::string& partner) {
  auto [from, to] = paths_.equal_range(path);
  for (auto it = from; it != to; ++it) {
    if (it->second.partner == partner) {
      paths_.erase(it);
      return;
    }
  }
}

bool OwnChanges::Consume(const std::string& path, EventKind kind, Clock::time_point handedOver) {
  // A rename event carries the old path: the vanishing end of a move.
  const bool appears = !IsRemovalKind(kind) && !IsRenameKind(kind);
  const Folder folder = IsFolderKind(kind) ? IsFolder : File;
  const std::string key = PathKey(path);
  auto [from, to] = paths_.equal_range(key);
  for (auto it = from; it != to; ++it) {
    const Expected& e = it->second;
    if (e.until < handedOver || e.appears != appears || (e.folder != Either && e.folder != folder)) continue;
    std::string partner = e.partner;
    // Changed since it was made (a user's write right after the copy, which
    // the source folded into the creation): somebody else's change. The
    // memory is used up all the same.
    bool changed = false;
    if (e.made) {
      std::optional<platform::FileStamp> now = platform::StampOf(path);
      changed = now && !now->SameContent(*e.made);
    }
    paths_.erase(it);
    if (!partner.empty()) Erase(partner, key);
    return !changed;
  }
  return false;
}

}  // namespace vantrel
