#pragma once
// What the benchmarks of a copy rule share: a home with the rule, the
// folders it copies between, the engine started on them, and the burst of
// files made by another process, as a user's files are (changes made by the
// program's own process never fire its rules).
#include "engine/Engine.h"
#include "rules/RuleFile.h"
#include "text/AtomicFile.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <vector>

extern char** environ;

namespace vantrel::bench {

using Steady = std::chrono::steady_clock;

inline double Since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

// "--backend NAME": the next argument names a backend.
inline bool ParseBackend(const std::string& name, WatchBackend& backend) {
  if (name != "inotify" && name != "fanotify" && name != "auto") return false;
  backend = name == "inotify" ? WatchBackend::Inotify : name == "fanotify" ? WatchBackend::Fanotify : WatchBackend::Auto;
  return true;
}

inline std::string MakeTempDir(const char* name) {
  std::string templ = std::filesystem::temp_directory_path().string() + "/vantrel-" + name + "-XXXXXX";
  if (!::mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return templ;
}

struct CopyRuleSetup {
  explicit CopyRuleSetup(const char* name) : home(MakeTempDir("home")), base(MakeTempDir(name)) {
    src = base + "/src";
    dst = base + "/dst";
    std::filesystem::create_directories(src);
    std::filesystem::create_directories(dst);
    SaveRuleFile(home + "/data.jl", {{"新建文件", src, "【复制文件】" + dst, true}});
  }
  ~CopyRuleSetup() {
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    std::filesystem::remove_all(base, ec);
  }
  // The engine on the rule, without any window, once its change source has
  // settled on the folders.
  std::unique_ptr<Engine> StartEngine(WatchBackend backend, bool journal = true) {
    Engine::Options options;
    options.home = home;
    options.backend = backend;
    options.journal = journal;
    auto engine = std::make_unique<Engine>(std::move(options), EngineFace{});
    std::string error;
    if (!engine->StartSource(error)) {
      std::fprintf(stderr, "no change source: %s\n", error.c_str());
      return nullptr;
    }
    engine->Start();
    for (auto t = Steady::now(); Since(t) < 0.5;) Turn(*engine, 50);
    return engine;
  }
  // One wait for the engine's descriptors, then its work, as a face's loop does.
  static void Turn(Engine& engine, int timeoutMs) {
    std::vector<pollfd> fds;
    for (int fd : engine.WakeFds()) fds.push_back({fd, POLLIN, 0});
    ::poll(fds.data(), fds.size(), timeoutMs);
    while (engine.Work()) {
    }
  }
  std::string home, base, src, dst;
};

inline std::string SmallContent(int i) { return "small file number " + std::to_string(i) + "\n"; }

// The burst's small files f0.txt, f1.txt, ... in dir, each written whole.
inline void MakeSmallFiles(const std::string& dir, int files) {
  for (int i = 0; i < files; ++i) {
    const std::string path = dir + "/f" + std::to_string(i) + ".txt";
    const std::string content = SmallContent(i);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      std::perror(path.c_str());
      std::exit(1);
    }
    ::close(fd);
  }
}

// How many of the small files have a copy in dst, and how many of those
// are identical to what was written.
inline void CountSmallCopies(const std::string& dst, int files, int& copied, int& identical) {
  for (int i = 0; i < files; ++i) {
    std::string bytes;
    if (!ReadWholeFile(dst + "/f" + std::to_string(i) + ".txt", bytes)) continue;
    ++copied;
    if (bytes == SmallContent(i)) ++identical;
  }
}

// Counts the copy rows as the list grows, and when the last one came.
struct CopyProgress {
  // True while waiting goes on: fewer than `wanted` copies, and one came
  // within the last minute.
  bool Update(EventList& rows, std::size_t wanted, Steady::time_point start) {
    for (; scanned < rows.RowCount(); ++scanned)
      if (rows.Cell(scanned, 2) == "复制文件") ++copies;
    if (copies != progress) {
      progress = copies;
      seconds = Since(start);
      lastProgress = Steady::now();
    }
    return copies < wanted && Since(lastProgress) <= 60;
  }
  std::size_t copies = 0, scanned = 0, progress = 0;
  double seconds = 0;
  Steady::time_point lastProgress = Steady::now();
};

// Gives the engine its turns until `wanted` copies are listed or nothing
// has moved for a minute. The seconds from start to the last copy.
inline double RunUntilCopied(Engine& engine, std::size_t wanted, Steady::time_point start) {
  CopyProgress progress;
  do {
    CopyRuleSetup::Turn(engine, 10);
  } while (progress.Update(engine.Events(), wanted, start));
  return progress.seconds;
}

// This benchmark again, with arguments, as the process that makes the files.
inline pid_t SpawnSelf(std::vector<std::string> args) {
  std::string self = "/proc/self/exe";
  std::vector<char*> argv{self.data()};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  return pid;
}

}  // namespace vantrel::bench
