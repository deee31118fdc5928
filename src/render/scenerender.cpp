// The scene pass. Stored quantities (positions, intensity, rhw, fog amount, screen values) are
// rounded to float where they are stored; intermediates are double; thresholds are float
// constants, so a depth stored as 0.01f compares equal to the near threshold.
#include "render/scenerender.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double kSmallDepthScale = 100.0;  // rhw of a vertex at |Z| <= kNearZ; times Zoom for a box corner
constexpr double kDiffuseSlope = 0.2;
constexpr double kDiffuseBase = 0.6;
constexpr double kColorScale = 255.0;
constexpr uint32_t kHighlightOffset = 63;
constexpr double kInsideFogSlope = 2.0;  // fog slope of wholly inside objects, instead of FogScale

enum class Coverage { Outside, Partly, Wholly };

struct ScreenBox {
  float minX, maxX, minY, maxY, minZ, maxZ;
};

// The screen rectangle and normalised depth range of the object's eight box corners.
ScreenBox ProjectBounds(const TKlvViewContext& view, const TSceneObject& obj, const TMatrix44& full) {
  ScreenBox box{HUGE_VALF, -HUGE_VALF, HUGE_VALF, -HUGE_VALF, HUGE_VALF, -HUGE_VALF};
  for (int corner = 0; corner < 8; ++corner) {
    const TVector3 p{(corner & 1) ? obj.BoundsMax.x : obj.BoundsMin.x, (corner & 2) ? obj.BoundsMax.y : obj.BoundsMin.y,
                     (corner & 4) ? obj.BoundsMax.z : obj.BoundsMin.z};
    const TVector3 v = TransformPoint(p, full);
    const double s = std::fabs(v.z) <= kNearZ ? kSmallDepthScale * view.Zoom : std::fabs(view.Zoom / double{v.z});
    const float sx = static_cast<float>(v.x * s + view.HalfWidth);
    const float sy = static_cast<float>(v.y * s + view.HalfHeight);
    box.minX = std::min(box.minX, sx);
    box.maxX = std::max(box.maxX, sx);
    box.minY = std::min(box.minY, sy);
    box.maxY = std::max(box.maxY, sy);
    box.minZ = std::min(box.minZ, v.z);
    box.maxZ = std::max(box.maxZ, v.z);
  }
  box.minZ = static_cast<float>(box.minZ / double{kFarZ});
  box.maxZ = static_cast<float>(box.maxZ / double{kFarZ});
  return box;
}

Coverage Classify(const TKlvViewContext& view, const ScreenBox& b) {
  if (b.minX > 0 && b.maxX < view.ViewWidthF && b.minY > 0 && b.maxY < view.ViewHeightF && b.minZ > 0 && b.maxZ < 1)
    return Coverage::Wholly;
  if (b.maxX >= 0 && b.minX <= view.ViewWidthF && b.maxY >= 0 && b.minY <= view.ViewHeightF && b.maxZ >= 0 &&
      b.minZ <= 1)
    return Coverage::Partly;
  return Coverage::Outside;
}

uint32_t ScaleChannel(uint32_t color, int shift, uint32_t k) { return ((color >> shift & 0xFF) * k / 256) << shift; }

// Truncation towards zero into 0..255; NaN gives 0. Unit normals keep every caller's value inside
// the range, so the clamp only matters for longer normals or a damaged model.
uint32_t TruncByte(double value) {
  if (!(value > 0)) return 0;
  return value < 255 ? static_cast<uint32_t>(value) : 255;
}

// Transforms, projects, lights and fogs every vertex of obj into the frame's buffer.
void TransformVertices(TKlvViewContext& view, TSceneObject& obj, const TMatrix44& full, const float (&light)[3],
                       Coverage coverage) {
  const double fogSlope = coverage == Coverage::Wholly ? kInsideFogSlope : view.FogScale;
  const bool partly = coverage == Coverage::Partly;
  obj.VertexBase = view.TLVertexCount;
  D3DTLVERTEX* out = view.TLVertices + view.TLVertexCount;
  for (int32_t i = 0; i < obj.VertexCount; ++i, ++out) {
    TMeshVertex& v = obj.Vertices[i];
    const TVector3 p = TransformPoint({v.X, v.Y, v.Z}, full);
    const float intensity = static_cast<float>(
        (double{v.NX} * light[0] + double{v.NY} * light[1] + double{v.NZ} * light[2]) * kDiffuseSlope + kDiffuseBase);
    const float rhw =
        std::fabs(p.z) <= kNearZ ? static_cast<float>(kSmallDepthScale) : static_cast<float>(view.Zoom / double{p.z});
    out->sx = static_cast<float>(double{p.x} * rhw + view.HalfWidth);
    out->sy = static_cast<float>(double{p.y} * rhw + view.HalfHeight);
    out->sz = static_cast<float>(p.z / double{kFarZ});
    out->rhw = rhw;

    float fog = 0;
    if (out->sz > view.FogStart) fog = std::min(static_cast<float>((double{out->sz} - view.FogStart) * fogSlope), 1.0f);
    const uint32_t k = TruncByte(intensity * kColorScale);
    out->color = (v.Color & 0xFF000000u) | ScaleChannel(v.Color, 16, k) | ScaleChannel(v.Color, 8, k) |
                 ScaleChannel(v.Color, 0, k);
    const uint32_t highlight = k > kHighlightOffset ? (k - kHighlightOffset) / 2 : 0;
    const uint32_t fogByte = TruncByte((1.0 - fog) * kColorScale + 1.0);
    out->specular = fogByte << 24 | highlight << 16 | highlight << 8 | highlight;
    out->tu = v.U;
    out->tv = v.V;
    v.OnScreen = partly && out->sx > 0 && out->sx < view.ViewWidth && out->sy > 0 && out->sy < view.ViewHeight &&
                 p.z > kNearZ && p.z < kFarZ;
  }
  view.TLVertexCount += obj.VertexCount;
}

