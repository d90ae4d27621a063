// Feeds N synthetic change notifications of distinct paths through the
// window's whole intake path (decoding, the filter, the event row with its
// colours, prompt and log record) on the offscreen platform.
//
//   bench_pipeline [--events N]
//   pipeline events=N seconds=S per_event_us=U growth=G rss_mb=M
//
// growth is the time per event of the last tenth over that of the first.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ProgramDir.h"
#include "monitor/ScriptedSource.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vantrel;
using Clock = std::chrono::steady_clock;

namespace {

double ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
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
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  Application app(argc, argv);
  QTemporaryDir home;
  SetProgramDirForTesting(home.path().toStdString());
  WriteFileAtomically(home.path().toStdString() + "/config.ini",
                      Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n保存日志=真\r\n"));

  MainWindow::Options options;
  options.sourceFactory = [](std::string& error) -> std::unique_ptr<ChangeSource> {
    auto source = std::make_unique<ScriptedSource>();
    source->Start(error);
    return source;
  };
  MainWindow window(options);
  if (!window.OnMainWindowCreated()) return 1;
  window.show();
  QApplication::processEvents();

  const long tenth = events / 10;
  double firstTenth = 0, lastTenth = 0;
  auto start = Clock::now();
  auto sliceStart = start;
  ChangeNotification n;
  n.code = SHCNE_CREATE;
  for (long i = 0; i < events; ++i) {
    n.item1 = "/home/user/projects/data/batch" + std::to_string(i / 1000) + "/report-" + std::to_string(i) + ".txt";
    window.OnChangeNotification(n);
    // Let the view catch up as the event loop would between notifications.
    if (i % 1000 == 999) QApplication::processEvents();
    if (i + 1 == tenth) firstTenth = std::chrono::duration<double>(Clock::now() - sliceStart).count();
    if (i + 1 == events - tenth) sliceStart = Clock::now();
  }
  QApplication::processEvents();
  auto end = Clock::now();
  lastTenth = std::chrono::duration<double>(end - sliceStart).count();
  double seconds = std::chrono::duration<double>(end - start).count();
  double rss = ResidentMegabytes();
  long listed = static_cast<long>(window.EventRows().RowCount());
  if (listed != events) {
    std::fprintf(stderr, "bench_pipeline: %ld of %ld events were listed\n", listed, events);
    return 1;
  }
  std::printf("pipeline events=%ld seconds=%.2f per_event_us=%.2f growth=%.2f rss_mb=%.0f\n", events, seconds,
              seconds * 1e6 / static_cast<double>(events), firstTenth > 0 ? lastTenth / firstTenth : 0.0, rss);
  return 0;
}
