// Writes data.jl with enabled rules, for the shell tests, which have no
// other way to encipher it:
//   write_rule_file FILE (EVENT MONITORED-PATH ACTION)...
#include "platform/ThisProcess.h"
#include "rules/RuleFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const std::vector<std::string> args = vantrel::platform::ProgramArguments(argc, argv);
  if (args.size() < 4 || (args.size() - 1) % 3 != 0) {
    std::fprintf(stderr, "usage: write_rule_file FILE (EVENT MONITORED-PATH ACTION)...\n");
    return 2;
  }
  vantrel::RuleList rules;
  for (std::size_t i = 1; i + 2 < args.size(); i += 3) rules.push_back({args[i], args[i + 1], args[i + 2], true});
  if (!vantrel::SaveRuleFile(args[0], rules)) {
    std::fprintf(stderr, "write_rule_file: %s: %s\n", args[0].c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
