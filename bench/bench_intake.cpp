// Creates N files in a fresh temporary tree while a change source runs and
// counts what reaches the consumer. The source's CPU time is compared with
// that of a bare reader that only counts the kernel's events, watching the
// same workload at the same time.
//
//   bench_intake [--backend inotify|fanotify|service] [--socket PATH] [--files N] [--stall-ms M]
// service: through the shared watch service listening at PATH (its bare
// baseline is fanotify's).
//   intake backend=B files=N delivered=D lost=L seconds=S bare_ratio=R
#include "monitor/linux/FanotifySource.h"
#include "monitor/linux/HelperSource.h"
#include "monitor/linux/InotifySource.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

using namespace vantrel;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kFilesPerDir = 1000;

double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string MakeTree() {
  std::string templ = "/tmp/vantrel-bench-XXXXXX";
  if (!::mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return templ;
}

std::string FilePath(const std::string& tree, int i) {
  return tree + "/d" + std::to_string(i / kFilesPerDir) + "/f" + std::to_string(i);
}

// The workload: folders appear as it goes, each file gets a little content.
void CreateFiles(const std::string& tree, int files) {
  for (int i = 0; i < files; ++i) {
    if (i % kFilesPerDir == 0) ::mkdir((tree + "/d" + std::to_string(i / kFilesPerDir)).c_str(), 0755);
    int fd = ::open(FilePath(tree, i).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror("open");
      std::exit(1);
    }
    [[maybe_unused]] ssize_t n = ::write(fd, "content\n", 8);
    ::close(fd);
  }
}

// Reads and counts kernel events, nothing else; for inotify it also watches
// each new folder, without which there would be nothing to count. It runs
// beside the source on the very same workload, so both see the same events
// at the same pace.
class BareReader {
 public:
  BareReader(bool fanotify, const std::string& tree) : fanotify_(fanotify) {
    if (fanotify) {
      fd_ = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE | FAN_REPORT_DFID_NAME_TARGET,
                          O_RDONLY | O_LARGEFILE);
      fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_FILESYSTEM,
                    FAN_CREATE | FAN_DELETE | FAN_RENAME | FAN_MODIFY | FAN_CLOSE_WRITE | FAN_ATTRIB | FAN_ONDIR,
                    AT_FDCWD, tree.c_str());
    } else {
      fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      Watch(tree);
    }
    if (fd_ < 0) {
      std::perror("bare reader");
      std::exit(1);
    }
    thread_ = std::thread([this] { Run(); });
  }
  // Reads what is left once the workload is over; the reader's CPU seconds.
  double Finish() {
    done_ = true;
    thread_.join();
    ::close(fd_);
    return cpu_;
  }

 private:
  void Watch(const std::string& dir) {
    dirs_[inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                                  IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF)] = dir;
  }
  void Run() {
    alignas(8) static char buf[256 * 1024];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      bool done = done_;
      if (::poll(&p, 1, 50) == 0 && done) break;
      for (;;) {
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (char* q = buf; q < buf + n;) {
          ++events_;
          if (fanotify_) {
            std::uint32_t len;
            std::memcpy(&len, q, sizeof len);
            if (len == 0) break;
            q += len;
            continue;
          }
          auto* ev = reinterpret_cast<inotify_event*>(q);
          if ((ev->mask & IN_CREATE) && (ev->mask & IN_ISDIR)) Watch(dirs_[ev->wd] + "/" + ev->name);
          q += sizeof(inotify_event) + ev->len;
        }
      }
    }
    cpu_ = ThreadCpu();
  }

  bool fanotify_;
  int fd_ = -1;
  std::unordered_map<int, std::string> dirs_;
  std::atomic<bool> done_{false};
  std::size_t events_ = 0;
  double cpu_ = 0;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string backend = "inotify";
  std::string socket = kWatchServiceSocket;
  int files = 100000;
  int stallMs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "bench_intake: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--backend") {
      backend = value();
    } else if (arg == "--socket") {
      socket = value();
    } else if (arg == "--files") {
      files = std::atoi(value().c_str());
    } else if (arg == "--stall-ms") {
      stallMs = std::atoi(value().c_str());
    } else {
      std::fprintf(stderr,
                   "usage: bench_intake [--backend inotify|fanotify|service] [--socket PATH] [--files N] [--stall-ms M]\n");
      return 2;
    }
  }
  if ((backend != "inotify" && backend != "fanotify" && backend != "service") || files <= 0) {
    std::fprintf(stderr, "bench_intake: backend must be inotify, fanotify or service, files positive\n");
    return 2;
  }
  bool fanotify = backend != "inotify";

  std::string tree = MakeTree();
  std::unique_ptr<KernelSource> source;
  if (backend == "service") {
    source = HelperSource::Service(socket);
  } else if (fanotify) {
    source = std::make_unique<FanotifySource>();
  } else {
    auto inotify = std::make_unique<InotifySource>();
    source = std::move(inotify);
    source->SetRoots({tree});
  }
  std::string why;
  if (!source->Start(why)) {
    std::fprintf(stderr, "bench_intake: %s cannot start: %s\n", backend.c_str(), why.c_str());
    return 1;
  }
  if (auto* inotify = dynamic_cast<InotifySource*>(source.get()))
    while (inotify->WatchCount() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  BareReader bare(fanotify, tree);
  auto start = Steady::now();
  double writerSeconds = 0;
  std::thread writer([&] {
    CreateFiles(tree, files);
    writerSeconds = std::chrono::duration<double>(Steady::now() - start).count();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));

  std::unordered_set<std::string> seen;
  std::string prefix = tree + "/";
  double consumerCpu = 0;
  auto last = Steady::now();
  std::vector<ChangeNotification> batch;
  // Allow for the files' one-second settling and a slow machine.
  auto giveUp = [&] { return Steady::now() - last > std::chrono::seconds(10); };
  while (static_cast<int>(seen.size()) < files && !giveUp()) {
    pollfd p{source->Queue().ReadyHandle(), POLLIN, 0};
    ::poll(&p, 1, 100);
    double before = ThreadCpu();
    source->Queue().TakeAll(batch);
    consumerCpu += ThreadCpu() - before;
    for (auto& n : batch) {
      if (n.code == SHCNE_CREATE && n.item1 && n.item1->compare(0, prefix.size(), prefix) == 0 && seen.insert(*n.item1).second)
        last = Steady::now();
    }
    batch.clear();
  }
  double seconds = std::chrono::duration<double>(last - start).count();
  writer.join();
  source->Stop();
  double sourceCpu = source->ReaderCpuSeconds() + consumerCpu;
  double bareCpu = bare.Finish();
  std::filesystem::remove_all(tree);
  if (std::getenv("BENCH_VERBOSE")) std::fprintf(stderr, "writer took %.2f s\n", writerSeconds);

  int delivered = static_cast<int>(seen.size());
  std::printf("intake backend=%s files=%d delivered=%d lost=%d seconds=%.2f bare_ratio=%.2f\n", backend.c_str(), files,
              delivered, files - delivered, seconds, bareCpu > 0 ? sourceCpu / bareCpu : 0.0);
  return 0;
}
