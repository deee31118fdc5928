// Colour fill and block copies for the DirectDraw surfaces (see ddraw_blit.h).
#include "platform/dx5/ddraw_blit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win/gdi_pixels.h"

namespace {

DWORD LoadPixel(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return p[0];
    case 2: return static_cast<DWORD>(p[0] | (p[1] << 8));
    default: {
      DWORD v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

template <typename T>
void FillRows(const PixelBlock& dst, const RECT& r, T value) {
  const int width = r.right - r.left;
  for (LONG y = r.top; y < r.bottom; ++y) {
    T* row = reinterpret_cast<T*>(dst.bits + y * dst.pitch) + r.left;
    std::fill_n(row, width, value);
  }
}

// Source column of every destination column (nearest pixel, sampled at pixel centres).
std::vector<int> StretchMap(int srcStart, int srcSize, int dstSize) {
  std::vector<int> map(static_cast<size_t>(dstSize));
  for (int i = 0; i < dstSize; ++i)
    map[static_cast<size_t>(i)] =
        srcStart + static_cast<int>((static_cast<int64_t>(2 * i + 1) * srcSize) / (2 * static_cast<int64_t>(dstSize)));
  return map;
}

// A keyed copy between blocks of one format at one scale: the common case, typed per pixel size.
template <typename T>
void CopyKeyedRows(const PixelBlock& dst, const RECT& dstRect, const PixelBlock& src, const RECT& srcRect,
                   const KeyRange& key) {
  const int width = dstRect.right - dstRect.left;
  const int height = dstRect.bottom - dstRect.top;
  for (int y = 0; y < height; ++y) {
    const T* from = reinterpret_cast<const T*>(src.bits + (srcRect.top + y) * src.pitch) + srcRect.left;
    T* to = reinterpret_cast<T*>(dst.bits + (dstRect.top + y) * dst.pitch) + dstRect.left;
    // Written without a branch so the loop vectorises: a key pixel rewrites what is there.
    for (int x = 0; x < width; ++x) {
      const T value = from[x];
      const bool isKey = static_cast<DWORD>(value) - key.low <= key.high - key.low;
      to[x] = isKey ? to[x] : value;
    }
  }
}

bool Convertible(SurfaceFormat dst, SurfaceFormat src) {
  if (dst == src) return true;
  return !IsDepthFormat(dst) && !IsDepthFormat(src);
}

// A private copy of a source rectangle, for copies whose source and destination memory overlap.
struct Snapshot {
  std::vector<uint8_t> memory;
  PixelBlock block;
  RECT rect;
};

Snapshot TakeSnapshot(const PixelBlock& src, const RECT& r) {
  Snapshot s;
  const int bpp = SurfaceBytesPerPixel(src.format);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bpp);
  s.memory.resize(rowBytes * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(s.memory.data() + static_cast<size_t>(y) * rowBytes, src.bits + (r.top + y) * src.pitch + r.left * bpp,
                rowBytes);
  s.block = src;
  s.block.bits = s.memory.data();
  s.block.width = width;
  s.block.height = height;
  s.block.pitch = static_cast<intptr_t>(rowBytes);
  s.rect = RECT{0, 0, width, height};
  return s;
}

bool Overlaps(const PixelBlock& a, const PixelBlock& b) {
  const uint8_t* aEnd = a.bits + a.pitch * a.height;
  const uint8_t* bEnd = b.bits + b.pitch * b.height;
  return a.bits < bEnd && b.bits < aEnd;
}

}  // namespace

WideRect Widened(const RECT& r) { return WideRect{r.left, r.top, r.right, r.bottom}; }

RECT Narrowed(const WideRect& r) {
  return RECT{static_cast<LONG>(r.left), static_cast<LONG>(r.top), static_cast<LONG>(r.right),
              static_cast<LONG>(r.bottom)};
}

bool RectInside(const RECT& r, int width, int height) { return RectInside(Widened(r), width, height); }

bool RectInside(const WideRect& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= width && r.bottom <= height;
}

bool RectEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT IntersectRect(const RECT& r, const RECT& bounds) { return IntersectRect(Widened(r), bounds); }

RECT IntersectRect(const WideRect& r, const RECT& bounds) {
  const WideRect out{std::max<int64_t>(r.left, bounds.left), std::max<int64_t>(r.top, bounds.top),
                     std::min<int64_t>(r.right, bounds.right), std::min<int64_t>(r.bottom, bounds.bottom)};
  if (out.right <= out.left || out.bottom <= out.top) return RECT{0, 0, 0, 0};
  // A non-empty intersection lies inside `bounds`, so it fits 32 bits.
  return Narrowed(out);
}

void FillBlock(const PixelBlock& dst, const RECT& r, DWORD value) {
  if (RectEmpty(r)) return;
  switch (SurfaceBytesPerPixel(dst.format)) {
    case 1: FillRows<uint8_t>(dst, r, static_cast<uint8_t>(value)); break;
    case 2: FillRows<uint16_t>(dst, r, static_cast<uint16_t>(value)); break;
    default: FillRows<uint32_t>(dst, r, value); break;
  }
}

bool CopyBlock(const PixelBlock& dst, const RECT& dstRect, const PixelBlock& src, const RECT& srcRect,
               const KeyRange* key) {
  if (!Convertible(dst.format, src.format)) return false;
  if (RectEmpty(dstRect) || RectEmpty(srcRect)) return true;
  if (Overlaps(dst, src)) {
    const Snapshot copy = TakeSnapshot(src, srcRect);
    return CopyBlock(dst, dstRect, copy.block, copy.rect, key);
  }
  const int dstWidth = dstRect.right - dstRect.left;
  if (key != nullptr && key->low <= key->high && dst.format == src.format && dstWidth == srcRect.right - srcRect.left &&
      dstRect.bottom - dstRect.top == srcRect.bottom - srcRect.top) {
    switch (SurfaceBytesPerPixel(dst.format)) {
      case 1: CopyKeyedRows<uint8_t>(dst, dstRect, src, srcRect, *key); return true;
      case 2: CopyKeyedRows<uint16_t>(dst, dstRect, src, srcRect, *key); return true;
      default: CopyKeyedRows<uint32_t>(dst, dstRect, src, srcRect, *key); return true;
    }
  }
  const int dstHeight = dstRect.bottom - dstRect.top;
  const int srcWidth = srcRect.right - srcRect.left;
  const int srcHeight = srcRect.bottom - srcRect.top;
  const int srcBpp = SurfaceBytesPerPixel(src.format);
  const int dstBpp = SurfaceBytesPerPixel(dst.format);
  const bool stretch = dstWidth != srcWidth;
  const std::vector<int> columns = stretch ? StretchMap(srcRect.left, srcWidth, dstWidth) : std::vector<int>{};
  const std::vector<int> rows = StretchMap(srcRect.top, srcHeight, dstHeight);
  const bool sameFormat = dst.format == src.format;
  const GdiFormat srcLayout = GdiFormatOf(src.format).value_or(GdiFormat::Xrgb32);
  const GdiFormat dstLayout = GdiFormatOf(dst.format).value_or(GdiFormat::Xrgb32);

  std::vector<uint8_t> gathered(stretch ? static_cast<size_t>(dstWidth) * static_cast<size_t>(srcBpp) : 0);
  std::vector<uint8_t> converted(sameFormat ? 0 : static_cast<size_t>(dstWidth) * static_cast<size_t>(dstBpp));
  std::vector<uint32_t> scratch;
  for (int y = 0; y < dstHeight; ++y) {
    // The source row, cut to the destination width: in place, or gathered column by column.
    const uint8_t* srcRow = src.bits + rows[static_cast<size_t>(y)] * src.pitch;
    const uint8_t* source = srcRow + srcRect.left * srcBpp;
    if (stretch) {
      for (int x = 0; x < dstWidth; ++x)
        std::memcpy(&gathered[static_cast<size_t>(x * srcBpp)], srcRow + columns[static_cast<size_t>(x)] * srcBpp,
                    static_cast<size_t>(srcBpp));
      source = gathered.data();
    }
    // The same pixels in the destination's format.
    const uint8_t* ready = source;
    if (!sameFormat) {
      ConvertRow(srcLayout, source, src.palette, dstLayout, converted.data(), dst.palette, dstWidth, scratch);
      ready = converted.data();
    }
    uint8_t* dstRow = dst.bits + (dstRect.top + y) * dst.pitch + dstRect.left * dstBpp;
    if (key == nullptr) {
      std::memcpy(dstRow, ready, static_cast<size_t>(dstWidth) * static_cast<size_t>(dstBpp));
      continue;
    }
    for (int x = 0; x < dstWidth; ++x) {
      const DWORD value = LoadPixel(source + x * srcBpp, srcBpp);
      if (value >= key->low && value <= key->high) continue;
      std::memcpy(dstRow + x * dstBpp, ready + x * dstBpp, static_cast<size_t>(dstBpp));
    }
  }
  return true;
}
