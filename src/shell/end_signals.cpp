// The end-request signal flag: the one thing an asynchronous handler may safely do is set it.
#include "shell/end_signals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t endSignal = 0;

void OnEndSignal(int) { endSignal = 1; }

}  // namespace

void InstallEndSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  // A second signal takes the default action: a saver held up (a message box waiting for its OK)
  // can still be ended.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool EndSignalReceived() { return endSignal != 0; }

void ClearEndSignal() { endSignal = 0; }
