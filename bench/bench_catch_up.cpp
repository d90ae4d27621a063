// What catching up at start costs for a rule folder of many files, against
// a bare walk that reads the same facts (find's inode, size, time and path),
// both with warm caches and, where this may drop them (root), cold. The
// catch-up is all of it: the record read, the folder looked at, the two
// compared and the new record written.
//
//   bench_catch_up DIR [--files N]
//   catch_up files=N warm_find_s=.. warm_s=.. warm_ratio=.. cold_find_s=.. cold_s=.. cold_ratio=.. record_bytes_per_file=..
#include "engine/CatchUp.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vantrel;

namespace {

double Seconds(const std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool DropCaches() {
  ::sync();
  std::ofstream drop("/proc/sys/vm/drop_caches");
  return static_cast<bool>(drop << "3\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_catch_up DIR [--files N]\n");
    return 2;
  }
  const std::string dir = CleanPath(argv[1]);
  long files = 100000;
  for (int i = 2; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--files") files = std::atol(argv[i + 1]);
  const std::string tree = JoinPath(dir, "tree"), record = JoinPath(dir, "seen.txt");
  // A hundred folders of files, made once and kept for the next run.
  if (!std::filesystem::exists(JoinPath(tree, "done"))) {
    for (long f = 0; f < files; ++f) {
      const std::string folder = JoinPath(tree, "d" + std::to_string(f % 100));
      if (f < 100) std::filesystem::create_directories(folder);
      std::ofstream(JoinPath(folder, "file-" + std::to_string(f) + ".txt")) << f;
    }
    std::ofstream(JoinPath(tree, "done")) << files;
  }
  SaveSeen(record, LookAt({tree}, 10000000));

  const std::string find = "find '" + tree + "' -printf '%i %s %T@ %p\\n' >/dev/null";
  auto timeFind = [&] {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(find.c_str()) != 0) std::fprintf(stderr, "find failed\n");
    return Seconds(start);
  };
  std::size_t found = 0;
  auto timeCatchUp = [&] {
    const auto start = std::chrono::steady_clock::now();
    std::optional<SeenRecord> before = LoadSeen(record);
    SeenRecord now = LookAt({tree}, 10000000);
    found = before ? Compare(*before, now).size() : 0;
    SaveSeen(record, now);
    return Seconds(start);
  };
  // Warm: each once to fill the caches, then measured.
  timeFind();
  timeCatchUp();
  const double warmFind = timeFind(), warm = timeCatchUp();
  double coldFind = 0, cold = 0;
  const bool canDrop = DropCaches();
  if (canDrop) {
    coldFind = timeFind();
    DropCaches();
    cold = timeCatchUp();
  }
  const auto recordBytes = std::filesystem::file_size(record);
  std::printf("catch_up files=%ld warm_find_s=%.3f warm_s=%.3f warm_ratio=%.2f", files, warmFind, warm, warm / warmFind);
  if (canDrop) {
    std::printf(" cold_find_s=%.3f cold_s=%.3f cold_ratio=%.2f", coldFind, cold, cold / coldFind);
  } else {
    std::printf(" cold=not-measured(caches-not-droppable)");
  }
  std::printf(" record_bytes_per_file=%.1f changes_found=%zu\n", static_cast<double>(recordBytes) / files, found);
  return 0;
}
