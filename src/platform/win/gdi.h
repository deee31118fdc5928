// GDI stand-in: device contexts that describe a block of pixels, the fixed system palette read
// through the screen's context, and BitBlt, which copies between contexts with format conversion.
// Bitmaps (their canvas) and DirectDraw surfaces (GetDC) both hand out contexts of this kind.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

// Pixel layouts a context can describe.
enum class GdiFormat {
  Indexed8,  // one byte per pixel, an index into `palette`
  Rgb565,    // 16 bits, red 11..15, green 5..10, blue 0..4
  Rgb555,    // 16 bits, red 10..14, green 5..9, blue 0..4
  Bgr24,     // 3 bytes per pixel: blue, green, red
  Xrgb32,    // 4 bytes per pixel: blue, green, red, unused (a little-endian 0x00RRGGBB word)
};

// A drawing context: where its pixels are and how they are laid out. Row 0 is the top row of the
// picture; `pitch` is the byte distance from one row to the next (negative for bottom-up storage).
struct HDC__ {
  GdiFormat format = GdiFormat::Xrgb32;
  int width = 0;
  int height = 0;
  intptr_t pitch = 0;
  uint8_t* bits = nullptr;             // start of row 0
  const PALETTEENTRY* palette = nullptr;  // 256 entries for Indexed8, else unused
};
using HDC = HDC__*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// The 256-entry system palette: the 20 static colours at 0..9 and 246..255, black elsewhere.
const PALETTEENTRY* SystemPaletteEntries();

// The screen's context (an 8-bit view of the system palette, no pixels) and its release.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);

// Copies a width x height block from (sx, sy) of `src` to (x, y) of `dst`, clipped to both
// contexts. 8-bit into 8-bit copies indices; 8-bit into RGB goes through the source palette;
// RGB into 8-bit takes the nearest entry of the destination palette. Only SRCCOPY is served.
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, DWORD rop);
