// Single-instance test stand-in (in place of looking for a window of the main window's class): a
// lock named after the window class, scoped as that search is to this user and this display
// (DISPLAY's X server, else WAYLAND_DISPLAY), which the kernel releases when the holding process
// ends, however it ends. It is an flock on a file in $XDG_RUNTIME_DIR, the user's private folder,
// so no other user can take it; without that folder, an abstract UNIX socket bound by name.
#pragma once

#include <string>

class TKlvInstanceLock {
 public:
  // Tries to take the lock for `windowClass` (e.g. "TKalvorGSaver") for this user and the display
  // in the environment now; see Held().
  explicit TKlvInstanceLock(const std::string& windowClass);
  TKlvInstanceLock(const TKlvInstanceLock&) = delete;
  TKlvInstanceLock& operator=(const TKlvInstanceLock&) = delete;
  // Releases the lock if it is held.
  ~TKlvInstanceLock();

  // True when this object holds the lock; false when another holder (in this or another process)
  // has it, which stands for "a window of that class exists".
  bool Held() const { return held_; }

 private:
  bool TakeFile(const std::string& folder, const std::string& name);
  void TakeSocket(const std::string& name);

  bool held_ = false;
  int fd_ = -1;
};
