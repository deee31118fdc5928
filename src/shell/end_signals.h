// SIGTERM and SIGINT as a request to end: the handler only records the signal; the saver's idle
// handler sees it within one frame, runs end and closes, and the program exits with status 0.
// A wait of the message loop is cut short by the signal (poll returns early).
#pragma once

// Installs the handlers for SIGTERM and SIGINT (without SA_RESTART); each handles its first signal.
void InstallEndSignalHandlers();
// True once SIGTERM or SIGINT arrived.
bool EndSignalReceived();
// Forgets a received signal (tests).
void ClearEndSignal();
