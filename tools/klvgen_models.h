// The models of the data set, built in the frames the scene poses them in:
// - sky: seen from inside, model +z the zenith (the scene flips it and scales it by 120);
// - tree, building: model +z up, the ground at model z 0.25 (tree, scale 20) or -2.5 (building, scale 10);
// - plane: model +z forward, +x up, +y right (the scene turns it by -90 degrees about z);
// - chrome object: model +y forward, +z up, +x right (the scene turns it by 90 degrees about x);
// - fugu: model +z forward with the head at the largest z, +y down, +x right; three fin objects.
#pragma once

#include "klvgen_geom.h"
#include "klvgen_image.h"
#include "klvgen_textures.h"

namespace klvgen {

// The sky: above the horizon a dome of radius kSkyDome (150 units once scaled), near enough for its
// blue and clouds to show through the fog and far enough not to cut off much of the flying objects
// and the building; from just above the horizon down, a skirt of radius kSkySkirt (384 units),
// far enough for the fog to turn it and the edge of the terrain window in front of it into the same
// fog colour. A flat ring just above the horizon joins the two; seen only from below, it shows haze.
constexpr double kSkyDome = 1.25, kSkySkirt = 3.2;
constexpr double kSkySkirtTopDeg = 1.0, kSkyDomeBottomDeg = 3.0;

inline KlvModelDesc SkyModel() {
  constexpr int kRingsEach = 8, kSegments = 32;
  KlvModelDesc model;
  model.TextureNames = {"sky.bmp"};
  KlvObjectDesc sky;
  MeshBuilder mesh(sky);
  std::vector<MeshBuilder::Profile> profile;
  const auto ring = [&](double latDeg, double radius, bool pole) {
    const double lat = latDeg * kPi / 180;
    profile.push_back({radius * std::sin(lat), pole ? 0.0 : radius * std::cos(lat)});
  };
  for (int k = 0; k <= kRingsEach; ++k) ring(-90 + (90 + kSkySkirtTopDeg) * k / kRingsEach, kSkySkirt, k == 0);
  for (int k = 0; k <= kRingsEach; ++k)
    ring(kSkyDomeBottomDeg + (90 - kSkyDomeBottomDeg) * k / kRingsEach, kSkyDome, k == kRingsEach);
  mesh.Lathe({0, 0, 0}, {0, 0, 1}, {1, 0, 0}, profile, kSegments, {0, 1, 1, 0}, 0, kWhite, false);
  for (KlvVertexDesc& v : sky.Vertices) {
    // u once around; v follows the elevation seen from the centre, 0 at the zenith and 1 at the
    // nadir, whatever the ring's distance.
    v.V = static_cast<float>(0.5 - std::atan2(v.Z, std::hypot(v.X, v.Y)) / kPi);
    // One normal for the whole sky (world +z after the flip): evenly lit, as bright as flat ground.
    v.NX = 0;
    v.NY = 0;
    v.NZ = -1;
  }
  model.Objects.push_back(std::move(sky));
  return model;
}

// The tree: a short trunk and a compact, dense crown. The scene puts the ground under the tree at
// model z kTreeGround and the camera's flight band between model z 1 and 3; the crown's top stays
// in the lowest part of that band and its leaves within 0.55 units (11 scene units) of the trunk, so
// the flight passes beside or above the crown rather than through it.
constexpr double kTreeGround = 0.25, kTreeCrownZ = 1.12;

inline KlvModelDesc TreeModel(uint32_t seed) {
  enum { kBark, kLeaves };
  KlvModelDesc model;
  model.TextureNames = {"bark.bmp", "leaves.bmp"};
  KlvObjectDesc tree;
  MeshBuilder mesh(tree);
  const Vec up{0, 0, 1};
  // The trunk starts a little under the flattened ground and ends inside the crown.
  mesh.Lathe({0, 0, kTreeGround - 0.2}, up, {1, 0, 0}, {{0, 0.075}, {0.4, 0.06}, {0.75, 0.045}, {1.0, 0.025}, {1.1, 0}},
             8, {0, 0, 1, 3}, kBark);
  for (int b = 0; b < 5; ++b) {
    const double a = 2 * kPi * (b + 0.3 * Hash01(b, 0, seed)) / 5;
    const Vec dir = Unit(Vec{std::cos(a), std::sin(a), 1.1});
    const Vec base{0, 0, kTreeCrownZ - 0.25 + 0.05 * b};
    mesh.Lathe(base, dir, Cross(dir, up), {{0, 0.03}, {0.35, 0.012}, {0.38, 0}}, 5, {0, 0, 1, 1}, kBark);
  }
  // An opaque core keeps the crown from looking thin; leafy cards close around it carry the holes.
  constexpr double kCoreRadius = 0.36, kCoreHalfHeight = 0.28;
  std::vector<MeshBuilder::Profile> core;
  for (int k = 0; k <= 6; ++k) {
    const double t = kPi * (k / 6.0 - 0.5);
    core.push_back({kCoreHalfHeight * std::sin(t), kCoreRadius * std::cos(t)});
  }
  mesh.Lathe({0, 0, kTreeCrownZ}, up, {1, 0, 0}, core, 10, {0, 0, 2, 1}, kBark, Argb(60, 110, 50));
  constexpr int kCards = 120;
  constexpr double kCardHalf = 0.14;
  for (int c = 0; c < kCards; ++c) {
    const double a = 2 * kPi * Hash01(c, 1, seed), h = Hash01(c, 2, seed) * 1.8 - 0.8;
    const Vec dir{std::cos(a) * std::sqrt(1 - h * h), std::sin(a) * std::sqrt(1 - h * h), h};
    const double out = 0.8 + 0.2 * Hash01(c, 5, seed);
    const Vec onCore{dir.x * kCoreRadius, dir.y * kCoreRadius, dir.z * kCoreHalfHeight};
    const Vec centre = Vec{0, 0, kTreeCrownZ} + onCore * out;
    const Vec normal = Unit(dir + Vec{Hash01(c, 3, seed) - 0.5, Hash01(c, 4, seed) - 0.5, 0});
    const Vec e1 = Unit(Cross(normal, Vec{0.3, 0.2, 1})) * kCardHalf;
    const Vec e2 = Cross(Unit(normal), e1);
    const Vec p[4] = {centre - e1 - e2, centre + e1 - e2, centre + e1 + e2, centre - e1 + e2};
    mesh.Quad(p, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, normal, kLeaves, kWhite, true);
  }
  model.Objects.push_back(std::move(tree));
  return model;
}

// The building: a slender tower. The scene puts its ground at model z -2.5 and the camera's flight
// band between model z -2 and 2; the tower rises through the lower half of the band only a unit wide
// (10 scene units), so the flight seldom meets it and rarely sees it wall to wall.
inline KlvModelDesc BuildingModel() {
  KlvModelDesc model;
  model.TextureNames = {"building.bmp"};
  KlvObjectDesc building;
  MeshBuilder mesh(building);
  constexpr double kTilesPerUnit = 1.0;  // one texture tile (2 x 2 windows) per model unit
  // A block from z0 to z1 with its half widths; walls tile the facade, the roof samples concrete.
  const auto block = [&](double hx, double hy, double z0, double z1, uint32_t roofColor) {
    const Vec corners[4] = {{-hx, -hy, 0}, {hx, -hy, 0}, {hx, hy, 0}, {-hx, hy, 0}};
    double along = 0;
    for (int s = 0; s < 4; ++s) {
      const Vec a = corners[s], b = corners[(s + 1) % 4];
      const double width = Length(b - a);
      const Vec p[4] = {a + Vec{0, 0, z1}, b + Vec{0, 0, z1}, b + Vec{0, 0, z0}, a + Vec{0, 0, z0}};
      const double u0 = along * kTilesPerUnit, u1 = (along + width) * kTilesPerUnit;
      const double v1 = (z1 - z0) * kTilesPerUnit;
      mesh.Quad(p, {{u0, 0}, {u1, 0}, {u1, v1}, {u0, v1}}, Cross(b - a, Vec{0, 0, 1}), 0);
      along += width;
    }
    const Vec top[4] = {corners[0] + Vec{0, 0, z1}, corners[1] + Vec{0, 0, z1}, corners[2] + Vec{0, 0, z1},
                        corners[3] + Vec{0, 0, z1}};
    mesh.Quad(top, {kConcreteTexel, kConcreteTexel, kConcreteTexel, kConcreteTexel}, {0, 0, 1}, 0, roofColor);
    // No floor: every block stands underground or on the roof of the one below, and a floor would
    // only show, as a dark lid overhead, to a camera flying through the tower.
  };
  block(0.5, 0.5, -4.5, 0.0, Argb(150, 150, 150));   // the slender shaft, two windows a side
  block(0.25, 0.25, 0.0, 0.5, Argb(150, 150, 150));  // a last set-back storey
  block(0.04, 0.04, 0.5, 1.1, Argb(200, 70, 60));    // mast
  model.Objects.push_back(std::move(building));
  return model;
}

// Plane parts are given in (right, up, forward) and stored as model (up, right, forward).
inline Vec PlanePoint(double right, double up, double forward) { return {up, right, forward}; }

inline KlvModelDesc PlaneModel() {
  enum { kPaint, kGlass };
  KlvModelDesc model;
  model.TextureNames = {"plane.bmp", "chrome.bmp"};
  KlvObjectDesc plane;
  MeshBuilder mesh(plane);
  const auto box = [&](double r0, double r1, double u0, double u1, double f0, double f1, PlanePaint paint) {
    mesh.Box(PlanePoint(r0, u0, f0), PlanePoint(r1 - r0, 0, 0), PlanePoint(0, u1 - u0, 0), PlanePoint(0, 0, f1 - f0),
             PlaneSwatch(paint), kPaint);
  };
  const Vec forward = PlanePoint(0, 0, 1), up = PlanePoint(0, 1, 0);
  mesh.Lathe(
      PlanePoint(0, 0, -3.0), forward, up,
      {{0, 0}, {0.1, 0.12}, {1.5, 0.36}, {3.0, 0.6}, {4.2, 0.66}, {5.2, 0.6}, {5.6, 0.5}, {5.75, 0.3}, {5.75, 0}}, 14,
      PlaneSwatch(PlanePaint::Metal), kPaint);
  mesh.Lathe(PlanePoint(0, 0, 2.75), forward, up, {{0, 0}, {0, 0.22}, {0.45, 0}}, 10, PlaneSwatch(PlanePaint::Red),
             kPaint);
  box(-0.08, 0.08, -1.3, 1.3, 2.92, 2.98, PlanePaint::Dark);   // propeller
  box(-3.6, 3.6, 0.95, 1.07, 0.4, 1.6, PlanePaint::Yellow);    // upper wing
  box(-3.3, 3.3, -0.55, -0.43, 0.2, 1.4, PlanePaint::Yellow);  // lower wing
  for (double side : {-2.4, 2.4}) {
    box(side - 0.04, side + 0.04, -0.43, 0.95, 0.85, 0.95, PlanePaint::Dark);                // struts
    box(side * 0.25 - 0.05, side * 0.25 + 0.05, -1.0, -0.5, 1.0, 1.1, PlanePaint::Dark);     // gear legs
    box(side * 0.25 - 0.08, side * 0.25 + 0.08, -1.3, -0.95, 0.85, 1.25, PlanePaint::Dark);  // wheels
  }
  box(-1.3, 1.3, 0.0, 0.07, -2.9, -2.3, PlanePaint::Yellow);  // tailplane
  box(-0.04, 0.04, 0.05, 1.1, -3.0, -2.35, PlanePaint::Red);  // fin
  mesh.Box(PlanePoint(-0.25, 0.45, -0.2), PlanePoint(0.5, 0, 0), PlanePoint(0, 0.4, 0), PlanePoint(0, 0, 0.8),
           {0.3, 0.3, 0.7, 0.7}, kGlass);  // canopy
  model.Objects.push_back(std::move(plane));
  return model;
}

inline KlvModelDesc ChromeModel() {
  KlvModelDesc model;
  model.TextureNames = {"chrome.bmp"};
  KlvObjectDesc saucer;
  MeshBuilder mesh(saucer);
  mesh.Lathe({0, 0, 0}, {0, 0, 1}, {1, 0, 0},
             {{-0.6, 0},
              {-0.55, 0.7},
              {-0.42, 1.5},
              {-0.2, 2.5},
              {0, 3.2},
              {0.12, 2.9},
              {0.3, 1.8},
              {0.45, 1.2},
              {0.8, 1.0},
              {1.1, 0.7},
              {1.3, 0.35},
              {1.36, 0}},
             24, {0, 0, 1, 1}, 0);
  // Three tail fins behind the dome (model -y is aft).
  for (int f = -1; f <= 1; ++f) {
    const double a = -kPi / 2 + f * 0.5;
    const Vec out{std::cos(a), std::sin(a), 0};
    const Vec p[4] = {out * 2.4 + Vec{0, 0, 0.1}, out * 3.6 + Vec{0, 0, 0.1}, out * 3.8 + Vec{0, 0, 0.9},
                      out * 2.9 + Vec{0, 0, 0.5}};
    mesh.Quad(p, {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.8}, {0.2, 0.8}}, Cross(out, Vec{0, 0, 1}), 0, kWhite, true);
  }
  saucer.EnvMap = KlvEnvMapDesc{1, 1.0f, 0.0f, 0.0f};
  model.Objects.push_back(std::move(saucer));
  return model;
}

