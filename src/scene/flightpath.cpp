// Handles, evaluation, set-up and stepping of the flight paths. Values described as stored are
// rounded to float at that point; intermediates are doubles.
#include "scene/flightpath.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPathRange = 200.0f;
constexpr float kFlatness = 5.0f;  // the box of new points is this many times flatter in z
constexpr float kDegenerateChord = 1e-7f;
constexpr double kStep = 0.005;
constexpr double kTwoPi = 6.283185307179586;
// Param + this offset evaluates the segment from point 2 to point 3.
constexpr double kMiddleSegment = 2.0;

TVector3 RandomPosition(float range, TKlvRandom& random) {
  const double half = range / 2.0;
  const float x = static_cast<float>(random.Uniform() * range - half);
  const float y = static_cast<float>(random.Uniform() * range - half);
  const float z = static_cast<float>((random.Uniform() * range - half) / kFlatness);
  return {x, y, z};
}

double SquaredLength(double x, double y, double z) { return x * x + y * y + z * z; }

// Handle of an end point: one third of the way towards its neighbour.
TVector3 EndHandle(const TVector3& p, const TVector3& neighbour) {
  return {static_cast<float>((2.0 * p.x + neighbour.x) / 3.0), static_cast<float>((2.0 * p.y + neighbour.y) / 3.0),
          static_cast<float>((2.0 * p.z + neighbour.z) / 3.0)};
}

// Lengthening of an interior tangent: arccos of the turn's cosine (sign dropped) over 2 pi, 0 for
// a straight run, a full reversal or a chord too short to have a direction.
double TurnFactor(const TVector3& prev, const TVector3& p, const TVector3& next) {
  const double ox = double(next.x) - p.x, oy = double(next.y) - p.y, oz = double(next.z) - p.z;
  const double ix = double(p.x) - prev.x, iy = double(p.y) - prev.y, iz = double(p.z) - prev.z;
  const float outgoing = static_cast<float>(SquaredLength(ox, oy, oz));
  const float incoming = static_cast<float>(SquaredLength(ix, iy, iz));
  if (incoming <= kDegenerateChord || outgoing <= kDegenerateChord) {
    return 0.0;
  }
  float k =
      static_cast<float>((ox * ix + oy * iy + oz * iz) / (std::sqrt(double(incoming)) * std::sqrt(double(outgoing))));
  // The squared lengths are rounded to float, so a straight run can give a cosine a hair above 1.
  k = std::min(std::fabs(k), 1.0f);
  return std::acos(double(k)) / kTwoPi;
}

}  // namespace

void BuildPathHandles(TPathPoint* points, int32_t n) {
  if (n < 3) {
    return;
  }
  points[0].InHandle = points[0].Position;
  points[0].OutHandle = EndHandle(points[0].Position, points[1].Position);
  for (int32_t i = 1; i < n - 1; ++i) {
    const TVector3& prev = points[i - 1].Position;
    const TVector3& p = points[i].Position;
    const TVector3& next = points[i + 1].Position;
    const double lengthen = TurnFactor(prev, p, next) + 1.0;
    const float rx = static_cast<float>((double(next.x) - prev.x) / 6.0 * lengthen);
    const float ry = static_cast<float>((double(next.y) - prev.y) / 6.0 * lengthen);
    const float rz = static_cast<float>((double(next.z) - prev.z) / 6.0 * lengthen);
    points[i].InHandle = {p.x - rx, p.y - ry, p.z - rz};
    points[i].OutHandle = {p.x + rx, p.y + ry, p.z + rz};
  }
  points[n - 1].OutHandle = points[n - 1].Position;
  points[n - 1].InHandle = EndHandle(points[n - 1].Position, points[n - 2].Position);
}

void EvalPath(const TPathPoint* points, int32_t n, float t, TVector3& result) {
  // Written so that a NaN parameter is refused as well.
  if (!(t >= 0.0f && t < static_cast<float>(n - 1))) {
    return;
  }
  const int32_t i = static_cast<int32_t>(t);
  const float s = t - static_cast<float>(i);
  const float u = 1.0f - s;
  const float b0 = static_cast<float>(double(u) * u * u);
  const float b1 = static_cast<float>(3.0 * u * u * s);
  const float b2 = static_cast<float>(3.0 * u * s * s);
  const float b3 = static_cast<float>(double(s) * s * s);
  const TPathPoint& from = points[i];
  const TPathPoint& to = points[i + 1];
  const auto blend = [&](float p0, float h0, float h1, float p1) {
    return static_cast<float>(double(b0) * p0 + double(b1) * h0 + double(b2) * h1 + double(b3) * p1);
  };
  result = {blend(from.Position.x, from.OutHandle.x, to.InHandle.x, to.Position.x),
            blend(from.Position.y, from.OutHandle.y, to.InHandle.y, to.Position.y),
            blend(from.Position.z, from.OutHandle.z, to.InHandle.z, to.Position.z)};
}

void InitPath(TFlightPath& path, TKlvRandom& random) {
  path = TFlightPath{};
  path.Range = kPathRange;
  for (TPathPoint& point : path.Points) {
    point.Position = RandomPosition(path.Range, random);
  }
  path.Param = 0.0f;
  BuildPathHandles(path.Points, kPathPointCount);
  EvalPath(path.Points, kPathPointCount, 1.0f, path.Current);
  path.Previous = path.Current;
}

void AdvancePath(TFlightPath& path, TKlvRandom& random) {
  path.Param = static_cast<float>(path.Param + kStep);
  if (path.Param > 1.0f) {
    std::copy(path.Points + 1, path.Points + kPathPointCount, path.Points);
    path.Points[kPathPointCount - 1].Position = RandomPosition(path.Range, random);
    path.Param = static_cast<float>(path.Param - 1.0);
    BuildPathHandles(path.Points, kPathPointCount);
  }
  path.Previous = path.Current;
  EvalPath(path.Points, kPathPointCount, static_cast<float>(path.Param + kMiddleSegment), path.Current);
}
