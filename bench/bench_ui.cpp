// How long the window is held up while its rules work: the program's own
// window, offscreen, with a copy rule on a folder in which another process
// makes a burst of small files and then one large file. A timer on the
// window's thread asks to run every 10 ms; how late it runs is how long the
// window could not answer.
//
//   bench_ui [--files N] [--big-mb M] [--backend auto|inotify|fanotify]
//   ui files=N big_mb=M max_stall_ms=S p99_stall_ms=P copied=C identical=I seconds=T
#include "WindowBench.h"
#include "faces/qt/app/Application.h"
#include "log/EventLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vantrel;
using namespace vantrel::bench;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = 1 << 20;

// Each mebibyte of the large file says which one it is, so that a block out
// of place is seen.
void FillBlock(std::vector<char>& block, std::size_t index) {
  for (std::size_t at = 0; at < block.size(); at += 64)
    std::snprintf(block.data() + at, 64, "block %zu at %zu ", index, at);
}

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n <= 0) {
      std::perror("write");
      std::exit(1);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void Burst(const std::string& dir, int files, int bigMb) {
  MakeSmallFiles(dir, files);
  int fd = ::open((dir + "/big.bin").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror("open");
    std::exit(1);
  }
  std::vector<char> block(kMiB);
  for (int b = 0; b < bigMb; ++b) {
    FillBlock(block, static_cast<std::size_t>(b));
    WriteAll(fd, block.data(), block.size());
  }
  ::close(fd);
}

bool SameFile(const std::string& a, const std::string& b) {
  int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC), fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
  bool same = fa >= 0 && fb >= 0;
  std::vector<char> x(kMiB), y(kMiB);
  while (same) {
    ssize_t n = ::read(fa, x.data(), x.size()), m = ::read(fb, y.data(), y.size());
    if (n != m || n < 0) same = false;
    if (n <= 0) break;
    same = same && std::memcmp(x.data(), y.data(), static_cast<std::size_t>(n)) == 0;
  }
  if (fa >= 0) ::close(fa);
  if (fb >= 0) ::close(fb);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--burst") {
    Burst(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    return 0;
  }
  int files = 20000, bigMb = 1024;
  WatchBackend backend = WatchBackend::Auto;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string next = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--files" && !next.empty()) {
      files = std::atoi(argv[++i]);
    } else if (arg == "--big-mb" && !next.empty()) {
      bigMb = std::atoi(argv[++i]);
    } else if (arg == "--backend" && ParseBackend(next, backend)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: bench_ui [--files N] [--big-mb M] [--backend auto|inotify|fanotify]\n");
      return 2;
    }
  }
  if (files < 0 || bigMb <= 0) {
    std::fprintf(stderr, "bench_ui: --files must not be negative and --big-mb must be positive\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Application app(argc, argv);
  CopyRuleSetup setup("ui");
  const std::string src = setup.src, dst = setup.dst;
  std::unique_ptr<MainWindow> started = StartWindow(setup.home, backend);
  if (!started) return 1;
  MainWindow& window = *started;
  const auto start = Steady::now();
  pid_t writer = SpawnSelf({"--burst", src, std::to_string(files), std::to_string(bigMb)});

  std::vector<double> lateMs;
  auto lastTick = Steady::now();
  const double seconds = RunWindowUntilCopied(window, static_cast<std::size_t>(files) + 1, start, [&] {
    const auto now = Steady::now();
    lateMs.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(now - lastTick).count() - 10.0));
    lastTick = now;
  });
  int status = 0;
  ::waitpid(writer, &status, 0);

  int copied = 0, identical = 0;
  CountSmallCopies(dst, files, copied, identical);
  if (fs::exists(dst + "/big.bin")) {
    ++copied;
    if (SameFile(src + "/big.bin", dst + "/big.bin")) ++identical;
  }
  if (std::getenv("BENCH_VERBOSE")) {
    EventList& rows = window.EventRows();
    for (std::size_t r = 0; r < rows.RowCount(); ++r)
      if (rows.Cell(r, 2).find("失败") != std::string_view::npos || rows.Cell(r, 3).find("big") != std::string_view::npos ||
          rows.Cell(r, 3).find("(") != std::string_view::npos)
        std::fprintf(stderr, "%s | %s | %s\n", std::string(rows.Cell(r, 1)).c_str(),
                     std::string(rows.Cell(r, 2)).c_str(), std::string(rows.Cell(r, 3)).c_str());
  }
  std::sort(lateMs.begin(), lateMs.end());
  const double maxStall = lateMs.empty() ? 0 : lateMs.back();
  const double p99 = lateMs.empty() ? 0 : lateMs[std::min(lateMs.size() - 1, lateMs.size() * 99 / 100)];
  std::printf("ui files=%d big_mb=%d max_stall_ms=%.1f p99_stall_ms=%.1f copied=%d identical=%d seconds=%.2f\n", files,
              bigMb, maxStall, p99, copied, identical, seconds);
  return copied == files + 1 && identical == copied ? 0 : 1;
}
