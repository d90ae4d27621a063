#include "rules/RuleMatcher.h"

#include "rules/ProgramAction.h"
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

bool RuleFires(const MonitorRule& rule, const std::string& eventPath, EventKind kind) {
  return rule.enabled && kind != EventKind::None && EventKindOfName(rule.eventName) == kind && RuleActs(rule) &&
         (TextContains(eventPath, rule.monitoredPath) || rule.monitoredPath == GlobalPathMarker);
}

void MatchRules(const std::string& eventPath, EventKind kind, const std::string& itemName, MatchHost& host,
                const std::string& newPath) {
  // What our own actions did never fires a rule again: a copy rule whose
  // target lies inside its monitored path would otherwise copy its copies.
  if (host.CausedByUs(eventPath, kind)) return;
  const std::size_t count = host.RuleCount();
  for (std::size_t row = host.FirstRow(); row < count && row < host.RuleCount(); ++row) {
    const MonitorRule& candidate = host.RuleAt(row);
    if (!RuleFires(candidate, eventPath, kind)) continue;
    const MonitorRule rule = candidate;
    const Operation operation = OperationOf(rule.actionText);
    const std::string operand = Operand(rule.actionText);
    host.SetLastActionTarget(operand);
    const std::string path = EffectivePath(eventPath, kind, itemName, newPath);
    // Remembered once the action is done, so that none of them runs out
    // while a long action is still making the rest.
    std::vector<ActionChange> made;
    // A file made is known by its content at the moment it was placed.
    const ActionChanges changes = [&made](const ActionChange& c) {
      made.push_back(c);
      if (c.kind == ActionChange::FileAppeared) made.back().made = platform::StampOf(c.path);
    };
    auto remember = [&] {
      for (const ActionChange& c : made) host.Changed(c);
    };

    if (operation == Operation::Copy || operation == Operation::Move) {
      const bool copy = operation == Operation::Copy;
      if (IsDirectoryEvent(kind)) {
        ActionResult r = copy ? CopyDirectoryAction(path, operand, changes) : MoveDirectoryAction(path, operand, changes);
        remember();
        host.LogAction(Outcome(operation, r, r.target));
        return;
      }
      ActionResult r = copy ? CopyFileAction(path, operand, rule.monitoredPath, changes, host.FileJudgedWhole())
                            : MoveFileAction(path, operand, rule.monitoredPath, changes);
      remember();
      // Still written, changed while copied, or not yet seen whole where
      // nobody can say who writes it: act once it is whole.
      const bool unfinished = r.code == kSourceBeingWritten || r.code == kSourceChanged || r.code == kWritersUnknown;
      if (!r.ok && unfinished && made.empty() && host.PutOff(row)) return;
      host.LogAction(Outcome(operation, r, r.target));
    } else if (operation == Operation::Delete) {
      const bool tree = IsFolderKind(kind);
      ActionResult r = tree ? DeleteDirectoryTree(path, changes) : DeleteFileAction(path, changes);
      remember();
      host.LogAction(Outcome(operation, r, path));
    } else if (operation == Operation::RunProgram) {
      ProgramLaunch launch = RunProgramAction(operand, itemName, path);
      if (!launch.fieldsOk) {
        host.ShowErrorPrompt(std::string(OperationWord(operation)) + "错误", "参数不符合,请重新检查后再执行!");
        return;
      }
      host.LogAction(Outcome(operation, {launch.detail, launch.started, launch.error}, launch.detail));
    }
  }
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
