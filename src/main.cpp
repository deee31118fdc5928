// The saver program: kalvor_saver [/s | /c | other], as a screen saver is started.
#include "shell/program.h"

int main(int argc, char** argv) { return RunSaverProgram(argc, argv); }
