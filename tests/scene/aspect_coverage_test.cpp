// Pictures of other shapes than 4:3: the view fills the whole target at its own size, keeps the
// 640 x 480 picture's vertical field of view (wider pictures see more at the sides, narrower ones
// keep the horizontal field and see more above and below), and every pixel of every frame is
// still drawn (a canary colour put into the target before each frame must be gone after it).
#include <cstring>

#include "scene_fixture.h"

namespace {

struct Shape {
  const char* name;
  int width;
  int height;
};

class AspectCoverageTest : public SceneTest, public ::testing::WithParamInterface<Shape> {
 protected:
  AspectCoverageTest() {
    pictureWidth = GetParam().width;
    pictureHeight = GetParam().height;
  }
};

TEST_P(AspectCoverageTest, EveryFrameCoversTheWholePictureAtItsOwnSize) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kSteps = 60;
  const uint64_t seeds[] = {21};
#else
  constexpr int kSteps = 600;
  const uint64_t seeds[] = {21, 22};
#endif
  constexpr uint16_t kCanary = 0xF81F;  // magenta: in none of the data set's colours
  bool first = true;
  for (uint64_t seed : seeds) {
    if (!first) {
      FreeScene(scene);
      scene = TKlvScene{};
      settings = TSaverSettings{};
      ASSERT_TRUE(BuildScene(scene, *KalvorRM1, dataPath, image));
      random.Seed(seed);
      InitFlightPaths(scene, random);
    } else {
      Build(seed);
    }
    first = false;
    ASSERT_EQ(scene.View.ViewWidth, pictureWidth);
    ASSERT_EQ(scene.View.ViewHeight, pictureHeight);
    int uncoveredFrames = 0;
    for (int i = 0; i < kSteps; ++i) {
      Step();
      FillTarget(kCanary);
      Draw();
      const std::vector<uint16_t> picture = Picture();
      ASSERT_EQ(picture.size(), static_cast<size_t>(pictureWidth) * static_cast<size_t>(pictureHeight));
      int canaries = 0;
      for (uint16_t p : picture) canaries += p == kCanary;
      if (canaries > 0) {
        ++uncoveredFrames;
        ADD_FAILURE() << GetParam().name << " seed " << seed << " step " << i << ": " << canaries
                      << " pixels not drawn";
        if (uncoveredFrames > 3) break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, AspectCoverageTest,
                         ::testing::Values(Shape{"16:9", 640, 360}, Shape{"21:9", 840, 360}, Shape{"1:1", 480, 480},
                                           Shape{"9:16", 270, 480}),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
