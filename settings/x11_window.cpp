// The X id of a GDK window.
#include "x11_window.h"

#include <gdk/gdkx.h>

unsigned long X11WindowId(GdkWindow* window) {
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return 0;
  return gdk_x11_window_get_xid(window);
}
