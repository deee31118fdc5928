// One Blt or BltFast with every parameter taken from a byte string, checked against an independent
// account of what it may touch. Shared by the seeded randomised test and the libFuzzer harness, so
// both drive the same cases: small surfaces of every colour format, with or without a clipper, onto
// themselves or onto a windowed primary placed anywhere in the 32-bit screen, and rectangles and
// positions anywhere in the 32-bit range, edge values favoured.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dx5/ddraw.h"
#include "platform/dx5/ddraw_format.h"
#include "platform/dx5/virtual_display.h"

namespace blt_exercise {

// Reads the byte string front to back; past its end every read is zero.
class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  // Mostly values near a surface of side `side`, often the 32-bit extremes, sometimes anything.
  int32_t Coordinate(int side) {
    static constexpr int32_t kEdges[] = {INT32_MIN, INT32_MIN + 1, -2147483647 + 3, -33554432, -65536,
                                         65536,     33554432,      2147483647 - 3,  INT32_MAX};
    const uint8_t pick = Byte();
    if (pick < 160) return static_cast<int32_t>(pick % (2 * side + 5)) - side - 2;
    if (pick < 224) return kEdges[pick % std::size(kEdges)];
    return static_cast<int32_t>(Word());
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr SurfaceFormat kFormats[] = {SurfaceFormat::Indexed8, SurfaceFormat::Rgb565, SurfaceFormat::Rgb555,
                                      SurfaceFormat::Xrgb32};
constexpr int kMaxSide = 24;

struct Rect64 {
  int64_t left, top, right, bottom;
};

inline bool Inside(const Rect64& r, int64_t width, int64_t height) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= width && r.bottom <= height;
}

struct Pixels {
  std::vector<uint32_t> values;
  int width = 0;
  int height = 0;
  uint32_t At(int64_t x, int64_t y) const { return values[static_cast<size_t>(y * width + x)]; }
};

inline Pixels ReadAll(IDirectDrawSurface* surface) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  Pixels out;
  if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return out;
  out.width = static_cast<int>(desc.dwWidth);
  out.height = static_cast<int>(desc.dwHeight);
  const int bytes = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      uint32_t value = 0;
      std::memcpy(&value, static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * bytes,
                  static_cast<size_t>(bytes));
      out.values.push_back(value);
    }
  surface->Unlock(nullptr);
  return out;
}

// Gives every pixel its own value (as far as the pixel size allows), starting at `base`.
inline void Number(IDirectDrawSurface* surface, uint32_t base) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return;
  const int bytes = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
  for (DWORD y = 0; y < desc.dwHeight; ++y)
    for (DWORD x = 0; x < desc.dwWidth; ++x) {
      const uint32_t value = base + y * desc.dwWidth + x;
      std::memcpy(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * bytes, &value,
                  static_cast<size_t>(bytes));
    }
  surface->Unlock(nullptr);
}

inline IDirectDrawSurface* MakePlain(IDirectDraw2* dd, int width, int height, SurfaceFormat format) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  desc.dwWidth = static_cast<DWORD>(width);
  desc.dwHeight = static_cast<DWORD>(height);
  desc.ddpfPixelFormat = PixelFormatOf(format);
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  IDirectDrawSurface* surface = nullptr;
  return dd->CreateSurface(&desc, &surface, nullptr) == DD_OK ? surface : nullptr;
}

// The windowed primary: the window's client area, placed at (left, top) on the screen.
inline IDirectDrawSurface* MakePrimary(IDirectDraw2* dd, int32_t left, int32_t top, int width, int height) {
  // Keep the whole client area inside the 32-bit screen.
  left = std::min<int32_t>(left, INT32_MAX - width);
  top = std::min<int32_t>(top, INT32_MAX - height);
  SetWindowClientArea(RECT{left, top, left + width, top + height});
  if (dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK) return nullptr;
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* surface = nullptr;
  return dd->CreateSurface(&desc, &surface, nullptr) == DD_OK ? surface : nullptr;
}

