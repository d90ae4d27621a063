#pragma once
// What a rule would do, without doing it: to the items already in its
// folder, as if each had just come, and to the changes the event list
// holds. Nothing on disk is touched; a target name already taken shows the
// numbered name a copy or move would take instead.
#include "rules/RuleFile.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vantrel {

struct PreviewLine {
  std::string path;  // the item the rule would act on
  std::string what;  // in the user's words: "复制到 …", "删除", "执行 …"
};

struct RulePreview {
  std::vector<PreviewLine> lines;
  // Why nothing could be listed (the path names no folder), else empty.
  std::string note;
  bool more = false;  // the limit was reached: more items would follow
};

// The items below the rule's folder that its event kind and name patterns
// take, at most limit of them.
RulePreview PreviewRuleOnFolder(const MonitorRule& rule, std::size_t limit = 1000);

// What the rule would have done to each listed change that it takes.
struct ListedChange {
  std::string path;
  std::string eventName;
  std::string itemName;
};
std::vector<PreviewLine> PreviewRuleOnChanges(const MonitorRule& rule, const std::vector<ListedChange>& changes,
                                              std::size_t limit = 1000);

}  // namespace vantrel
