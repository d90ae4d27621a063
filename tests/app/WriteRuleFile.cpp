// Writes data.jl with enabled rules, for the shell tests, which have no
// other way to encipher it:
//   write_rule_file FILE (EVENT MONITORED-PATH ACTION)...
#include "rules/RuleFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    std::fprintf(stderr, "usage: write_rule_file FILE (EVENT MONITORED-PATH ACTION)...\n");
    return 2;
  }
  vantrel::RuleList rules;
  for (int i = 2; i + 2 < argc; i += 3) rules.push_back({argv[i], argv[i + 1], argv[i + 2], true});
  if (!vantrel::SaveRuleFile(argv[1], rules)) {
    std::fprintf(stderr, "write_rule_file: %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  return 0;
}
