#include "rules/RuleMatcher.h"

#include "rules/ProgramAction.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

namespace vantrel {
namespace {

constexpr std::string_view kOpen = "【";
constexpr std::string_view kClose = "】";

bool IsDirectoryEvent(const std::string& eventName) { return eventName == "新建目录" || eventName == "重命名目录"; }

// A failed action still gets its row, saying so and why.
std::string Report(const std::string& operation, const ActionResult& result, const std::string& detail) {
  if (result.ok) return operation + "】" + detail;
  return operation + "失败】" + ReadableText(detail) + " (" + result.error + ")";
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

std::string EffectivePath(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                          const std::string& newPath) {
  return TextContains(eventName, "重命名") ? NewPathOfRename(eventPath, itemName, newPath) : eventPath;
}

bool RuleFires(const MonitorRule& rule, const std::string& eventPath, const std::string& eventName) {
  return rule.enabled && rule.eventName == eventName && RuleActs(rule) &&
         (TextContains(eventPath, rule.monitoredPath) || rule.monitoredPath == GlobalPathMarker);
}

void MatchRules(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                MatchHost& host, const std::string& newPath) {
  // What our own actions did never fires a rule again: a copy rule whose
  // target lies inside its monitored path would otherwise copy its copies.
  if (host.CausedByUs(eventPath, eventName)) return;
  const std::size_t count = host.RuleCount();
  for (std::size_t row = 0; row < count && row < host.RuleCount(); ++row) {
    const MonitorRule& candidate = host.RuleAt(row);
    if (!RuleFires(candidate, eventPath, eventName)) continue;
    // A copy: the list may change while an action lets pending work run.
    const MonitorRule rule = candidate;
    const std::string operation = OperationName(rule.actionText);
    const std::string operand = Operand(rule.actionText);
    host.SetLastActionTarget(operand);
    const std::string path = EffectivePath(eventPath, eventName, itemName, newPath);

    if (operation == "复制文件" || operation == "移动文件") {
      bool copy = operation == "复制文件";
      if (IsDirectoryEvent(eventName)) {
        ActionResult r = copy ? CopyDirectoryAction(path, operand) : MoveDirectoryAction(path, operand);
        // Even a failed folder action may have written part of its tree.
        host.Changed({OwnChange::Tree, r.target, {}});
        if (!copy) host.Changed({OwnChange::Tree, path, {}});
        host.LogAction(Report(operation, r, r.target));
        return;
      }
      // Remembered once done: a file appears under its name only at the end,
      // after the last moment the action lets other work through.
      ActionResult r = copy ? CopyFileAction(path, operand, rule.monitoredPath)
                            : MoveFileAction(path, operand, rule.monitoredPath);
      if (r.ok) host.Changed(copy ? OwnChange{OwnChange::Appeared, r.target, {}} : OwnChange{OwnChange::Moved, path, r.target});
      host.LogAction(Report(operation, r, r.target));
    } else if (operation == "删除文件") {
      bool tree = TextContains(eventName, "目录");
      ActionResult r = tree ? DeleteDirectoryTree(path) : DeleteFileAction(path);
      if (tree) {
        host.Changed({OwnChange::Tree, path, {}});
      } else if (r.ok) {
        host.Changed({OwnChange::Vanished, path, {}});
      }
      host.LogAction(Report(operation, r, path));
    } else if (operation == "执行程序") {
      ProgramLaunch launch = RunProgramAction(operand, itemName, path);
      if (!launch.fieldsOk) {
        host.ShowErrorPrompt("执行程序错误", "参数不符合,请重新检查后再执行!");
        return;
      }
      host.LogAction(Report(operation, {launch.detail, launch.started, launch.error}, launch.detail));
    }
  }
}

void OwnChanges::Forget(Clock::time_point now) {
  std::erase_if(paths_, [&](const auto& entry) { return entry.second.until < now; });
  std::erase_if(trees_, [&](const auto& entry) { return entry.second < now; });
}

bool OwnChanges::Empty(Clock::time_point now) {
  if (paths_.empty() && trees_.empty()) return true;
  if (now - forgotAt_ >= std::chrono::seconds(1)) {
    Forget(now);
    forgotAt_ = now;
  }
  return paths_.empty() && trees_.empty();
}

void OwnChanges::Remember(const OwnChange& change, Clock::time_point now) {
  if (change.path.empty()) return;
  // Echoes that never come (a target nobody watches) would pile up: they are
  // let go once run out, looked for at most once a second so that a burst of
  // actions costs no sweep each.
  if (paths_.size() + trees_.size() > 4096 && now - forgotAt_ >= std::chrono::seconds(1)) {
    Forget(now);
    forgotAt_ = now;
  }
  Clock::time_point until = now + kMemory;
  switch (change.kind) {
    case OwnChange::Tree:
      trees_[change.path] = until;
      break;
    case OwnChange::Appeared:
    case OwnChange::Vanished:
      paths_.emplace(change.path, Expected{change.kind == OwnChange::Appeared, {}, until});
      break;
    case OwnChange::Moved:
      // One event may stand for both ends (a rename), or one for each.
      paths_.emplace(change.path, Expected{false, change.to, until});
      paths_.emplace(change.to, Expected{true, change.path, until});
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

bool OwnChanges::Consume(const std::string& path, const std::string& eventName, Clock::time_point now) {
  for (const auto& [tree, until] : trees_)
    if (until >= now && PathWithin(path, tree)) return true;
  // A rename event carries the old path: the vanishing end of a move.
  bool appears = !TextContains(eventName, "删除") && !TextContains(eventName, "重命名");
  auto [from, to] = paths_.equal_range(path);
  for (auto it = from; it != to; ++it) {
    if (it->second.until < now || it->second.appears != appears) continue;
    std::string partner = std::move(it->second.partner);
    paths_.erase(it);
    if (!partner.empty()) Erase(partner, path);
    return true;
  }
  return false;
}

}  // namespace vantrel
