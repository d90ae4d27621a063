#pragma once
// Vantrel without a window, for machines and sessions without a desktop:
// the same home and files, the same rows written to the log (and with
// --console to standard error), prompts to standard error and the system
// log, and questions answered with their defaults.
#include "engine/CommandLine.h"
#include "engine/Engine.h"
#include "platform/InstanceGuard.h"
#include "platform/Waker.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

class Headless {
 public:
  // Rows kept in memory: nothing shows them, and the repeat test only looks
  // at the current second's.
  static constexpr std::size_t kRowLimit = 10000;

  struct Options {
    std::string home;
    WatchBackend backend = WatchBackend::Auto;
    bool console = false;
    Engine::SourceFactory sourceFactory;
    const Clock* clock = &Clock::System();
    std::string startNotice = {};
  };
  // On Linux blocks the signals it takes as events, before any thread is
  // made, so that every thread leaves them to Run.
  explicit Headless(Options options);

  // False, with the reason, when no change source can run.
  bool Start(std::string& error);
  // What ends the loop or has the files read again besides the system's
  // own: on Windows, which has no signals, a later start's requests.
  struct Requests {
    platform::WaitHandle comeForward = platform::kNoWaitHandle;
    platform::WaitHandle quit = platform::kNoWaitHandle;
    platform::WaitHandle reload = platform::kNoWaitHandle;
  };
  // Gives the engine its turns until the program is asked to end the way
  // the window's "退出程序" ends it: SIGTERM or SIGINT on Linux; Ctrl+C,
  // Ctrl+Break, the console closing, the session ending or requests.quit on
  // Windows. SIGHUP or requests.reload reads data.jl and config.ini again.
  // requests.comeForward is taken and ignored: there is no window.
  int Run(const Requests& requests, const std::function<void()>& takeComeForward = {});
  // One turn of work, for tests: everything that is waiting now.
  void Turn();
  void Stop();
  Engine& Core() { return *engine_; }

 private:
  void Prompt(const std::string& title, const std::string& text, PromptKind kind);
  // Before the engine makes any thread: what the system's way of ending
  // the program needs (Linux: the signals blocked in every thread).
  static void PrepareProcess();

  Options options_;
  std::unique_ptr<Engine> engine_;
};

// What differs between the systems before the program runs, defined in
// each system's half: what --help prints, whether a later start may ask the
// running copy to quit or reload (Windows, which has no signals to carry
// them), and that asking. AskRunningCopy gives the exit code, or none when
// the line asks nothing of the running copy.
extern const char* const kHeadlessUsage;
extern const bool kRequestsToRunningCopy;
// What a later start may ask of this one, as the guard carries it.
Headless::Requests RequestsOf(InstanceGuard& guard);
std::optional<int> AskRunningCopy(const CommandLine& line, InstanceGuard& guard, InstanceGuard::Result held,
                                  const std::string& home, const std::function<void(const std::string&)>& say);

}  // namespace vantrel
