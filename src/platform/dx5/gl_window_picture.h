// Pictures from memory shown on the window of the display's GL context (SDL2's window, a host's
// window through GLX): a window that GL draws on cannot also be drawn on by other means, so the
// window backend hands its pictures here while a GL context is installed.
#pragma once

#include <cstdint>

// Shows a picture of 0x00RRGGBB rows through the display's GL context (letterboxed, or stretched
// where the context fills its window), and keeps it
// for ShowLastGlPicture; false when there is no GL context with a window.
bool PresentPixelsOnGl(const uint8_t* pixels, int width, int height, intptr_t pitch);
// Shows the latest picture again: the GPU front buffer when it holds one, else the last from memory.
void ShowLastGlPicture();
