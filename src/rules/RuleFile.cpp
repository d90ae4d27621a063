#include "rules/RuleFile.h"

#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/TextRules.h"

#include <array>

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

std::string SerializeRules(const RuleList& rules) {
  std::string text;
  for (const MonitorRule& r : rules) {
    text += r.eventName;
    text += kBar;
    text += r.enabled ? kOn : kOff;
    text += r.monitoredPath;
    text += kBar;
    text += r.actionText;
    text += "\r\n";
  }
  return text;
}

RuleList ParseRules(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  RuleList rules;
  for (const std::string& line : SplitText(text, "\r\n")) {
    if (line.empty()) continue;
    std::vector<std::string> fields = SplitText(line, kBar);
    if (fields.size() < 3) continue;
    MonitorRule rule;
    rule.eventName = fields[0];
    // Only the leading mark is the mark: the same characters inside a path
    // belong to the path.
    std::string_view path = fields[1];
    rule.enabled = path.substr(0, kOn.size()) == kOn;
    if (rule.enabled) {
      path.remove_prefix(kOn.size());
    } else if (path.substr(0, kOff.size()) == kOff) {
      path.remove_prefix(kOff.size());
    }
    rule.monitoredPath = std::string(path);
    rule.actionText = fields[2];
    rules.push_back(std::move(rule));
  }
  return rules;
}

bool SaveRuleFile(const std::string& path, const RuleList& rules) {
  return WriteFileAtomically(path, Rc4Transform(Utf8ToGb18030(SerializeRules(rules)), RuleFileKey));
}

RuleList LoadRuleFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return {};
  return ParseRules(Gb18030ToUtf8(Rc4Transform(bytes, RuleFileKey)));
}

}  // namespace vantrel
