#include "rules/RulePreview.h"

#include "monitor/EventKind.h"
#include "platform/Utf8Path.h"
#include "rules/ActionNames.h"
#include "rules/Files.h"
#include "rules/RuleMatcher.h"
#include "rules/RulePath.h"
#include "text/PathRoutines.h"
#include "text/TextRules.h"

#include <filesystem>
#include <system_error>

namespace vantrel {
namespace {

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(PathFromUtf8(path), error);
}

// The name a copy or move would take in folder, numbered as the action
// numbers it, only looked at.
std::string FreeName(const std::string& folder, const std::string& path, const std::string& monitoredPath) {
  files::Folder dir;
  const bool open = !files::OpenFolder(folder, dir, false);
  const PlacedName placed = PlaceNumbered(
      SplitActionName(path), monitoredPath,
      [&](const char* name) { return Exists(JoinPath(folder, name)) ? EEXIST : 0; },
      [&](const std::string& pattern) { return open ? files::CountMatching(dir, folder, pattern) : std::size_t{0}; });
  return JoinPath(folder, placed.name);
}

std::string Described(const MonitorRule& rule, const std::string& path, const std::string& name) {
  const std::string operand = Operand(rule.actionText);
  const Operation operation = OperationOf(rule.actionText);
  switch (operation) {
    case Operation::Copy:
      return "复制到 " + FreeName(operand, path, rule.monitoredPath);
    case Operation::Move:
      return "移动到 " + FreeName(operand, path, rule.monitoredPath);
    case Operation::Delete:
      return "删除";
    case Operation::RunProgram: {
      const std::vector<std::string> fields = SplitText(operand, "§");
      if (fields.size() < 3) return std::string(OperationWord(operation)) + ": 参数不符合, 不会执行";
      std::string parameters = ReplaceAll(fields[1], "#文件名", name);
      parameters = ReplaceAll(parameters, "#路径", path);
      return "执行 " + ReplaceAll(fields[0], "#文件名", name) + " " + parameters;
    }
    case Operation::None:
      break;
  }
  return "不执行任何操作";
}

}  // namespace

RulePreview PreviewRuleOnFolder(const MonitorRule& rule, std::size_t limit) {
  RulePreview preview;
  if (std::optional<std::string> never = WhyRuleNeverActs(rule)) {
    preview.note = "此规则不会生效: " + *never;
    return preview;
  }
  const RulePath parts = SplitRulePath(rule.monitoredPath);
  const std::string folder(parts.folder);
  if (rule.monitoredPath == GlobalPathMarker || !IsAbsolutePath(folder) || !IsDirectoryPath(folder)) {
    preview.note = "监控路径不是一个文件夹, 无法列出其中已有的文件; 规则按路径文字匹配变动";
    return preview;
  }
  const EventKind kind = EventKindOfName(rule.eventName);
  const bool folders = IsFolderKind(kind);
  // What it would do were it on.
  MonitorRule on = rule;
  on.enabled = true;
  std::error_code error;
  // Links are not followed: the rules never act through them either.
  for (auto it = std::filesystem::recursive_directory_iterator(
           PathFromUtf8(folder), std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const bool isFolder = it->is_directory(error) && !it->is_symlink(error);
    if (isFolder != folders) continue;
    const std::string path = Utf8FromPath(it->path());
    const std::string name = PathFileName(path);
    if (!RuleFires(on, path, kind, name)) continue;
    if (preview.lines.size() == limit) {
      preview.more = true;
      break;
    }
    preview.lines.push_back({path, Described(rule, path, name)});
  }
  return preview;
}

std::vector<PreviewLine> PreviewRuleOnChanges(const MonitorRule& rule, const std::vector<ListedChange>& changes,
                                              std::size_t limit) {
  std::vector<PreviewLine> lines;
  MonitorRule enabled = rule;
  enabled.enabled = true;
  for (const ListedChange& change : changes) {
    if (lines.size() == limit) break;
    const EventKind kind = EventKindOfName(change.eventName);
    if (!RuleFires(enabled, change.path, kind, change.itemName)) continue;
    lines.push_back({change.path, Described(rule, change.path, change.itemName)});
  }
  return lines;
}

}  // namespace vantrel
