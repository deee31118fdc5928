// The saver program: kalvor_saver [/s | /c | other] as a screen saver is started stand-alone, or
// kalvor_saver --root [options] as screen saver hosts start it (see --help).
#include "shell/program.h"

int main(int argc, char** argv) { return RunSaverProgram(argc, argv); }
