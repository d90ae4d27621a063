#include "engine/RuleStore.h"

#include "text/AtomicFile.h"

#include <cerrno>

namespace vantrel {

bool RuleStore::ReadFile(RuleList& rules, std::vector<KeptLine>& kept) {
  RuleFileContent content;
  int error = LoadRuleFile(file_, content);
  if (error && error != ENOENT) {
    fileError_ = FileErrorText(error);
    return false;
  }
  fileError_.clear();
  rules = std::move(content.rules);
  kept = std::move(content.kept);
  return true;
}

void RuleStore::Load() {
  Reload();
  if (fileError_.empty()) return;
  host_.prompt("提示:",
               "无法读取监控规则文件 " + file_ + " (" + fileError_ +
                   "), 文件保持原样; 在它能被读取之前, 规则列表的修改不会保存。",
               true);
}

void RuleStore::Reload() {
  RuleList rules;
  std::vector<KeptLine> kept;
  const bool read = ReadFile(rules, kept);
  if (observer_.aboutToReset) observer_.aboutToReset();
  rules_ = read ? std::move(rules) : RuleList{};
  keptLines_ = std::move(kept);
  if (observer_.reset) observer_.reset();
  host_.changed();
}

bool RuleStore::ChangeAllowed() {
  if (fileError_.empty()) return true;
  // Nothing could change while the file was unreadable, so the list is still
  // empty and takes the file's rules now, if it can be read.
  RuleList rules;
  std::vector<KeptLine> kept;
  if (ReadFile(rules, kept)) {
    if (observer_.aboutToReset) observer_.aboutToReset();
    rules_ = std::move(rules);
    keptLines_ = std::move(kept);
    if (observer_.reset) observer_.reset();
    host_.changed();
    return true;
  }
  host_.prompt("提示:", "监控规则文件 " + file_ + " 无法读取 (" + fileError_ + "), 规则列表不能修改。", true);
  return false;
}

bool RuleStore::Save() {
  if (!fileError_.empty()) return false;
  if (SaveRuleFile(file_, rules_, keptLines_)) return true;
  // The earlier file stays whole; the user must know this change is not kept.
  host_.prompt("提示:", "保存监控规则失败: " + file_ + " (" + FileErrorText(errno) + ")", true);
  return false;
}

void RuleStore::Add(const std::string& eventName, const std::string& monitoredPath, const std::string& actionText) {
  if (!ChangeAllowed()) return;
  const bool enabled = !(host_.customPathMode() && monitoredPath == GlobalPathMarker);
  const std::size_t row = rules_.size();
  if (observer_.aboutToInsert) observer_.aboutToInsert(row, 1);
  rules_.push_back({eventName, monitoredPath, actionText, enabled});
  if (observer_.inserted) observer_.inserted(row, 1);
  host_.prompt("添加监控成功!", monitoredPath, false);
  Save();
  host_.changed();
}

bool RuleStore::Replace(std::size_t row, const std::string& eventName, const std::string& monitoredPath,
                        const std::string& actionText) {
  if (row >= rules_.size() || !ChangeAllowed()) return false;
  MonitorRule& rule = rules_[row];
  rule.eventName = eventName;
  rule.monitoredPath = monitoredPath;
  rule.actionText = actionText;
  if (observer_.rowChanged) observer_.rowChanged(row);
  Save();
  host_.changed();
  return true;
}

void RuleStore::SetEnabled(std::size_t row, bool enabled) {
  MonitorRule& rule = rules_[row];
  if (rule.enabled == enabled) return;
  // A rule's mark is written again once its tick changed.
  rule.marked = true;
  rule.enabled = enabled;
  if (observer_.rowChanged) observer_.rowChanged(row);
}

void RuleStore::SetEnabledByUser(std::size_t row, bool enabled) {
  if (row >= rules_.size()) return;
  if (enabled && host_.customPathMode() && rules_[row].monitoredPath == GlobalPathMarker) {
    if (observer_.rowChanged) observer_.rowChanged(row);
    host_.prompt("提示:", "当前监控路径为自定义,无法打开全局路径!", false);
    return;
  }
  if (!ChangeAllowed()) {
    if (observer_.rowChanged) observer_.rowChanged(row);
    return;
  }
  SetEnabled(row, enabled);
  Save();
}

void RuleStore::UntickGlobalPathRules() {
  for (std::size_t row = 0; row < rules_.size(); ++row)
    if (rules_[row].monitoredPath == GlobalPathMarker) SetEnabled(row, false);
}

void RuleStore::Remove(std::size_t row) {
  if (row >= rules_.size() || !ChangeAllowed()) return;
  if (observer_.aboutToRemove) observer_.aboutToRemove(row);
  const MonitorRule gone = std::move(rules_[row]);
  rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(row));
  RuleRemoved(keptLines_, row);
  if (observer_.removed) observer_.removed(row);
  Save();
  host_.changed();
  // A rule gone without a word could be gone by a slip of the hand.
  host_.prompt("已删除监控:", gone.eventName + " " + gone.monitoredPath + " " + gone.actionText, false);
}

void RuleStore::EnableAll() {
  if (!ChangeAllowed()) return;
  const bool custom = host_.customPathMode(), whole = host_.wholeDiskMode();
  for (std::size_t row = 0; row < rules_.size(); ++row) {
    const bool global = rules_[row].monitoredPath == GlobalPathMarker;
    if (whole || (custom && !global)) SetEnabled(row, true);
  }
  Save();
}

void RuleStore::DisableAll() {
  if (!ChangeAllowed()) return;
  for (std::size_t row = 0; row < rules_.size(); ++row) SetEnabled(row, false);
  Save();
}

void RuleStore::InvertAll() {
  if (!ChangeAllowed()) return;
  const bool custom = host_.customPathMode();
  for (std::size_t row = 0; row < rules_.size(); ++row) {
    const bool ticked = rules_[row].enabled;
    const bool global = rules_[row].monitoredPath == GlobalPathMarker;
    if (ticked || !(custom && global)) SetEnabled(row, !ticked);
  }
  Save();
}

void RuleStore::ClearAll() {
  if (!host_.ask("提示", "是否要清空监控列表?") || !ChangeAllowed()) return;
  if (observer_.aboutToReset) observer_.aboutToReset();
  const std::size_t count = rules_.size();
  rules_.clear();
  if (observer_.reset) observer_.reset();
  Save();
  host_.changed();
  host_.prompt("提示:", "已清空监控列表, 删除了 " + std::to_string(count) + " 条监控", false);
}

}  // namespace vantrel
