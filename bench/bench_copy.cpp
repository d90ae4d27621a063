// A copy rule on a burst of N new small files, through the engine's whole
// path without any window: change source, filter, event list, matcher and
// the copy itself. The
// time from the first file's creation to the last copy's completion is
// compared with making the same burst and copying it with "cp -n", in the
// same run.
//
//   bench_copy [--files N] [--backend auto|inotify|fanotify] [--no-journal]
//   copy files=N copied=C identical=I seconds=S cp_ratio=R
#include "CopyRuleBench.h"
#include "text/Codec.h"

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

using namespace vantrel;
using namespace vantrel::bench;
namespace fs = std::filesystem;

namespace {

pid_t StartBurst(const std::string& dir, int files) { return SpawnSelf({"--burst", dir, std::to_string(files)}); }

void Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--burst") {
    MakeSmallFiles(argv[2], std::atoi(argv[3]));
    return 0;
  }
  int files = 10000;
  WatchBackend backend = WatchBackend::Auto;
  bool journal = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string next = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--files" && !next.empty()) {
      files = std::atoi(argv[++i]);
    } else if (arg == "--backend" && ParseBackend(next, backend)) {
      ++i;
    } else if (arg == "--no-journal") {
      // What the action journal costs: the same burst without it.
      journal = false;
    } else {
      std::fprintf(stderr, "usage: bench_copy [--files N] [--backend auto|inotify|fanotify] [--no-journal]\n");
      return 2;
    }
  }
  if (files <= 0) {
    std::fprintf(stderr, "bench_copy: --files must be positive\n");
    return 2;
  }
  CopyRuleSetup setup("copy");
  const std::string base = setup.base, src = setup.src, dst = setup.dst;
  std::unique_ptr<Engine> started = setup.StartEngine(backend, journal);
  if (!started) return 1;
  Engine& engine = *started;

  auto start = Steady::now();
  pid_t writer = StartBurst(src, files);
  const double seconds = RunUntilCopied(engine, static_cast<std::size_t>(files), start);
  Wait(writer);
  if (std::getenv("BENCH_VERBOSE")) {
    EventList& rows = engine.Events();
    for (std::size_t r = 0; r < rows.RowCount() && r < 6; ++r)
      std::fprintf(stderr, "%s | %s | %s\n", std::string(rows.Cell(r, 1)).c_str(), std::string(rows.Cell(r, 2)).c_str(),
                   std::string(rows.Cell(r, 3)).c_str());
    std::fprintf(stderr, "rows %zu\n", rows.RowCount());
  }

  int copied = 0, identical = 0;
  CountSmallCopies(dst, files, copied, identical);

  std::string src2 = base + "/src2", dst2 = base + "/dst2";
  fs::create_directories(src2);
  fs::create_directories(dst2);
  auto baseStart = Steady::now();
  Wait(StartBurst(src2, files));
  std::string cp = "cp -n '" + src2 + "'/* '" + dst2 + "'/";
  if (std::system(cp.c_str()) != 0) std::fprintf(stderr, "bench_copy: cp -n failed\n");
  double baseline = Since(baseStart);

  std::printf("copy files=%d copied=%d identical=%d seconds=%.2f cp_ratio=%.2f\n", files, copied, identical, seconds,
              baseline > 0 ? seconds / baseline : 0.0);
  return 0;
}
