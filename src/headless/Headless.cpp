#include "headless/Headless.h"

#include "text/Codec.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <syslog.h>
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

Headless::Headless(Options options) : options_(std::move(options)) {
  const sigset_t signals = Signals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  Engine::Options engine;
  engine.home = options_.home;
  engine.backend = options_.backend;
  engine.console = options_.console;
  engine.sourceFactory = options_.sourceFactory;
  engine.rowLimit = kRowLimit;
  EngineFace face;
  face.prompt = [this](const std::string& title, const std::string& text, PromptKind kind) { Prompt(title, text, kind); };
  // Nobody to ask: the answer the question offers by default.
  face.ask = [](const std::string&, const std::string&, bool defaultAnswer) { return defaultAnswer; };
  engine_ = std::make_unique<Engine>(std::move(engine), std::move(face));
}

void Headless::Prompt(const std::string& title, const std::string& text, PromptKind kind) {
  // A prompt for every listed change is the window's balloon; here the rows
  // themselves go to the log and the console.
  if (kind == PromptKind::Event) return;
  const std::string line = OneLineText(title + " " + text);
  std::fprintf(stderr, "vantrel-headless: %s\n", line.c_str());
  ::syslog(LOG_USER | (kind == PromptKind::Error ? LOG_ERR : LOG_NOTICE), "%s", line.c_str());
}

bool Headless::Start(std::string& error) {
  ::openlog("vantrel-headless", LOG_PID, LOG_USER);
  if (!engine_->StartSource(error)) return false;
  engine_->Start();
  return true;
}

void Headless::Turn() {
  while (engine_->Work()) {
  }
}

void Headless::Stop() { engine_->Stop(); }

int Headless::Run(int extraFd, const std::function<void()>& onExtra) {
  // Taken as readable events rather than handlers, so that each is handled
  // on this thread between two turns of work.
  const sigset_t signals = Signals();
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0) {
    std::perror("vantrel-headless: signalfd");
    return 1;
  }
  std::vector<pollfd> fds{{signalFd, POLLIN, 0}};
  if (extraFd >= 0) fds.push_back({extraFd, POLLIN, 0});
  const std::size_t first = fds.size();
  for (int fd : engine_->WakeFds()) fds.push_back({fd, POLLIN, 0});
  bool more = true;
  for (;;) {
    int timeout = -1;
    if (more) {
      timeout = 0;
    } else if (auto due = engine_->NextDeadline()) {
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Engine::Clock::now());
      timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60000));
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
    if (first > 1 && fds[1].revents && onExtra) onExtra();
    more = engine_->Work();
  }
  ::close(signalFd);
  Stop();
  return 0;
}

}  // namespace vantrel
