// The pixel layouts a drawing context can describe, the fixed system palette, and rows of those
// layouts converted through 0x00RRGGBB words. BitBlt and the DirectDraw blits share these so that
// a bitmap copied into a surface and a surface blitted into another convert colours the same way:
// 8-bit indices go through a palette, channels narrow by truncation (8 -> 5 or 6 bits) and widen
// by bit replication (5 -> 8 bits), and RGB into 8 bits takes the nearest palette entry.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/wintypes.h"

// Pixel layouts a context can describe.
enum class GdiFormat {
  Indexed8,  // one byte per pixel, an index into `palette`
  Rgb565,    // 16 bits, red 11..15, green 5..10, blue 0..4
  Rgb555,    // 16 bits, red 10..14, green 5..9, blue 0..4
  Bgr24,     // 3 bytes per pixel: blue, green, red
  Xrgb32,    // 4 bytes per pixel: blue, green, red, unused (a little-endian 0x00RRGGBB word)
};

constexpr int kSystemPaletteSize = 256;

// The 256-entry system palette: the 20 static colours at 0..9 and 246..255, black elsewhere.
const PALETTEENTRY* SystemPaletteEntries();

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
