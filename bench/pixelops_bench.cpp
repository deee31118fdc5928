// The display component's software pixel operations over a whole 640 x 480 5-6-5 surface: the
// screen blend, the saturating add and the darkening, per call.
#include <benchmark/benchmark.h>

#include "display/kalvorg.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Surfaces {
  Surfaces() : component(nullptr) {
    DirectDrawCreate(nullptr, &dd, nullptr);
    dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    component.BackSurface = Make(0x7BEF);
    component.RLow = 0x0800;
    component.GLow = 0x0020;
    component.BLow = 0x0001;
    source = Make(0x4208);
  }
  ~Surfaces() {
    component.DDrelease();
    source->Release();
    dd->Release();
  }
  IDirectDrawSurface* Make(uint16_t value) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = kWidth;
    desc.dwHeight = kHeight;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    desc.ddpfPixelFormat = DDPIXELFORMAT{32, DDPF_RGB, 0, {16}, 0xF800, 0x07E0, 0x001F, 0};
    IDirectDrawSurface* surface = nullptr;
    dd->CreateSurface(&desc, &surface, nullptr);
    DDSURFACEDESC locked{};
    locked.dwSize = kDDSurfaceDescSize;
    surface->Lock(nullptr, &locked, DDLOCK_WAIT, nullptr);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(locked.lpSurface) + y * locked.lPitch)[x] =
            static_cast<uint16_t>(value + x);
    surface->Unlock(nullptr);
    return surface;
  }
  IDirectDraw* dd = nullptr;
  TKalvorG component;
  IDirectDrawSurface* source = nullptr;
};

void BM_ADDBlt(benchmark::State& state) {
  Surfaces s;
  for (auto _ : state) s.component.ADDBlt(0, 0, s.source, 0, 0, kWidth, kHeight);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ADDBlt)->Unit(benchmark::kMillisecond);

void BM_ADDBlt2(benchmark::State& state) {
  Surfaces s;
  for (auto _ : state) s.component.ADDBlt2(0, 0, s.source, 0, 0, kWidth, kHeight);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ADDBlt2)->Unit(benchmark::kMillisecond);

void BM_Dark(benchmark::State& state) {
  Surfaces s;
  for (auto _ : state) s.component.Dark(0.01f);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_Dark)->Unit(benchmark::kMillisecond);

}  // namespace
