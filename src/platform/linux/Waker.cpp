#include "platform/Waker.h"

#include <cstdint>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantrel::platform {

Waker::Waker() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) throw std::runtime_error("eventfd failed");
}

Waker::~Waker() { ::close(handle_); }

void Waker::Raise() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(handle_, &one, sizeof one);
}

void Waker::Clear() {
  std::uint64_t value = 0;
  [[maybe_unused]] ssize_t n = ::read(handle_, &value, sizeof value);
}

bool IsRaised(WaitHandle handle) {
  pollfd p{handle, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

}  // namespace vantrel::platform