// What one call may change: nothing (refused, or `cut` empty) or the pixels of `cut`.
struct Expectation {
  bool mustRefuse = false;  // a rectangle the destination or the source cannot hold, and no clipper
  Rect64 cut{0, 0, 0, 0};
  Rect64 from{0, 0, 0, 0};  // the source rectangle, for copies that do not stretch
  bool exact = false;       // the copy neither stretches, converts nor keys: each pixel is known
};

inline std::string Describe(const char* what, const Rect64& r) {
  return std::string(what) + " (" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

// Runs one call described by `bytes`; an empty string when everything held, else what went wrong.
inline std::string Run(IDirectDraw2* dd, const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t shape = in.Byte();
  const bool onPrimary = (shape & 1) != 0;
  const bool ontoItself = (shape & 2) != 0 && !onPrimary;
  const bool clipped = (shape & 4) != 0;
  const bool fast = (shape & 8) != 0;
  const bool keyed = (shape & 16) != 0;
  const bool fill = (shape & 32) != 0 && !fast;
  const bool wholeDest = (shape & 64) != 0 && !fast;
  const bool wholeSource = (shape & 128) != 0;
  const SurfaceFormat srcFormat = kFormats[in.Byte() % std::size(kFormats)];
  const SurfaceFormat dstFormat = kFormats[in.Byte() % std::size(kFormats)];
  const int srcWidth = 1 + in.Byte() % kMaxSide;
  const int srcHeight = 1 + in.Byte() % kMaxSide;
  const int dstWidth = 1 + in.Byte() % kMaxSide;
  const int dstHeight = 1 + in.Byte() % kMaxSide;

  const RECT savedArea = WindowClientArea();
  IDirectDrawSurface* src = MakePlain(dd, srcWidth, srcHeight, srcFormat);
  IDirectDrawSurface* dst = nullptr;
  int64_t areaLeft = 0;
  int64_t areaTop = 0;
  if (onPrimary) {
    const int32_t left = in.Coordinate(dstWidth);
    const int32_t top = in.Coordinate(dstHeight);
    dst = MakePrimary(dd, left, top, dstWidth, dstHeight);
    areaLeft = WindowClientArea().left;
    areaTop = WindowClientArea().top;
  } else {
    dst = ontoItself ? src : MakePlain(dd, dstWidth, dstHeight, dstFormat);
    if (ontoItself) dst->AddRef();
  }
  std::string failure;
  IDirectDrawClipper* clipper = nullptr;
  if (src == nullptr || dst == nullptr) failure = "surface creation failed";
  if (failure.empty() && clipped) {
    if (dd->CreateClipper(0, &clipper, nullptr) != DD_OK || dst->SetClipper(clipper) != DD_OK)
      failure = "clipper set-up failed";
  }
  if (failure.empty()) {
    DDCOLORKEY key{in.Byte(), in.Byte()};
    src->SetColorKey(DDCKEY_SRCBLT, &key);
    Number(src, 1);
    if (dst != src) Number(dst, 7001);
    const Pixels srcBefore = ReadAll(src);
    const Pixels dstBefore = ReadAll(dst);
    const int64_t width = dstBefore.width;
    const int64_t height = dstBefore.height;
    const bool sameFormat = !onPrimary && (dst == src || srcFormat == dstFormat);

    RECT srcRect{in.Coordinate(srcWidth), in.Coordinate(srcHeight), in.Coordinate(srcWidth), in.Coordinate(srcHeight)};
    const Rect64 from = wholeSource ? Rect64{0, 0, srcWidth, srcHeight}
                                    : Rect64{srcRect.left, srcRect.top, srcRect.right, srcRect.bottom};
    Expectation expect;
    HRESULT result = DD_OK;
    if (fast) {
      const DWORD x = in.Word();
      const DWORD y = in.Word();
      int64_t left = x;
      int64_t top = y;
      if (onPrimary) {
        left = static_cast<int32_t>(x) - areaLeft;
        top = static_cast<int32_t>(y) - areaTop;
      }
      const Rect64 at{left, top, left + (from.right - from.left), top + (from.bottom - from.top)};
      expect.mustRefuse = !Inside(from, srcWidth, srcHeight) || !Inside(at, width, height);
      expect.cut = at;
      expect.from = from;
      expect.exact = !keyed && sameFormat;
      result = dst->BltFast(x, y, src, wholeSource ? nullptr : &srcRect,
                            DDBLTFAST_WAIT | (keyed ? DDBLTFAST_SRCCOLORKEY : 0));
    } else {
      RECT destRect{in.Coordinate(dstWidth), in.Coordinate(dstHeight), in.Coordinate(dstWidth),
                    in.Coordinate(dstHeight)};
      Rect64 to = wholeDest ? Rect64{0, 0, width, height}
                            : Rect64{int64_t{destRect.left} - areaLeft, int64_t{destRect.top} - areaTop,
                                     int64_t{destRect.right} - areaLeft, int64_t{destRect.bottom} - areaTop};
      const bool inverted = to.right < to.left || to.bottom < to.top;
      const Rect64 cut{std::max<int64_t>(to.left, 0), std::max<int64_t>(to.top, 0), std::min(to.right, width),
                       std::min(to.bottom, height)};
      // An empty copy is done before the destination is looked at; a fill checks it first.
      const bool emptyCopy =
          !fill && (to.right == to.left || to.bottom == to.top || from.right <= from.left || from.bottom <= from.top);
      expect.mustRefuse = inverted || (!fill && !Inside(from, srcWidth, srcHeight)) ||
                          (!clipped && !emptyCopy && !Inside(to, width, height));
      expect.cut = clipped ? cut : to;
      const bool unstretched =
          to.right - to.left == from.right - from.left && to.bottom - to.top == from.bottom - from.top;
      expect.exact = !fill && !keyed && sameFormat && unstretched;
      expect.from = Rect64{from.left + (expect.cut.left - to.left), from.top + (expect.cut.top - to.top), 0, 0};
      DDBLTFX fx{};
      fx.dwSize = kDDBltFxSize;
      fx.dwFillColor = 0xFFFFFFFF;
      result = dst->Blt(wholeDest ? nullptr : &destRect, fill ? nullptr : src, wholeSource ? nullptr : &srcRect,
                        DDBLT_WAIT | (fill ? DDBLT_COLORFILL : 0) | (keyed ? DDBLT_KEYSRC : 0), &fx);
    }

    const Pixels dstAfter = ReadAll(dst);
    if (expect.mustRefuse && result != DDERR_INVALIDRECT) failure = "accepted a rectangle it cannot hold";
    for (int64_t y = 0; y < height && failure.empty(); ++y)
      for (int64_t x = 0; x < width && failure.empty(); ++x) {
        const bool inCut = result == DD_OK && x >= expect.cut.left && x < expect.cut.right && y >= expect.cut.top &&
                           y < expect.cut.bottom;
        const uint32_t now = dstAfter.At(x, y);
        if (!inCut && now != dstBefore.At(x, y)) {
          failure = "wrote pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside " +
                    Describe("the destination", expect.cut);
        } else if (inCut && expect.exact &&
                   now !=
                       srcBefore.At(expect.from.left + (x - expect.cut.left), expect.from.top + (y - expect.cut.top))) {
          failure = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is not its source pixel";
        }
      }
    if (!failure.empty()) failure += " [result " + std::to_string(result) + "]";
  }
  if (clipper != nullptr) clipper->Release();
  if (dst != nullptr) dst->Release();
  if (src != nullptr) src->Release();
  SetWindowClientArea(savedArea);
  return failure;
}

}  // namespace blt_exercise
