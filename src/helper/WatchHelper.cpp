// vantrel-watch-helper: the one file that carries the capabilities fanotify
// needs (CAP_SYS_ADMIN to mark whole file systems, CAP_DAC_READ_SEARCH to
// open the folders its events name). It runs for the user who started it,
// reads every change on the local file systems, and writes to its standard
// output, which must be a pipe, only the changes in folders that user may
// read and search. It opens no file's contents, acts on nothing, takes no
// arguments and no environment, and ends when the pipe's reader is gone.
#include "monitor/Capabilities.h"
#include "monitor/FanotifyReader.h"
#include "monitor/HelperRecords.h"
#include "monitor/MountTable.h"
#include "monitor/VisibleChanges.h"
#include "text/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <unordered_map>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vantrel;

namespace {

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

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
// A helper with nothing to tell still says so this often.
constexpr std::int64_t kAliveEveryMs = 1000;

// The real user id of a process, from its status; -1 once it is gone.
long RealUidOf(const char* pid) {
  const std::string path = std::string("/proc/") + pid + "/status";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[4096];
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = '\0';
  const char* uid = std::strstr(text, "\nUid:");
  return uid ? std::strtol(uid + 5, nullptr, 10) : -1;
}

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

class Helper final : private FanotifyReader::Sink {
 public:
  Helper()
      : visible_([this](std::string_view key) { return reader_.OpenFolder(key); },
                 [this](const RawChange& c) {
                   RawChange shown = c;
                   shown.pid = PidShown(c.pid);
                   AppendChangeRecord(out_, shown);
                 },
                 everything_,
                 [this](std::string_view folder, std::vector<const LaterRightsChange*>& out) {
                   reader_.RightsChangedLater(folder, out);
                 }) {
    reader_.LookAheadForRights(!everything_);
  }

  int Run() {
    std::string why;
    mountsFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    mounts_ = ReadMountTable(mountsFd_);
    if (!reader_.Open(mounts_, why)) return Fail(why);
    // Needed again only to mark a file system mounted later.
    SetEffectiveCapability(kCapSysAdmin, false);
    AppendReadyRecord(out_);
    if (!Flush()) return 0;
    lastWrite_ = NowMs();
    pollfd fds[3] = {{STDOUT_FILENO, 0, 0}, {reader_.Fd(), POLLIN, 0}, {mountsFd_, POLLPRI, 0}};
    const nfds_t count = mountsFd_ >= 0 ? 3 : 2;
    for (;;) {
      std::int64_t deadline = lastWrite_ + kAliveEveryMs;
      if (auto deferred = reader_.NextDeadline()) deadline = std::min(deadline, *deferred);
      const int timeout = static_cast<int>(std::clamp<std::int64_t>(deadline - NowMs(), 0, kAliveEveryMs));
      int rc = ::poll(fds, count, timeout);
      if (rc < 0 && errno != EINTR) return Fail(std::string("poll: ") + std::strerror(errno));
      // The program is gone or no longer reads.
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return 0;
      if (count == 3 && fds[2].revents) MountsChanged();
      if (fds[1].revents) reader_.Read(NowMs());
      reader_.Tick(NowMs());
      if (out_.empty() && NowMs() - lastWrite_ >= kAliveEveryMs) AppendAliveRecord(out_);
      if (!Flush()) return 0;
    }
  }

  int Fail(const std::string& why) {
    AppendFailedRecord(out_, why);
    Flush();
    return 1;
  }

 private:
  void Change(const RawChange& change, std::int64_t) override {
    // Cannot happen (a folder's path is under PATH_MAX, a name at most 255
    // bytes), but a record the program would refuse must never be written.
    if (change.path.size() > kMaxRecordPathBytes || change.newPath.size() > kMaxRecordPathBytes) return;
    visible_.Change(change);
    if (out_.size() >= (1u << 16)) Flush();
  }

  void Report(const SourceReport& report) override {
    if (report.kind == SourceReport::QueueOverflow) visible_.Forget();
    AppendReportRecord(out_, {report.kind, report.count, {}});
  }

  void TooLong(std::string_view folder, const std::string& ancestor) override {
    if (!visible_.Visible(folder)) return;
    ++tooLong_;
    tooLongAncestor_ = ancestor;
  }

  // Who made a change is told only where it is one of this user's own
  // processes: another user's process ids and names are not theirs to learn.
  std::int32_t PidShown(std::int32_t pid) {
    if (pid <= 0 || everything_) return pid;
    // A burst comes from few processes; their owners are looked up once a
    // second at most, which also bounds what is kept.
    const std::int64_t now = NowMs();
    if (now - ownersSince_ > 1000 || owners_.size() > 4096) {
      owners_.clear();
      ownersSince_ = now;
    }
    auto [it, added] = owners_.try_emplace(pid, false);
    if (added) {
      const std::string text = std::to_string(pid);
      it->second = RealUidOf(text.c_str()) == static_cast<long>(::getuid());
    }
    return it->second ? pid : 0;
  }

  void MountsChanged() {
    std::vector<MountEntry> now = ReadMountTable(mountsFd_);
    DriveChanges changes = CompareMounts(mounts_, now);
    mounts_ = now;
    const bool marking = !changes.added.empty();
    if (marking) SetEffectiveCapability(kCapSysAdmin, true);
    reader_.MountsChanged(std::move(now), changes.added, changes.removed);
    if (marking) SetEffectiveCapability(kCapSysAdmin, false);
    // Told once the new file systems are watched, so that what happens on
    // them after the notice is seen.
    RawChange drive;
    drive.kind = RawChange::DriveRemoved;
    for (const std::string& point : changes.localRemoved) {
      drive.path = point;
      visible_.Change(drive);
    }
    drive.kind = RawChange::DriveAdded;
    for (const std::string& point : changes.localAdded) {
      drive.path = point;
      visible_.Change(drive);
    }
  }

  // False once the program no longer reads.
  bool Flush() {
    if (std::size_t unjudged = visible_.TakeUnjudged())
      AppendReportRecord(out_, {SourceReport::NoPath, unjudged, {}});
    if (std::size_t hidden = visible_.TakeRightsChanged())
      AppendReportRecord(out_, {SourceReport::RightsChanged, hidden, {}});
    if (tooLong_) {
      AppendReportRecord(out_, {SourceReport::PathTooLong, tooLong_, tooLongAncestor_});
      tooLong_ = 0;
      tooLongAncestor_.clear();
    }
    if (out_.empty()) return true;
    bool ok = WriteAllBytes(STDOUT_FILENO, out_);
    out_.clear();
    lastWrite_ = NowMs();
    return ok;
  }

  const bool everything_ = ::getuid() == 0;
  FanotifyReader reader_{*this};
  VisibleChanges visible_;
  std::unordered_map<std::int32_t, bool> owners_;
  std::int64_t ownersSince_ = 0;
  std::int64_t lastWrite_ = 0;
  std::vector<MountEntry> mounts_;
  int mountsFd_ = -1;
  std::string out_;
  std::size_t tooLong_ = 0;
  std::string tooLongAncestor_;
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
