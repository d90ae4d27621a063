#include "rules/RuleMatcher.h"

#include "rules/ProgramAction.h"
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
  return operation + "失败】" + detail + " (" + result.error + ")";
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

std::string EffectivePath(const std::string& eventPath, const std::string& eventName, const std::string& itemName) {
  return TextContains(eventName, "重命名") ? ReplaceLastComponent(eventPath, itemName) : eventPath;
}

void MatchRules(const std::string& eventPath, const std::string& eventName, const std::string& itemName,
                MatchHost& host) {
  // What our own actions did never fires a rule again: a copy rule whose
  // target lies inside its monitored path would otherwise copy its copies.
  if (host.CausedByUs(eventPath)) return;
  const std::size_t count = host.RuleCount();
  for (std::size_t row = 0; row < count && row < host.RuleCount(); ++row) {
    const MonitorRule& candidate = host.RuleAt(row);
    if (!candidate.enabled || candidate.eventName != eventName || !RuleActs(candidate)) continue;
    if (!(TextContains(eventPath, candidate.monitoredPath) || candidate.monitoredPath == GlobalPathMarker)) continue;
    // A copy: the list may change while an action lets pending work run.
    const MonitorRule rule = candidate;
    const std::string operation = OperationName(rule.actionText);
    const std::string operand = Operand(rule.actionText);
    host.SetLastActionTarget(operand);
    const std::string path = EffectivePath(eventPath, eventName, itemName);
    Pump pump = [&host] { host.Pump(); };

    if (operation == "复制文件" || operation == "移动文件") {
      bool copy = operation == "复制文件";
      if (IsDirectoryEvent(eventName)) {
        std::string target = JoinPath(operand, copy ? DirectoryCopyName(path) : PathFileName(path, true));
        host.WillChange(target, true);
        if (!copy) host.WillChange(path, true);
        ActionResult r = copy ? CopyDirectoryAction(path, operand) : MoveDirectoryAction(path, operand);
        host.LogAction(Report(operation, r, r.target));
        return;
      }
      // Remembered before and after: a numbered name is known only once
      // found, and events handled while the action lets work through come
      // in between.
      host.WillChange(JoinPath(operand, PathFileName(path, true)), false);
      if (!copy) host.WillChange(path, false);
      ActionResult r = copy ? CopyFileAction(path, operand, rule.monitoredPath, pump)
                            : MoveFileAction(path, operand, rule.monitoredPath, pump);
      host.WillChange(r.target, false);
      host.LogAction(Report(operation, r, r.target));
    } else if (operation == "删除文件") {
      bool tree = TextContains(eventName, "目录");
      host.WillChange(path, tree);
      ActionResult r = tree ? DeleteDirectoryTree(path) : DeleteFileAction(path);
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
  auto expire = [&](std::map<std::string, Clock::time_point>& m) {
    for (auto it = m.begin(); it != m.end();) it = it->second < now ? m.erase(it) : std::next(it);
  };
  expire(paths_);
  expire(trees_);
}

void OwnChanges::Remember(const std::string& path, bool wholeTree, Clock::time_point now) {
  if (path.empty()) return;
  if (paths_.size() + trees_.size() > 4096) Forget(now);
  (wholeTree ? trees_ : paths_)[path] = now + kMemory;
}

bool OwnChanges::Contains(const std::string& path, Clock::time_point now) const {
  if (auto it = paths_.find(path); it != paths_.end() && it->second >= now) return true;
  for (const auto& [tree, until] : trees_)
    if (until >= now && PathWithin(path, tree)) return true;
  return false;
}

}  // namespace vantrel
