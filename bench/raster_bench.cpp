// Rasteriser throughput on a fixed scene like the saver's: a sky dome of about 1,000 triangles,
// a 32 x 32 grid of terrain quads drawn far to near, and three colour-keyed spheres of about
// 330 triangles each; textured, fogged, Gouraud-shaded, specular on, clipping on. Reported per
// frame (the benchmark time, clear included), as triangles per second and as depth-passing
// pixels per second; at 640 x 480 into a 16-bit target with a 16-bit z-buffer and at
// 1920 x 1080 into a 32-bit target with a 32-bit z-buffer; and at 640 x 480 into a 16-bit target
// with a 32-bit z-buffer, the combination the saver's renderer uses, with and without the AVX2
// span routines (the second is what a processor without AVX2 runs).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/dx5/raster.h"

namespace {

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
D3DTLVERTEX Project(const Camera& cam, float x, float y, float z, float u, float v, float shade, float highlight) {
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

void AddQuad(Mesh& mesh, WORD a, WORD b, WORD c, WORD d) {
  mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
}

Mesh SkyDome(const Camera& cam) {
  Mesh mesh;
  const int rings = 20, segments = 25;
  const float radius = 450.0f;
  for (int r = 0; r <= rings; ++r)
    for (int s = 0; s <= segments; ++s) {
      float lat = 0.5f * kPi * float(r) / rings * 0.95f;
      float lon = (float(s) / segments - 0.5f) * 2.4f;
      float x = radius * std::cos(lat) * std::sin(lon);
      float y = radius * std::sin(lat) - 20.0f;
      float z = radius * std::cos(lat) * std::cos(lon);
      mesh.vertices.push_back(Project(cam, x, y, z, float(s) / 4, float(r) / 4, 0.8f + 0.2f * std::sin(lat), 0.0f));
    }
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      auto at = [&](int rr, int ss) { return WORD(rr * (segments + 1) + ss); };
      AddQuad(mesh, at(r, s), at(r, s + 1), at(r + 1, s + 1), at(r + 1, s));
    }
  return mesh;
}

// Terrain rows are emitted from the farthest to the nearest.
Mesh Terrain(const Camera& cam) {
  Mesh mesh;
  const int cells = 32;
  const float size = 10.0f;
  for (int row = 0; row <= cells; ++row)
    for (int col = 0; col <= cells; ++col) {
      float x = (float(col) - cells / 2) * size;
      float z = 5.0f + float(cells - row) * size;
      float y = -10.0f + 3.0f * std::sin(x * 0.05f) * std::cos(z * 0.07f);
      float shade = 0.6f + 0.4f * std::cos(x * 0.03f + z * 0.02f);
      mesh.vertices.push_back(Project(cam, x, y, z, float(col) * 0.25f, float(row) * 0.25f, shade, 0.1f));
    }
  for (int row = 0; row < cells; ++row)
    for (int col = 0; col < cells; ++col) {
      auto at = [&](int r, int c) { return WORD(r * (cells + 1) + c); };
      AddQuad(mesh, at(row, col), at(row, col + 1), at(row + 1, col + 1), at(row + 1, col));
    }
  return mesh;
}

void AddSphere(Mesh& mesh, const Camera& cam, float cx, float cy, float cz, float radius) {
  const int stacks = 12, slices = 14;
  auto base = WORD(mesh.vertices.size());
  for (int i = 0; i <= stacks; ++i)
    for (int j = 0; j <= slices; ++j) {
      float theta = kPi * float(i) / stacks, phi = 2.0f * kPi * float(j) / slices;
      float nx = std::sin(theta) * std::cos(phi), ny = std::cos(theta), nz = std::sin(theta) * std::sin(phi);
      float highlight = std::pow(std::max(0.0f, 0.6f * nx + 0.8f * ny), 8.0f);
      mesh.vertices.push_back(Project(cam, cx + radius * nx, cy + radius * ny, cz + radius * nz, float(j) / slices * 2,
                                      float(i) / stacks * 2, 0.5f + 0.5f * ny, highlight));
    }
  for (int i = 0; i < stacks; ++i)
    for (int j = 0; j < slices; ++j) {
      auto at = [&](int a, int b) { return WORD(base + a * (slices + 1) + b); };
      AddQuad(mesh, at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j));
    }
}

struct Scene {
  std::vector<uint32_t> groundTexels, skyTexels;
  std::vector<uint8_t> leafTexels;
  RasterTexture ground, sky, leaves;
  Mesh skyMesh, terrain, spheres;
};

