// The device selection dialog as a GTK window: a view of TKlvEnumWindow's controls (positions,
// captions, visibility, enabled state, list items and selection) that forwards every click to the
// model's handler and then shows the model again. The model decides everything.
#pragma once

#include <gtk/gtk.h>

#include "display/klvenumwin.h"

// Shows `window` modally over `parent` (may be null) and returns once "Start", "Exit" or the
// window's close box ended it. `window.ListBox1` must already hold the drivers.
void RunDeviceDialog(TKlvEnumWindow& window, GtkWindow* parent);
