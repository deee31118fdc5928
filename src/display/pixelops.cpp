// The display component's software pixel operations on locked 16-bit surface memory: the screen
// blend (ADDBlt), the saturating add (ADDBlt2) and the darkening (Dark). Channels are masked in
// place, never shifted, so 5-6-5 and 5-5-5 surfaces go through the same code.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "display/kalvorg.h"

namespace {

constexpr DWORD kPixelBits = 16;

struct Masks {
  DWORD r, g, b;
};

DDSURFACEDESC LockDesc() {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  return desc;
}

// Locks `first`, then `second`; on a failure releases what it took. The result stays in LastResult.
bool LockPair(IDirectDrawSurface* first, DDSURFACEDESC& firstDesc, IDirectDrawSurface* second,
              DDSURFACEDESC& secondDesc) {
  KalvorGUnit.LastResult = first->Lock(nullptr, &firstDesc, DDLOCK_WAIT, nullptr);
  if (KalvorGUnit.LastResult != DD_OK) return false;
  KalvorGUnit.LastResult = second->Lock(nullptr, &secondDesc, DDLOCK_WAIT, nullptr);
  if (KalvorGUnit.LastResult != DD_OK) {
    first->Unlock(nullptr);
    return false;
  }
  return true;
}

// Screen blend of one channel: s + d - s*d/M, with 1/M as a double and rounding half to even.
DWORD ScreenChannel(DWORD s, DWORD d, DWORD mask) {
  if (mask == 0) return 0;
  const double inverse = 1.0 / static_cast<double>(mask);
  const double scaled = static_cast<double>(d) * inverse * static_cast<double>(mask - s);
  return (s + static_cast<DWORD>(std::nearbyint(scaled))) & mask;
}

DWORD SaturatingChannel(DWORD s, DWORD d, DWORD mask) { return std::min(s + d, mask); }

struct ScreenBlend {
  DWORD operator()(DWORD s, DWORD d, DWORD mask) const { return ScreenChannel(s, d, mask); }
};
struct SaturatingAdd {
  DWORD operator()(DWORD s, DWORD d, DWORD mask) const { return SaturatingChannel(s, d, mask); }
};

template <class Blend>
uint16_t BlendPixel(uint16_t source, uint16_t dest, const Masks& m, Blend blend) {
  return static_cast<uint16_t>(blend(source & m.r, dest & m.r, m.r) | blend(source & m.g, dest & m.g, m.g) |
                               blend(source & m.b, dest & m.b, m.b));
}

// Two pixels at a time as one 32-bit word (the halves stay independent), then a last odd pixel.
template <class Blend>
void BlendRow(uint8_t* dest, const uint8_t* source, int32_t count, const Masks& m, Blend blend) {
  int32_t i = 0;
  for (; i + 1 < count; i += 2) {
    uint32_t s, d;
    std::memcpy(&s, source + 2 * i, 4);
    std::memcpy(&d, dest + 2 * i, 4);
    const uint32_t low = BlendPixel(static_cast<uint16_t>(s), static_cast<uint16_t>(d), m, blend);
    const uint32_t high = BlendPixel(static_cast<uint16_t>(s >> 16), static_cast<uint16_t>(d >> 16), m, blend);
    const uint32_t word = low | (high << 16);
    std::memcpy(dest + 2 * i, &word, 4);
  }
  if (i < count) {
    uint16_t s, d;
    std::memcpy(&s, source + 2 * i, 2);
    std::memcpy(&d, dest + 2 * i, 2);
    const uint16_t pixel = BlendPixel(s, d, m, blend);
    std::memcpy(dest + 2 * i, &pixel, 2);
  }
}

uint16_t DarkPixel(uint16_t pixel, const Masks& m, const Masks& step) {
  auto channel = [](DWORD value, DWORD s) { return value > s ? value - s : 0u; };
  return static_cast<uint16_t>(channel(pixel & m.r, step.r) | channel(pixel & m.g, step.g) |
                               channel(pixel & m.b, step.b));
}

void DarkRow(uint8_t* row, int32_t count, const Masks& m, const Masks& step) {
  int32_t i = 0;
  for (; i + 1 < count; i += 2) {
    uint32_t word;
    std::memcpy(&word, row + 2 * i, 4);
    const uint32_t low = DarkPixel(static_cast<uint16_t>(word), m, step);
    const uint32_t high = DarkPixel(static_cast<uint16_t>(word >> 16), m, step);
    word = low | (high << 16);
    std::memcpy(row + 2 * i, &word, 4);
  }
  if (i < count) {
    uint16_t pixel;
    std::memcpy(&pixel, row + 2 * i, 2);
    pixel = DarkPixel(pixel, m, step);
    std::memcpy(row + 2 * i, &pixel, 2);
  }
}

DWORD DarkStep(DWORD mask, DWORD lowest, float amount) {
  const DWORD step = static_cast<DWORD>(std::trunc(static_cast<double>(mask) * amount)) & mask;
  return step == 0 ? lowest : step;
}

}  // namespace

