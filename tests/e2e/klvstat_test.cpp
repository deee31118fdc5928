// The measures klvstat counts frames with: a model's world box through its anchor's and its own
// poses, whether a camera is inside it or near it, the bound on the picture share it can cover, and
// the share of pixels a hidden model changes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../../tools/klvstat_measure.h"
#include "model/matrix.h"
#include "model/sceneobject.h"

namespace {

using klvtools::WorldBox;

// An anchor at (10, 10, 40) holding a model flipped about x and scaled by 20, as the scene places
// the tree; the model has a unit cube from (-0.5, -0.5, 0) to (0.5, 0.5, 1) and an empty child
// plus a child with one vertex at (0, 0, 2).
class ModelBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateObject(anchor, 0, 0, 0, 0);
    CreateObject(model, 8, 0, 0, 0);
    CreateObject(empty, 0, 0, 0, 0);
    CreateObject(tip, 1, 0, 0, 0);
    for (int corner = 0; corner < 8; ++corner)
      AddVertex(model, corner & 1 ? 0.5f : -0.5f, corner & 2 ? 0.5f : -0.5f, corner & 4 ? 1.0f : 0.0f, 0, 0, 1, 0, 0,
                0xFFFFFFFF);
    AddVertex(tip, 0, 0, 2, 0, 0, 1, 0, 0, 0xFFFFFFFF);
    AttachObject(model, empty);
    AttachObject(model, tip);
    AttachObject(anchor, model);
    MatrixSetRotTrans(anchor->Local, 10, 10, 40, 0, 0, 0);
    MatrixPostScale(model->Base, 20);
    MatrixSetRotTrans(model->Local, 0, 0, 0, 3.1415927f, 0, 0);
  }
  void TearDown() override { FreeObjectTree(anchor); }

  TSceneObject* anchor = nullptr;
  TSceneObject* model = nullptr;
  TSceneObject* empty = nullptr;
  TSceneObject* tip = nullptr;
};

TEST_F(ModelBoxTest, BoxFollowsThePosesAndTakesInEveryObjectWithGeometry) {
  const WorldBox box = klvtools::ModelBox(model);
  ASSERT_FALSE(box.Empty);
  // x: 10 + 20 * [-0.5, 0.5]; y flipped: 10 - 20 * [-0.5, 0.5]; z flipped: 40 - 20 * [0, 2] (the tip).
  EXPECT_NEAR(box.Min.x, 0, 1e-3);
  EXPECT_NEAR(box.Max.x, 20, 1e-3);
  EXPECT_NEAR(box.Min.y, 0, 1e-3);
  EXPECT_NEAR(box.Max.y, 20, 1e-3);
  EXPECT_NEAR(box.Min.z, 0, 1e-3);
  EXPECT_NEAR(box.Max.z, 40, 1e-3);
  EXPECT_NEAR(box.Size(), 40, 1e-3);
}

TEST_F(ModelBoxTest, CameraInsideTheBoxIsCountedOutsideIsNot) {
  const WorldBox box = klvtools::ModelBox(model);
  EXPECT_TRUE(box.Contains({10, 10, 30}));   // inside the cube's part
  EXPECT_TRUE(box.Contains({1, 19, 5}));     // inside the box beside the tip, where no geometry is
  EXPECT_FALSE(box.Contains({10, 10, -1}));  // just above the tip
  EXPECT_FALSE(box.Contains({-1, 10, 30}));  // just beside
  EXPECT_FALSE(box.Contains({10, 10, 41}));  // just below
  EXPECT_FALSE(WorldBox{}.Contains({0, 0, 0}));

  EXPECT_EQ(box.Distance({10, 10, 30}), 0);
  EXPECT_NEAR(box.Distance({23, 14, -4}), 5, 1e-4);  // 3 beyond x, 4 above
  EXPECT_TRUE(klvtools::Near(box, {10, 10, -39}));   // 39 away from a box 40 large
  EXPECT_FALSE(klvtools::Near(box, {10, 10, -41}));
}

// A camera at the origin looking along +x: rows right (0, 1, 0), down (0, 0, 1), forward (1, 0, 0).
TMatrix44 LookingAlongX() {
  TMatrix44 camera = MatrixIdentity;
  camera(0, 0) = 0;
  camera(0, 1) = 1;
  camera(1, 1) = 0;
  camera(1, 2) = 1;
  camera(2, 0) = 1;
  camera(2, 2) = 0;
  return camera;
}

WorldBox Box(TVector3 lo, TVector3 hi) {
  WorldBox box;
  box.Grow(lo);
  box.Grow(hi);
  return box;
}

TEST(ProjectedShare, BoundsWhatABoxCanCoverAndGivesUpWhenItReachesBehindTheCamera) {
  const TMatrix44 camera = LookingAlongX();
  constexpr double kZoom = 2.0, kAspect = 4.0 / 3.0;
  // A box 2 wide and 1.5 high at distance 4 spans half the width and half the height: a quarter.
  EXPECT_NEAR(klvtools::ProjectedShare(Box({4, -1, -0.75f}, {4, 1, 0.75f}), camera, kZoom, kAspect), 0.25, 1e-6);
  // Larger than the view: clipped to the whole picture.
  EXPECT_NEAR(klvtools::ProjectedShare(Box({4, -9, -9}, {5, 9, 9}), camera, kZoom, kAspect), 1.0, 1e-6);
  // Off to the side: nothing.
  EXPECT_NEAR(klvtools::ProjectedShare(Box({4, 10, -1}, {5, 12, 1}), camera, kZoom, kAspect), 0.0, 1e-6);
  // Reaching behind the camera: no bound.
  EXPECT_EQ(klvtools::ProjectedShare(Box({-1, 10, -1}, {5, 12, 1}), camera, kZoom, kAspect), 1.0);
  EXPECT_EQ(klvtools::ProjectedShare(WorldBox{}, camera, kZoom, kAspect), 0.0);
}

TEST(ChangedShare, CountsThePixelsThatDiffer) {
  const std::vector<uint32_t> a = {1, 2, 3, 4}, b = {1, 9, 9, 4};
  EXPECT_DOUBLE_EQ(klvtools::ChangedShare(a, b), 0.5);
  EXPECT_DOUBLE_EQ(klvtools::ChangedShare(a, a), 0.0);
  EXPECT_DOUBLE_EQ(klvtools::ChangedShare(a, {1, 2}), 0.0);  // pictures of different sizes are not compared
}

}  // namespace
