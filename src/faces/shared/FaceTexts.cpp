#include "faces/shared/FaceTexts.h"

#include "rules/RuleMatcher.h"
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
