// data.jl's plain text: whatever the bytes, a load keeps every line, so a
// save writes back what was read.
#include "rules/RuleFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view plain(reinterpret_cast<const char*>(data), size);
  vantrel::RuleFileContent content = vantrel::ParseRules(plain);
  std::string saved = vantrel::SerializeRules(content.rules, content.kept);
  // Only a last line without its CR LF gains one.
  std::string expected(plain);
  if (!expected.empty() && !expected.ends_with("\r\n")) expected += "\r\n";
  if (saved != expected) std::abort();
  for (const vantrel::MonitorRule& rule : content.rules) (void)vantrel::RuleActs(rule);
  return 0;
}
