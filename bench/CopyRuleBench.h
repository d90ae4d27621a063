#pragma once
// What the benchmarks of a copy rule share: a home with the rule, the
// folders it copies between, the window started on them, and the burst of
// files made by another process, as a user's files are (changes made by the
// program's own process never fire its rules).
#include "app/MainWindow.h"
#include "engine/ProgramDir.h"
#include "rules/RuleFile.h"
#include "text/AtomicFile.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <vector>

extern char** environ;

namespace vantrel::bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// "--backend NAME": the next argument names a backend.
inline bool ParseBackend(const std::string& name, WatchBackend& backend) {
  if (name != "inotify" && name != "fanotify" && name != "auto") return false;
  backend = name == "inotify" ? WatchBackend::Inotify : name == "fanotify" ? WatchBackend::Fanotify : WatchBackend::Auto;
  return true;
}

struct CopyRuleSetup {
  explicit CopyRuleSetup(const char* name) : work(QDir::tempPath() + "/vantrel-" + name + "-XXXXXX") {
    base = work.path().toStdString();
    src = base + "/src";
    dst = base + "/dst";
    std::filesystem::create_directories(src);
    std::filesystem::create_directories(dst);
    SetProgramDirForTesting(home.path().toStdString());
    SaveRuleFile(home.path().toStdString() + "/data.jl", {{"新建文件", src, "【复制文件】" + dst, true}});
  }
  // The window on the rule, once its change source has settled on the folders.
  std::unique_ptr<MainWindow> StartWindow(WatchBackend backend) {
    auto window = std::make_unique<MainWindow>(MainWindow::Options{backend, nullptr});
    if (!window->OnMainWindowCreated()) return nullptr;
    window->show();
    for (auto t = Clock::now(); Since(t) < 0.5;) QApplication::processEvents(QEventLoop::AllEvents, 50);
    return window;
  }
  QTemporaryDir home, work;
  std::string base, src, dst;
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

// Runs the window's event loop, as the program does, until `wanted` copies
// are listed or nothing has moved for a minute; tick() runs every 10 ms
// before the rows are looked at. The seconds from start to the last copy.
inline double RunUntilCopied(MainWindow& window, std::size_t wanted, Clock::time_point start,
                             const std::function<void()>& tick = {}) {
  std::size_t copies = 0, scanned = 0, progress = 0;
  double seconds = 0;
  auto lastProgress = Clock::now();
  QEventLoop loop;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (tick) tick();
    EventList& rows = window.EventRows();
    for (; scanned < rows.RowCount(); ++scanned)
      if (rows.Cell(scanned, 2) == "复制文件") ++copies;
    if (copies != progress) {
      progress = copies;
      seconds = Since(start);
      lastProgress = Clock::now();
    }
    if (copies >= wanted || Since(lastProgress) > 60) loop.quit();
  });
  ticker.start(10);
  loop.exec();
  return seconds;
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
