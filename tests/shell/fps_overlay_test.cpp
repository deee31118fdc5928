// The frames-per-second figure: counted over whole seconds, written with one decimal, and drawn
// inside the picture whatever its size.
#include <gtest/gtest.h>

#include <vector>

#include "shell/fps_overlay.h"

namespace {

TEST(FpsOverlay, CountsTheFramesOfEachWholeSecond) {
  TFpsCounter counter;
  const auto start = TFpsCounter::Clock::time_point{} + std::chrono::hours(1);
  counter.Frame(start);
  for (int i = 1; i <= 25; ++i) counter.Frame(start + std::chrono::milliseconds(40 * i));
  EXPECT_DOUBLE_EQ(counter.FramesPerSecond(), 25.0);
  // A pause (the process was stopped) shows as a low figure, not a burst.
  counter.Frame(start + std::chrono::milliseconds(5000));
  EXPECT_NEAR(counter.FramesPerSecond(), 0.25, 1e-9);
}

TEST(FpsOverlay, TheTextHasOneDecimal) {
  EXPECT_EQ(FpsText(62.46), "62.5 FPS");
  EXPECT_EQ(FpsText(0), "0.0 FPS");
  EXPECT_EQ(FpsText(1e9), "9999.9 FPS");
}

TEST(FpsOverlay, DrawsInsideEveryPictureAndNowhereElse) {
  for (auto [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}, std::pair{5, 3}, std::pair{1, 1}}) {
    const int pitch = width + 3;  // a row longer than the picture: the extra words stay untouched
    std::vector<uint32_t> pixels(static_cast<size_t>(pitch) * height, 0x00123456);
    DrawOverlayText(pixels.data(), width, height, pitch, FpsText(59.9));
    int ink = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < pitch; ++x) {
        const uint32_t p = pixels[static_cast<size_t>(y) * pitch + x];
        if (x >= width) {
          EXPECT_EQ(p, 0x00123456u) << width << "x" << height;
        }
        ink += p == 0x00FFFFFF;
      }
    }
    EXPECT_EQ(pixels[0], 0u) << "the box's corner is black";
    if (width >= 640) {
      EXPECT_GT(ink, 40) << width << "x" << height;
    }
  }
}

}  // namespace