Scene MakeScene(int width, int height) {
  Scene scene;
  Camera cam{width / 2.0f, height / 2.0f, width / 2.0f * 2.0f};
  scene.skyMesh = SkyDome(cam);
  scene.terrain = Terrain(cam);
  AddSphere(scene.spheres, cam, -20.0f, 0.0f, 60.0f, 8.0f);
  AddSphere(scene.spheres, cam, 0.0f, 5.0f, 40.0f, 8.0f);
  AddSphere(scene.spheres, cam, 25.0f, -3.0f, 80.0f, 8.0f);

  const int g = 256;
  scene.groundTexels.resize(g * g);
  for (int y = 0; y < g; ++y)
    for (int x = 0; x < g; ++x)
      scene.groundTexels[y * g + x] = (uint32_t((x ^ y) & 0xFF) << 8) | uint32_t(40 + (x * 7 + y * 3) % 100) << 16 | 30;
  scene.ground.bits = reinterpret_cast<const uint8_t*>(scene.groundTexels.data());
  scene.ground.pitch = g * 4;
  scene.ground.width = scene.ground.height = g;
  scene.ground.format = RasterTexelFormat::Xrgb32;

  const int s = 128;
  scene.skyTexels.resize(s * s);
  for (int y = 0; y < s; ++y)
    for (int x = 0; x < s; ++x) scene.skyTexels[y * s + x] = 0x8090C0u + uint32_t(((x * y) >> 4) & 0x1F);
  scene.sky.bits = reinterpret_cast<const uint8_t*>(scene.skyTexels.data());
  scene.sky.pitch = s * 4;
  scene.sky.width = scene.sky.height = s;
  scene.sky.format = RasterTexelFormat::Xrgb32;

  const int l = 64;
  scene.leafTexels.resize(l * l);
  for (int y = 0; y < l; ++y)
    for (int x = 0; x < l; ++x) scene.leafTexels[y * l + x] = ((x / 8 + y / 8) % 3 == 0) ? 0 : uint8_t(1 + (x + y) % 255);
  scene.leaves.bits = scene.leafTexels.data();
  scene.leaves.pitch = l;
  scene.leaves.width = scene.leaves.height = l;
  scene.leaves.format = RasterTexelFormat::Indexed8;
  for (int i = 0; i < 256; ++i) scene.leaves.palette[i] = uint32_t(i) << 8 | 0x200000u;
  scene.leaves.hasColorKey = true;
  return scene;
}

void DrawFrame(benchmark::State& state, RasterPixelFormat format, int depthBytes, bool allowAvx2 = true) {
  const int width = int(state.range(0)), height = int(state.range(1));
  Scene scene = MakeScene(width, height);
  int bytes = format == RasterPixelFormat::Xrgb32 ? 4 : 2;
  std::vector<uint8_t> color(size_t(width) * height * bytes), depthBits(size_t(width) * height * depthBytes);
  RasterTarget target{color.data(), intptr_t(width) * bytes, width, height, format};
  RasterDepth depth{depthBits.data(), intptr_t(width) * depthBytes, width, height, depthBytes,
                    depthBytes == 2 ? 0xFFFFu : 0xFFFFFF00u};
  RasterState rs;
  rs.cullMode = D3DCULL_NONE;
  rs.perspective = true;
  rs.gouraud = true;
  rs.specular = true;
  rs.fog = true;
  rs.fogColor = 0xFFDFDFEFu;
  rs.colorKey = true;
  rs.allowAvx2 = allowAvx2;
  rs.viewportX1 = width;
  rs.viewportY1 = height;
  RasterStats stats;
  uint64_t frames = 0;
  auto draw = [&](const Mesh& mesh, const RasterTexture& texture) {
    RasterDrawTriangles(rs, target, &depth, &texture, mesh.vertices.data(), mesh.vertices.size(), mesh.indices.data(),
                        mesh.indices.size(), true, &stats);
  };
  for (auto _ : state) {
    RasterFillColor(target, 0, 0, width, height, 0xDFDFEFu);
    RasterFillDepth(depth, 0, 0, width, height, 1.0f);
    draw(scene.skyMesh, scene.sky);
    draw(scene.terrain, scene.ground);
    draw(scene.spheres, scene.leaves);
    benchmark::DoNotOptimize(color.data());
    ++frames;
  }
  size_t submitted = (scene.skyMesh.indices.size() + scene.terrain.indices.size() + scene.spheres.indices.size()) / 3;
  state.counters["tris_submitted"] = double(submitted);
  state.counters["tris/s"] = benchmark::Counter(double(stats.triangles), benchmark::Counter::kIsRate);
  state.counters["depth_pass_Mpix/s"] =
      benchmark::Counter(double(stats.depthPassed) / 1e6, benchmark::Counter::kIsRate);
  state.counters["depth_pass_pix/frame"] = frames > 0 ? double(stats.depthPassed) / double(frames) : 0.0;
}

void BM_RasterFrame16(benchmark::State& state) { DrawFrame(state, RasterPixelFormat::Rgb565, 2); }
void BM_RasterFrame32(benchmark::State& state) { DrawFrame(state, RasterPixelFormat::Xrgb32, 4); }
void BM_RasterFrame16Z32(benchmark::State& state) { DrawFrame(state, RasterPixelFormat::Rgb565, 4); }
void BM_RasterFrame16Z32NoAvx2(benchmark::State& state) { DrawFrame(state, RasterPixelFormat::Rgb565, 4, false); }

BENCHMARK(BM_RasterFrame16)->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterFrame32)->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterFrame16Z32)->Args({640, 480})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterFrame16Z32NoAvx2)->Args({640, 480})->Unit(benchmark::kMillisecond);

}  // namespace