// Only 16-bit surfaces are touched: the rows are walked two bytes a pixel, which on any other depth
// could reach past the surface.
template <class Blend>
void TKalvorG::BlendBlt(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                        Blend blend) {
  if (!BackSurface || !Src) return;
  DDSURFACEDESC sd = LockDesc(), dd = LockDesc();
  if (!LockPair(Src, sd, BackSurface, dd)) return;
  Src->Unlock(nullptr);
  BackSurface->Unlock(nullptr);

  const int32_t dw = static_cast<int32_t>(dd.dwWidth), dh = static_cast<int32_t>(dd.dwHeight);
  const int32_t sw = static_cast<int32_t>(sd.dwWidth), sh = static_cast<int32_t>(sd.dwHeight);
  if (X + W < 0 || Y + H < 0 || X >= dw || Y >= dh || SrcX + W < 0 || SrcY + H < 0 || SrcX >= sw || SrcY >= sh) return;
  if (X < 0) {
    SrcX -= X;
    W += X;
    X = 0;
  }
  if (Y < 0) {
    SrcY -= Y;
    H += Y;
    Y = 0;
  }
  if (X + W >= dw) W = dw - X;
  if (Y + H >= dh) H = dh - Y;
  if (SrcX < 0) {
    X -= SrcX;
    W += SrcX;
    SrcX = 0;
  }
  if (SrcY < 0) {
    Y -= SrcY;
    H += SrcY;
    SrcY = 0;
  }
  if (SrcX + W >= sw) W = sw - SrcX;
  if (SrcY + H >= sh) H = sh - SrcY;
  if (KalvorGUnit.Color8bit) return;
  if (W <= 0 || H <= 0) return;

  if (!LockPair(Src, sd, BackSurface, dd)) return;
  if (sd.ddpfPixelFormat.dwRGBBitCount == kPixelBits && dd.ddpfPixelFormat.dwRGBBitCount == kPixelBits) {
    const Masks m{dd.ddpfPixelFormat.dwRBitMask, dd.ddpfPixelFormat.dwGBitMask, dd.ddpfPixelFormat.dwBBitMask};
    auto* dest = static_cast<uint8_t*>(dd.lpSurface);
    const auto* source = static_cast<const uint8_t*>(sd.lpSurface);
    for (int32_t j = 0; j < H; ++j)
      BlendRow(dest + static_cast<ptrdiff_t>(Y + j) * dd.lPitch + 2 * X,
               source + static_cast<ptrdiff_t>(SrcY + j) * sd.lPitch + 2 * SrcX, W, m, blend);
  }
  Src->Unlock(nullptr);
  BackSurface->Unlock(nullptr);
}

void TKalvorG::ADDBlt(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H) {
  BlendBlt(X, Y, Src, SrcX, SrcY, W, H, ScreenBlend{});
}

void TKalvorG::ADDBlt2(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W,
                       int32_t H) {
  BlendBlt(X, Y, Src, SrcX, SrcY, W, H, SaturatingAdd{});
}

void TKalvorG::Dark(float Amount) {
  if (!BackSurface) return;
  DDSURFACEDESC desc = LockDesc();
  KalvorGUnit.LastResult = BackSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
  if (KalvorGUnit.LastResult != DD_OK) return;
  if (!KalvorGUnit.Color8bit && desc.ddpfPixelFormat.dwRGBBitCount == kPixelBits) {
    Amount = std::clamp(Amount, 0.0f, 1.0f);
    const Masks m{desc.ddpfPixelFormat.dwRBitMask, desc.ddpfPixelFormat.dwGBitMask, desc.ddpfPixelFormat.dwBBitMask};
    const Masks step{DarkStep(m.r, RLow, Amount), DarkStep(m.g, GLow, Amount), DarkStep(m.b, BLow, Amount)};
    auto* bits = static_cast<uint8_t*>(desc.lpSurface);
    for (DWORD y = 0; y < desc.dwHeight; ++y)
      DarkRow(bits + static_cast<ptrdiff_t>(y) * desc.lPitch, static_cast<int32_t>(desc.dwWidth), m, step);
  }
  BackSurface->Unlock(nullptr);
}
