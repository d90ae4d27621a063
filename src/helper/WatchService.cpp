// vantrel-watch-service: whole-disk watching shared by every user of the
// machine. One fanotify group serves everyone connected to its socket, so a
// change costs its writer one queued event however many users watch; each
// connection is told only the changes its user could have listed, judged
// with the ids the kernel gives for the connecting process (SO_PEERCRED,
// SO_PEERGROUPS) against each folder's mode bits and ACL.
//
// It runs under a system user of its own with CAP_SYS_ADMIN and
// CAP_DAC_READ_SEARCH given by its service manager, never as root and never
// with capabilities of its own file, so no user can start, stop or slow it.
// It reads nothing from its connections, acts on nothing, and bounds what
// it holds for each: a connection that does not read loses changes, told
// to it as an overflow, and costs nobody else anything.
//   vantrel-watch-service               the socket from socket activation;
//                                       ends after a minute with nobody
//                                       connected
//   vantrel-watch-service --listen PATH a socket of its own at PATH
#include "helper/WatchCore.h"
#include "monitor/linux/Capabilities.h"
#include "monitor/linux/HelperRecords.h"
#include "time/Timing.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantrel;

namespace {

// Every connection is one more identity judged and one more buffer held:
// both are bounded, per user and in all.
constexpr int kConnectionsPerUser = 4;
constexpr std::size_t kConnections = 64;
// A program busy for a moment must lose nothing: a connection holds about
// what the reader's own buffer does. All of them together hold far less
// than each could, which matters only when many lag at once.
constexpr std::size_t kConnectionBytes = 48u << 20;
constexpr std::size_t kAllConnectionsBytes = 256u << 20;
constexpr std::size_t kVerdictsPerAudience = 20000;
constexpr std::int64_t kAliveEveryMs = timing::kAliveEvery.count();
// Started by socket activation, it ends once nobody has been connected for
// a while, and with it the cost of watching to every writer.
constexpr std::int64_t kIdleEndMs = timing::kServiceIdleEnd.count();

struct Connection {
  int fd = -1;
  std::uint32_t uid = 0;
  WatchCore::Audience* audience = nullptr;
  // Bytes before `sent` went out already; they are dropped in one move
  // once they are the larger part, so a connection catching up on a full
  // buffer costs each round what it sends, not what it still holds.
  std::string out;
  std::size_t sent = 0;
  bool lost = false;  // records were dropped since it last caught up
  std::int64_t lastWrite = 0;

  std::size_t Held() const { return out.size() - sent; }
};

class Service {
 public:
  Service(int listenFd, bool endWhenIdle) : listen_(listenFd), endWhenIdle_(endWhenIdle) {}

  int Run() {
    std::string why;
    if (!core_.Open(why)) {
      std::fprintf(stderr, "vantrel-watch-service: %s\n", why.c_str());
      return 1;
    }
    std::fprintf(stderr, "vantrel-watch-service: watching\n");
    std::vector<pollfd> fds;
    for (;;) {
      fds.assign({{listen_, POLLIN, 0}, {core_.ReaderFd(), POLLIN, 0}, {core_.MountsFd(), POLLPRI, 0}});
      for (const Connection& c : connections_) fds.push_back({c.fd, static_cast<short>(c.Held() ? POLLOUT : 0), 0});
      std::int64_t deadline = WatchNowMs() + kAliveEveryMs;
      if (auto deferred = core_.NextDeadline()) deadline = std::min(deadline, *deferred);
      const int timeout = static_cast<int>(std::clamp<std::int64_t>(deadline - WatchNowMs(), 0, kAliveEveryMs));
      int rc = ::poll(fds.data(), fds.size(), timeout);
      if (rc < 0 && errno != EINTR) {
        std::fprintf(stderr, "vantrel-watch-service: poll: %s\n", std::strerror(errno));
        return 1;
      }
      if (rc > 0) {
        // Gone connections first: the poll entries follow the list's order.
        auto it = connections_.begin();
        for (std::size_t i = 3; i < fds.size(); ++i, ++it) it->fd = fds[i].revents & (POLLERR | POLLHUP) ? Drop(*it) : it->fd;
        connections_.remove_if([](const Connection& c) { return c.fd < 0; });
        if (fds[2].fd >= 0 && fds[2].revents) core_.MountsChanged();
        if (fds[1].revents) core_.Read();
        if (fds[0].revents) Accept();
      }
      core_.Tick();
      for (Connection& c : connections_) Give(*c.audience);
      Send();
      const std::int64_t now = WatchNowMs();
      if (!connections_.empty()) idleSince_ = now;
      // The socket stays with the service manager, which starts it again.
      if (endWhenIdle_ && now - idleSince_ >= kIdleEndMs) return 0;
    }
  }

 private:
  int Drop(Connection& c) {
    ::close(c.fd);
    core_.Leave(*c.audience);
    return -1;
  }

  // The audience's records to each of its connections, as far as each has
  // room.
  void Give(WatchCore::Audience& audience) {
    if (!audience.Pending()) return;
    const std::string records = audience.Take();
    std::size_t held = 0;
    for (const Connection& c : connections_) held += c.Held();
    for (Connection& c : connections_) {
      if (c.audience != &audience) continue;
      if (c.Held() + records.size() > kConnectionBytes || held + records.size() > kAllConnectionsBytes) {
        c.lost = true;
        continue;
      }
      // Word of what was lost comes before anything after it.
      if (c.lost) AppendReportRecord(c.out, {SourceReport::QueueOverflow, 1, {}});
      c.lost = false;
      c.out += records;
      held += records.size();
    }
  }

