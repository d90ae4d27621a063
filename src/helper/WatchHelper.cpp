// vantrel-watch-helper: the one file that carries the capabilities fanotify
// needs (CAP_SYS_ADMIN to mark whole file systems, CAP_DAC_READ_SEARCH to
// open the folders its events name). It runs for the user who started it,
// reads every change on the local file systems, and writes to its standard
// output, which must be a pipe, only the changes in folders that user may
// read and search. It opens no file's contents, acts on nothing, takes no
// arguments and no environment, and ends when the pipe's reader is gone.
#include "helper/WatchCore.h"
#include "platform/linux/PosixFile.h"
#include "monitor/linux/Capabilities.h"
#include "monitor/linux/HelperRecords.h"
#include "text/AtomicFile.h"
#include "time/Timing.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vantrel;

namespace {

// Nothing inherited stays open: no descriptor of the starter's may be used
// with this process's rights.
void CloseInherited() {
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
  long last = ::sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < (last > 0 ? last : 1024); ++fd) ::close(static_cast<int>(fd));
}

// How many helpers one user may run at once: one per running program, and
// room for a restart overlapping its predecessor. Every helper is one more
// fanotify group that every change on the machine is queued for, so more
// would let one user slow everybody's writes.
constexpr int kHelpersPerUser = 3;
constexpr std::int64_t kAliveEveryMs = timing::kAliveEvery.count();

// Other helpers of this user that run now. Each counts the others after it
// exists itself, so of helpers started together the later ones see the
// earlier: no more than the limit get past the count, without a lock file
// that another user could hold.
int OtherHelpersOfThisUser() {
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  const long me = static_cast<long>(::getuid());
  const std::string self = std::to_string(::getpid());
  int count = 0;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || self == entry->d_name) continue;
    const std::string path = std::string("/proc/") + entry->d_name + "/comm";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char comm[32] = {};
    ssize_t n = ::read(fd, comm, sizeof comm - 1);
    ::close(fd);
    // The kernel keeps 15 bytes of the name.
    if (n > 0 && std::strncmp(comm, "vantrel-watch-h", 15) == 0 && RealUidOf(entry->d_name) == me) ++count;
  }
  ::closedir(proc);
  return count;
}

class Helper {
 public:
  int Run() {
    std::string why;
    if (!core_.Open(why)) return Fail(why);
    AppendReadyRecord(out_);
    if (!Flush()) return 0;
    pollfd fds[3] = {{STDOUT_FILENO, 0, 0}, {core_.ReaderFd(), POLLIN, 0}, {core_.MountsFd(), POLLPRI, 0}};
    const nfds_t count = core_.MountsFd() >= 0 ? 3 : 2;
    for (;;) {
      std::int64_t deadline = lastWrite_ + kAliveEveryMs;
      if (auto deferred = core_.NextDeadline()) deadline = std::min(deadline, *deferred);
      const int timeout = static_cast<int>(std::clamp<std::int64_t>(deadline - WatchNowMs(), 0, kAliveEveryMs));
      int rc = ::poll(fds, count, timeout);
      if (rc < 0 && errno != EINTR) return Fail(std::string("poll: ") + std::strerror(errno));
      // The program is gone or no longer reads.
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return 0;
      if (count == 3 && fds[2].revents) core_.MountsChanged();
      if (fds[1].revents) core_.Read();
      core_.Tick();
      out_ += user_.Take();
      if (out_.empty() && WatchNowMs() - lastWrite_ >= kAliveEveryMs) AppendAliveRecord(out_);
      if (!Flush()) return 0;
    }
  }

  int Fail(const std::string& why) {
    AppendFailedRecord(out_, why);
    Flush();
    return 1;
  }

 private:
  // False once the program no longer reads.
  bool Flush() {
    if (out_.empty()) return true;
    bool ok = WriteAllBytes(STDOUT_FILENO, out_);
    out_.clear();
    lastWrite_ = WatchNowMs();
    return ok;
  }

  // A write to a program that no longer reads ends this process.
  WatchCore core_{::getuid() != 0, [this](WatchCore::Audience& a) {
                    out_ += a.Take();
                    Flush();
                  }};
  WatchCore::Audience& user_ = core_.Join(Viewer::ThisProcess());
  std::int64_t lastWrite_ = WatchNowMs();
  std::string out_;
};

}  // namespace

int main(int argc, char**) {
  CloseInherited();
  // Nothing it could execute gains rights, and nobody may look into it.
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  ::clearenv();
  ::signal(SIGPIPE, SIG_DFL);
  Helper helper;
  if (argc > 1) return helper.Fail("takes no arguments");
  struct stat out {};
  if (::fstat(STDOUT_FILENO, &out) != 0 || !(S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode)))
    return helper.Fail("standard output must be a pipe");
  if (!LimitCapabilities({kCapSysAdmin, kCapDacReadSearch}, {kCapSysAdmin, kCapDacReadSearch}) ||
      !HasPermittedCapability(kCapSysAdmin) || !HasPermittedCapability(kCapDacReadSearch))
    return helper.Fail("lacks CAP_SYS_ADMIN and CAP_DAC_READ_SEARCH (install it with sudo cmake --install)");
  if (::getuid() != 0 && OtherHelpersOfThisUser() >= kHelpersPerUser)
    return helper.Fail("this user already runs " + std::to_string(kHelpersPerUser) + " watch helpers");
  return helper.Run();
}
