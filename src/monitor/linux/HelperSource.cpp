#include "monitor/linux/HelperSource.h"

#include "monitor/linux/InotifySource.h"
#include "text/AtomicFile.h"
#include "time/Timing.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace vantrel {
namespace {

std::int64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Exactly n bytes before the deadline; false on end, error, time out or
// when the source is stopping (stopFd readable).
bool ReadExactly(int fd, char* out, std::size_t n, std::int64_t deadline, int stopFd, std::string& why) {
  while (n > 0) {
    pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int wait = static_cast<int>(std::max<std::int64_t>(deadline - Now(), 0));
    int rc = ::poll(p, 2, wait);
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0) return why = "no answer in time", false;
    if (p[1].revents) return why = "stopped", false;
    ssize_t got = ::read(fd, out, n);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return why = got == 0 ? "it ended without a word" : std::strerror(errno), false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

HelperSource::HelperSource(std::string helperPath, int startTimeoutMs, int silentMs)
    : helper_(std::move(helperPath)), startTimeoutMs_(startTimeoutMs), silentMs_(silentMs) {}

std::unique_ptr<HelperSource> HelperSource::Service(std::string socketPath, int startTimeoutMs, int silentMs) {
  auto source = std::make_unique<HelperSource>(std::string(), startTimeoutMs, silentMs);
  source->socket_ = std::move(socketPath);
  source->what_ = "监控服务";
  return source;
}

HelperSource::~HelperSource() { Stop(); }

bool HelperSource::Open(std::string& error) {
  retryAt_ = 0;
  retryPauseMs_ = timing::kHelperFirstRetry.count();
  startedAt_ = Now();
  return Begin(error);
}

bool HelperSource::Connect(std::string& error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_.size() >= sizeof address.sun_path) {
    error = socket_ + ": the name is too long";
    return false;
  }
  std::memcpy(address.sun_path, socket_.data(), socket_.size());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = socket_ + ": " + std::strerror(errno);
    // Only this try ends: a stand-in watching meanwhile goes on.
    EndHelper(false);
    return false;
  }
  // Nothing is ever said to it.
  ::shutdown(fd_, SHUT_WR);
  return true;
}

bool HelperSource::Spawn(std::string& error) {
  if (helper_.empty() || helper_[0] != '/') {
    error = "the program's own folder is unknown";
    return false;
  }
  if (::access(helper_.c_str(), X_OK) != 0) {
    error = helper_ + ": " + std::strerror(errno);
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files, pipeFds[1], 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // It must die of a write to a closed pipe, whatever this process ignores.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {const_cast<char*>(kWatchHelperName), nullptr};
  char* envp[] = {nullptr};
  int rc = posix_spawn(&pid_, helper_.c_str(), &files, &attr, argv, envp);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  ::close(pipeFds[1]);
  fd_ = pipeFds[0];
  if (rc != 0) {
    pid_ = -1;
    error = helper_ + ": " + std::strerror(rc);
    EndHelper(false);
    return false;
  }
  return true;
}

bool HelperSource::Begin(std::string& error) {
  records_ = HelperRecordReader();
  if (!(socket_.empty() ? Spawn(error) : Connect(error))) return false;
  const std::string& who = socket_.empty() ? helper_ : socket_;
  // Exactly one record, so that nothing after it is read before the reader
  // thread runs.
  const std::int64_t deadline = Now() + startTimeoutMs_;
  char head[4];
  std::string why;
  HelperRecord first;
  if (ReadExactly(fd_, head, sizeof head, deadline, StopFd(), why)) {
    std::string record(head, sizeof head);
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(head[i]);
    if (length <= kMaxRecordBytes) {
      record.resize(sizeof head + length);
      if (ReadExactly(fd_, record.data() + sizeof head, length, deadline, StopFd(), why)) {
        records_.Feed(record);
        if (records_.Next(first, why) != HelperRecordReader::Result::Record) first.type = HelperRecord::Change;
      }
    } else {
      why = "record length " + std::to_string(length);
    }
  }
  if (why.empty() && first.type == HelperRecord::Ready) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    lastHeard_ = Now();
    return true;
  }
  if (why.empty()) why = first.type == HelperRecord::Failed ? first.reason : "it did not say it was ready";
  error = who + ": " + why;
  EndHelper(true);
  return false;
}

std::string HelperSource::Reap(int waitMs) {
  if (pid_ <= 0) return {};
  int status = 0;
  pid_t done = 0;
  for (int waited = 0;; waited += 10) {
    done = ::waitpid(pid_, &status, WNOHANG);
    if (done != 0 && !(done < 0 && errno == EINTR)) break;
    if (waited >= waitMs) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      done = pid_;
      break;
    }
    ::usleep(10000);
  }
  pid_ = -1;
  if (done < 0) return {};
  if (WIFEXITED(status)) return "退出码 " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "信号 " + std::to_string(WTERMSIG(status));
  return {};
}

std::string HelperSource::EndHelper(bool stopIt) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  // The closed pipe ends it; the signal makes sure, and a stopped helper
  // hears neither: it is killed.
  if (stopIt && pid_ > 0) ::kill(pid_, SIGKILL);
  return Reap(2000);
}

