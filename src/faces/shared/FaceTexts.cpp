#include "faces/shared/FaceTexts.h"

#include "engine/Engine.h"
#include "rules/RuleMatcher.h"
#include "rules/RulePreview.h"
#include "text/PathRoutines.h"
#include "text/Codec.h"
#include "text/TextRules.h"

namespace vantrel {

std::string ShownAction(const std::string& actionText) {
  if (OperationName(actionText) != "执行程序") return actionText;
  std::vector<std::string> fields = SplitText(Operand(actionText), "§");
  if (fields.size() < 3) return actionText;
  static const char* const kModes[] = {"普通激活", "隐藏窗口", "最小化激活", "最大化激活"};
  std::int64_t mode = LeadingInteger(fields[2]);
  return "【执行程序】" + fields[0] + "    参数: " + (fields[1].empty() ? std::string("(无)") : fields[1]) +
         "    方式: " + kModes[mode >= 0 && mode < 4 ? mode : 0];
}

std::string WatchedText(const Engine& engine) {
  const Settings& settings = engine.CurrentSettings();
  const ChangeSource* source = engine.Source();
  const std::string through = source ? std::string(" (") + source->Name() + ")" : std::string();
  // Enabled; of those, able to act; of those, on a path of their own.
  std::size_t rules = 0, acting = 0, custom = 0;
  for (const MonitorRule& rule : engine.Rules().Rules()) {
    if (!rule.enabled) continue;
    ++rules;
    if (WhyRuleNeverActs(rule)) continue;
    ++acting;
    if (rule.monitoredPath != GlobalPathMarker) ++custom;
  }
  // With both boxes ticked, or neither, the rules' folders are what is watched.
  if (settings.wholeDisk && !settings.customPath) {
    return "监控: 全盘" + through +
           (rules ? ", " + std::to_string(rules) + " 条规则启用" : std::string(", 没有启用的规则"));
  }
  if (custom == 0) return "未在监控: 没有能生效的规则";
  return "监控: 规则中的 " + std::to_string(engine.WatchRoots().size()) + " 个文件夹" + through + ", " +
         std::to_string(acting) + " 条规则启用";
}

std::string RowsText(std::size_t rows, std::size_t below) {
  std::string text = "列表 " + std::to_string(rows) + " 行";
  if (below) text += ", 下方有 " + std::to_string(below) + " 条新记录";
  return text;
}

std::vector<ListedChange> ListedChanges(const EventList& list) {
  std::vector<ListedChange> changes;
  for (std::size_t row = 0; row < list.RowCount(); ++row) {
    if (list.Cell(row, 1).rfind("【", 0) == 0) continue;
    const std::string path(list.Cell(row, 3));
    changes.push_back({path, std::string(list.Cell(row, 2)), PathFileName(path)});
  }
  return changes;
}

std::string ShownRulePath(const MonitorRule& rule) {
  return WhyRuleNeverActs(rule) ? "⚠ " + rule.monitoredPath : rule.monitoredPath;
}

std::optional<std::string> RuleNeverActsText(const MonitorRule& rule) {
  std::optional<std::string> why = WhyRuleNeverActs(rule);
  if (why) *why = "此规则不会生效: " + *why;
  return why;
}

std::string RemoveRuleQuestion(const MonitorRule& rule) {
  return "是否删除这条监控?\r\n\r\n监控事件∶" + rule.eventName + "\r\n监控路径∶" + rule.monitoredPath +
         "\r\n执行操作∶" + ShownAction(rule.actionText);
}

std::string CutToAnsiBytes(std::string_view text, std::size_t maxBytes) {
  if (AnsiByteLength(text) <= maxBytes) return std::string(text);
  std::size_t used = 0, end = 0;
  while (end < text.size()) {
    std::size_t next = end + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    std::size_t width = AnsiByteLength(text.substr(end, next - end));
    if (used + width > maxBytes) break;
    used += width;
    end = next;
  }
  return std::string(text.substr(0, end));
}

}  // namespace vantrel
