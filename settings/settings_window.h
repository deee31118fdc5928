// The settings window: the data folder with its chooser and file check, the device choice (through
// the device dialog), the picture size, renderer, thread count and texture filter, a live preview,
// and "OK" (check, then write what changed) and "Cancel" (write nothing).
#pragma once

#include "platform/win/registry.h"

// Shows the window for the settings in `key` and returns when it closes: 0 after "OK" wrote the
// settings, 1 after "Cancel" or the close box.
int RunSettingsWindow(TRegIniFile& key);

// Shows the device dialog alone, on the registry key itself ("Start" stores the choice there), and
// prints how it closed on standard output for the saver that started it. Returns the exit status.
int RunDeviceDialogAlone();
