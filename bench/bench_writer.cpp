// Makes changes as fast as one process can, and tells its own CPU time per
// change: what every watcher of the machine costs a writer that did not ask
// to be watched.
//
//   bench_writer files DIR N    creates, writes and removes N files
//   bench_writer folders DIR N  makes N folders, and leaves them
//   bench_writer nested DIR N   makes N folders each inside the last
//   writer mode=M changes=N cpu_us_per_change=C seconds=S
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

double ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  if (mode != "files" && mode != "folders" && mode != "nested") {
    std::fprintf(stderr, "usage: bench_writer files|folders|nested DIR N\n");
    return 2;
  }
  const bool files = mode == "files";
  const std::string dir = argv[2];
  const long n = std::strtol(argv[3], nullptr, 10);
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ProcessCpu();
  if (mode == "nested" && ::chdir(dir.c_str()) != 0) return std::perror(dir.c_str()), 1;
  for (long i = 0; i < n; ++i) {
    // Deeper than any path can name: each step is taken from the last.
    if (mode == "nested") {
      if (::mkdir("d", 0700) != 0 || ::chdir("d") != 0) return std::perror("nested"), 1;
      continue;
    }
    const std::string path = dir + "/" + std::to_string(i);
    if (!files) {
      if (::mkdir(path.c_str(), 0700) != 0) return std::perror(path.c_str()), 1;
      continue;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return std::perror(path.c_str()), 1;
    [[maybe_unused]] ssize_t w = ::write(fd, "x", 1);
    ::close(fd);
    ::unlink(path.c_str());
  }
  const double used = ProcessCpu() - cpu;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("writer mode=%s changes=%ld cpu_us_per_change=%.2f seconds=%.2f\n", argv[1], n,
              n ? used * 1e6 / static_cast<double>(n) : 0.0, seconds);
  return 0;
}
