#pragma once
// What the rule editor holds, apart from how a window shows it: a rule read
// into the form's fields, the checks before it is added, its action text and
// the question that confirms it. Every window's editor is a view of this.
#include "engine/RuleStore.h"
#include "rules/RulePreview.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// The event box's items; position 4 is a separator no one may choose.
inline constexpr const char* kEventItems[] = {"新建文件", "删除文件", "更新文件", "重命名文件",
                                              "-",        "新建目录", "删除目录", "重命名目录"};
inline constexpr int kEventSeparator = 4, kEventInsteadOfSeparator = 3;
// The operations' captions, in the order of their radio buttons.
inline constexpr const char* kOperationCaptions[] = {"复制文件", "移动文件", "删除文件", "执行程序"};
inline constexpr const char* kModeItems[] = {"普通激活", "隐藏窗口", "最小化激活", "最大化激活"};
// Shown in an empty path box; a deletion rule with no target stores it as
// its operand, as earlier versions did.
inline constexpr const char* kCueText = "拖放文件/文件夹到此自动获取路径";

struct RuleForm {
  enum Operation { Copy, Move, Delete, Run };
  int event = 0;  // a position in kEventItems
  std::string path;
  bool global = false;
  Operation operation = Copy;
  std::string target, parameters;
  int mode = 0;  // a position in kModeItems
};

// A rule as the editor shows it for modifying.
RuleForm FormOf(const MonitorRule& rule);
// Why the form cannot become a rule, in the user's words; nothing when it can.
std::optional<std::string> FormRefusal(const RuleForm& form);
// The form's paths as typed, made usable: "~" expanded, separators and "."
// cleaned, the form's boxes then showing what the rule will hold. A path no
// rule could use is refused with the reason; folders that do not exist yet
// are listed, for the window to offer to make them.
struct FormPathCheck {
  std::optional<std::string> refusal;
  std::vector<std::string> missingFolders;
};
FormPathCheck CheckFormPaths(RuleForm& form, const std::string& home);
std::string MakeFolderQuestion(const std::string& folder);

// 试一试: what the rule the form makes would do now to the items already in
// its folder and to the changes listed, without acting, as text to read; or
// why the form makes no rule (ok false). No folder is made for it.
std::string TryForm(RuleForm form, const std::string& home, const std::vector<ListedChange>& listed, bool& ok);

// The rule the form makes (after FormRefusal said nothing).
MonitorRule RuleOf(const RuleForm& form);
// The question before a rule is added or saved.
std::string FormConfirmation(const RuleForm& form);
// What a path dropped on the target box makes of it: for a copy or a move
// the folder of a dropped file (with its trailing separator), a shortcut's
// target, else the path itself; nothing for a deletion, which has no target.
std::optional<std::string> DroppedTarget(RuleForm::Operation operation, const std::string& path);
// The hint under the operations.
const char* OperationHint(RuleForm::Operation operation);
// Whether two rules say the same (event, path, action), ticks aside.
bool SameTexts(const MonitorRule& a, const MonitorRule& b);
// Whether the list has a rule with the same three texts already; adding it
// again is asked first.
bool AlreadyListed(const RuleList& rules, const MonitorRule& rule);
inline constexpr const char* kAlreadyListedQuestion = "监控列表中已有相同的监控, 是否仍要添加?";

}  // namespace vantrel
