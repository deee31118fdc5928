#include "scene/lookat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr float kPi = 3.1415927f;

TVector3 Row(const TMatrix44& m, int r) { return {m(r, 0), m(r, 1), m(r, 2)}; }

double Dot(const TVector3& a, const TVector3& b) { return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z; }

void ExpectNear(const TVector3& actual, const TVector3& expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TMatrix44 HalfTurnAboutX() {
  TMatrix44 r;
  MatrixSetRotTrans(r, 0, 0, 0, kPi, 0, 0);
  return r;
}

TSceneObject* MappedObject(int32_t vertexCapacity) {
  TSceneObject* obj = nullptr;
  CreateObject(obj, vertexCapacity, 0, 0, 0);
  obj->EnvMap = {1, 1.0f, 0.0f, 0.0f};
  return obj;
}

TEST(BuildLookAt, CoincidentPointsGiveTheIdentityWithoutTheEye) {
  const TMatrix44 m = BuildLookAt({5, 6, 7}, {5, 6, 7});
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], MatrixIdentity.m[i]);
}

TEST(BuildLookAt, AlongXAndStraightUp) {
  const TMatrix44 alongX = BuildLookAt({0, 0, 0}, {1, 0, 0});
  ExpectNear(Row(alongX, 2), {1, 0, 0}, 1e-6f);
  ExpectNear(Row(alongX, 0), {0, 1, 0}, 1e-6f);  // yaw 0: local x is (-sin yaw, cos yaw, 0)

  const TMatrix44 up = BuildLookAt({5, 6, 7}, {5, 6, 8});
  ExpectNear(Row(up, 2), {0, 0, 1}, 1e-6f);
  ExpectNear(Row(up, 0), {1, 0, 0}, 1e-6f);  // yaw -pi/2
  ExpectNear(Row(up, 3), {5, 6, 7}, 0.0f);
}

TEST(BuildLookAt, NearlyVerticalDirectionStaysFinite) {
  // Rounded to float, z of this unit direction comes out as 1.0000001.
  const TMatrix44 m = BuildLookAt({0, 0, 0}, {-0.00438654423f, 0, 789.300415f});
  for (float element : m.m) EXPECT_TRUE(std::isfinite(element));
  ExpectNear(Row(m, 2), {0, 0, 1}, 1e-5f);
}

TEST(BuildLookAt, RandomPairsGiveALevelOrthonormalFrameAimedAtTheTarget) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> coordinate(-500.0f, 500.0f);
  for (int i = 0; i < 2000; ++i) {
    const TVector3 eye{coordinate(rng), coordinate(rng), coordinate(rng) / 5};
    const TVector3 target{coordinate(rng), coordinate(rng), coordinate(rng) / 5};
    const TMatrix44 m = BuildLookAt(eye, target);
    const TVector3 x = Row(m, 0), y = Row(m, 1), z = Row(m, 2);
    EXPECT_NEAR(Dot(x, x), 1.0, 1e-5);
    EXPECT_NEAR(Dot(y, y), 1.0, 1e-5);
    EXPECT_NEAR(Dot(z, z), 1.0, 1e-5);
    EXPECT_NEAR(Dot(x, y), 0.0, 1e-5);
    EXPECT_NEAR(Dot(x, z), 0.0, 1e-5);
    EXPECT_NEAR(Dot(y, z), 0.0, 1e-5);
    EXPECT_EQ(x.z, 0.0f);  // no roll
    // Right-handed: x cross y is z.
    EXPECT_NEAR(double(x.y) * y.z - double(x.z) * y.y, z.x, 1e-5);
    EXPECT_NEAR(double(x.z) * y.x - double(x.x) * y.z, z.y, 1e-5);
    const TVector3 d{target.x - eye.x, target.y - eye.y, target.z - eye.z};
    EXPECT_NEAR(Dot(z, d) / std::sqrt(Dot(d, d)), 1.0, 1e-5);
    ExpectNear(Row(m, 3), eye, 0.0f);
    EXPECT_EQ(m(3, 3), 1.0f);
  }
}

