#include "faces/shared/RuleForm.h"

#include "faces/shared/FaceTexts.h"

#include "rules/RuleMatcher.h"
#include "rules/RulePath.h"
#include "text/PathRoutines.h"
#include "text/ShellLink.h"
#include "text/TextRules.h"

#include <algorithm>

namespace vantrel {

RuleForm FormOf(const MonitorRule& rule) {
  RuleForm form;
  for (int i = 0; i < static_cast<int>(std::size(kEventItems)); ++i)
    if (i != kEventSeparator && rule.eventName == kEventItems[i]) form.event = i;
  form.global = rule.monitoredPath == GlobalPathMarker;
  form.path = rule.monitoredPath;
  const std::string operation = OperationName(rule.actionText), operand = Operand(rule.actionText);
  for (int i = 0; i < 4; ++i)
    if (operation == kOperationCaptions[i]) form.operation = static_cast<RuleForm::Operation>(i);
  const std::vector<std::string> fields = SplitText(operand, "§");
  if (form.operation == RuleForm::Run && fields.size() > 2) {
    form.target = fields[0];
    form.parameters = fields[1];
    const std::int64_t mode = LeadingInteger(fields[2]);
    form.mode = mode >= 0 && mode < 4 ? static_cast<int>(mode) : 0;
  } else {
    // The hint that earlier versions stored for a deletion is no value.
    form.target = operand == kCueText ? std::string() : operand;
  }
  return form;
}

std::optional<std::string> FormRefusal(const RuleForm& form) {
  // An empty box would make a rule that matches every path on the disk.
  if (form.path.empty() || form.path == kCueText) return "监控路径未输入!";
  const bool noTarget = form.target.empty() || form.target == kCueText;
  if (noTarget && (form.operation == RuleForm::Copy || form.operation == RuleForm::Move))
    return "目标文件夹未输入! 请用“选择”或拖放指定复制或移动到的文件夹。";
  if (noTarget && form.operation == RuleForm::Run) return "执行参数未输入! 请用“选择”指定要执行的程序。";
  // The rule file keeps one rule per line with "｜" between the fields.
  for (const std::string* text : {&form.path, &form.target, &form.parameters})
    if (TextContains(*text, "｜") || text->find_first_of("\r\n") != std::string::npos)
      return "路径和参数中不能含有“｜”或换行: 规则文件用它们分隔规则和字段。";
  return std::nullopt;
}

FormPathCheck CheckFormPaths(RuleForm& form, const std::string& home) {
  FormPathCheck check;
  auto take = [&](std::string& box, PathRole role, const char* what) {
    const TypedPath typed = CheckTypedPath(box, home, role);
    if (!typed.refusal.empty()) {
      if (!check.refusal) check.refusal = std::string(what) + typed.refusal;
      return;
    }
    box = typed.path;
    if (!typed.missingFolder.empty()) check.missingFolders.push_back(typed.missingFolder);
  };
  if (!form.global) take(form.path, PathRole::Watched, "监控路径: ");
  if (form.operation == RuleForm::Copy || form.operation == RuleForm::Move) {
    take(form.target, PathRole::Target, "目标文件夹: ");
  } else if (form.operation == RuleForm::Run && (form.target == "~" || form.target.rfind("~/", 0) == 0)) {
    // A program may be a bare command name found on the search path; only
    // the home is spelled out.
    form.target = home + form.target.substr(1);
  }
  return check;
}

std::string TryForm(RuleForm form, const std::string& home, const std::vector<ListedChange>& listed, bool& ok) {
  ok = false;
  if (std::optional<std::string> why = FormRefusal(form)) return *why;
  const FormPathCheck paths = CheckFormPaths(form, home);
  if (paths.refusal) return *paths.refusal;
  ok = true;
  const MonitorRule rule = RuleOf(form);
  const RulePreview preview = PreviewRuleOnFolder(rule);
  std::string text = "监控事件∶" + rule.eventName + "  监控路径∶" + rule.monitoredPath + "\n执行操作∶" +
                     ShownAction(rule.actionText) + "\n\n现在文件夹中已有的项目, 此规则会这样处理 (均未执行):\n";
  if (!preview.note.empty()) text += "  " + preview.note + "\n";
  for (const PreviewLine& line : preview.lines) text += "  " + line.path + "  →  " + line.what + "\n";
  if (preview.note.empty() && preview.lines.empty()) text += "  (没有)\n";
  if (preview.more) text += "  …… (只列出前 " + std::to_string(preview.lines.size()) + " 项)\n";
  const std::vector<PreviewLine> rows = PreviewRuleOnChanges(rule, listed);
  text += "\n事件列表中的变动, 此规则会这样处理:\n";
  for (const PreviewLine& line : rows) text += "  " + line.path + "  →  " + line.what + "\n";
  if (rows.empty()) text += "  (没有)\n";
  return text;
}

std::string MakeFolderQuestion(const std::string& folder) {
  return "文件夹 " + folder + " 不存在, 是否现在创建?";
}

MonitorRule RuleOf(const RuleForm& form) {
  const std::string target = form.target == kCueText ? std::string() : form.target;
  std::string action = std::string("【") + kOperationCaptions[form.operation] + "】";
  // A deletion without a target keeps the operand earlier versions wrote.
  action += form.operation == RuleForm::Delete && target.empty() ? std::string(kCueText) : target;
  if (form.operation == RuleForm::Run) action += "§" + form.parameters + "§" + std::to_string(form.mode);
  return MonitorRule{kEventItems[form.event], form.path, action};
}

std::string FormConfirmation(const RuleForm& form) {
  return std::string("监控事件∶") + kEventItems[form.event] + "\r\n\r\n监控路径∶" + form.path + "\r\n\r\n执行操作∶" +
         kOperationCaptions[form.operation];
}

std::optional<std::string> DroppedTarget(RuleForm::Operation operation, const std::string& path) {
  if (operation == RuleForm::Delete) return std::nullopt;
  if ((operation == RuleForm::Copy || operation == RuleForm::Move) && !PathExtension(path).empty()) {
    const std::size_t slash = LastSeparator(path);
    return slash == std::string::npos ? path : path.substr(0, slash + 1);
  }
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".lnk") == 0) return ResolveShortcutTarget(path);
  return path;
}

bool SameTexts(const MonitorRule& a, const MonitorRule& b) {
  return a.eventName == b.eventName && a.monitoredPath == b.monitoredPath && a.actionText == b.actionText;
}

bool AlreadyListed(const RuleList& rules, const MonitorRule& rule) {
  return std::any_of(rules.begin(), rules.end(), [&](const MonitorRule& r) { return SameTexts(r, rule); });
}

const char* OperationHint(RuleForm::Operation operation) {
  switch (operation) {
    case RuleForm::Copy:
      return "小提示∶ 复制文件到指定目录, 如果文件存在则自动加上序号";
    case RuleForm::Move:
      return "小提示∶ 移动文件到指定目录, 如果文件存在则自动加上序号";
    case RuleForm::Delete:
      return "小提示∶ 删除文件不需要选择路径";
    case RuleForm::Run:
      break;
  }
  return "小提示∶ #文件名 自动替换为触发的文件名, #路径 自动替换为触发的文件路径, 上方可自定义执行参数和执行方式";
}

}  // namespace vantrel
