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
  // Everything after the second "｜" of its line, further "｜" included.
  std::string actionText;
  bool enabled = true;
  // A disabled rule whose line carried no mark is saved without one again.
  bool marked = true;
  bool operator==(const MonitorRule&) const = default;
};

using RuleList = std::vector<MonitorRule>;

// A line of the file that is no rule (an empty line, one without two "｜",
// one whose bytes are not text), kept to be written back unchanged before
// the rule it stood before.
struct KeptLine {
  std::size_t beforeRule = 0;
  std::string bytes;  // as deciphered, without its CR LF
  bool operator==(const KeptLine&) const = default;
};

// Keeps the lines that stood after the removed rule in their places.
void RuleRemoved(std::vector<KeptLine>& kept, std::size_t index);

struct RuleFileContent {
  RuleList rules;
  std::vector<KeptLine> kept;
};

// Two literal backslashes, then 全局路径: the monitored path that matches
// every path.
inline constexpr std::string_view GlobalPathMarker = "\\\\全局路径";
inline constexpr std::string_view RuleFileKey = "507318264";

std::string Rc4Transform(std::string_view data, std::string_view key);

// Whether the rule can act: a rule written by another version (an empty
// action, fields this one does not know) is listed and kept, never acted on.
bool RuleActs(const MonitorRule& rule);

// The plain bytes of the file (GB18030, before encipherment) and back. Every
// line a parse took in is serialised back byte for byte.
std::string SerializeRules(const RuleList& rules, const std::vector<KeptLine>& kept = {});
RuleFileContent ParseRules(std::string_view plain);

// Replaces the file atomically; false (errno set) when it could not be
// written, the previous file then being untouched.
bool SaveRuleFile(const std::string& path, const RuleList& rules, const std::vector<KeptLine>& kept = {});
// 0, or why the file could not be read (ENOENT: there is none yet, a
// FileError for what is no regular file or too large to be one).
int LoadRuleFile(const std::string& path, RuleFileContent& content);
// The rules alone; none when the file cannot be read.
RuleList LoadRuleFile(const std::string& path);

}  // namespace vantrel
