// Pixel layouts of DirectDraw surfaces (see ddraw_format.h).
#include "platform/dx5/ddraw_format.h"

namespace {

constexpr DWORD kPixelFormatSize = 32;

DDPIXELFORMAT RgbFormat(DWORD bits, DWORD red, DWORD green, DWORD blue) {
  DDPIXELFORMAT f{};
  f.dwSize = kPixelFormatSize;
  f.dwFlags = DDPF_RGB;
  f.dwRGBBitCount = bits;
  f.dwRBitMask = red;
  f.dwGBitMask = green;
  f.dwBBitMask = blue;
  return f;
}

DDPIXELFORMAT DepthFormat(DWORD bits, DWORD mask) {
  DDPIXELFORMAT f{};
  f.dwSize = kPixelFormatSize;
  f.dwFlags = DDPF_ZBUFFER;
  f.dwZBufferBitDepth = bits;
  f.dwRBitMask = mask;  // the z bit mask sits where the red mask would
  return f;
}

}  // namespace

DDPIXELFORMAT PixelFormatOf(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::Indexed8: {
      DDPIXELFORMAT f{};
      f.dwSize = kPixelFormatSize;
      f.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;
      f.dwRGBBitCount = 8;
      return f;
    }
    case SurfaceFormat::Rgb565: return RgbFormat(16, 0xF800, 0x07E0, 0x001F);
    case SurfaceFormat::Rgb555: return RgbFormat(16, 0x7C00, 0x03E0, 0x001F);
    case SurfaceFormat::Xrgb32: return RgbFormat(32, 0xFF0000, 0x00FF00, 0x0000FF);
    case SurfaceFormat::Z16: return DepthFormat(16, 0xFFFF);
    case SurfaceFormat::Z24: return DepthFormat(24, 0xFFFFFF);
    case SurfaceFormat::Z32: return DepthFormat(32, 0xFFFFFFFF);
  }
  return DDPIXELFORMAT{};
}

int SurfaceBytesPerPixel(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::Indexed8: return 1;
    case SurfaceFormat::Rgb565:
    case SurfaceFormat::Rgb555:
    case SurfaceFormat::Z16: return 2;
    case SurfaceFormat::Xrgb32:
    case SurfaceFormat::Z24:
    case SurfaceFormat::Z32: return 4;
  }
  return 4;
}

bool IsDepthFormat(SurfaceFormat format) {
  return format == SurfaceFormat::Z16 || format == SurfaceFormat::Z24 || format == SurfaceFormat::Z32;
}

std::optional<GdiFormat> GdiFormatOf(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::Indexed8: return GdiFormat::Indexed8;
    case SurfaceFormat::Rgb565: return GdiFormat::Rgb565;
    case SurfaceFormat::Rgb555: return GdiFormat::Rgb555;
    case SurfaceFormat::Xrgb32: return GdiFormat::Xrgb32;
    default: return std::nullopt;
  }
}

std::optional<SurfaceFormat> ColourFormatFrom(const DDPIXELFORMAT& f) {
  if (f.dwFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA | DDPF_FOURCC | DDPF_ZBUFFER | DDPF_PALETTEINDEXED4))
    return std::nullopt;
  if (f.dwFlags & DDPF_PALETTEINDEXED8) {
    if (f.dwRGBBitCount == 8) return SurfaceFormat::Indexed8;
    return std::nullopt;
  }
  if (!(f.dwFlags & DDPF_RGB)) return std::nullopt;
  for (SurfaceFormat candidate : {SurfaceFormat::Rgb565, SurfaceFormat::Rgb555, SurfaceFormat::Xrgb32}) {
    const DDPIXELFORMAT known = PixelFormatOf(candidate);
    if (f.dwRGBBitCount == known.dwRGBBitCount && f.dwRBitMask == known.dwRBitMask &&
        f.dwGBitMask == known.dwGBitMask && f.dwBBitMask == known.dwBBitMask)
      return candidate;
  }
  return std::nullopt;
}

std::optional<SurfaceFormat> DepthFormatFrom(DWORD bitDepth) {
  switch (bitDepth) {
    case 16: return SurfaceFormat::Z16;
    case 24: return SurfaceFormat::Z24;
    case 32: return SurfaceFormat::Z32;
    default: return std::nullopt;
  }
}

std::optional<SurfaceFormat> DisplayFormatFrom(DWORD bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8: return SurfaceFormat::Indexed8;
    case 16: return SurfaceFormat::Rgb565;
    case 32: return SurfaceFormat::Xrgb32;
    default: return std::nullopt;
  }
}
