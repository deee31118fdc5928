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
#include "support/raster_scene.h"

namespace {

using raster_scene::Mesh;

void DrawFrame(benchmark::State& state, RasterPixelFormat format, int depthBytes, bool allowAvx2 = true) {
  const int width = int(state.range(0)), height = int(state.range(1));
  raster_scene::Scene scene;
  raster_scene::MakeScene(scene, width, height);
  int bytes = format == RasterPixelFormat::Xrgb32 ? 4 : 2;
  std::vector<uint8_t> color(size_t(width) * height * bytes), depthBits(size_t(width) * height * depthBytes);
  RasterTarget target{color.data(), intptr_t(width) * bytes, width, height, format};
  RasterDepth depth{depthBits.data(), intptr_t(width) * depthBytes,           width, height,
                    depthBytes,       depthBytes == 2 ? 0xFFFFu : 0xFFFFFF00u};
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
