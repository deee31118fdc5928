// The fugu on its own: the skin's segment length and bindings at both ends of the body, the rest
// pose that reproduces the loaded mesh bit for bit (a hand-made body and the generated fugu4.klv),
// the phase cycle, the tail and body set anew each step against the fins' accumulated turns, and
// a model that lacks a fin.
#include "scene/fugu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "model/klvloader.h"
#include "model/klvloader_test_support.h"

namespace {

constexpr float kStep = 0.01f;
// A range whose length the float subtraction rounds: d must come from the unrounded difference.
constexpr float kMaxZ = 2.983109f;
constexpr float kMinZ = -0.497868061f;

// A body with vertices along z from kMaxZ to kMinZ (awkward values between), one fin of each id
// in `finIds` as a child, and a point that only widens nothing.
TSceneObject* MakeFish(const std::vector<int32_t>& finIds) {
  const float zs[] = {kMaxZ, 2.9f, 1.0e-3f, -1.0e-7f, 0.7312345f, 2.0000002f, -0.25f, kMinZ, 1.4999999f, 2.98f};
  TSceneObject* body = nullptr;
  const int32_t count = static_cast<int32_t>(std::size(zs));
  CreateObject(body, count, 0, 1, 0);
  for (int32_t i = 0; i < count; ++i)
    AddVertex(body, 0.1f * i - 0.333f, 0.07f * i + 0.01f, zs[i], 0.6f, -0.8f, 1e-3f * i, 0, 0, 0xFFFFFFFF);
  AddPoint(body, 0, 0, 1.0f);
  for (int32_t id : finIds) {
    TSceneObject* fin = nullptr;
    CreateObject(fin, 0, 0, 0, 0);
    fin->Id = id;
    fin->Local(3, 0) = 0.5f;
    fin->Local(3, 2) = -0.125f;
    AttachObject(body, fin);
  }
  return body;
}

// Vertex positions and normals compared as values (a zero may change its sign).
void ExpectSameVertices(const TSceneObject* mesh, const std::vector<TMeshVertex>& expected) {
  ASSERT_EQ(mesh->VertexCount, static_cast<int32_t>(expected.size()));
  int moved = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    const TMeshVertex& v = mesh->Vertices[i];
    const TMeshVertex& e = expected[i];
    const float got[] = {v.X, v.Y, v.Z, v.NX, v.NY, v.NZ}, want[] = {e.X, e.Y, e.Z, e.NX, e.NY, e.NZ};
    if (!std::equal(std::begin(got), std::end(got), std::begin(want)) && moved++ < 3)
      ADD_FAILURE() << "vertex " << i << " moved: " << ::testing::PrintToString(std::vector<float>(got, got + 6))
                    << " instead of " << ::testing::PrintToString(std::vector<float>(want, want + 6));
  }
  EXPECT_EQ(moved, 0);
}

struct TreeGuard {
  TSceneObject* root;
  ~TreeGuard() { FreeObjectTree(root); }
};

TEST(FuguSkinTest, SegmentLengthAndTheBindingsAtBothEnds) {
  TSceneObject* body = MakeFish({});
  TreeGuard guard{body};
  TFuguSkin* skin = BuildFuguSkin(body);
  EXPECT_EQ(skin->MaxZ, kMaxZ);
  EXPECT_EQ(skin->MinZ, kMinZ);
  const float d = static_cast<float>((double{kMaxZ} - double{kMinZ}) * 1.000001 / 4);
  EXPECT_EQ(skin->JointOffsets[1], -d);
  EXPECT_EQ(skin->JointOffsets[3], static_cast<float>(-3.0 * d));
  EXPECT_EQ(skin->Joints[1](3, 2), -d);
  EXPECT_EQ(skin->Joints[0](3, 2), 0.0f);

  const TSkinBinding& head = skin->VertexBindings[0];  // z = MaxZ: all on Chain[0]
  EXPECT_EQ(head.Lower, 0);
  EXPECT_EQ(head.Upper, 1);
  EXPECT_EQ(head.UpperWeight, 0.0f);
  EXPECT_EQ(head.LowerWeight, 1.0f);
  const TSkinBinding& tail = skin->VertexBindings[7];  // z = MinZ: just under 4 segments
  EXPECT_EQ(tail.Lower, 2);
  EXPECT_EQ(tail.Upper, 3);
  EXPECT_LT(tail.UpperWeight, 2.0f);
  EXPECT_GT(tail.UpperWeight, 1.9999f);
  EXPECT_EQ(tail.LowerWeight, 1.0f - tail.UpperWeight);
  FreeFuguSkin(skin);
  EXPECT_EQ(skin, nullptr);
}

