// The program entry of the saver: the command line, then either the stand-alone saver (the
// single-instance test, the main window on a real display) or the saver embedded in a screen saver
// host's window, and the message loop until the window closes.
#pragma once

// Returns the process exit code: 0 after a normal close, after SIGTERM or SIGINT, when a host's
// window goes away, and when another instance already runs (it exits at once, in every mode);
// 1 when a start fails (bad command line, no display or window, no data, a damaged file, no device).
int RunSaverProgram(int argc, char** argv);
