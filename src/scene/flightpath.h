// Flight paths: endless random curves made of cubic Bezier segments through a window of six
// random points. The scene assembly fills four of them and the scene step advances them once per
// step and places the camera and the flying objects from their last two positions.
#pragma once

#include <cstdint>

#include "model/matrix.h"
#include "model/random.h"

struct TPathPoint {
  TVector3 Position;   // the point the curve passes through
  TVector3 InHandle;   // Bezier control point on the incoming side
  TVector3 OutHandle;  // Bezier control point on the outgoing side
};

constexpr int32_t kPathPointCount = 6;

struct TFlightPath {
  TPathPoint Points[kPathPointCount];  // the current window of the curve, oldest first
  float Range;                         // new points come from a box this wide in x and y, a fifth of it in z
  float Param;                         // position within the middle segment, (0, 1] between steps
  TVector3 Current;                    // curve position after the last advance
  TVector3 Previous;                   // curve position before the last advance
};

// Recomputes InHandle and OutHandle of all n points; does nothing when n < 3.
void BuildPathHandles(TPathPoint* points, int32_t n);
// The curve position at t (segment Trunc(t), 0 <= t < n - 1). Outside that range, NaN included,
// result is left as it was.
void EvalPath(const TPathPoint* points, int32_t n, float t, TVector3& result);
// Six fresh random points drawn from random; Current and Previous at the second point.
void InitPath(TFlightPath& path, TKlvRandom& random);
// One step along the middle segment; past its end the window shifts by one new random point.
void AdvancePath(TFlightPath& path, TKlvRandom& random);
