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
  action.sa_flags = 0;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool EndSignalReceived() { return endSignal != 0; }

void ClearEndSignal() { endSignal = 0; }
