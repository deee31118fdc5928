// The single-instance lock. The lock file (in $XDG_RUNTIME_DIR, which only its user can write) is
// held by an flock; the abstract-namespace socket address used without that folder can be bound by
// one socket at a time and leaves no file behind. Either descriptor is close-on-exec, so programs
// this process starts (the settings program) do not inherit the lock, and is let go in every child
// this process forks without starting a program: SDL shows a message box on X from such a child,
// which would otherwise keep the lock after this process ends (when a screen-saver host ends it
// while the box is up, the box stays until someone answers it), and every saver started meanwhile
// would take that for a saver already running and end at once.
#include "platform/win/instance_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The display a window of this user would be found on: the X server named by DISPLAY (its screen
// number dropped: ":0" and ":0.1" are one server), else the Wayland display, else none.
std::string DisplayScope() {
  std::string x = EnvOrEmpty("DISPLAY");
  if (!x.empty()) {
    const size_t colon = x.rfind(':');
    const size_t dot = colon == std::string::npos ? std::string::npos : x.find('.', colon);
    return "x" + x.substr(0, dot);
  }
  std::string wayland = EnvOrEmpty("WAYLAND_DISPLAY");
  return wayland.empty() ? std::string("none") : "wayland-" + wayland;
}

// The descriptors of the locks this process holds, for the children it forks to let go of: a slot
// holds a descriptor plus one, 0 when free. (A process holds one lock; a ninth would be left to
// its children.)
constexpr int kMostHeldLocks = 8;
std::atomic<int> heldSlots[kMostHeldLocks];

// Runs in a child forked by any thread, where only async-signal-safe calls may be made. The
// child's lock descriptors are pointed at /dev/null rather than closed, so a copy of the holder
// the child may still destroy closes its own number and nothing the child opened since; the child
// holds none of the locks after.
void ReleaseHeldInChild() {
  int nothing = -1;
  for (std::atomic<int>& slot : heldSlots) {
    const int held = slot.exchange(0);
    if (held == 0) continue;
    if (nothing < 0) nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0 || dup3(nothing, held - 1, O_CLOEXEC) < 0) close(held - 1);
  }
  if (nothing >= 0) close(nothing);
}

void RecordHeld(int fd) {
  static const bool registered = pthread_atfork(nullptr, nullptr, &ReleaseHeldInChild) == 0;
  if (!registered) return;
  for (std::atomic<int>& slot : heldSlots) {
    int free = 0;
    if (slot.compare_exchange_strong(free, fd + 1)) return;
  }
}

void ForgetHeld(int fd) {
  for (std::atomic<int>& slot : heldSlots) {
    int held = fd + 1;
    if (slot.compare_exchange_strong(held, 0)) return;
  }
}

// `text` as one file-name component.
std::string FileNameSafe(std::string text) {
  std::replace(text.begin(), text.end(), '/', '_');
  return text;
}

}  // namespace

TKlvInstanceLock::TKlvInstanceLock(const std::string& windowClass) {
  const std::string name = "kalvor." + windowClass + "." + std::to_string(getuid()) + "." + DisplayScope();
  const std::string runtimeFolder = EnvOrEmpty("XDG_RUNTIME_DIR");
  if (runtimeFolder.empty() || !TakeFile(runtimeFolder, name)) TakeSocket(name);
}

TKlvInstanceLock::~TKlvInstanceLock() {
  if (fd_ < 0) return;
  ForgetHeld(fd_);
  close(fd_);
}

// False when the folder is not usable (then the socket stands in); else held_ says who has the lock.
bool TKlvInstanceLock::TakeFile(const std::string& folder, const std::string& name) {
  struct stat info {};
  if (folder.front() != '/' || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  const std::string fileName = folder + "/" + FileNameSafe(name) + ".lock";
  const int fd = open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    fd_ = fd;
    RecordHeld(fd);
    held_ = true;
    return true;
  }
  const bool busy = errno == EWOULDBLOCK;
  close(fd);
  held_ = false;
  return busy;
}

void TKlvInstanceLock::TakeSocket(const std::string& name) {
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
  fd_ = fd;
  RecordHeld(fd);
}