// A partly inside face is dropped when the screen box of its first three (or four) vertices lies
// wholly beyond one edge or outside the depth range.
bool FaceOffScreen(const TKlvViewContext& view, const TSceneObject& obj, const TMeshFace& face) {
  const int corners = face.IndexCount < 4 ? 3 : 4;
  float minX = HUGE_VALF, maxX = -HUGE_VALF, minY = HUGE_VALF, maxY = -HUGE_VALF, minZ = HUGE_VALF, maxZ = -HUGE_VALF;
  for (int k = 0; k < corners; ++k) {
    const D3DTLVERTEX& t = view.TLVertices[obj.VertexBase + face.Indices[k]];
    minX = std::min(minX, t.sx);
    maxX = std::max(maxX, t.sx);
    minY = std::min(minY, t.sy);
    maxY = std::max(maxY, t.sy);
    minZ = std::min(minZ, t.sz);
    maxZ = std::max(maxZ, t.sz);
  }
  return minX > view.ViewWidthF || maxX < 0 || minY > view.ViewHeightF || maxY < 0 || minZ > 1 || maxZ < 0;
}

bool AllOnScreen(const TSceneObject& obj, const TMeshFace& face) {
  for (int32_t k = 0; k < face.IndexCount; ++k)
    if (obj.Vertices[face.Indices[k]].OnScreen != 1) return false;
  return true;
}

void QueueFaces(TKlvViewContext& view, TSceneObject& obj, Coverage coverage) {
  for (int32_t f = 0; f < obj.FaceCount; ++f) {
    TMeshFace& face = obj.Faces[f];
    if (face.IndexCount < 3 || face.Texture == nullptr || face.Texture->Index < 0 ||
        face.Texture->Index >= kBucketCount)
      continue;
    if (coverage == Coverage::Wholly) {
      face.ClipCode = kClipNone;
    } else {
      if (FaceOffScreen(view, obj, face)) continue;
      face.ClipCode = AllOnScreen(obj, face) ? kClipNone : kClipMaybe;
    }
    if (view.NodeCount >= view.MaxFaces) continue;  // a full frame drops the rest
    TKlvFaceNode& node = view.NodePool[view.NodeCount++];
    node.Face = &face;
    node.NextNode = view.Buckets[face.Texture->Index];
    view.Buckets[face.Texture->Index] = &node;
  }
}

// One object's own work: matrices, light direction, classification, vertices and faces.
// Returns the full matrix and the light matrix that its children are given.
void TransformObject(TKlvViewContext& view, TSceneObject& obj, const TMatrix44& parent, const TMatrix44& parentLight,
                     TMatrix44& full, TMatrix44& light) {
  TMatrix44 local;
  MatrixMultiply(obj.Local, obj.Base, local);
  MatrixMultiply(local, parent, full);
  MatrixMultiply(obj.Local, parentLight, light);
  const TVector3 d = view.LightDir;
  float objectLight[3];
  for (int i = 0; i < 3; ++i)
    objectLight[i] =
        static_cast<float>(double{d.x} * light(i, 0) + double{d.y} * light(i, 1) + double{d.z} * light(i, 2));
  obj.World = full;

  const Coverage coverage = Classify(view, ProjectBounds(view, obj, full));
  if (coverage == Coverage::Outside) return;
  if (obj.VertexCount > VertexLimit(view) - view.TLVertexCount) return;  // does not fit this frame
  TransformVertices(view, obj, full, objectLight, coverage);
  QueueFaces(view, obj, coverage);
}

// The matrices handed to one level of the tree and the object of that level being walked.
struct WalkLevel {
  TMatrix44 parent;
  TMatrix44 parentLight;
  TSceneObject* obj;
};

}  // namespace

void TransformObjectTree(TKlvViewContext& view, const TMatrix44& parent, const TMatrix44& parentLight,
                         TSceneObject* obj) {
  // Depth-first, pre-order, with an explicit stack: an object, its subtree, then its later siblings.
  std::array<WalkLevel, kMaxTreeDepth> levels;
  int depth = 0;
  levels[0] = {parent, parentLight, obj};
  while (depth >= 0) {
    WalkLevel& level = levels[depth];
    TSceneObject* current = level.obj;
    if (current == nullptr) {
      if (--depth >= 0) levels[depth].obj = levels[depth].obj->Next;
      continue;
    }
    if (current->Visible == 1) {
      TMatrix44 full;
      TMatrix44 light;
      TransformObject(view, *current, level.parent, level.parentLight, full, light);
      if (current->FirstChild != nullptr && depth + 1 < kMaxTreeDepth) {
        levels[depth + 1] = {full, light, current->FirstChild};
        ++depth;
        continue;
      }
    }
    level.obj = current->Next;
  }
}
