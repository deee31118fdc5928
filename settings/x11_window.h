// The X window behind a GDK window, for the preview process to draw into. Kept apart because
// the X headers define macros (True, False, Bool, ...) that clash with the saver's own names.
#pragma once

#include <gdk/gdk.h>

// The window's X id, or 0 when it is not an X window (a Wayland or other backend).
unsigned long X11WindowId(GdkWindow* window);
