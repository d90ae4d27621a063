// vantrel-headless: the rules without a window.
#include "engine/CommandLine.h"
#include "engine/ProgramDir.h"
#include "headless/Headless.h"
#include "platform/InstanceGuard.h"

#include <cstdio>
#include <cstring>

using namespace vantrel;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  std::optional<CommandLine> line = ParseCommandLine(args, error);
  if (!line) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (line->help) {
    std::fputs(kHeadlessUsage, stdout);
    return 0;
  }
  if (!InitProgramDir(line->home, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The window and this program share one guard: on one home one of them runs.
  InstanceGuard guard(ProgramDir(), "vantrel-headless");
  switch (guard.Acquire(error)) {
    case InstanceGuard::Result::Running:
      std::fprintf(stderr, "vantrel-headless: 程序已运行,无需重复运行! (%s 正在使用 %s)\n",
                   guard.RunningKind().empty() ? "vantrel" : guard.RunningKind().c_str(), ProgramDir().c_str());
      return 0;
    case InstanceGuard::Result::Unguarded:
      std::fprintf(stderr, "vantrel-headless: %s\n", error.c_str());
      break;
    case InstanceGuard::Result::Acquired:
      break;
  }
  Headless program({ProgramDir(), line->backend, line->console, nullptr});
  if (!program.Start(error)) {
    std::fprintf(stderr, "vantrel-headless: 注册shell监视函数失败！ %s\n", error.c_str());
    return 1;
  }
  // Later starts asking a window to come forward: there is none.
  return program.Run(guard.RequestFd(), [&guard] { guard.TakeRequests(); });
}