TEST(UpdateReflectionUV, ReflectionAlongPlusZMapsToTheCornerAndAlongMinusZToTheCentre) {
  // With no turn, e = -r. A sideways normal leaves the view direction unreflected.
  TSceneObject* obj = MappedObject(1);
  obj->EnvMap = {1, 2.0f, 0.25f, -0.5f};
  AddVertex(obj, 0, 0, 0, 1, 0, 0, 9, 9, 0);
  UpdateReflectionUV(obj, MatrixIdentity, {0, 0, 10});  // looking down: e = (0, 0, 1)
  EXPECT_EQ(obj->Vertices[0].U, 1.0f * 2.0f + 0.25f);
  EXPECT_EQ(obj->Vertices[0].V, 1.0f * 2.0f - 0.5f);

  UpdateReflectionUV(obj, MatrixIdentity, {0, 0, -10});  // looking up: e = (0, 0, -1)
  EXPECT_EQ(obj->Vertices[0].U, 0.5f * 2.0f + 0.25f);
  EXPECT_EQ(obj->Vertices[0].V, 0.5f * 2.0f - 0.5f);
  FreeObjectTree(obj);
}

TEST(UpdateReflectionUV, CameraAtTheObjectOriginKeepsTheViewVectorUnnormalised) {
  // v = (0, 0, 0): the reflection is zero, e = 0 lies on the pole.
  TSceneObject* obj = MappedObject(1);
  AddVertex(obj, 0, 0, 0, 0, 0, 1, 9, 9, 0);
  UpdateReflectionUV(obj, HalfTurnAboutX(), {0, 0, 0});
  EXPECT_EQ(obj->Vertices[0].U, 1.0f);
  EXPECT_EQ(obj->Vertices[0].V, 1.0f);
  FreeObjectTree(obj);
}

TEST(UpdateReflectionUV, OnlyEnabledOneSwitchesTheMappingOn) {
  TSceneObject* root = MappedObject(1);
  AddVertex(root, 0, 0, 0, 0, 0, 1, 0.125f, 0.375f, 0);
  for (int32_t enabled : {0, 2, -1}) {
    root->EnvMap.Enabled = enabled;
    UpdateReflectionUV(root, HalfTurnAboutX(), {0, 0, 10});
    EXPECT_EQ(root->Vertices[0].U, 0.125f);
    EXPECT_EQ(root->Vertices[0].V, 0.375f);
  }
  UpdateReflectionUV(nullptr, HalfTurnAboutX(), {0, 0, 10});
  FreeObjectTree(root);
}

TEST(UpdateReflectionUV, WorldIsTheChainOfLocalsAndRootSiblingsAreSkipped) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> angle(-3.0f, 3.0f), offset(-20.0f, 20.0f);
  const auto randomPose = [&](TMatrix44& m) {
    MatrixSetRotTrans(m, offset(rng), offset(rng), offset(rng), angle(rng), angle(rng), angle(rng));
  };
  // root -> middle -> (leaf, decoy), and a flat twin whose Local is the leaf's whole chain.
  TSceneObject* root = MappedObject(0);
  TSceneObject* middle = MappedObject(0);
  TSceneObject* leaf = MappedObject(1);
  TSceneObject* decoy = MappedObject(0);
  TSceneObject* twin = MappedObject(1);
  TSceneObject* rootSibling = MappedObject(1);
  randomPose(root->Local);
  randomPose(middle->Local);
  randomPose(leaf->Local);
  randomPose(decoy->Local);
  leaf->Base = decoy->Local;  // Base takes no part here
  AttachObject(root, middle);
  AttachObject(middle, leaf);
  AttachObject(middle, decoy);
  root->Next = rootSibling;
  TMatrix44 middleWorld;
  MatrixMultiply(middle->Local, root->Local, middleWorld);
  MatrixMultiply(leaf->Local, middleWorld, twin->Local);
  AddVertex(leaf, 0, 0, 0, 0.6f, 0.0f, 0.8f, 0, 0, 0);
  AddVertex(twin, 0, 0, 0, 0.6f, 0.0f, 0.8f, 0, 0, 0);
  AddVertex(rootSibling, 0, 0, 0, 0.6f, 0.0f, 0.8f, 0.5f, 0.5f, 0);

  const TVector3 camera{3, -40, 12};
  UpdateReflectionUV(root, HalfTurnAboutX(), camera);
  UpdateReflectionUV(twin, HalfTurnAboutX(), camera);
  EXPECT_EQ(leaf->Vertices[0].U, twin->Vertices[0].U);
  EXPECT_EQ(leaf->Vertices[0].V, twin->Vertices[0].V);
  EXPECT_EQ(rootSibling->Vertices[0].U, 0.5f);
  FreeObjectTree(root);
  FreeObjectTree(twin);
}

