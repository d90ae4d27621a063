// What another local user can do to a running copy's sockets: take a name
// first, or flood it. Names starting with "@" are abstract.
//   UnixSocketProbe bind NAME         binds NAME (stream and datagram) and waits
//   UnixSocketProbe flood NAME COUNT  connects COUNT times and sends COUNT
//                                     datagrams, keeps them open, prints how
//                                     many went through, and waits
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

socklen_t Address(const std::string& name, sockaddr_un& a) {
  a = {};
  a.sun_family = AF_UNIX;
  std::size_t n = std::min(name.size(), sizeof a.sun_path - 1);
  std::memcpy(a.sun_path, name.data(), n);
  if (name[0] == '@') a.sun_path[0] = '\0';
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + (name[0] == '@' ? 0 : 1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string mode = argv[1], name = argv[2];
  sockaddr_un a;
  socklen_t len = Address(name, a);
  if (mode == "bind") {
    int bound = 0;
    for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
      int fd = ::socket(AF_UNIX, type, 0);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) {
        ++bound;
        if (type == SOCK_STREAM) ::listen(fd, 128);
      }
    }
    std::printf("bound %d\n", bound);
    std::fflush(stdout);
    ::pause();
    return 0;
  }
  if (mode == "flood" && argc > 3) {
    int count = std::atoi(argv[3]), connected = 0, sent = 0;
    for (int i = 0; i < count; ++i) {
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) {
        ++connected;
      } else if (fd >= 0) {
        ::close(fd);
      }
      int d = ::socket(AF_UNIX, SOCK_DGRAM, 0);
      if (d >= 0 && ::sendto(d, "forward", 7, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), len) == 7) ++sent;
      if (d >= 0) ::close(d);
    }
    std::printf("connected %d sent %d\n", connected, sent);
    std::fflush(stdout);
    ::pause();
    return 0;
  }
  return 2;
}
