#include "scene/flightpath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectEq(const TVector3& actual, const TVector3& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.z, expected.z);
}

void ExpectNear(const TVector3& actual, const TVector3& expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TPathPoint At(float x, float y, float z) { return {{x, y, z}, {}, {}}; }

float Distance(const TVector3& a, const TVector3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

TEST(BuildPathHandles, StraightEvenRunGivesOneSixthOfTheChord) {
  TPathPoint p[3] = {At(0, 0, 0), At(3, 0, 0), At(6, 0, 0)};
  BuildPathHandles(p, 3);
  ExpectNear(p[1].InHandle, {2, 0, 0}, 1e-6f);
  ExpectNear(p[1].OutHandle, {4, 0, 0}, 1e-6f);
  // End points: the outer handle on the point, the inner one a third of the way in.
  ExpectEq(p[0].InHandle, {0, 0, 0});
  ExpectEq(p[0].OutHandle, {1, 0, 0});
  ExpectEq(p[2].OutHandle, {6, 0, 0});
  ExpectEq(p[2].InHandle, {5, 0, 0});
}

TEST(BuildPathHandles, RightAngleLengthensTheTangentByAQuarter) {
  TPathPoint p[3] = {At(0, 0, 0), At(6, 0, 0), At(6, 6, 0)};
  BuildPathHandles(p, 3);
  // r = (6, 6, 0) / 6 * 1.25
  ExpectNear(p[1].OutHandle, {7.25f, 1.25f, 0}, 1e-5f);
  ExpectNear(p[1].InHandle, {4.75f, -1.25f, 0}, 1e-5f);
}

TEST(BuildPathHandles, ReversalAndCoincidentNeighboursGiveNoLengthening) {
  TPathPoint reversal[3] = {At(0, 0, 0), At(6, 0, 0), At(3, 0, 0)};
  BuildPathHandles(reversal, 3);
  ExpectNear(reversal[1].OutHandle, {6.5f, 0, 0}, 1e-6f);  // r = (3, 0, 0) / 6

  TPathPoint coincident[3] = {At(0, 0, 0), At(0, 0, 0), At(6, 0, 0)};
  BuildPathHandles(coincident, 3);
  ExpectNear(coincident[1].OutHandle, {1, 0, 0}, 1e-6f);
  EXPECT_FALSE(std::isnan(coincident[1].InHandle.x));
}

TEST(BuildPathHandles, FewerThanThreePointsAreLeftAlone) {
  TPathPoint p[2] = {{{1, 2, 3}, {7, 7, 7}, {8, 8, 8}}, {{4, 5, 6}, {9, 9, 9}, {1, 1, 1}}};
  BuildPathHandles(p, 2);
  ExpectEq(p[0].InHandle, {7, 7, 7});
  ExpectEq(p[1].OutHandle, {1, 1, 1});
}

TEST(EvalPath, LeavesTheResultAloneOutsideTheCurve) {
  TPathPoint p[3] = {At(0, 0, 0), At(3, 0, 0), At(6, 3, 0)};
  BuildPathHandles(p, 3);
  const TVector3 untouched{-9, -9, -9};
  for (float t : {2.0f, 2.5f, -0.001f, -1.0f, std::nanf("")}) {
    TVector3 result = untouched;
    EvalPath(p, 3, t, result);
    ExpectEq(result, untouched);
  }
  TVector3 result{};
  EvalPath(p, 3, 0.0f, result);
  ExpectEq(result, p[0].Position);
  EvalPath(p, 3, 1.0f, result);
  ExpectEq(result, p[1].Position);
  EvalPath(p, 3, std::nextafter(2.0f, 0.0f), result);
  ExpectNear(result, p[2].Position, 1e-4f);
}

TEST(InitPath, DrawsSixPointsInTheFlatBoxAndStartsAtTheSecond) {
  TKlvRandom random(5);
  TFlightPath path;
  InitPath(path, random);
  EXPECT_EQ(path.Range, 200.0f);
  EXPECT_EQ(path.Param, 0.0f);
  for (const TPathPoint& point : path.Points) {
    EXPECT_GE(point.Position.x, -100.0f);
    EXPECT_LT(point.Position.x, 100.0f);
    EXPECT_GE(point.Position.y, -100.0f);
    EXPECT_LT(point.Position.y, 100.0f);
    EXPECT_GE(point.Position.z, -20.0f);
    EXPECT_LT(point.Position.z, 20.0f);
  }
  ExpectEq(path.Current, path.Points[1].Position);
  ExpectEq(path.Previous, path.Points[1].Position);

  TKlvRandom same(5);
  TFlightPath twin;
  InitPath(twin, same);
  for (int i = 0; i < kPathPointCount; ++i) ExpectEq(twin.Points[i].OutHandle, path.Points[i].OutHandle);
}

TEST(AdvancePath, FirstStepJumpsJustPastTheThirdPoint) {
  TKlvRandom random(8);
  TFlightPath path;
  InitPath(path, random);
  const TVector3 second = path.Points[1].Position;
  AdvancePath(path, random);
  ExpectEq(path.Previous, second);
  EXPECT_EQ(path.Param, 0.005f);
  TVector3 expected{};
  EvalPath(path.Points, kPathPointCount, 2.005f, expected);
  ExpectEq(path.Current, expected);
  EXPECT_LT(Distance(path.Current, path.Points[2].Position), 5.0f);
}

TEST(AdvancePath, ShiftsTheWindowOnTheTwoHundredAndFirstStepWithoutAJump) {
  TKlvRandom random(21);
  TFlightPath path;
  InitPath(path, random);
  for (int step = 0; step < 200; ++step) AdvancePath(path, random);
  EXPECT_LE(path.Param, 1.0f);
  const TPathPoint fourth = path.Points[3];
  const TPathPoint sixth = path.Points[5];
  const TVector3 before = path.Current;

  AdvancePath(path, random);
  EXPECT_NEAR(path.Param, 0.005f, 1e-5f);
  ExpectEq(path.Points[2].Position, fourth.Position);
  ExpectEq(path.Points[4].Position, sixth.Position);
  ExpectEq(path.Previous, before);
  EXPECT_LT(Distance(path.Current, path.Points[2].Position), 5.0f);
  EXPECT_LT(Distance(path.Current, before), 10.0f);
}

TEST(AdvancePath, MovesInSmallStepsForTenThousandSteps) {
  // A segment's Bezier legs are at most about 520 long in the 200 x 200 x 40 box, so one step of
  // 0.005 moves at most 3 * 520 * 0.005, about 8.
  constexpr float kMaxStep = 8.0f;
  for (uint64_t seed : {1u, 2u, 3u}) {
    TKlvRandom random(seed);
    TFlightPath path;
    InitPath(path, random);
    AdvancePath(path, random);  // the first step jumps a whole segment
    float longest = 0.0f;
    int shifts = 0;
    for (int step = 0; step < 10000; ++step) {
      const float param = path.Param;
      AdvancePath(path, random);
      shifts += path.Param < param;
      const float moved = Distance(path.Current, path.Previous);
      ASSERT_TRUE(std::isfinite(moved)) << "step " << step;
      longest = std::max(longest, moved);
    }
    EXPECT_LT(longest, kMaxStep);
    EXPECT_GT(longest, 0.0f);
    EXPECT_GE(shifts, 10000 / 202);  // one shift every 200 or 201 steps
    EXPECT_LE(shifts, 10000 / 199);
  }
}

}  // namespace
