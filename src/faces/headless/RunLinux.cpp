// The loop of the program without a window on Linux: signals as readable
// events beside the engine's descriptors.
#include "faces/headless/Headless.h"
#include "platform/LogFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vantrel {
namespace {

sigset_t Signals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  return signals;
}

}  // namespace

void Headless::PrepareProcess() {
  const sigset_t signals = Signals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int Headless::Run(const Requests& requests, const std::function<void()>& takeComeForward) {
  // Taken as readable events rather than handlers, so that each is handled
  // on this thread between two turns of work.
  const sigset_t signals = Signals();
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0) {
    std::perror("vantrel-headless: signalfd");
    return 1;
  }
  std::vector<pollfd> fds{{signalFd, POLLIN, 0}};
  const bool forward = requests.comeForward >= 0;
  if (forward) fds.push_back({requests.comeForward, POLLIN, 0});
  for (int fd : engine_->WakeFds()) fds.push_back({fd, POLLIN, 0});
  bool more = true;
  for (;;) {
    int timeout = -1;
    if (more) {
      timeout = 0;
    } else if (auto wait = engine_->NextDeadline()) {
      timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait->count(), 60000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      signalfd_siginfo info{};
      bool quit = false;
      while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP) {
          engine_->Reload();
        } else {
          quit = true;
        }
      }
      if (quit) break;
    }
    if (forward && fds[1].revents && takeComeForward) takeComeForward();
    more = engine_->Work();
    // Running on without seeing anything would look like health to a
    // service manager; ending with an error lets it start us again.
    if (engine_->SourceEnded()) {
      ::close(signalFd);
      Stop();
      platform::WriteConsoleRecord(2, "vantrel-headless: 监控已停止, 程序以错误退出\n", 2);
      return 1;
    }
  }
  ::close(signalFd);
  Stop();
  return 0;
}

const char* const kHeadlessUsage =
    "usage: vantrel-headless [--home DIR] [--watch-backend auto|fanotify|inotify] [--console]\n"
    "\n"
    "Carries out the rules of Vantrel's rule list without a window, for machines\n"
    "and sessions without a desktop: the same home, rules, settings and log as\n"
    "vantrel, and only one of the two runs on one home.\n"
    "\n"
    "  --home DIR            where config.ini, data.jl and log/ live\n"
    "  --watch-backend B     as for vantrel\n"
    "  --console             every event, action and error also to standard error\n"
    "  --undo[=N]            take back the last action (or N) a rule took, and end\n"
    "  --preview=N           what rule N (from 1) would do now, without acting\n"
    "  -h, --help            this text\n"
    "\n"
    "Prompts go to standard error and the system log; questions take their\n"
    "default answer. SIGINT and SIGTERM end it the way \"退出程序\" ends the\n"
    "window; SIGHUP reads data.jl and config.ini again.\n";

const bool kRequestsToRunningCopy = false;

// Signals carry them here: SIGTERM and SIGHUP.
std::optional<int> AskRunningCopy(const CommandLine&, InstanceGuard&, InstanceGuard::Result, const std::string&,
                                  const std::function<void(const std::string&)>&) {
  return std::nullopt;
}

Headless::Requests RequestsOf(InstanceGuard& guard) {
  Headless::Requests requests;
  requests.comeForward = guard.RequestFd();
  return requests;
}

}  // namespace vantrel
