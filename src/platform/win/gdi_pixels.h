// Pixel rows in the layouts a drawing context can describe, and their conversion through
// 0x00RRGGBB words. BitBlt and the DirectDraw blits share these so that a bitmap copied into a
// surface and a surface blitted into another convert colours the same way: 8-bit indices go
// through a palette, channels narrow by truncation (8 -> 5 or 6 bits) and widen by bit
// replication (5 -> 8 bits), and RGB into 8 bits takes the nearest palette entry.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/gdi.h"

int BytesPerPixel(GdiFormat format);

// Index of the entry of the 256-entry `palette` nearest to `xrgb` (squared distance over red, green
// and blue; the lowest index wins a tie).
int NearestPaletteIndex(const PALETTEENTRY* palette, uint32_t xrgb);

// `count` pixels of `format` at `src` as 0x00RRGGBB words. An Indexed8 row without a palette reads
// through the system palette.
void RowToXrgb(GdiFormat format, const uint8_t* src, int count, const PALETTEENTRY* palette, uint32_t* out);
// `count` 0x00RRGGBB words written as pixels of `format` at `dst`.
void RowFromXrgb(GdiFormat format, const uint32_t* in, int count, const PALETTEENTRY* palette, uint8_t* dst);

// Copies `count` pixels from a row of one layout into a row of another: a plain byte copy when the
// layouts are equal (8-bit indices stay indices), otherwise a conversion through `scratch`.
void ConvertRow(GdiFormat srcFormat, const uint8_t* src, const PALETTEENTRY* srcPalette, GdiFormat dstFormat,
                uint8_t* dst, const PALETTEENTRY* dstPalette, int count, std::vector<uint32_t>& scratch);
