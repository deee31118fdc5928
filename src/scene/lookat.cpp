// The look-at builder and the reflection (sphere-map) pass.
#include "scene/lookat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory_resource>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kCoincident = 1e-8f;
constexpr float kVerticalX = 1e-8f;
constexpr float kQuarterTurn = 1.5707964f;
constexpr float kShortView = 1e-7f;
constexpr double kPoleRadius = 1e-10;
constexpr double kInnerRadius = 0.25;
constexpr double kMapCentre = 0.5;
constexpr int32_t kEnvMapOn = 1;

// Sphere-map coordinates of a direction: the half space ez < 0 fills the disk of radius 0.25
// around the centre, the half space ez >= 0 the ring out to radius 0.5.
void SphereMapCoordinates(const TVector3& e, double& s, double& t) {
  if (e.z < 0.0f) {
    s = kInnerRadius * e.x + kMapCentre;
    t = kInnerRadius * e.y + kMapCentre;
    return;
  }
  const double q = std::sqrt(double(e.x) * e.x + double(e.y) * e.y);
  if (q <= kPoleRadius) {
    s = 1.0;
    t = 1.0;
    return;
  }
  const double radius = (1.0 + e.z) * kInnerRadius;
  s = radius * e.x / q + kMapCentre;
  t = radius * e.y / q + kMapCentre;
}

void MapObject(TSceneObject* obj, const TMatrix44& world, const TMatrix44& reflection, const TVector3& camera) {
  const double dx = double(world(3, 0)) - camera.x;
  const double dy = double(world(3, 1)) - camera.y;
  const double dz = double(world(3, 2)) - camera.z;
  const double lengthSquared = dx * dx + dy * dy + dz * dz;
  const double norm = lengthSquared > kShortView ? std::sqrt(lengthSquared) : 1.0;
  const TVector3 view{static_cast<float>(dx / norm), static_cast<float>(dy / norm), static_cast<float>(dz / norm)};
  const TEnvMap& env = obj->EnvMap;

  for (int32_t i = 0; i < obj->VertexCount; ++i) {
    TMeshVertex& vertex = obj->Vertices[i];
    const TVector3 n = TransformDirection({vertex.NX, vertex.NY, vertex.NZ}, world);
    const double twice = 2.0 * (double(n.x) * view.x + double(n.y) * view.y + double(n.z) * view.z);
    const TVector3 reflected{static_cast<float>(view.x - twice * n.x), static_cast<float>(view.y - twice * n.y),
                             static_cast<float>(view.z - twice * n.z)};
    const TVector3 turned = TransformDirection(reflected, reflection);
    double s = 0.0, t = 0.0;
    SphereMapCoordinates({-turned.x, -turned.y, -turned.z}, s, t);
    vertex.U = static_cast<float>(s * env.Scale + env.OffsetU);
    vertex.V = static_cast<float>(t * env.Scale + env.OffsetV);
  }
}

// A branch of the walk still to do: an object and the world matrix of its parent.
struct TPendingSibling {
  TSceneObject* Object;
  TMatrix44 ParentWorld;
};

// Room for this many pending siblings on the stack of the walk before it asks the heap.
constexpr std::size_t kInlinePending = 48;

}  // namespace

TMatrix44 BuildLookAt(const TVector3& eye, const TVector3& target) {
  const float dx = target.x - eye.x;
  const float dy = target.y - eye.y;
  const float dz = target.z - eye.z;
  const float lengthSquared = static_cast<float>(double(dx) * dx + double(dy) * dy + double(dz) * dz);
  if (lengthSquared <= kCoincident) {
    return MatrixIdentity;
  }
  const float inverseLength = static_cast<float>(1.0 / std::sqrt(double(lengthSquared)));
  const float ux = static_cast<float>(double(dx) * inverseLength);
  const float uy = static_cast<float>(double(dy) * inverseLength);
  // Rounded to float, z of a nearly vertical direction can exceed 1 by an ulp; the arccos of that
  // would make the whole matrix NaN.
  const float uz = std::clamp(static_cast<float>(double(dz) * inverseLength), -1.0f, 1.0f);

  float yaw;
  if (std::fabs(ux) > kVerticalX) {
    yaw = static_cast<float>(std::atan(double(uy) / ux));
  } else {
    yaw = uy > 0.0f ? kQuarterTurn : -kQuarterTurn;
  }
  if (ux < 0.0f) yaw = static_cast<float>(yaw + kPi);
  if (yaw > kPi) yaw = static_cast<float>(yaw - 2.0 * kPi);
  if (yaw < -kPi) yaw = static_cast<float>(yaw + 2.0 * kPi);
  const float pitch = static_cast<float>(std::acos(double(uz)));

  TMatrix44 heading, tilt, result;
  MatrixSetRotTrans(heading, 0, 0, 0, 0, 0, static_cast<float>(yaw + kPi / 2.0));
  MatrixSetRotTrans(tilt, 0, 0, 0, pitch, 0, 0);
  MatrixMultiply(tilt, heading, result);
  result(3, 0) = eye.x;
  result(3, 1) = eye.y;
  result(3, 2) = eye.z;
  return result;
}

void UpdateReflectionUV(TSceneObject* root, const TMatrix44& reflection, const TVector3& camera) {
  if (root == nullptr) {
    return;
  }
  // Depth first without recursion: each object is followed by its children, then by its later
  // siblings. Going down to a first child, the later siblings wait on a list with their parent's
  // world matrix, so the list is never longer than the tree is deep. It lives in a stack buffer:
  // ordinary trees cost no allocation, deeper ones spill to the heap.
  std::array<std::byte, (kInlinePending + 1) * sizeof(TPendingSibling)> buffer;
  std::pmr::monotonic_buffer_resource arena(buffer.data(), buffer.size());
  std::pmr::vector<TPendingSibling> pending(&arena);
  pending.reserve(kInlinePending);

  const TMatrix44& rootWorld = root->Local;
  if (root->EnvMap.Enabled == kEnvMapOn) {
    MapObject(root, rootWorld, reflection, camera);
  }
  if (root->FirstChild != nullptr) {
    pending.push_back({root->FirstChild, rootWorld});
  }
  while (!pending.empty()) {
    TSceneObject* current = pending.back().Object;
    TMatrix44 parentWorld = pending.back().ParentWorld;
    pending.pop_back();
    while (current != nullptr) {
      TMatrix44 world;
      MatrixMultiply(current->Local, parentWorld, world);
      if (current->EnvMap.Enabled == kEnvMapOn) {
        MapObject(current, world, reflection, camera);
      }
      if (current->FirstChild == nullptr) {
        current = current->Next;
        continue;
      }
      if (current->Next != nullptr) {
        pending.push_back({current->Next, parentWorld});
      }
      parentWorld = world;
      current = current->FirstChild;
    }
  }
}