TEST(UpdateReflectionUV, SphereCoordinatesStayInsideTheUnitSquare) {
  constexpr int kRings = 24, kSegments = 48;
  TSceneObject* sphere = MappedObject((kRings + 1) * kSegments);
  for (int ring = 0; ring <= kRings; ++ring) {
    const double theta = kPi * ring / kRings;
    for (int segment = 0; segment < kSegments; ++segment) {
      const double phi = 2 * kPi * segment / kSegments;
      const float nx = static_cast<float>(std::sin(theta) * std::cos(phi));
      const float ny = static_cast<float>(std::sin(theta) * std::sin(phi));
      const float nz = static_cast<float>(std::cos(theta));
      AddVertex(sphere, 3 * nx, 3 * ny, 3 * nz, nx, ny, nz, -1, -1, 0);
    }
  }
  std::mt19937 rng(23);
  std::uniform_real_distribution<float> angle(-3.2f, 3.2f), coordinate(-100.0f, 100.0f);
  for (int pose = 0; pose < 50; ++pose) {
    MatrixSetRotTrans(sphere->Local, coordinate(rng), coordinate(rng), coordinate(rng), angle(rng), angle(rng),
                      angle(rng));
    UpdateReflectionUV(sphere, HalfTurnAboutX(), {coordinate(rng), coordinate(rng), coordinate(rng)});
    for (int32_t i = 0; i < sphere->VertexCount; ++i) {
      const TMeshVertex& v = sphere->Vertices[i];
      ASSERT_GE(v.U, 0.0f);
      ASSERT_LE(v.U, 1.0f);
      ASSERT_GE(v.V, 0.0f);
      ASSERT_LE(v.V, 1.0f);
    }
  }
  FreeObjectTree(sphere);
}

TEST(UpdateReflectionUV, WalksDeepAndWideTreesWithoutRecursion) {
  TSceneObject* root = MappedObject(0);
  TSceneObject* wide = MappedObject(0);
  AttachObject(root, wide);
  for (int i = 0; i < 100000; ++i) {
    TSceneObject* child = MappedObject(1);
    AddVertex(child, 0, 0, 0, 1, 0, 0, -1, -1, 0);
    AttachObject(wide, child);
    // Every tenth sibling has a child of its own, so later siblings wait while it is walked.
    if (i % 10 == 0) AttachObject(child, MappedObject(0));
  }
  TSceneObject* tail = root;
  for (int depth = 0; depth < 10000; ++depth) {
    // A later sibling at every level keeps one pending entry per level while the chain is walked.
    AttachObject(tail, MappedObject(0));
    TSceneObject* child = MappedObject(1);
    child->Local(3, 2) = -0.001f;
    AttachObject(tail, child);
    tail = child;
  }
  AddVertex(tail, 0, 0, 0, 1, 0, 0, -1, -1, 0);
  UpdateReflectionUV(root, MatrixIdentity, {0, 0, 100});
  EXPECT_FLOAT_EQ(tail->Vertices[0].U, 1.0f);  // seen from above past a sideways normal: the pole
  EXPECT_FLOAT_EQ(wide->FirstChild->Vertices[0].U, 1.0f);
  FreeObjectTree(root);
}

}  // namespace
