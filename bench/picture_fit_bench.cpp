// Showing the saver's picture in window memory of another size: the stand-alone 640 x 480
// picture letterboxed on a 1920 x 1080 screen and filling a 1024 x 768 one, and a 1920 x 1080
// picture shown on a 2560 x 1440 screen and on a 1280 x 720 one (smaller), per picture shown.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "platform/win/picture_fit.h"

namespace {

void BM_FitPicture(benchmark::State& state) {
  const auto width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const auto outWidth = static_cast<int>(state.range(2)), outHeight = static_cast<int>(state.range(3));
  std::vector<uint32_t> picture(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFFu;
  std::vector<uint32_t> window(static_cast<size_t>(outWidth) * outHeight);
  PictureFitter fitter;
  for (auto _ : state) {
    fitter.Fit(picture.data(), width, height, intptr_t{width} * 4, window.data(), outWidth, outHeight,
               intptr_t{outWidth} * 4);
    benchmark::DoNotOptimize(window.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FitPicture)
    ->Args({640, 480, 1920, 1080})
    ->Args({640, 480, 1024, 768})
    ->Args({1920, 1080, 2560, 1440})
    ->Args({1920, 1080, 1280, 720})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
