// What recording an action costs against the action itself: N small files
// copied as a rule copies them, then N actions recorded (begun and ended) in
// a journal beside them, in the same process and on the same disk.
//
//   bench_journal DIR [--files N]
//   journal files=N copy_us=.. record_us=.. ratio=..
#include "rules/ActionJournal.h"
#include "rules/FileActions.h"
#include "text/PathRoutines.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace vantrel;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_journal DIR [--files N]\n");
    return 2;
  }
  long files = 20000;
  for (int i = 2; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--files") files = std::atol(argv[i + 1]);
  const std::string dir = CleanPath(argv[1]);
  const std::string in = JoinPath(dir, "in"), out = JoinPath(dir, "out"), journalPath = JoinPath(dir, "journal.txt");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(in);
  std::filesystem::create_directories(out);
  for (long f = 0; f < files; ++f) std::ofstream(JoinPath(in, "file-" + std::to_string(f) + ".txt")) << "content " << f;

  auto perAction = [&](auto&& one) {
    const auto start = std::chrono::steady_clock::now();
    for (long f = 0; f < files; ++f) one(f);
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / files;
  };
  const double copy = perAction([&](long f) {
    const ActionResult r = CopyFileAction(JoinPath(in, "file-" + std::to_string(f) + ".txt"), out, in, {}, true);
    if (!r.ok) std::fprintf(stderr, "copy failed: %s\n", r.error.c_str());
  });
  ActionJournal journal(journalPath);
  const platform::FileStamp stamp{1, 2, 3, 4, 5};
  const double record = perAction([&](long f) {
    const std::string name = "file-" + std::to_string(f) + ".txt";
    const std::uint64_t seq = journal.Begin(Operation::Copy, false, JoinPath(in, name), out);
    journal.End(seq, true, JoinPath(out, name), stamp);
  });
  std::printf("journal files=%ld copy_us=%.1f record_us=%.2f ratio=%.3f\n", files, copy, record, record / copy);
  std::filesystem::remove_all(dir);
  return 0;
}
