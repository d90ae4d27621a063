#pragma once
// The texts every window shows alike: the lists' column titles, the menus'
// items and the action column's wording.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr const char* kEventColumnTitles[] = {"触发时间", "事件名称", "事件类型", "事件路径"};
inline constexpr int kEventColumnWidths[] = {180, 200, 100, 480};
inline constexpr const char* kRuleColumnTitles[] = {"监控事件", "监控路径", "执行操作"};
inline constexpr int kRuleColumnWidths[] = {150, 500, 310};
// "修改颜色"'s items: a column of event rows, action rows ("执行"), or the
// rows of actions that failed ("失败").
inline constexpr const char* kColourKeys[] = {"时间", "名称", "类型", "路径", "执行", "失败"};

// The action column's text: an execution rule's program, parameters and
// mode spelled out; any other rule's action as data.jl stores it.
std::string ShownAction(const std::string& actionText);

// What the line under the lists says of the watching: the whole disk, or
// how many folders the rules name, through which change source; or that
// nothing is watched, and how to begin.
class Engine;
std::string WatchedText(const Engine& engine);
// How many rows the event list holds, and how many new ones wait below
// where the user scrolled up to read.
std::string RowsText(std::size_t rows, std::size_t below);
// Drawn inside an empty rule list, so that the way to the first rule is in
// sight.
inline constexpr const char* kEmptyRulesHint =
    "还没有监控规则。按 Enter 或双击这里添加第一条规则 (也可在列表上按右键, 选“添加监控”)。";
struct MonitorRule;
struct ListedChange;
class EventList;
// The changes the event list holds (its event rows, not its action rows),
// for trying a rule on them.
std::vector<ListedChange> ListedChanges(const EventList& list);

// A rule's path as the list shows it: marked when the rule can never act
// (the reason is RuleNeverActsText's).
std::string ShownRulePath(const MonitorRule& rule);
std::optional<std::string> RuleNeverActsText(const MonitorRule& rule);

// The question before the Delete key removes a rule (the store tells what
// any removal removed).
std::string RemoveRuleQuestion(const MonitorRule& rule);

// A prompt's title and text fit the tray's fields: at most maxBytes in the
// stored encoding, never cut inside a character.
inline constexpr std::size_t kPromptTitleBytes = 63;
inline constexpr std::size_t kPromptTextBytes = 255;
inline constexpr int kPromptTimeoutMs = 5000;
std::string CutToAnsiBytes(std::string_view text, std::size_t maxBytes);

}  // namespace vantrel
