// The program entry of the saver: the single-instance test, then the main window on a real
// display and its message loop until the window closes.
#pragma once

// Returns the process exit code: 0 after a normal close and when another instance already runs
// (it exits at once, in every mode); 1 when no window can be made (no display).
int RunSaverProgram(int argc, char** argv);