TEST(FuguSkinTest, RestPoseReproducesTheMeshExactly) {
  TSceneObject* body = MakeFish({});
  TreeGuard guard{body};
  const std::vector<TMeshVertex> loaded(body->Vertices, body->Vertices + body->VertexCount);
  TFuguSkin* skin = BuildFuguSkin(body);
  DeformFuguSkin(skin);
  for (const TMatrix44& chain : skin->Chain) EXPECT_EQ(std::memcmp(&chain, &MatrixIdentity, sizeof chain), 0);
  ExpectSameVertices(body, loaded);
  FreeFuguSkin(skin);

  // The generated fugu itself.
  FakeTextureSource textures;
  TFugu fugu(textures, std::string(KLV_DATA_DIR) + "/fugu4.klv");
  TreeGuard fuguGuard{fugu.Model};
  const std::vector<TMeshVertex> mesh(fugu.Model->Vertices, fugu.Model->Vertices + fugu.Model->VertexCount);
  DeformFuguSkin(fugu.Skin);
  ExpectSameVertices(fugu.Model, mesh);
}

// The phase exceeds 1 at the 101st step and starts again from 0; the tail joints and the body's
// placement are set from the phase alone, so step 102 repeats step 1, while the fins keep turning
// from where they were.
TEST(FuguTest, PhaseCycleRepeatsTheTailButNotTheFins) {
  TSceneObject* model = MakeFish({kRightFinId, kLeftFinId, kTailFinId});
  TreeGuard guard{model};
  TFugu fugu(model);
  ASSERT_NE(fugu.LeftFin, nullptr);
  fugu.Animate(kStep);
  const TMatrix44 tailAtStep1 = fugu.Skin->Joints[2];
  const TMatrix44 bodyAtStep1 = fugu.Model->Local;
  const TMatrix44 tailFinAtStep1 = fugu.TailFin->Local;
  const TMatrix44 leftFinAtStep1 = fugu.LeftFin->Local;
  const std::vector<TMeshVertex> meshAtStep1(model->Vertices, model->Vertices + model->VertexCount);

  // Step 1's tail angle from the phase, in double: w = 10 · (float)(0.01 · 2π).
  const double w = 10.0 * static_cast<double>(static_cast<float>(double{kStep} * 2.0 * std::numbers::pi));
  TMatrix44 expectedTail;
  MatrixSetRotTrans(expectedTail, 0, 0, 0, 0, static_cast<float>(std::cos(w) * kStep / 0.05), 0);
  expectedTail(3, 2) = fugu.Skin->JointOffsets[1];
  EXPECT_EQ(std::memcmp(&tailAtStep1, &expectedTail, sizeof expectedTail), 0);

  for (int i = 2; i <= 100; ++i) fugu.Animate(kStep);
  EXPECT_GT(fugu.Phase, 0.99f);
  fugu.Animate(kStep);
  EXPECT_EQ(fugu.Phase, 0.0f);
  fugu.Animate(kStep);
  EXPECT_EQ(fugu.Phase, kStep);
  EXPECT_EQ(std::memcmp(&fugu.Skin->Joints[2], &tailAtStep1, sizeof tailAtStep1), 0);
  EXPECT_EQ(std::memcmp(&fugu.Skin->Joints[3], &tailAtStep1, sizeof tailAtStep1), 0);
  EXPECT_EQ(std::memcmp(&fugu.Model->Local, &bodyAtStep1, sizeof bodyAtStep1), 0);
  EXPECT_EQ(std::memcmp(&fugu.TailFin->Local, &tailFinAtStep1, sizeof tailFinAtStep1), 0);
  ExpectSameVertices(model, meshAtStep1);
  EXPECT_NE(std::memcmp(&fugu.LeftFin->Local, &leftFinAtStep1, sizeof leftFinAtStep1), 0);
  // The two pectoral fins turn by opposite angles about y: mirror images in x and z.
  EXPECT_FLOAT_EQ(fugu.LeftFin->Local(0, 2), -fugu.RightFin->Local(0, 2));
  EXPECT_FLOAT_EQ(fugu.LeftFin->Local(0, 0), fugu.RightFin->Local(0, 0));
}

// A model without a fin still swims: the missing fin's motion is skipped, the others move.
TEST(FuguTest, AMissingFinIsSkipped) {
  TSceneObject* model = MakeFish({kRightFinId, kTailFinId});
  TreeGuard guard{model};
  TFugu fugu(model);
  EXPECT_EQ(fugu.LeftFin, nullptr);
  const TMatrix44 rightRest = fugu.RightFin->Local;
  const TMatrix44 tailRest = fugu.TailFin->Local;
  for (int i = 0; i < 5; ++i) fugu.Animate(kStep);
  EXPECT_NE(std::memcmp(&fugu.RightFin->Local, &rightRest, sizeof rightRest), 0);
  EXPECT_NE(std::memcmp(&fugu.TailFin->Local, &tailRest, sizeof tailRest), 0);
}

}  // namespace
