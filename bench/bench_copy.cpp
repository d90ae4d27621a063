// A copy rule on a burst of N new small files, through the program's whole
// path: change source, filter, event list, matcher and the copy itself. The
// time from the first file's creation to the last copy's completion is
// compared with making the same burst and copying it with "cp -n", in the
// same run.
//
//   bench_copy [--files N] [--backend auto|inotify|fanotify]
//   copy files=N copied=C identical=I seconds=S cp_ratio=R
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ProgramDir.h"
#include "rules/RuleFile.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"

#include <QTemporaryDir>
#include <spawn.h>
#include <sys/wait.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace vantrel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

std::string Content(int i) { return "small file number " + std::to_string(i) + "\n"; }

void Burst(const std::string& dir, int files) {
  for (int i = 0; i < files; ++i) {
    std::string path = dir + "/f" + std::to_string(i) + ".txt";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror("open");
      std::exit(1);
    }
    std::string c = Content(i);
    [[maybe_unused]] ssize_t n = ::write(fd, c.data(), c.size());
    ::close(fd);
  }
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The burst comes from another process, as a user's files do: changes made
// by the program's own process never fire its rules.
pid_t StartBurst(const std::string& dir, int files) {
  std::string count = std::to_string(files);
  std::string self = "/proc/self/exe";
  char* argv[] = {self.data(), const_cast<char*>("--burst"), const_cast<char*>(dir.c_str()), count.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  return pid;
}

void Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--burst") {
    Burst(argv[2], std::atoi(argv[3]));
    return 0;
  }
  int files = 10000;
  WatchBackend backend = WatchBackend::Auto;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string next = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--files" && !next.empty()) {
      files = std::atoi(argv[++i]);
    } else if (arg == "--backend" && (next == "inotify" || next == "fanotify" || next == "auto")) {
      backend = next == "inotify" ? WatchBackend::Inotify : next == "fanotify" ? WatchBackend::Fanotify : WatchBackend::Auto;
      ++i;
    } else {
      std::fprintf(stderr, "usage: bench_copy [--files N] [--backend auto|inotify|fanotify]\n");
      return 2;
    }
  }
  if (files <= 0) {
    std::fprintf(stderr, "bench_copy: --files must be positive\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Application app(argc, argv);
  QTemporaryDir home, work(QDir::tempPath() + "/vantrel-copy-XXXXXX");
  std::string base = work.path().toStdString();
  std::string src = base + "/src", dst = base + "/dst";
  fs::create_directories(src);
  fs::create_directories(dst);
  SetProgramDirForTesting(home.path().toStdString());
  SaveRuleFile(home.path().toStdString() + "/data.jl", {{"新建文件", src, "【复制文件】" + dst, true}});

  MainWindow window(MainWindow::Options{backend, nullptr});
  if (!window.OnMainWindowCreated()) return 1;
  window.show();
  // Let the change source settle on its folders.
  for (auto t = Clock::now(); Since(t) < 0.5;) QApplication::processEvents(QEventLoop::AllEvents, 50);

  auto start = Clock::now();
  pid_t writer = StartBurst(src, files);
  double seconds = 0;
  auto copies = [&] {
    std::size_t n = 0;
    EventList& rows = window.EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      if (rows.Cell(r, 2) == "复制文件") ++n;
    return n;
  };
  std::size_t seenRows = 0, done = 0;
  auto lastProgress = Clock::now();
  while (done < static_cast<std::size_t>(files) && Since(lastProgress) < 20) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (window.EventRows().RowCount() != seenRows) {
      seenRows = window.EventRows().RowCount();
      done = copies();
      seconds = Since(start);
      lastProgress = Clock::now();
    }
  }
  Wait(writer);
  if (std::getenv("BENCH_VERBOSE")) {
    EventList& rows = window.EventRows();
    for (std::size_t r = 0; r < rows.RowCount() && r < 6; ++r)
      std::fprintf(stderr, "%s | %s | %s\n", std::string(rows.Cell(r, 1)).c_str(), std::string(rows.Cell(r, 2)).c_str(),
                   std::string(rows.Cell(r, 3)).c_str());
    std::fprintf(stderr, "rows %zu\n", rows.RowCount());
  }

  int copied = 0, identical = 0;
  for (int i = 0; i < files; ++i) {
    std::string bytes;
    if (!ReadWholeFile(dst + "/f" + std::to_string(i) + ".txt", bytes)) continue;
    ++copied;
    if (bytes == Content(i)) ++identical;
  }

  std::string src2 = base + "/src2", dst2 = base + "/dst2";
  fs::create_directories(src2);
  fs::create_directories(dst2);
  auto baseStart = Clock::now();
  Wait(StartBurst(src2, files));
  std::string cp = "cp -n '" + src2 + "'/* '" + dst2 + "'/";
  if (std::system(cp.c_str()) != 0) std::fprintf(stderr, "bench_copy: cp -n failed\n");
  double baseline = Since(baseStart);

  std::printf("copy files=%d copied=%d identical=%d seconds=%.2f cp_ratio=%.2f\n", files, copied, identical, seconds,
              baseline > 0 ? seconds / baseline : 0.0);
  return 0;
}
