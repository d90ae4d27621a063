// vantrel-headless: the rules without a window.
#include "engine/CommandLine.h"
#include "engine/ProgramDir.h"
#include "faces/headless/Headless.h"
#include "platform/InstanceGuard.h"
#include "platform/LogFile.h"
#include "platform/ThisProcess.h"
#include "platform/LogFile.h"

#include <cstdio>

using namespace vantrel;

namespace {

// To the console in its own way on each system (a console window shows
// UTF-16 whatever its code page).
void Say(const std::string& text, bool error = true) {
  platform::WriteConsoleRecord(error ? 2 : 1, text + "\n", error ? 2 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  std::optional<CommandLine> line = ParseCommandLine(platform::ProgramArguments(argc, argv), error, kRequestsToRunningCopy);
  if (!line) {
    Say(error);
    return 2;
  }
  if (line->help) {
    Say(kHeadlessUsage, false);
    return 0;
  }
  std::string notice;
  const std::optional<std::string> chosen = ChooseProgramDir(line->home, error, notice);
  if (!chosen) {
    Say(error);
    return 1;
  }
  const std::string& home = *chosen;
  if (line->undo || line->preview) {
    bool ok = false;
    const std::string text = line->undo ? UndoFromCommandLine(home, *line, ok)
                                        : PreviewFromCommandLine(home, *line->preview, ok);
    platform::WriteConsoleRecord(ok ? 1 : 2, text, ok ? 0 : 2);
    return ok ? 0 : 1;
  }
  // The window and this program share one guard: on one home one of them runs.
  InstanceGuard guard(home, "vantrel-headless");
  const InstanceGuard::Result held = guard.Acquire(error);
  if (std::optional<int> asked = AskRunningCopy(*line, guard, held, home, [](const std::string& t) { Say(t); }))
    return *asked;
  switch (held) {
    case InstanceGuard::Result::Running:
      Say("vantrel-headless: 程序已运行,无需重复运行! (" +
          (guard.RunningKind().empty() ? std::string("vantrel") : guard.RunningKind()) + " 正在使用 " + home +
          ")");
      return 0;
    case InstanceGuard::Result::Unguarded:
      Say("vantrel-headless: " + error);
      break;
    case InstanceGuard::Result::Acquired:
      break;
  }
  Headless program({home, line->backend, line->console, nullptr, &Clock::System(), notice});
  if (!program.Start(error)) {
    Say("vantrel-headless: 注册shell监视函数失败！ " + error);
    return 1;
  }
  // Later starts asking a window to come forward: there is none.
  return program.Run(RequestsOf(guard), [&guard] { guard.TakeRequests(); });
}
