// DirectDraw stand-in speed: the blits the saver does every frame on a 640 x 480 16-bit display
// (a BltFast copy of the renderer's surface into the back buffer, with and without a source colour
// key) and the colour fill that clears a surface.
#include <benchmark/benchmark.h>

#include "platform/dx5/ddraw.h"

namespace {

constexpr DWORD kWidth = 640;
constexpr DWORD kHeight = 480;

struct Surfaces {
  IDirectDraw* dd = nullptr;
  IDirectDrawSurface* src = nullptr;
  IDirectDrawSurface* dst = nullptr;

  Surfaces() {
    DirectDrawCreate(nullptr, &dd, nullptr);
    src = Make();
    dst = Make();
    // A source with a pattern of key and non-key pixels.
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    src->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    for (DWORD y = 0; y < kHeight; ++y) {
      auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch);
      for (DWORD x = 0; x < kWidth; ++x) row[x] = static_cast<uint16_t>((x * 7 + y * 13) % 5 == 0 ? 0 : x ^ y);
    }
    src->Unlock(nullptr);
    DDCOLORKEY key{0, 0};
    src->SetColorKey(DDCKEY_SRCBLT, &key);
  }
  ~Surfaces() {
    dst->Release();
    src->Release();
    dd->Release();
  }
  IDirectDrawSurface* Make() {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = kWidth;
    desc.dwHeight = kHeight;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* s = nullptr;
    dd->CreateSurface(&desc, &s, nullptr);
    return s;
  }
};

void BM_BltFast640x480x16(benchmark::State& state) {
  Surfaces s;
  RECT all{0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
  for (auto _ : state) benchmark::DoNotOptimize(s.dst->BltFast(0, 0, s.src, &all, DDBLTFAST_WAIT));
}
BENCHMARK(BM_BltFast640x480x16)->Unit(benchmark::kMicrosecond);

void BM_BltFastSrcColorKey640x480x16(benchmark::State& state) {
  Surfaces s;
  RECT all{0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
  for (auto _ : state)
    benchmark::DoNotOptimize(s.dst->BltFast(0, 0, s.src, &all, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT));
}
BENCHMARK(BM_BltFastSrcColorKey640x480x16)->Unit(benchmark::kMicrosecond);

void BM_ColorFill640x480x16(benchmark::State& state) {
  Surfaces s;
  DDBLTFX fx{};
  fx.dwSize = kDDBltFxSize;
  fx.dwFillColor = 0x1234;
  for (auto _ : state)
    benchmark::DoNotOptimize(s.dst->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
}
BENCHMARK(BM_ColorFill640x480x16)->Unit(benchmark::kMicrosecond);

}  // namespace
