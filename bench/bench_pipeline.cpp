// Feeds N synthetic change notifications of distinct paths through the
// engine's whole intake path (decoding, the filter, the event row with its
// colours, prompt and log record), without any window.
//
//   bench_pipeline [--events N]
//   pipeline events=N seconds=S per_event_us=U growth=G rss_mb=M floor_ratio=R bytes_per_row=B raw_growth=W
//
// growth is the time per event of the last tenth over that of the first,
// each against the floor's time for the same tenth (raw_growth: without).
// floor_ratio is the time per event over that of a bare loop, run by turns
// with it (a hundred turns) in the same process, that makes the same paths, formats the same log records
// and appends each with one write(): the least a program that logs every
// change must do. bytes_per_row is the resident memory the list adds per
// row, from just before the first event to the end.
#include "engine/Engine.h"
#include "log/AutomationDate.h"
#include "log/EventLog.h"
#include "log/LogOutput.h"
#include "monitor/ScriptedSource.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <unistd.h>

using namespace vantrel;
using Steady = std::chrono::steady_clock;

namespace {

double ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::string PathOf(long i) {
  return "/home/user/projects/data/batch" + std::to_string(i / 1000) + "/report-" + std::to_string(i) + ".txt";
}

// The floor for events [from, to): the same records, each formatted with
// the time, converted to the log's encoding and appended with one write().
double FloorSeconds(int fd, long from, long to) {
  const std::string separator = EventLog::kSeparator;
  auto start = Steady::now();
  for (long i = from; i < to; ++i) {
    const std::string path = PathOf(i);
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string record = Utf8ToGb18030(
        LogOutput::FormatLogRecord(separator + name + separator + "新建文件" + separator + path + "\r\n", 0, Clock::System().Local()));
    if (::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
      std::fprintf(stderr, "bench_pipeline: the floor loop cannot write its log\n");
      std::exit(1);
    }
  }
  return std::chrono::duration<double>(Steady::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  long events = 1000000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--events" && i + 1 < argc) {
      events = std::atol(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_pipeline [--events N]\n");
      return 2;
    }
  }
  if (events < 10) {
    std::fprintf(stderr, "bench_pipeline: --events must be at least 10\n");
    return 2;
  }
  char templ[] = "/tmp/vantrel-pipeline-XXXXXX";
  if (!::mkdtemp(templ)) {
    std::perror("bench_pipeline: mkdtemp");
    return 1;
  }
  const std::string home = templ;
  WriteFileAtomically(home + "/config.ini",
                      Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n保存日志=真\r\n"));

  Engine::Options options;
  options.home = home;
  options.sourceFactory = [](const std::vector<std::string>&, std::string& error) -> std::unique_ptr<ChangeSource> {
    auto source = std::make_unique<ScriptedSource>();
    source->Start(error);
    return source;
  };
  Engine engine(std::move(options), EngineFace{});
  std::string error;
  if (!engine.StartSource(error)) return 1;
  engine.Start();
  const double rssBefore = ResidentMegabytes();

  // Tenths of the floor and of the pipeline take turns, so that both meet
  // the same state of the disk and its cache.
  const std::string floorFile = home + "/floor.txt";
  const int floorFd = ::open(floorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (floorFd < 0) {
    std::perror("bench_pipeline: floor.txt");
    return 1;
  }
  double floorSeconds = 0, seconds = 0, firstTenth = 0, lastTenth = 0, rawFirst = 0, rawLast = 0;
  ChangeNotification n;
  n.code = SHCNE_CREATE;
  // A hundred turns, ten to a tenth: a burst of the disk's own writing back
  // then falls on both sides of a tenth alike.
  std::array<double, 10> pipelineTenth{}, floorTenth{};
  for (int chunk = 0; chunk < 100; ++chunk) {
    const long from = events * chunk / 100, to = events * (chunk + 1) / 100;
    const double floorTook = FloorSeconds(floorFd, from, to);
    auto chunkStart = Steady::now();
    for (long i = from; i < to; ++i) {
      n.item1 = PathOf(i);
      engine.OnChangeNotification(n);
    }
    const double took = std::chrono::duration<double>(Steady::now() - chunkStart).count();
    pipelineTenth[chunk / 10] += took;
    floorTenth[chunk / 10] += floorTook;
  }
  for (int t = 0; t < 10; ++t) {
    seconds += pipelineTenth[t];
    floorSeconds += floorTenth[t];
    if (std::getenv("BENCH_VERBOSE"))
      std::fprintf(stderr, "tenth %d pipeline %.3f floor %.3f\n", t, pipelineTenth[t], floorTenth[t]);
  }
  // Against the floor's tenth beside it, so that the disk's own changes over
  // the run are not taken for the list's.
  firstTenth = pipelineTenth[0] / floorTenth[0];
  lastTenth = pipelineTenth[9] / floorTenth[9];
  rawFirst = pipelineTenth[0];
  rawLast = pipelineTenth[9];
  ::close(floorFd);
  double rss = ResidentMegabytes();
  long listed = static_cast<long>(engine.Events().RowCount());
  if (listed != events) {
    std::fprintf(stderr, "bench_pipeline: %ld of %ld events were listed\n", listed, events);
    return 1;
  }
  const double perEvent = seconds / static_cast<double>(events);
  std::printf("pipeline events=%ld seconds=%.2f per_event_us=%.2f growth=%.2f rss_mb=%.0f floor_ratio=%.2f "
              "bytes_per_row=%.0f raw_growth=%.2f\n",
              events, seconds, perEvent * 1e6, firstTenth > 0 ? lastTenth / firstTenth : 0.0, rss, seconds / floorSeconds,
              (rss - rssBefore) * 1024.0 * 1024.0 / static_cast<double>(events), rawFirst > 0 ? rawLast / rawFirst : 0.0);
  engine.Stop();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return 0;
}
