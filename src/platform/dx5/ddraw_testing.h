// Hooks for tests and tools that need a DirectDraw surface to be lost, as it is when another
// program takes the display. A lost surface answers DDERR_SURFACELOST to IsLost, Lock, Blt, BltFast,
// Flip and GetDC until Restore brings its memory back (cleared).
#pragma once

#include "platform/dx5/ddraw.h"

// Marks one surface lost; false when it is not a surface of this stand-in.
bool ForceSurfaceLost(IDirectDrawSurface* surface);
// Marks every surface of `directDraw` in video memory or in a primary chain lost; false when it is
// not a DirectDraw object of this stand-in.
bool ForceSurfacesLost(IDirectDraw* directDraw);