  void Send() {
    const std::int64_t now = WatchNowMs();
    for (Connection& c : connections_) {
      if (!c.Held() && c.lost) {
        // Caught up after dropping, with nothing new to tell.
        AppendReportRecord(c.out, {SourceReport::QueueOverflow, 1, {}});
        c.lost = false;
      }
      if (!c.Held() && now - c.lastWrite >= kAliveEveryMs) AppendAliveRecord(c.out);
      const std::size_t before = c.sent;
      while (c.sent < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        c.sent += static_cast<std::size_t>(n);
      }
      if (c.sent != before) c.lastWrite = now;
      if (c.sent == c.out.size()) {
        c.out.clear();
        c.sent = 0;
        // What a lag took is given back once it is made up.
        if (c.out.capacity() > (1u << 20)) c.out.shrink_to_fit();
      } else if (c.sent > c.out.size() / 2) {
        c.out.erase(0, c.sent);
        c.sent = 0;
      }
    }
  }

  void Accept() {
    for (;;) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      // Nothing is read from a connection: one that writes gets an error
      // rather than filling a buffer here.
      ::shutdown(fd, SHUT_RD);
      std::string refusal;
      ucred cred{};
      socklen_t credLength = sizeof cred;
      std::vector<gid_t> groups(64);
      if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLength) != 0 || !PeerGroups(fd, groups)) {
        refusal = "the connecting process's ids cannot be known";
      } else if (connections_.size() >= kConnections) {
        refusal = "too many connections";
      } else if (std::count_if(connections_.begin(), connections_.end(),
                               [&](const Connection& c) { return c.uid == cred.uid; }) >= kConnectionsPerUser) {
        refusal = "this user already has " + std::to_string(kConnectionsPerUser) + " connections";
      }
      std::string first;
      if (!refusal.empty()) {
        AppendFailedRecord(first, refusal);
        [[maybe_unused]] ssize_t n = ::send(fd, first.data(), first.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        continue;
      }
      Connection& c = connections_.emplace_back();
      c.fd = fd;
      c.uid = cred.uid;
      c.audience = &core_.Join(Viewer::Of(cred.uid, cred.gid, {groups.begin(), groups.end()}), kVerdictsPerAudience);
      AppendReadyRecord(c.out);
    }
  }

  // The supplementary groups the connecting process had: with fewer, an
  // ACL's group entry that refuses would be missed and its others' entry
  // read instead.
  static bool PeerGroups(int fd, std::vector<gid_t>& groups) {
    for (int tries = 0; tries < 2; ++tries) {
      socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
      if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
        groups.resize(length / sizeof(gid_t));
        return true;
      }
      if (errno != ERANGE) return false;
      groups.resize(length / sizeof(gid_t) + 1);
    }
    return false;
  }

  int listen_;
  bool endWhenIdle_;
  std::int64_t idleSince_ = WatchNowMs();
  std::list<Connection> connections_;
  WatchCore core_{true, [this](WatchCore::Audience& a) {
                    Give(a);
                    Send();
                  }};
};

int Listen(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return -1;
  std::strcpy(address.sun_path, path);
  struct stat old {};
  // Only a socket left by an earlier run is taken away.
  if (::lstat(path, &old) == 0 && S_ISSOCK(old.st_mode)) ::unlink(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  // Every user may connect: what each learns is judged per connection.
  const mode_t mask = ::umask(0);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::umask(mask);
  if (!bound || ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  // Socket activation passes the listening socket as descriptor 3.
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  const bool activated = pid && fds && std::strtol(pid, nullptr, 10) == ::getpid() && std::strcmp(fds, "1") == 0;
  if (::syscall(SYS_close_range, activated ? 4u : 3u, ~0u, 0u) != 0) {
    std::fprintf(stderr, "vantrel-watch-service: close_range: %s\n", std::strerror(errno));
    return 1;
  }
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  ::clearenv();
  ::signal(SIGPIPE, SIG_IGN);
  int listenFd = -1;
  if (argc == 3 && std::strcmp(argv[1], "--listen") == 0) {
    listenFd = Listen(argv[2]);
    if (listenFd < 0) {
      std::fprintf(stderr, "vantrel-watch-service: cannot listen at %s: %s\n", argv[2], std::strerror(errno));
      return 1;
    }
  } else if (argc == 1 && activated) {
    listenFd = 3;
    ::fcntl(listenFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
  } else {
    std::fprintf(stderr, "usage: vantrel-watch-service [--listen PATH] (without it, from socket activation)\n");
    return 2;
  }
  if (::getuid() == 0 || ::geteuid() == 0) {
    std::fprintf(stderr, "vantrel-watch-service: runs as a system user of its own, not as root\n");
    return 1;
  }
  if (!LimitCapabilities({kCapSysAdmin, kCapDacReadSearch}, {kCapSysAdmin, kCapDacReadSearch}) ||
      !HasEffectiveCapability(kCapSysAdmin) || !HasEffectiveCapability(kCapDacReadSearch)) {
    std::fprintf(stderr, "vantrel-watch-service: lacks CAP_SYS_ADMIN and CAP_DAC_READ_SEARCH "
                         "(give them as ambient capabilities from the service manager)\n");
    return 1;
  }
  Service service(listenFd, activated);
  return service.Run();
}
