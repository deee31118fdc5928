#include "model/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTolerance = 1e-6f;

void ExpectNear(const TMatrix44& actual, const TMatrix44& expected, float tolerance) {
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
  }
}

void ExpectNear(const TVector3& actual, const TVector3& expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TMatrix44 Translation(float x, float y, float z) {
  TMatrix44 m = MatrixIdentity;
  m(3, 0) = x;
  m(3, 1) = y;
  m(3, 2) = z;
  return m;
}

TMatrix44 RotationX(float a) {
  TMatrix44 m = MatrixIdentity;
  m(1, 1) = std::cos(a), m(1, 2) = std::sin(a);
  m(2, 1) = -std::sin(a), m(2, 2) = std::cos(a);
  return m;
}

TMatrix44 RotationY(float a) {
  TMatrix44 m = MatrixIdentity;
  m(0, 0) = std::cos(a), m(0, 2) = -std::sin(a);
  m(2, 0) = std::sin(a), m(2, 2) = std::cos(a);
  return m;
}

TMatrix44 RotationZ(float a) {
  TMatrix44 m = MatrixIdentity;
  m(0, 0) = std::cos(a), m(0, 1) = std::sin(a);
  m(1, 0) = -std::sin(a), m(1, 1) = std::cos(a);
  return m;
}

TMatrix44 Product(const TMatrix44& a, const TMatrix44& b) {
  TMatrix44 result;
  MatrixMultiply(a, b, result);
  return result;
}

TMatrix44 Built(float tx, float ty, float tz, float ax, float ay, float az) {
  TMatrix44 m;
  MatrixSetRotTrans(m, tx, ty, tz, ax, ay, az);
  return m;
}

TEST(MatrixSetRotTrans, ZeroMotionIsTheIdentityAndOverwritesWhatWasThere) {
  TMatrix44 m;
  for (float& element : m.m) element = 7.0f;
  MatrixSetRotTrans(m, 0, 0, 0, 0, 0, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], MatrixIdentity.m[i]) << "element " << i;
}

TEST(MatrixSetRotTrans, HalfTurnAboutXNegatesYAndZ) {
  TMatrix44 expected = MatrixIdentity;
  expected(1, 1) = -1.0f;
  expected(2, 2) = -1.0f;
  ExpectNear(Built(0, 0, 0, kPi, 0, 0), expected, kTolerance);
}

TEST(MatrixSetRotTrans, TranslationIsRotatedWithThePoint) {
  const TMatrix44 m = Built(10, 0, 0, 0, 0, kPi / 2);
  EXPECT_NEAR(m(3, 0), 0.0f, 1e-5f);
  EXPECT_NEAR(m(3, 1), 10.0f, 1e-5f);
  EXPECT_NEAR(m(3, 2), 0.0f, 1e-5f);
}

TEST(MatrixSetRotTrans, PositiveAnglesTurnEachAxisTowardsTheNext) {
  ExpectNear(TransformDirection({0, 1, 0}, Built(0, 0, 0, kPi / 2, 0, 0)), {0, 0, 1}, kTolerance);
  ExpectNear(TransformDirection({0, 0, 1}, Built(0, 0, 0, 0, kPi / 2, 0)), {1, 0, 0}, kTolerance);
  ExpectNear(TransformDirection({1, 0, 0}, Built(0, 0, 0, 0, 0, kPi / 2)), {0, 1, 0}, kTolerance);
}

TEST(MatrixSetRotTrans, EqualsTranslationThenRotationsAboutZXY) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> angle(-4.0f, 4.0f), offset(-50.0f, 50.0f);
  for (int i = 0; i < 200; ++i) {
    const float tx = offset(rng), ty = offset(rng), tz = offset(rng);
    const float ax = angle(rng), ay = angle(rng), az = angle(rng);
    const TMatrix44 expected =
        Product(Product(Product(Translation(tx, ty, tz), RotationZ(az)), RotationX(ax)), RotationY(ay));
    ExpectNear(Built(tx, ty, tz, ax, ay, az), expected, 1e-4f);
    EXPECT_EQ(Built(tx, ty, tz, ax, ay, az)(3, 3), 1.0f);
  }
}

TEST(MatrixSetRotTrans, AnglesOfMagnitudeTwoToThe63HaveSineAndCosineZero) {
  const float huge = 9223372036854775808.0f;  // 2^63
  for (float a : {huge, -huge, std::numeric_limits<float>::infinity()}) {
    const TMatrix44 m = Built(0, 0, 0, a, 0, 0);
    EXPECT_EQ(m(1, 1), 0.0f);  // cos ax * cos az
    EXPECT_EQ(m(1, 2), 0.0f);  // sin ax * cos az
    EXPECT_EQ(m(2, 1), 0.0f);  // -sin ax
    EXPECT_EQ(m(2, 2), 0.0f);  // cos ax * cos ay
    EXPECT_EQ(m(0, 0), 1.0f);
  }
  // The largest float below 2^63 is still reduced normally.
  const TMatrix44 below = Built(0, 0, 0, std::nextafter(huge, 0.0f), 0, 0);
  EXPECT_NEAR(below(1, 1) * below(1, 1) + below(2, 1) * below(2, 1), 1.0f, kTolerance);
}

