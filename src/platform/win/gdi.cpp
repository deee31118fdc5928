// GDI stand-in: the fixed system palette, the screen's drawing context and BitBlt between
// contexts with format conversion (see gdi.h).
#include "platform/win/gdi.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/win/gdi_pixels.h"

namespace {

constexpr int kPaletteSize = 256;
constexpr int kStaticColoursAtEachEnd = 10;

struct StaticColour {
  int index;
  BYTE red, green, blue;
};

// The twenty static colours Windows keeps in every system palette.
constexpr StaticColour kStaticColours[] = {
    {0, 0, 0, 0},         {1, 128, 0, 0},       {2, 0, 128, 0},       {3, 128, 128, 0},
    {4, 0, 0, 128},       {5, 128, 0, 128},     {6, 0, 128, 128},     {7, 192, 192, 192},
    {8, 192, 220, 192},   {9, 166, 202, 240},   {246, 255, 251, 240}, {247, 160, 160, 164},
    {248, 128, 128, 128}, {249, 255, 0, 0},     {250, 0, 255, 0},     {251, 255, 255, 0},
    {252, 0, 0, 255},     {253, 255, 0, 255},   {254, 0, 255, 255},   {255, 255, 255, 255},
};
static_assert(std::size(kStaticColours) == 2 * kStaticColoursAtEachEnd);

std::array<PALETTEENTRY, kPaletteSize> BuildSystemPalette() {
  std::array<PALETTEENTRY, kPaletteSize> entries{};
  for (const StaticColour& c : kStaticColours) entries[c.index] = PALETTEENTRY{c.red, c.green, c.blue, 0};
  return entries;
}

// The screen: an 8-bit context over the system palette with no pixels of its own, so BitBlt to
// or from it copies nothing.
HDC__& ScreenContext() {
  static HDC__ screen{GdiFormat::Indexed8, 0, 0, 0, nullptr, SystemPaletteEntries()};
  return screen;
}

// Shrinks a copy so that it lies inside both contexts; false when nothing is left.
bool ClipCopy(const HDC__& dst, int& x, int& y, int& width, int& height, const HDC__& src, int& sx, int& sy) {
  const int left = std::max({0, -x, -sx});
  const int top = std::max({0, -y, -sy});
  x += left;
  sx += left;
  width -= left;
  y += top;
  sy += top;
  height -= top;
  width = std::min({width, dst.width - x, src.width - sx});
  height = std::min({height, dst.height - y, src.height - sy});
  return width > 0 && height > 0;
}

}  // namespace

const PALETTEENTRY* SystemPaletteEntries() {
  static const std::array<PALETTEENTRY, kPaletteSize> entries = BuildSystemPalette();
  return entries.data();
}

// Every window shares the screen's context: windows draw through DirectDraw, not through GDI.
HDC GetDC(HWND) { return &ScreenContext(); }

int ReleaseDC(HWND, HDC dc) { return dc == &ScreenContext() ? 1 : 0; }

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  if (dc == nullptr || dc->format != GdiFormat::Indexed8) return 0;
  if (entries == nullptr) return kPaletteSize;
  if (start >= static_cast<UINT>(kPaletteSize)) return 0;
  const UINT copied = std::min<UINT>(count, kPaletteSize - start);
  std::copy_n(SystemPaletteEntries() + start, copied, entries);
  return copied;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy, DWORD rop) {
  if (dst == nullptr || src == nullptr || rop != SRCCOPY) return FALSE;
  if (!ClipCopy(*dst, x, y, width, height, *src, sx, sy)) return TRUE;
  if (dst->bits == nullptr || src->bits == nullptr) return TRUE;
  const intptr_t srcBpp = BytesPerPixel(src->format);
  const intptr_t dstBpp = BytesPerPixel(dst->format);
  std::vector<uint32_t> scratch;
  for (int row = 0; row < height; ++row) {
    const uint8_t* from = src->bits + (sy + row) * src->pitch + sx * srcBpp;
    uint8_t* to = dst->bits + (y + row) * dst->pitch + x * dstBpp;
    ConvertRow(src->format, from, src->palette, dst->format, to, dst->palette, width, scratch);
  }
  return TRUE;
}
