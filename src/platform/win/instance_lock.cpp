// The single-instance lock: an abstract-namespace socket address can be bound by one socket at a
// time and leaves no file behind. The socket is close-on-exec, so programs this process starts
// (the settings program) do not inherit the lock.
#include "platform/win/instance_lock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

TKlvInstanceLock::TKlvInstanceLock(const std::string& windowClass) {
  // The abstract namespace is shared by all users of the machine, so the name carries the user.
  std::string name = "kalvor." + std::to_string(getuid()) + "." + windowClass;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace; the name follows it, not NUL-terminated.
  size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  // Only an address in use means another holder; a lock that cannot be tried at all (no socket
  // support) does not keep the program from running.
  held_ = true;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    held_ = errno != EADDRINUSE;
    close(fd);
    return;
  }
  socket_ = fd;
}

TKlvInstanceLock::~TKlvInstanceLock() {
  if (socket_ >= 0) close(socket_);
}
