// GDI stand-in: the screen's drawing context over the system palette and BitBlt between
// contexts with format conversion (see gdi.h).
#include "platform/win/gdi.h"

#include <algorithm>
#include <vector>

#include "platform/win/gdi_pixels.h"

namespace {

// The screen: an 8-bit context over the system palette with no pixels of its own, so BitBlt to
// or from it copies nothing.
HDC__& ScreenContext() {
  static HDC__ screen{GdiFormat::Indexed8, 0, 0, 0, nullptr, SystemPaletteEntries()};
  return screen;
}

// Shrinks a copy so that it lies inside both contexts; false when nothing is left. Worked in 64
// bits so that no position or size a caller passes can overflow.
bool ClipCopy(const HDC__& dst, int& x, int& y, int& width, int& height, const HDC__& src, int& sx, int& sy) {
  const int64_t left = std::max<int64_t>({0, -int64_t{x}, -int64_t{sx}});
  const int64_t top = std::max<int64_t>({0, -int64_t{y}, -int64_t{sy}});
  const int64_t dx = x + left;
  const int64_t dy = y + top;
  const int64_t fromX = sx + left;
  const int64_t fromY = sy + top;
  const int64_t w = std::min<int64_t>({width - left, dst.width - dx, src.width - fromX});
  const int64_t h = std::min<int64_t>({height - top, dst.height - dy, src.height - fromY});
  if (w <= 0 || h <= 0) return false;
  x = static_cast<int>(dx);
  y = static_cast<int>(dy);
  sx = static_cast<int>(fromX);
  sy = static_cast<int>(fromY);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

}  // namespace

// Every window shares the screen's context: windows draw through DirectDraw, not through GDI.
HDC GetDC(HWND) { return &ScreenContext(); }

int ReleaseDC(HWND, HDC dc) { return dc == &ScreenContext() ? 1 : 0; }

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  if (dc == nullptr || dc->format != GdiFormat::Indexed8) return 0;
  if (entries == nullptr) return kSystemPaletteSize;
  if (start >= static_cast<UINT>(kSystemPaletteSize)) return 0;
  const UINT copied = std::min<UINT>(count, kSystemPaletteSize - start);
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
