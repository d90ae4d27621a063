#include "monitor/linux/KernelSource.h"

#include "monitor/linux/FanotifySource.h"
#include "monitor/linux/HelperSource.h"
#include "monitor/linux/InotifySource.h"
#include "text/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sys/stat.h>

namespace vantrel {
namespace {

double ThreadCpuSeconds(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0.0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void Poke(int fd) {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}

}  // namespace

KernelSource::KernelSource()
    : stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (stopFd_ < 0 || wakeFd_ < 0) throw std::runtime_error("eventfd failed");
}

KernelSource::~KernelSource() {
  ::close(stopFd_);
  ::close(wakeFd_);
}

bool KernelSource::Start(std::string& error) {
  if (running_) return true;
  if (!Open(error)) return false;
  if (FollowsMounts()) {
    mountsFd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    mounts_ = mountsFd_ >= 0 ? ReadMountTable(mountsFd_) : std::vector<MountEntry>{};
  }
  running_ = true;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void KernelSource::Stop() {
  if (!running_) return;
  Poke(stopFd_);
  thread_.join();
  running_ = false;
  Drain(stopFd_);
  if (mountsFd_ >= 0) ::close(mountsFd_);
  mountsFd_ = -1;
  Close();
}

void KernelSource::SetRoots(std::vector<std::string> roots) {
  {
    std::lock_guard lock(rootsMutex_);
    roots_ = NormaliseRoots(std::move(roots));
    rootsDirty_ = true;
  }
  Poke(wakeFd_);
}

double CpuSecondsOf(const std::thread& thread) {
  clockid_t clock;
  if (pthread_getcpuclockid(const_cast<std::thread&>(thread).native_handle(), &clock) != 0) return 0.0;
  return ThreadCpuSeconds(clock);
}

double KernelSource::ReaderCpuSeconds() const { return running_ ? CpuSecondsOf(thread_) : cpuAtExit_.load(); }

void KernelSource::CheckMounts() {
  std::vector<MountEntry> now = ReadMountTable(mountsFd_);
  DriveChanges changes = CompareMounts(mounts_, now);
  for (const std::string& p : changes.localRemoved) Emit(SHCNE_DRIVEREMOVED, p);
  for (const std::string& p : changes.localAdded) Emit(SHCNE_DRIVEADD, p);
  mounts_ = std::move(now);
  OnMountsChanged(changes.added, changes.removed);
}

std::vector<std::string> KernelSource::TellRootsOutOfSight(const std::vector<std::string>& roots) {
  // By name only: asking such a mount anything could wait on its server.
  const std::vector<MountEntry> mounts = ReadMountTable();
  std::vector<std::string> inSight;
  for (const std::string& root : roots) {
    const MountEntry* mount = ServedMountOf(mounts, root);
    if (!mount) {
      inSight.push_back(root);
      continue;
    }
    if (std::find(toldOutOfSight_.begin(), toldOutOfSight_.end(), root) != toldOutOfSight_.end()) continue;
    toldOutOfSight_.push_back(root);
    ReportProblem({SourceReport::WatchChanged, 1,
                   root + " 位于 " + mount->type + " 文件系统 (" + mount->mountPoint +
                       ") 上, 全盘监控看不到其中的变动; 要监控它, 请用 --watch-backend inotify 启动"});
  }
  return inSight;
}

void KernelSource::Loop() {
  pollfd fds[4] = {{stopFd_, POLLIN, 0}, {KernelFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}, {mountsFd_, POLLPRI, 0}};
  nfds_t count = mountsFd_ >= 0 ? 4 : 3;
  for (;;) {
    bool rootsDirty;
    std::vector<std::string> roots;
    {
      std::lock_guard lock(rootsMutex_);
      rootsDirty = rootsDirty_;
      rootsDirty_ = false;
      if (rootsDirty) roots = roots_;
    }
    if (rootsDirty) OnRootsChanged(roots);
    OnTick(NowMs());
    FlushBatch();
    // A source may end its descriptor, or take a new one (-1: none for now).
    fds[1].fd = KernelFd();

    int timeout = -1;
    if (auto deadline = NextDeadline()) timeout = static_cast<int>(std::clamp<std::int64_t>(*deadline - NowMs(), 0, 60000));
    int rc = ::poll(fds, count, timeout);
    if (rc < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    if (fds[2].revents) Drain(wakeFd_);
    if (count == 4 && fds[3].revents) CheckMounts();
    if (fds[1].revents) ReadKernel(NowMs());
  }
  tracker_.SettleAll();
  FlushBatch();
  cpuAtExit_ = ThreadCpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

bool NamesAnUnnamedFile(std::string_view path) {
  std::size_t slash = path.rfind('/');
  std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  if (name.size() < 2 || name[0] != '#') return false;
  for (char c : name.substr(1))
    if (c < '0' || c > '9') return false;
  struct stat st {};
  return ::lstat(std::string(path).c_str(), &st) != 0;
}

std::string HelperBesideProgram() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  // Never a bare name: that would be looked up in the working folder.
  if (n <= 0 || self[0] != '/') return {};
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + kWatchHelperName;
}

std::string WatchServiceSocket() {
  // Another place is for tests and installs of their own; the user chooses
  // it for their own program only.
  const char* chosen = std::getenv("VANTREL_WATCH_SOCKET");
  return chosen && chosen[0] == '/' ? chosen : kWatchServiceSocket;
}

std::unique_ptr<ChangeSource> StartChangeSource(WatchBackend backend, std::vector<std::string> roots,
                                                std::string& error) {
  std::string reasons;
  if (backend != WatchBackend::Inotify) {
    auto source = std::make_unique<FanotifySource>();
    std::string why;
    if (source->Start(why)) return source;
    reasons = std::string("fanotify: ") + why;
    // The shared service, where it is installed, serves every user with one
    // reader of the kernel; a helper of the user's own is one more.
    const std::string service = WatchServiceSocket();
    struct stat st {};
    if (::stat(service.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      auto served = HelperSource::Service(service);
      if (served->Start(why)) return served;
      reasons += "; fanotify through the watch service: " + why;
    }
    auto helped = std::make_unique<HelperSource>(HelperBesideProgram());
    if (helped->Start(why)) return helped;
    reasons += "; fanotify through the watch helper: " + why;
    if (backend == WatchBackend::Fanotify) {
      error = reasons;
      return nullptr;
    }
  }
  auto source = std::make_unique<InotifySource>();
  source->SetRoots(std::move(roots));
  std::string why;
  if (source->Start(why)) return source;
  error = (reasons.empty() ? "" : reasons + "; ") + "inotify: " + why;
  return nullptr;
}

}  // namespace vantrel
