#pragma once
// Rules and their file, data.jl: one line per rule, enciphered with RC4.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct MonitorRule {
  std::string eventName;
  std::string monitoredPath;
  std::string actionText;
  bool enabled = true;
  bool operator==(const MonitorRule&) const = default;
};

using RuleList = std::vector<MonitorRule>;

// Two literal backslashes, then 全局路径: the monitored path that matches
// every path.
inline constexpr std::string_view GlobalPathMarker = "\\\\全局路径";
inline constexpr std::string_view RuleFileKey = "507318264";

std::string Rc4Transform(std::string_view data, std::string_view key);

// The plain text of the file (internal encoding) and back.
std::string SerializeRules(const RuleList& rules);
RuleList ParseRules(std::string_view text);

// Replaces the file atomically; false (errno set) when it could not be
// written, the previous file then being untouched.
bool SaveRuleFile(const std::string& path, const RuleList& rules);
// A missing or unreadable file gives no rules.
RuleList LoadRuleFile(const std::string& path);

}  // namespace vantrel