void HelperSource::Tell(std::string text) { ReportProblem({SourceReport::WatchChanged, 1, std::move(text)}); }

void HelperSource::Lost(const std::string& why, bool stopIt, std::int64_t now) {
  ++generation_;
  std::string how = EndHelper(stopIt);
  // What came before the end is delivered before the word of it.
  FlushBatch();
  Tell(what_ + why + (how.empty() ? "" : " (" + how + ")") + ", 期间的变动可能未被看到");
  // One that ran a good while is started again at once; one that keeps
  // ending soon after its start waits longer each time.
  if (now - startedAt_ >= timing::kHelperLastRetry.count()) {
    retryPauseMs_ = timing::kHelperFirstRetry.count();
    TryAgain(now);
  } else {
    StandIn(now, "");
  }
}

void HelperSource::TryAgain(std::int64_t now) {
  std::string why;
  if (Begin(why)) {
    startedAt_ = now;
    retryAt_ = 0;
    const bool stoodIn = standIn_ != nullptr;
    if (standIn_) standIn_->Stop();
    standIn_.reset();
    Tell(std::string(what_) + (socket_.empty() ? "已重新启动" : "已重新连上") + ", 全盘监控已恢复" +
         (stoodIn ? ", inotify 停止代替" : ""));
    return;
  }
  StandIn(now, what_ + std::string(socket_.empty() ? "无法启动 (" : "无法连接 (") + why + "); ");
}

void HelperSource::StandIn(std::int64_t now, const std::string& why) {
  retryAt_ = now + retryPauseMs_;
  const std::int64_t pause = retryPauseMs_;
  retryPauseMs_ = std::min<std::int64_t>(retryPauseMs_ * 2, timing::kHelperLastRetry.count());
  if (standIn_) return;
  standIn_ = std::make_unique<InotifySource>();
  standIn_->SendTo(*out_);
  standIn_->SetRoots(roots_);
  std::string inotifyWhy;
  const bool standing = standIn_->Start(inotifyWhy);
  if (!standing) {
    standIn_.reset();
    ReportProblem({SourceReport::SourceEnded, 1, what_ + std::string("与 inotify 都无法启动")});
  }
  Tell(why + std::to_string(pause / 1000) + (socket_.empty() ? " 秒后再启动" : " 秒后再连接") + what_ + "; " +
       (standing ? "其间由 inotify 监控规则的文件夹" : "inotify 也无法启动 (" + inotifyWhy + "), 其间看不到任何变动"));
}

void HelperSource::OnRootsChanged(const std::vector<std::string>& roots) {
  // The stand-in keeps to what the helper sees: a folder on a mount whose
  // server stops answering would hold its thread, and quitting, for good.
  roots_ = TellRootsOutOfSight(roots);
  if (standIn_) standIn_->SetRoots(roots_);
}

std::optional<std::int64_t> HelperSource::NextDeadline() {
  std::optional<std::int64_t> next = tracker_.NextDeadline();
  const std::int64_t own = fd_ >= 0 ? lastHeard_ + silentMs_ : retryAt_;
  if (own && (!next || own < *next)) next = own;
  return next;
}

void HelperSource::OnTick(std::int64_t now) {
  tracker_.Expire(now);
  if (fd_ >= 0 && now - lastHeard_ >= silentMs_) {
    Lost("已 " + std::to_string(silentMs_ / 1000) + " 秒没有应答, 已结束它", true, now);
  } else if (fd_ < 0 && retryAt_ && now >= retryAt_) {
    TryAgain(now);
  }
}

void HelperSource::Close() {
  if (standIn_) standIn_->Stop();
  standIn_.reset();
  retryAt_ = 0;
  EndHelper(true);
}

void HelperSource::Take(const HelperRecord& record, std::int64_t now) {
  switch (record.type) {
    case HelperRecord::Change:
      Consume(record.AsChange(), now);
      break;
    case HelperRecord::Report:
      if (record.report.kind == SourceReport::PathTooLong) {
        CountTooLong(record.report.count, record.report.detail);
      } else {
        ReportProblem(record.report);
      }
      break;
    case HelperRecord::Failed:
      Lost("出错: " + record.reason, true, now);
      break;
    case HelperRecord::Ready:
      Lost("发来了无法解读的数据: ready twice", true, now);
      break;
    case HelperRecord::Alive:
      break;
  }
}

void HelperSource::ReadKernel(std::int64_t now) {
  char buf[64 * 1024];
  // Reading stops with the helper it began with.
  const unsigned generation = generation_;
  while (generation == generation_) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      Lost(n == 0 ? "已退出" : std::string("的管道出错: ") + FileErrorText(errno), n != 0, now);
      break;
    }
    lastHeard_ = now;
    records_.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    HelperRecord record;
    std::string why;
    for (;;) {
      HelperRecordReader::Result result = records_.Next(record, why);
      if (result == HelperRecordReader::Result::NeedMore) break;
      if (result == HelperRecordReader::Result::Malformed) {
        Lost("发来了无法解读的数据: " + why, true, now);
        break;
      }
      Take(record, now);
      if (generation != generation_) break;
    }
    if (batch_.size() >= 4096) FlushBatch();
  }
}

}  // namespace vantrel
