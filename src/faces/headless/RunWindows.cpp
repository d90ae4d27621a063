// The loop of the program without a window on Windows: the console's
// control events and a later start's requests beside the engine's events.
#include "faces/headless/Headless.h"

#include <windows.h>

#include <algorithm>

namespace vantrel {
namespace {

HANDLE quitEvent = nullptr;   // raised by the console's control events
HANDLE endedEvent = nullptr;  // raised once the engine has stopped

BOOL WINAPI OnConsoleControl(DWORD type) {
  ::SetEvent(quitEvent);
  // Windows ends the process as soon as the handler returns from these:
  // the rules' work in hand is put away first, for as long as Windows
  // waits (five seconds).
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    ::WaitForSingleObject(endedEvent, 4500);
  return TRUE;
}

}  // namespace

void Headless::PrepareProcess() {
  if (quitEvent) return;
  quitEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  endedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int Headless::Run(const Requests& requests, const std::function<void()>& takeComeForward) {
  std::vector<HANDLE> handles{quitEvent};
  auto add = [&](HANDLE h) -> int {
    if (!h) return -1;
    handles.push_back(h);
    return static_cast<int>(handles.size() - 1);
  };
  const int quitAt = add(requests.quit), reloadAt = add(requests.reload), forwardAt = add(requests.comeForward);
  for (HANDLE h : engine_->WakeFds()) add(h);
  // The requests are auto-reset events: the wait that wakes on one resets
  // it, so the one it woke on counts as raised besides any still raised.
  auto raised = [&](int at, DWORD woke) {
    return at >= 0 && (woke == WAIT_OBJECT_0 + static_cast<DWORD>(at) ||
                       ::WaitForSingleObject(handles[static_cast<std::size_t>(at)], 0) == WAIT_OBJECT_0);
  };
  bool more = true;
  for (;;) {
    DWORD timeout = INFINITE;
    if (more) {
      timeout = 0;
    } else if (auto wait = engine_->NextDeadline()) {
      timeout = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(wait->count(), 60000));
    }
    const DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
    if (woke == WAIT_FAILED) break;
    if (raised(0, woke) || raised(quitAt, woke)) break;
    if (raised(reloadAt, woke)) engine_->Reload();
    if (raised(forwardAt, woke) && takeComeForward) takeComeForward();
    more = engine_->Work();
  }
  Stop();
  ::SetEvent(endedEvent);
  return 0;
}

const char* const kHeadlessUsage =
    "usage: vantrel-headless.exe [--home DIR] [--console] [--quit | --reload]\n"
    "\n"
    "Carries out the rules of Vantrel's rule list without a window: the same\n"
    "home, rules, settings and log as the window, and only one of the two runs\n"
    "on one home.\n"
    "\n"
    "  --home DIR            where config.ini, data.jl and log\\ live (default: the\n"
    "                        program's folder where an earlier version left its\n"
    "                        files there, else %APPDATA%\\Vantrel)\n"
    "  --console             every event, action and error also to the console\n"
    "  --quit                asks the copy running on the home to end the way\n"
    "                        \"退出程序\" ends the window, and waits until it has\n"
    "  --reload              asks the copy running on the home to read data.jl\n"
    "                        and config.ini again\n"
    "  -h, --help            this text\n"
    "\n"
    "Every fixed and removable drive is watched, or only the rules' folders.\n"
    "Prompts go to the console and the Application event log; questions take\n"
    "their default answer. Ctrl+C, Ctrl+Break and closing the console end it\n"
    "the way \"退出程序\" does.\n";

const bool kRequestsToRunningCopy = true;

std::optional<int> AskRunningCopy(const CommandLine& line, InstanceGuard& guard, InstanceGuard::Result held,
                                  const std::string& home, const std::function<void(const std::string&)>& say) {
  if (!line.quit && !line.reload) return std::nullopt;
  if (held != InstanceGuard::Result::Running) {
    say("vantrel-headless: 没有程序在使用 " + home);
    return 1;
  }
  if (!guard.Ask(line.quit ? InstanceGuard::Request::Quit : InstanceGuard::Request::Reload)) {
    say("vantrel-headless: " + home + " 上运行的 " + guard.RunningKind() + " 不接受这个请求");
    return 1;
  }
  // Ending may take as long as an action in hand: a large copy stops at
  // its next chunk.
  if (line.quit && !guard.WaitUntilEnded(60000)) {
    say("vantrel-headless: 程序在一分钟后仍在运行");
    return 1;
  }
  return 0;
}

Headless::Requests RequestsOf(InstanceGuard& guard) {
  Headless::Requests requests;
  requests.comeForward = guard.RequestFd();
  requests.quit = guard.RequestHandle(InstanceGuard::Request::Quit);
  requests.reload = guard.RequestHandle(InstanceGuard::Request::Reload);
  return requests;
}

}  // namespace vantrel
