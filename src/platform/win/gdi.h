// GDI stand-in: device contexts that describe a block of pixels, the fixed system palette read
// through the screen's context, and BitBlt, which copies between contexts with format conversion.
// Bitmaps (their canvas) and DirectDraw surfaces (GetDC) both hand out contexts of this kind.
#pragma once

#include <cstdint>

#include "platform/win/gdi_pixels.h"
#include "platform/win/wintypes.h"

// A drawing context: where its pixels are and how they are laid out. Row 0 is the top row of the
// picture; `pitch` is the byte distance from one row to the next (negative for bottom-up storage).
struct HDC__ {
  GdiFormat format = GdiFormat::Xrgb32;
  int width = 0;
  int height = 0;
  intptr_t pitch = 0;
  uint8_t* bits = nullptr;                // start of row 0
  const PALETTEENTRY* palette = nullptr;  // 256 entries for Indexed8, else unused
};
using HDC = HDC__*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// The screen's context (an 8-bit view of the system palette, no pixels) and its release.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);

// Copies a width x height block from (sx, sy) of `src` to (x, y) of `dst`, clipped to both
// contexts. 8-bit into 8-bit copies indices; 8-bit into RGB goes through the source palette;
// RGB into 8-bit takes the nearest entry of the destination palette. Only SRCCOPY is served.
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, DWORD rop);