inline KlvModelDesc FuguModel(uint32_t seed) {
  KlvModelDesc model;
  model.TextureNames = {"fugu.bmp"};
  KlvObjectDesc body;
  MeshBuilder mesh(body);
  const Vec forward{0, 0, 1};
  const std::vector<MeshBuilder::Profile> profile = {{-3.0, 0},   {-2.85, 0.32}, {-2.5, 0.45}, {-1.9, 0.9},
                                                     {-1.0, 1.7}, {0, 2.1},      {0.9, 2.15},  {1.7, 1.9},
                                                     {2.4, 1.4},  {2.85, 0.8},   {3.05, 0.35}, {3.1, 0}};
  mesh.Lathe({0, 0, 0}, forward, {1, 0, 0}, profile, 20, {0, 0, 1, kFuguBodyV}, 0);
  // Spines: small three-sided pyramids over the back and flanks, part of the body so they bend with it.
  const auto radiusAt = [&](double z) {
    for (size_t k = 0; k + 1 < profile.size(); ++k) {
      if (z <= profile[k + 1].h) {
        return profile[k].r +
               (profile[k + 1].r - profile[k].r) * (z - profile[k].h) / (profile[k + 1].h - profile[k].h);
      }
    }
    return 0.0;
  };
  for (int s = 0; s < 40; ++s) {
    const double z = -1.4 + 3.4 * Hash01(s, 0, seed);
    const double a = kPi * (0.9 + 1.2 * Hash01(s, 1, seed));  // from the left flank over the back to the right
    const double r = radiusAt(z);
    const Vec radial{std::cos(a), std::sin(a), 0};
    const Vec tangent{-std::sin(a), std::cos(a), 0};
    const Vec centre = radial * (r - 0.02) + Vec{0, 0, z};
    const Vec tip = radial * (r + 0.3) + Vec{0, 0, z - 0.12};
    const UV uv{a / (2 * kPi), (z + 3.0) / 6.1 * kFuguBodyV};
    Vec base[3];
    for (int k = 0; k < 3; ++k) {
      const double b = 2 * kPi * k / 3;
      base[k] = centre + tangent * (0.12 * std::cos(b)) + forward * (0.12 * std::sin(b));
    }
    for (int k = 0; k < 3; ++k) {
      const Vec p0 = base[k], p1 = base[(k + 1) % 3];
      const Vec facing = (p0 + p1) * 0.5 - centre + radial * 0.05;
      const uint16_t i0 = mesh.Vertex(p0, facing, uv), i1 = mesh.Vertex(p1, facing, uv);
      const uint16_t i2 = mesh.Vertex(tip, facing, {uv.u, uv.v + 0.02});
      mesh.Face({i0, i1, i2}, facing, 0);
    }
  }
  model.Objects.push_back(std::move(body));

  const UVRect finUV{0.05, kFuguBodyV + 0.01, 0.95, 0.99};
  const auto fin = [&](const char(&id)[5], Vec at, const Vec(&p)[4], Vec facing) {
    KlvObjectDesc obj;
    obj.Id = KlvFourCC(id);
    obj.Local.m[12] = static_cast<float>(at.x);
    obj.Local.m[13] = static_cast<float>(at.y);
    obj.Local.m[14] = static_cast<float>(at.z);
    obj.ParentIndex = 0;
    MeshBuilder finMesh(obj);
    finMesh.Quad(p, {finUV.At(0, 0), finUV.At(0, 1), finUV.At(1, 1), finUV.At(1, 0)}, facing, 0, kWhite, true);
    model.Objects.push_back(std::move(obj));
  };
  // Pectoral fins: upright fans rooted on the flanks behind the eyes at their local origin, swept
  // back along the body so they show from the side; the animation turns them about their local
  // vertical (y) axis, so they row.
  for (double side : {1.0, -1.0}) {
    const Vec p[4] = {{0, -0.4, 0}, {0, 0.4, 0}, {0.6 * side, 0.7, -0.75}, {0.6 * side, -0.6, -0.75}};
    fin(side > 0 ? "RHre" : "LHre", {1.95 * side, 0.3, 1.3}, p, {0.35 * side, 0, 1});
  }
  // Tail fin: an upright fan behind the tail stalk; it follows the last body slice as it wags.
  const Vec tail[4] = {{0, -0.35, 0.05}, {0, 0.35, 0.05}, {0, 1.1, -1.3}, {0, -1.1, -1.3}};
  fin("OHre", {0, 0, -2.9}, tail, {1, 0, 0});
  return model;
}

}  // namespace klvgen
