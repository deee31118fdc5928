// Single-instance test stand-in (in place of looking for a window of the main window's class): a
// per-user lock named after the window class, held by binding an abstract UNIX socket, which the
// kernel releases when the holding process ends, however it ends.
#pragma once

#include <string>

class TKlvInstanceLock {
 public:
  // Tries to take the lock for `windowClass` (e.g. "TKalvorGSaver") for this user; see Held().
  explicit TKlvInstanceLock(const std::string& windowClass);
  TKlvInstanceLock(const TKlvInstanceLock&) = delete;
  TKlvInstanceLock& operator=(const TKlvInstanceLock&) = delete;
  // Releases the lock if it is held.
  ~TKlvInstanceLock();

  // True when this object holds the lock; false when another holder (in this or another process)
  // has it, which stands for "a window of that class exists".
  bool Held() const { return held_; }

 private:
  bool held_ = false;
  int socket_ = -1;
};
