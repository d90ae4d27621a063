// Matches N events against R rules, the way every accepted event is offered
// to the rule list: the engine picks the rules that fire, and each one's
// action is run as the action queue runs it. One rule in a hundred names a folder the events are in
// and fires an inert operation, so firing is measured along with testing.
//
//   bench_rules [--rules R] [--events N]
//   rules rules=R events=N seconds=S per_event_us=U
#include "rules/RuleMatcher.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vantrel;

int main(int argc, char** argv) {
  long ruleCount = 1000, events = 100000;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--rules") {
      ruleCount = std::atol(argv[i + 1]);
    } else if (arg == "--events") {
      events = std::atol(argv[i + 1]);
    } else {
      std::fprintf(stderr, "usage: bench_rules [--rules R] [--events N]\n");
      return 2;
    }
  }
  if (argc % 2 == 0 || ruleCount <= 0 || events <= 0) {
    std::fprintf(stderr, "usage: bench_rules [--rules R] [--events N]\n");
    return 2;
  }
  RuleList rules;
  for (long r = 0; r < ruleCount; ++r) {
    bool hit = r % 100 == 0;
    rules.push_back({r % 2 ? "新建文件" : "删除文件",
                     hit ? "/home/user/projects" : "/srv/share/folder" + std::to_string(r),
                     hit ? "【无操作】" : "【复制文件】/backup/" + std::to_string(r), true});
  }
  long fired = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < events; ++i) {
    std::string path = "/home/user/projects/batch" + std::to_string(i / 1000) + "/file-" + std::to_string(i) + ".txt";
    const EventKind kind = i % 2 ? EventKind::FileCreated : EventKind::FileDeleted;
    for (const MonitorRule& rule : rules) {
      if (!RuleFires(rule, path, kind)) continue;
      ++fired;
      RunRuleAction(rule, path, kind, "file.txt");
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("rules rules=%ld events=%ld seconds=%.2f per_event_us=%.2f\n", ruleCount, events, seconds,
              seconds * 1e6 / static_cast<double>(events));
  // What fired must have been tested: none would mean nothing was measured.
  if (fired == 0) {
    std::fprintf(stderr, "bench_rules: no rule fired\n");
    return 1;
  }
  return 0;
}
