// The measures of klvstat: where a model lies in the world and how the camera meets it. A model's
// box is the world-space axis-aligned box around the bounds of every object of its tree, each
// placed by its own chain of Local x Base matrices up to the root (the world matrix the renderer
// builds, without the camera). A frame counts against a model when the camera is inside that box,
// or when the camera is nearer to the box than the box is large and the model covers more than a
// given share of the picture.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/matrix.h"
#include "model/sceneobject.h"

namespace klvtools {

struct WorldBox {
  TVector3 Min{0, 0, 0}, Max{0, 0, 0};
  bool Empty = true;

  void Grow(const TVector3& p) {
    if (Empty) {
      Min = Max = p;
      Empty = false;
      return;
    }
    Min = {std::min(Min.x, p.x), std::min(Min.y, p.y), std::min(Min.z, p.z)};
    Max = {std::max(Max.x, p.x), std::max(Max.y, p.y), std::max(Max.z, p.z)};
  }
  bool Contains(const TVector3& p) const {
    return !Empty && p.x >= Min.x && p.x <= Max.x && p.y >= Min.y && p.y <= Max.y && p.z >= Min.z && p.z <= Max.z;
  }
  // The longest edge.
  double Size() const { return Empty ? 0.0 : std::max({Max.x - Min.x, Max.y - Min.y, Max.z - Min.z}); }
  // From p to the nearest point of the box; 0 inside.
  double Distance(const TVector3& p) const {
    const auto gap = [](double v, double lo, double hi) { return v < lo ? lo - v : v > hi ? v - hi : 0.0; };
    const double dx = gap(p.x, Min.x, Max.x), dy = gap(p.y, Min.y, Max.y), dz = gap(p.z, Min.z, Max.z);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  }
};

// The matrix that takes obj's own coordinates to the world: its Local x Base, then its parent's.
inline TMatrix44 WorldMatrix(const TSceneObject* obj) {
  TMatrix44 world = MatrixIdentity;
  for (; obj != nullptr; obj = obj->Parent) {
    TMatrix44 own, next;
    MatrixMultiply(obj->Local, obj->Base, own);
    MatrixMultiply(world, own, next);
    world = next;
  }
  return world;
}

// The world box of `model` and its descendants (not its later siblings). Objects without geometry
// add nothing.
inline WorldBox ModelBox(const TSceneObject* model) {
  WorldBox box;
  std::vector<const TSceneObject*> pending{model};
  while (!pending.empty()) {
    const TSceneObject* obj = pending.back();
    pending.pop_back();
    for (const TSceneObject* child = obj->FirstChild; child != nullptr; child = child->Next) pending.push_back(child);
    if (obj->VertexCount == 0 && obj->PointCount == 0) continue;
    const TMatrix44 world = WorldMatrix(obj);
    const TVector3 lo = obj->BoundsMin, hi = obj->BoundsMax;
    for (int corner = 0; corner < 8; ++corner) {
      const TVector3 p{corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z};
      box.Grow(TransformPoint(p, world));
    }
  }
  return box;
}

// An upper bound of the share of the picture that anything inside the box can cover, seen by
// `camera` (rows right, down, forward, position) with the view's projection: sx = Zoom x / z in
// half widths, sy = Zoom y / z in half widths, so `aspect` (half width / half height) half heights.
// 1 when a corner of the box is not in front of the camera, where no bound is known.
inline double ProjectedShare(const WorldBox& box, const TMatrix44& camera, double zoom, double aspect) {
  if (box.Empty) return 0.0;
  double left = 1e30, right = -1e30, top = 1e30, bottom = -1e30;
  for (int corner = 0; corner < 8; ++corner) {
    const TVector3 p{corner & 1 ? box.Max.x : box.Min.x, corner & 2 ? box.Max.y : box.Min.y,
                     corner & 4 ? box.Max.z : box.Min.z};
    double c[3];
    for (int axis = 0; axis < 3; ++axis) {
      c[axis] = (double{p.x} - camera(3, 0)) * camera(axis, 0) + (double{p.y} - camera(3, 1)) * camera(axis, 1) +
                (double{p.z} - camera(3, 2)) * camera(axis, 2);
    }
    if (c[2] <= 0) return 1.0;
    const double sx = zoom * c[0] / c[2], sy = zoom * aspect * c[1] / c[2];
    left = std::min(left, sx);
    right = std::max(right, sx);
    top = std::min(top, sy);
    bottom = std::max(bottom, sy);
  }
  const double width = std::clamp(right, -1.0, 1.0) - std::clamp(left, -1.0, 1.0);
  const double height = std::clamp(bottom, -1.0, 1.0) - std::clamp(top, -1.0, 1.0);
  return width * height / 4;
}

// The share of pixels that differ between two pictures of the same size.
inline double ChangedShare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.empty() || a.size() != b.size()) return 0.0;
  size_t changed = 0;
  for (size_t i = 0; i < a.size(); ++i) changed += a[i] != b[i];
  return static_cast<double>(changed) / static_cast<double>(a.size());
}

// Frames counted against one model.
struct ModelTally {
  long long inside = 0;  // the camera inside the model's box
  long long filled = 0;  // not inside, but near and covering more than the given share
  long long Either() const { return inside + filled; }
};

// Whether a camera at `eye` is near enough to the box for the coverage test: closer than the
// box's own size.
inline bool Near(const WorldBox& box, const TVector3& eye) { return !box.Empty && box.Distance(eye) < box.Size(); }

}  // namespace klvtools
