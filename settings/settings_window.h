// The settings window: the data folder with its chooser and file check, the device choice (through
// the device dialog), the picture size, renderer, thread count and texture filter, a live preview,
// and "OK" (check, then write what changed) and "Cancel" (write nothing).
#pragma once

// Shows the window for the settings under "Software\Kalvor_Soft" and returns when it closes: 0
// after "OK" wrote them, 1 after "Cancel" or the close box.
int RunSettingsWindow();

// Shows the device dialog alone, on the registry key itself ("Start" stores the choice there), and
// prints how it closed on standard output for the saver that started it. Returns the exit status.
int RunDeviceDialogAlone();
