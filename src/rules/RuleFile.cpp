#include "rules/RuleFile.h"

#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/TextRules.h"

#include <array>
#include <cerrno>
#include <optional>

namespace vantrel {
namespace {
constexpr std::string_view kBar = "｜";
constexpr std::string_view kOn = "√";
constexpr std::string_view kOff = "×";
}  // namespace

std::string Rc4Transform(std::string_view data, std::string_view key) {
  if (data.empty()) return {};
  std::array<std::uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  if (!key.empty()) {
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
      j = static_cast<std::uint8_t>(j + s[i] + static_cast<std::uint8_t>(key[i % key.size()]));
      std::swap(s[i], s[j]);
    }
  }
  std::string out(data.size(), '\0');
  std::uint8_t i = 0, j = 0;
  for (std::size_t n = 0; n < data.size(); ++n) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s[i]);
    std::swap(s[i], s[j]);
    out[n] = static_cast<char>(static_cast<std::uint8_t>(data[n]) ^ s[static_cast<std::uint8_t>(s[i] + s[j])]);
  }
  return out;
}

void RuleRemoved(std::vector<KeptLine>& kept, std::size_t index) {
  for (KeptLine& line : kept)
    if (line.beforeRule > index) --line.beforeRule;
}

bool RuleActs(const MonitorRule& rule) {
  return !rule.actionText.empty() && rule.actionText.find(kBar) == std::string::npos;
}

std::string SerializeRules(const RuleList& rules, const std::vector<KeptLine>& kept) {
  std::string bytes;
  auto keep = [&](std::size_t before, bool last) {
    for (const KeptLine& line : kept) {
      if (line.beforeRule == before || (last && line.beforeRule > before)) {
        bytes += line.bytes;
        bytes += "\r\n";
      }
    }
  };
  for (std::size_t i = 0; i < rules.size(); ++i) {
    keep(i, false);
    const MonitorRule& r = rules[i];
    std::string text = r.eventName;
    text += kBar;
    if (r.enabled || r.marked) text += r.enabled ? kOn : kOff;
    text += r.monitoredPath;
    text += kBar;
    text += r.actionText;
    bytes += Utf8ToGb18030(text);
    bytes += "\r\n";
  }
  keep(rules.size(), true);
  return bytes;
}

namespace {

// A line that is a rule: two "｜" at least, and bytes that read as text and
// write back the same.
std::optional<MonitorRule> ParseRuleLine(std::string_view bytes) {
  if (bytes.empty() || bytes.find('\0') != std::string_view::npos) return std::nullopt;
  std::string line = Gb18030ToUtf8(bytes);
  if (Utf8ToGb18030(line) != bytes) return std::nullopt;
  std::size_t first = line.find(kBar);
  if (first == std::string::npos) return std::nullopt;
  std::size_t second = line.find(kBar, first + kBar.size());
  if (second == std::string::npos) return std::nullopt;
  MonitorRule rule;
  rule.eventName = line.substr(0, first);
  // Only the leading mark is the mark: the same characters inside a path
  // belong to the path.
  std::string_view path = std::string_view(line).substr(first + kBar.size(), second - first - kBar.size());
  rule.enabled = path.substr(0, kOn.size()) == kOn;
  rule.marked = rule.enabled || path.substr(0, kOff.size()) == kOff;
  if (rule.marked) path.remove_prefix(rule.enabled ? kOn.size() : kOff.size());
  rule.monitoredPath = std::string(path);
  rule.actionText = line.substr(second + kBar.size());
  return rule;
}

}  // namespace

RuleFileContent ParseRules(std::string_view plain) {
  RuleFileContent content;
  std::size_t pos = 0;
  while (pos < plain.size()) {
    std::size_t end = plain.find("\r\n", pos);
    std::string_view line = plain.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (auto rule = ParseRuleLine(line)) {
      content.rules.push_back(std::move(*rule));
    } else {
      content.kept.push_back({content.rules.size(), std::string(line)});
    }
    if (end == std::string_view::npos) break;
    pos = end + 2;
  }
  return content;
}

bool SaveRuleFile(const std::string& path, const RuleList& rules, const std::vector<KeptLine>& kept) {
  return WriteFileAtomically(path, Rc4Transform(SerializeRules(rules, kept), RuleFileKey));
}

int LoadRuleFile(const std::string& path, RuleFileContent& content) {
  content = {};
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return errno;
  content = ParseRules(Rc4Transform(bytes, RuleFileKey));
  return 0;
}

RuleList LoadRuleFile(const std::string& path) {
  RuleFileContent content;
  LoadRuleFile(path, content);
  return std::move(content.rules);
}

}  // namespace vantrel
