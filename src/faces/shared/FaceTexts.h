#pragma once
// The texts every window shows alike: the lists' column titles, the menus'
// items and the action column's wording.
#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr const char* kEventColumnTitles[] = {"触发时间", "事件名称", "事件类型", "事件路径"};
inline constexpr int kEventColumnWidths[] = {180, 200, 100, 480};
inline constexpr const char* kRuleColumnTitles[] = {"监控事件", "监控路径", "执行操作"};
inline constexpr int kRuleColumnWidths[] = {150, 500, 310};
// "修改颜色"'s items: a column of event rows, or action rows ("执行").
inline constexpr const char* kColourKeys[] = {"时间", "名称", "类型", "路径", "执行"};

// The action column's text: an execution rule's program, parameters and
// mode spelled out; any other rule's action as data.jl stores it.
std::string ShownAction(const std::string& actionText);

// A prompt's title and text fit the tray's fields: at most maxBytes in the
// stored encoding, never cut inside a character.
inline constexpr std::size_t kPromptTitleBytes = 63;
inline constexpr std::size_t kPromptTextBytes = 255;
inline constexpr int kPromptTimeoutMs = 5000;
std::string CutToAnsiBytes(std::string_view text, std::size_t maxBytes);

}  // namespace vantrel
