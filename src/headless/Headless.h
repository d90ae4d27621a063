#pragma once
// Vantrel without a window, for machines and sessions without a desktop:
// the same home and files, the same rows written to the log (and with
// --console to standard error), prompts to standard error and the system
// log, and questions answered with their defaults.
#include "engine/Engine.h"

#include <atomic>
#include <memory>
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
  };
  // Blocks the signals it takes as events, before any thread is made, so
  // that every thread leaves them to Run.
  explicit Headless(Options options);

  // False, with the reason, when no change source can run.
  bool Start(std::string& error);
  // Gives the engine its turns until a signal ends the program (SIGTERM,
  // SIGINT) the way the window's "退出程序" ends it; SIGHUP reads data.jl
  // and config.ini again. extraFd, when given, is read and ignored whenever
  // it is readable (later starts asking the running copy to come forward).
  int Run(int extraFd = -1, const std::function<void()>& onExtra = {});
  // One turn of work, for tests: everything that is waiting now.
  void Turn();
  void Stop();
  Engine& Core() { return *engine_; }

 private:
  void Prompt(const std::string& title, const std::string& text, PromptKind kind);

  Options options_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace vantrel
