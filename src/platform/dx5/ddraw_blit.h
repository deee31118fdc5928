// The pixel work behind Blt and BltFast: rectangle checks, colour fill, and copies between blocks
// of surface memory with stretching, source colour keys and format conversion. Callers check and
// clip rectangles first; these routines trust them.
#pragma once

#include <cstdint>

#include "platform/dx5/ddraw_format.h"

// A surface's memory as the blits see it. Row 0 is the top row.
struct PixelBlock {
  uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  intptr_t pitch = 0;
  SurfaceFormat format = SurfaceFormat::Rgb565;
  const PALETTEENTRY* palette = nullptr;  // 8-bit blocks; none reads as the system palette
};

// Source pixels whose raw value lies in [low, high] are not copied.
struct KeyRange {
  DWORD low;
  DWORD high;
};

// A caller's rectangle once moved into surface coordinates, in 64 bits so that any 32-bit rectangle,
// its offsets and its sizes are exact.
struct WideRect {
  int64_t left;
  int64_t top;
  int64_t right;
  int64_t bottom;
};

WideRect Widened(const RECT& r);
// The rectangle itself; only for rectangles that lie inside a block.
RECT Narrowed(const WideRect& r);

// True when `r` is not inverted and lies inside a width x height block.
bool RectInside(const RECT& r, int width, int height);
bool RectInside(const WideRect& r, int width, int height);
bool RectEmpty(const RECT& r);
// Intersection of `r` with `bounds`; empty when they do not meet.
RECT IntersectRect(const RECT& r, const RECT& bounds);
RECT IntersectRect(const WideRect& r, const RECT& bounds);

// Fills `r` (inside `dst`) with the raw pixel value `value`, cut to the pixel size.
void FillBlock(const PixelBlock& dst, const RECT& r, DWORD value);

// Copies `srcRect` of `src` into `dstRect` of `dst` (both inside their blocks), stretching with the
// nearest source pixel when the sizes differ and converting when the formats differ. `key` may be
// null. Overlapping source and destination memory is copied as if through a separate buffer.
// False when the formats cannot be converted (depth values against colours or other depths).
bool CopyBlock(const PixelBlock& dst, const RECT& dstRect, const PixelBlock& src, const RECT& srcRect,
               const KeyRange* key);