TEST(MatrixMultiply, FirstOperandActsFirst) {
  const TMatrix44 a = Built(1, 2, 3, 0.3f, -0.7f, 1.1f);
  const TMatrix44 b = Built(-4, 5, 0.5f, 1.9f, 0.2f, -0.4f);
  const TVector3 p{0.25f, -3.0f, 8.0f};
  ExpectNear(TransformPoint(p, Product(a, b)), TransformPoint(TransformPoint(p, a), b), 1e-5f);
}

TEST(MatrixMultiply, ResultMayBeEitherOperand) {
  const TMatrix44 a = Built(1, 2, 3, 0.3f, -0.7f, 1.1f);
  TMatrix44 b = Built(-4, 5, 0.5f, 1.9f, 0.2f, -0.4f);
  b(0, 3) = 0.5f;  // a general fourth column gets no shortcut
  const TMatrix44 expected = Product(a, b);

  TMatrix44 intoA = a;
  MatrixMultiply(intoA, b, intoA);
  TMatrix44 intoB = b;
  MatrixMultiply(a, intoB, intoB);
  TMatrix44 squared = a;
  MatrixMultiply(squared, squared, squared);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(intoA.m[i], expected.m[i]);
    EXPECT_EQ(intoB.m[i], expected.m[i]);
  }
  ExpectNear(squared, Product(a, a), 0.0f);
}

TEST(MatrixMultiply, SumsAreRoundedOnceNotPerTerm) {
  TMatrix44 a = MatrixIdentity;
  a(0, 0) = 1.0f, a(0, 1) = 1.0f, a(0, 2) = 1.0f;
  TMatrix44 b = MatrixIdentity;
  b(0, 0) = 1e8f, b(1, 0) = 1.0f, b(2, 0) = -1e8f;
  // In float arithmetic 1e8 + 1 is 1e8 and the sum would come out 0.
  EXPECT_EQ(Product(a, b)(0, 0), 1.0f);
}

TEST(MatrixPreRotTrans, AppliesTheMotionBeforeTheExistingMatrix) {
  const TMatrix44 original = Built(3, -2, 7, 0.1f, 0.2f, 0.3f);
  TMatrix44 m = original;
  MatrixPreRotTrans(m, 1, 2, 3, -0.5f, 0.6f, 0.9f);
  const TMatrix44 expected = Product(Built(1, 2, 3, -0.5f, 0.6f, 0.9f), original);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], expected.m[i]);
}

// Many motions on many matrices: composing in one call gives exactly what building the motion and
// multiplying gives. An optimiser that forwards the unrounded rotation into the translation row
// (GCC 12 at -O3 did) breaks this by a few ulp.
TEST(MatrixPreRotTrans, EqualsBuildThenMultiplyForManyMotions) {
  std::mt19937 random(17);
  std::uniform_real_distribution<float> offset(-50.0f, 50.0f), angle(-4.0f, 4.0f);
  int differing = 0;
  for (int i = 0; i < 2000; ++i) {
    const TMatrix44 original =
        Built(offset(random), offset(random), offset(random), angle(random), angle(random), angle(random));
    const float t[3] = {offset(random), offset(random), offset(random)};
    const float a[3] = {angle(random), angle(random), angle(random)};
    TMatrix44 m = original;
    MatrixPreRotTrans(m, t[0], t[1], t[2], a[0], a[1], a[2]);
    const TMatrix44 expected = Product(Built(t[0], t[1], t[2], a[0], a[1], a[2]), original);
    if (std::memcmp(&m, &expected, sizeof m) != 0 && differing++ < 3) ADD_FAILURE() << "motion " << i;
  }
  EXPECT_EQ(differing, 0);
}

TEST(MatrixPostScale, ScalesAxesAndTranslation) {
  TMatrix44 m = Translation(1, 2, 3);
  m(0, 1) = 0.5f;
  MatrixPostScale(m, 2.5f);
  EXPECT_EQ(m(3, 0), 2.5f);
  EXPECT_EQ(m(3, 1), 5.0f);
  EXPECT_EQ(m(3, 2), 7.5f);
  EXPECT_EQ(m(0, 0), 2.5f);
  EXPECT_EQ(m(0, 1), 1.25f);
  EXPECT_EQ(m(3, 3), 1.0f);
}

TEST(Transform, DirectionsIgnoreTheTranslationRow) {
  const TMatrix44 m = Built(10, 20, 30, 0, 0, kPi / 2);
  ExpectNear(TransformPoint({1, 0, 0}, m), {m(3, 0) + m(0, 0), m(3, 1) + m(0, 1), m(3, 2) + m(0, 2)}, 1e-5f);
  ExpectNear(TransformDirection({1, 0, 0}, m), {m(0, 0), m(0, 1), m(0, 2)}, 0.0f);
}

}  // namespace
