// A fixed scene like the saver's, already transformed and lit, for the rasteriser's benchmark and
// its golden-hash test: a sky dome of about 1,000 triangles, a 32 x 32 grid of terrain quads emitted
// far to near, and three colour-keyed spheres; textured, fogged, Gouraud-shaded, with highlights.
// The golden hashes were recorded from exactly this geometry and these textures: changing either
// changes the expected hashes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/dx5/raster.h"

namespace raster_scene {

constexpr float kFar = 500.0f;
constexpr float kFogStart = 0.2f, kFogEnd = 0.45f;
constexpr float kPi = 3.14159265f;

struct Mesh {
  std::vector<D3DTLVERTEX> vertices;
  std::vector<WORD> indices;
};

struct Camera {
  float halfWidth, halfHeight, focal;
};

// Projects a camera-space point (x right, y up, z ahead) the way the saver's renderer does.
inline D3DTLVERTEX Project(const Camera& cam, float x, float y, float z, float u, float v, float shade,
                           float highlight) {
  float rhw = 1.0f / z;
  float fog = std::clamp((kFogEnd - z / kFar) / (kFogEnd - kFogStart), 0.0f, 1.0f);
  auto c = static_cast<uint32_t>(std::clamp(shade, 0.0f, 1.0f) * 255.0f);
  auto s = static_cast<uint32_t>(std::clamp(highlight, 0.0f, 1.0f) * 255.0f);
  D3DTLVERTEX out;
  out.sx = cam.halfWidth + cam.focal * x * rhw;
  out.sy = cam.halfHeight - cam.focal * y * rhw;
  out.sz = z / kFar;
  out.rhw = rhw;
  out.color = 0xFF000000u | (c << 16) | (c << 8) | c;
  out.specular = (static_cast<uint32_t>(fog * 255.0f) << 24) | (s << 16) | (s << 8) | s;
  out.tu = u;
  out.tv = v;
  return out;
}

inline void AddQuad(Mesh& mesh, WORD a, WORD b, WORD c, WORD d) {
  mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
}

// Two triangles for every cell of a (rows + 1) x (columns + 1) vertex grid stored row by row.
inline void AddGrid(Mesh& mesh, int rows, int columns) {
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      auto at = [&](int rr, int cc) { return WORD(rr * (columns + 1) + cc); };
      AddQuad(mesh, at(r, c), at(r, c + 1), at(r + 1, c + 1), at(r + 1, c));
    }
}

inline Mesh SkyDome(const Camera& cam) {
  Mesh mesh;
  const int rings = 20, segments = 25;
  for (int r = 0; r <= rings; ++r)
    for (int s = 0; s <= segments; ++s) {
      float lat = 0.5f * kPi * float(r) / rings * 0.95f, lon = (float(s) / segments - 0.5f) * 2.4f;
      mesh.vertices.push_back(Project(cam, 450.0f * std::cos(lat) * std::sin(lon), 450.0f * std::sin(lat) - 20.0f,
                                      450.0f * std::cos(lat) * std::cos(lon), float(s) / 4, float(r) / 4,
                                      0.8f + 0.2f * std::sin(lat), 0.0f));
    }
  AddGrid(mesh, rings, segments);
  return mesh;
}

// Terrain rows are emitted from the farthest to the nearest.
inline Mesh Terrain(const Camera& cam) {
  Mesh mesh;
  const int cells = 32;
  for (int row = 0; row <= cells; ++row)
    for (int col = 0; col <= cells; ++col) {
      float x = (float(col) - cells / 2) * 10.0f, z = 5.0f + float(cells - row) * 10.0f;
      float y = -10.0f + 3.0f * std::sin(x * 0.05f) * std::cos(z * 0.07f);
      mesh.vertices.push_back(Project(cam, x, y, z, float(col) * 0.25f, float(row) * 0.25f,
                                      0.6f + 0.4f * std::cos(x * 0.03f + z * 0.02f), 0.1f));
    }
  AddGrid(mesh, cells, cells);
  return mesh;
}

inline void AddSphere(Mesh& mesh, const Camera& cam, float cx, float cy, float cz, float radius) {
  const int stacks = 12, slices = 14;
  Mesh sphere;
  for (int i = 0; i <= stacks; ++i)
    for (int j = 0; j <= slices; ++j) {
      float theta = kPi * float(i) / stacks, phi = 2.0f * kPi * float(j) / slices;
      float nx = std::sin(theta) * std::cos(phi), ny = std::cos(theta), nz = std::sin(theta) * std::sin(phi);
      float highlight = std::pow(std::max(0.0f, 0.6f * nx + 0.8f * ny), 8.0f);
      sphere.vertices.push_back(Project(cam, cx + radius * nx, cy + radius * ny, cz + radius * nz,
                                        float(j) / slices * 2, float(i) / stacks * 2, 0.5f + 0.5f * ny, highlight));
    }
  AddGrid(sphere, stacks, slices);
  auto base = WORD(mesh.vertices.size());
  mesh.vertices.insert(mesh.vertices.end(), sphere.vertices.begin(), sphere.vertices.end());
  for (WORD index : sphere.indices) mesh.indices.push_back(WORD(base + index));
}

// The scene's meshes for a viewport of this size and its three textures (ground and sky 32-bit,
// leaves 8-bit with transparent index 0). Textures point into the scene's own texel vectors, so a
// scene must not be copied once made.
struct Scene {
  Scene() = default;
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  std::vector<uint32_t> groundTexels, skyTexels;
  std::vector<uint8_t> leafTexels;
  RasterTexture ground, sky, leaves;
  Mesh skyMesh, terrain, spheres;
};

inline void MakeScene(Scene& scene, int width, int height) {
  Camera cam{width / 2.0f, height / 2.0f, width / 2.0f * 2.0f};
  scene.skyMesh = SkyDome(cam);
  scene.terrain = Terrain(cam);
  AddSphere(scene.spheres, cam, -20.0f, 0.0f, 60.0f, 8.0f);
  AddSphere(scene.spheres, cam, 0.0f, 5.0f, 40.0f, 8.0f);
  AddSphere(scene.spheres, cam, 25.0f, -3.0f, 80.0f, 8.0f);

  scene.groundTexels.resize(256 * 256);
  scene.skyTexels.resize(128 * 128);
  scene.leafTexels.resize(64 * 64);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      scene.groundTexels[y * 256 + x] =
          (uint32_t((x ^ y) & 0xFF) << 8) | uint32_t(40 + (x * 7 + y * 3) % 100) << 16 | 30;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) scene.skyTexels[y * 128 + x] = 0x8090C0u + uint32_t(((x * y) >> 4) & 0x1F);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      scene.leafTexels[y * 64 + x] = ((x / 8 + y / 8) % 3 == 0) ? 0 : uint8_t(1 + (x + y) % 255);
  scene.ground.bits = reinterpret_cast<const uint8_t*>(scene.groundTexels.data());
  scene.ground.pitch = 256 * 4;
  scene.ground.width = scene.ground.height = 256;
  scene.sky.bits = reinterpret_cast<const uint8_t*>(scene.skyTexels.data());
  scene.sky.pitch = 128 * 4;
  scene.sky.width = scene.sky.height = 128;
  scene.leaves.bits = scene.leafTexels.data();
  scene.leaves.pitch = 64;
  scene.leaves.width = scene.leaves.height = 64;
  scene.leaves.format = RasterTexelFormat::Indexed8;
  for (int i = 0; i < 256; ++i) scene.leaves.palette[i] = uint32_t(i) << 8 | 0x200000u;
  scene.leaves.hasColorKey = true;
}

}  // namespace raster_scene
