// Geometry helpers of the data-set generator: a small vector type and a mesh builder that appends
// vertices and faces to a model object and winds every face so that it survives counter-clockwise
// culling when seen from the side it is meant to be seen from.
//
// Winding: every pose the scene gives a model is a proper rotation with a positive scale, and the
// camera maps (right, down, forward) to the screen's (x, y, depth), a right-handed frame. A fan
// triangle (a, b, c) therefore runs clockwise on the screen, and survives, exactly when
// (b - a) x (c - a) points away from the viewer.
//
// Lighting: the renderer lights a vertex with 0.6 + 0.2 n.(0, 0, 1) in world space, and world +z
// points down in the picture (flat ground has the normal +z). Our normals point into the surface,
// as the terrain's do, so that the faces turned towards the sky are the bright ones.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numbers>
#include <vector>

#include "model/klvwriter.h"

namespace klvgen {

constexpr double kPi = std::numbers::pi;

struct Vec {
  double x = 0, y = 0, z = 0;
};
inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec operator-(Vec a) { return {-a.x, -a.y, -a.z}; }
inline double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double Length(Vec a) { return std::sqrt(Dot(a, a)); }
inline Vec Unit(Vec a) {
  const double l = Length(a);
  return l > 0 ? a * (1.0 / l) : Vec{0, 0, 1};
}

struct UV {
  double u = 0, v = 0;
};

// A rectangle of texture space: corner (u0, v0) to (u1, v1).
struct UVRect {
  double u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  UV At(double s, double t) const { return {u0 + (u1 - u0) * s, v0 + (v1 - v0) * t}; }
};

constexpr uint32_t kWhite = 0xFFFFFFFF;

inline uint32_t Argb(int r, int g, int b) {
  return 0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}

// Appends to one object of a model description.
class MeshBuilder {
 public:
  explicit MeshBuilder(KlvObjectDesc& obj) : obj_(obj) {}

  // `outward` is the direction the surface faces (towards its viewers); the file gets its opposite.
  uint16_t Vertex(Vec p, Vec outward, UV uv, uint32_t color = kWhite) {
    const Vec n = -Unit(outward);
    obj_.Vertices.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z),
                             static_cast<float>(uv.u), static_cast<float>(uv.v), static_cast<float>(n.x),
                             static_cast<float>(n.y), static_cast<float>(n.z), color});
    return static_cast<uint16_t>(obj_.Vertices.size() - 1);
  }

  // A fan of 3 or 4 vertices, seen from the side `facing` points to. Larger fans are avoided: the
  // renderer's screen test of a face looks only at its first four vertices.
  void Face(std::initializer_list<uint16_t> indices, Vec facing, int texture) {
    std::vector<uint16_t> list(indices);
    const Vec a = Pos(list[0]);
    const Vec cross = Cross(Pos(list[1]) - a, Pos(list[2]) - a);
    if (Dot(cross, facing) > 0) std::reverse(list.begin() + 1, list.end());
    obj_.Faces.push_back({std::move(list), 6, texture});
  }

  // A flat quad p0 p1 p2 p3 (in order around it) seen from `facing`; with `twoSided`, a second
  // copy with its own vertices faces the other way.
  void Quad(const Vec (&p)[4], const UV (&uv)[4], Vec facing, int texture, uint32_t color = kWhite,
            bool twoSided = false) {
    for (int side = 0; side < (twoSided ? 2 : 1); ++side) {
      const Vec f = side == 0 ? facing : -facing;
      uint16_t i[4];
      for (int k = 0; k < 4; ++k) i[k] = Vertex(p[k], f, uv[k], color);
      Face({i[0], i[1], i[2], i[3]}, f, texture);
    }
  }

  // A closed box spanned by a corner and three edge vectors; each side maps `uv` once.
  void Box(Vec origin, Vec ex, Vec ey, Vec ez, const UVRect& uv, int texture, uint32_t color = kWhite) {
    const Vec centre = origin + (ex + ey + ez) * 0.5;
    const Vec axes[3] = {ex, ey, ez};
    for (int a = 0; a < 3; ++a) {
      const Vec e1 = axes[(a + 1) % 3], e2 = axes[(a + 2) % 3];
      for (int side = 0; side < 2; ++side) {
        const Vec base = origin + axes[a] * side;
        const Vec p[4] = {base, base + e1, base + e1 + e2, base + e2};
        const Vec mid = base + (e1 + e2) * 0.5;
        Quad(p, {uv.At(0, 0), uv.At(1, 0), uv.At(1, 1), uv.At(0, 1)}, mid - centre, texture, color);
      }
    }
  }

  // A surface of revolution around the axis through `base` along `axis` (unit). The profile runs
  // from the low end to the high end along the outside: point k lies at height h along the axis and
  // radius r; a radius of 0 closes the surface with a point. u runs once around (seam duplicated), v
  // follows the profile from 0 to 1. With `outwards` false the surface is seen from inside.
  struct Profile {
    double h, r;
  };
  void Lathe(Vec base, Vec axis, Vec side, const std::vector<Profile>& profile, int segments, const UVRect& uv,
             int texture, uint32_t color = kWhite, bool outwards = true) {
    const Vec b1 = Unit(side);
    const Vec b2 = Cross(axis, b1);
    const size_t rings = profile.size();
    const auto radialAt = [&](double a) { return b1 * std::cos(a) + b2 * std::sin(a); };
    const double sign = outwards ? 1.0 : -1.0;
    const uint16_t first = static_cast<uint16_t>(obj_.Vertices.size());
    for (size_t k = 0; k < rings; ++k) {
      const size_t kp = k > 0 ? k - 1 : k, kn = k + 1 < rings ? k + 1 : k;
      const double dh = profile[kn].h - profile[kp].h, dr = profile[kn].r - profile[kp].r;
      for (int s = 0; s <= segments; ++s) {
        const Vec radial = radialAt(2 * kPi * (s % segments) / segments);
        const Vec p = base + axis * profile[k].h + radial * profile[k].r;
        Vec out = radial * dh - axis * dr;
        if (profile[k].r == 0) out = axis * (k == 0 ? -1.0 : 1.0);
        Vertex(p, out * sign, uv.At(static_cast<double>(s) / segments, static_cast<double>(k) / (rings - 1)), color);
      }
    }
    const int row = segments + 1;
    for (size_t k = 0; k + 1 < rings; ++k) {
      const double dh = profile[k + 1].h - profile[k].h, dr = profile[k + 1].r - profile[k].r;
      for (int s = 0; s < segments; ++s) {
        const uint16_t a = static_cast<uint16_t>(first + k * row + s), b = static_cast<uint16_t>(a + 1);
        const uint16_t c = static_cast<uint16_t>(a + row + 1), d = static_cast<uint16_t>(a + row);
        const Vec facing = (radialAt(2 * kPi * (s + 0.5) / segments) * dh - axis * dr) * sign;
        if (profile[k].r == 0) {
          Face({a, c, d}, facing, texture);
        } else if (profile[k + 1].r == 0) {
          Face({a, b, d}, facing, texture);
        } else {
          Face({a, b, c, d}, facing, texture);
        }
      }
    }
  }

  Vec Pos(uint16_t i) const {
    const KlvVertexDesc& v = obj_.Vertices[i];
    return {v.X, v.Y, v.Z};
  }

 private:
  KlvObjectDesc& obj_;
};

}  // namespace klvgen
