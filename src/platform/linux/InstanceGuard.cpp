#include "platform/InstanceGuard.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantrel {
namespace {

constexpr const char kComeForward[] = "forward";

// A folder the user alone can enter: theirs, no link, nobody else's bits.
bool PrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

bool MakePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return PrivateFolder(path);
}

bool FillAddress(const std::string& path, sockaddr_un& address, socklen_t& length) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

std::string Hex(unsigned long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llx", value);
  return buf;
}

}  // namespace

InstanceGuard::InstanceGuard(std::string home, std::string kind) : home_(std::move(home)), kind_(std::move(kind)) {}

InstanceGuard::~InstanceGuard() {
  if (handles_.requests >= 0) {
    ::close(handles_.requests);
    ::unlink((folder_ + "/" + name_ + ".sock").c_str());
  }
  if (handles_.lock >= 0) ::close(handles_.lock);
}

bool InstanceGuard::ChooseFolder(std::string& error) {
  // The session's runtime folder first; else a folder of our own in /tmp,
  // unless someone else made it first; else one inside the home itself.
  std::vector<std::string> candidates;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/' && PrivateFolder(runtime))
    candidates.push_back(std::string(runtime) + "/vantrel");
  candidates.push_back("/tmp/vantrel-" + std::to_string(::geteuid()));
  candidates.push_back(home_ + "/.vantrel-run");
  for (const std::string& folder : candidates) {
    if (MakePrivateFolder(folder)) {
      folder_ = folder;
      return true;
    }
  }
  error = "no folder of this user's own for the single-instance guard (tried " + candidates.front() + ")";
  return false;
}

InstanceGuard::Result InstanceGuard::Acquire(std::string& error) {
  struct stat home {};
  if (::stat(home_.c_str(), &home) != 0) {
    error = home_ + ": " + std::strerror(errno);
    return Result::Unguarded;
  }
  if (!ChooseFolder(error)) return Result::Unguarded;
  name_ = Hex(static_cast<unsigned long long>(home.st_dev)) + "-" + Hex(static_cast<unsigned long long>(home.st_ino));
  const std::string lockPath = folder_ + "/" + name_ + ".lock";
  handles_.lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st {};
  if (handles_.lock < 0 || ::fstat(handles_.lock, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    error = lockPath + ": " + (handles_.lock < 0 ? std::strerror(errno) : "not a file of this user's");
    return Result::Unguarded;
  }
  if (::flock(handles_.lock, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      error = lockPath + ": " + std::strerror(errno);
      return Result::Unguarded;
    }
    char buf[128];
    ssize_t n = ::pread(handles_.lock, buf, sizeof buf - 1, 0);
    std::string text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    runningKind_ = text.substr(0, text.find('\n'));
    ::close(handles_.lock);
    handles_.lock = -1;
    return Result::Running;
  }
  const std::string who = kind_ + "\n" + std::to_string(::getpid()) + "\n";
  if (::ftruncate(handles_.lock, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(handles_.lock, who.data(), who.size(), 0);
  }

  // Requests come as datagrams: a sender holds none of our descriptors, and
  // the kernel vouches for who sent each one.
  const std::string socketPath = folder_ + "/" + name_ + ".sock";
  sockaddr_un address;
  socklen_t length;
  if (!FillAddress(socketPath, address, length)) return Result::Acquired;
  ::unlink(socketPath.c_str());
  handles_.requests = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  if (handles_.requests < 0 || ::setsockopt(handles_.requests, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(handles_.requests, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    // Still the one copy; it only cannot be asked to come forward.
    if (handles_.requests >= 0) ::close(handles_.requests);
    handles_.requests = -1;
  }
  return Result::Acquired;
}

bool InstanceGuard::AskToComeForward() const {
  sockaddr_un address;
  socklen_t length;
  if (folder_.empty() || !FillAddress(folder_ + "/" + name_ + ".sock", address, length)) return false;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = false;
  // The running copy may have taken the lock a moment ago and not yet bound.
  for (int attempt = 0; attempt < 40 && !sent; ++attempt) {
    sent = ::sendto(fd, kComeForward, sizeof kComeForward - 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address),
                    length) >= 0;
    if (!sent) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::close(fd);
  return sent;
}

bool InstanceGuard::TakeRequests() {
  bool forward = false;
  for (int i = 0; i < 64 && handles_.requests >= 0; ++i) {
    char data[64];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(16 * sizeof(int))];
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(handles_.requests, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) break;
    const ucred* sender = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET) continue;
      if (c->cmsg_type == SCM_CREDENTIALS) sender = reinterpret_cast<const ucred*>(CMSG_DATA(c));
      // Descriptors nobody asked for are not kept.
      if (c->cmsg_type == SCM_RIGHTS) {
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t k = 0; k < count; ++k) {
          int fd;
          std::memcpy(&fd, CMSG_DATA(c) + k * sizeof(int), sizeof fd);
          ::close(fd);
        }
      }
    }
    if (!sender || sender->uid != ::geteuid()) continue;
    if (std::string_view(data, static_cast<std::size_t>(n)) == kComeForward) forward = true;
  }
  return forward;
}

// Signals carry these on Linux.
bool InstanceGuard::Ask(Request) const { return false; }

bool InstanceGuard::WaitUntilEnded(unsigned) const { return false; }

platform::WaitHandle InstanceGuard::RequestHandle(Request) const { return platform::kNoWaitHandle; }

}  // namespace vantrel
