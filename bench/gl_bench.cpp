// The GL device's cost per frame on the rasteriser benchmark's scene (sky dome, terrain, three
// colour-keyed spheres; textured, fogged, Gouraud, specular, clipping on) at 640 x 480 and
// 1920 x 1080: the time with the GPU's work finished (glFinish; on Mesa's llvmpipe that work runs
// on the CPU too), and per frame the GL calls, texture uploads and vertex bytes sent and the bytes
// read back (none: textures are uploaded once before the frames). Skipped without a GL context.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/dx5/gl_context.h"
#include "platform/dx5/gl_raster.h"
#include "support/raster_scene.h"

namespace {

void BM_GlFrame(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  std::string error;
  std::unique_ptr<GlContext> context = CreateHeadlessGlContext(&error);
  if (context == nullptr) {
    state.SkipWithError(("no OpenGL context: " + error).c_str());
    return;
  }
  GlRaster raster(context->Api());
  raster_scene::Scene scene;
  raster_scene::MakeScene(scene, width, height);
  GlTarget target;
  GlTexture sky, ground, leaves;
  if (!raster.Ready() || !raster.CreateTarget(width, height, true, &target) ||
      !raster.UploadTexture(scene.sky, false, &sky) || !raster.UploadTexture(scene.ground, false, &ground) ||
      !raster.UploadTexture(scene.leaves, false, &leaves)) {
    state.SkipWithError("GL refused the target or a texture");
    return;
  }
  RasterState rs;
  rs.cullMode = D3DCULL_NONE;
  rs.fog = true;
  rs.fogColor = 0xFFDFDFEFu;
  rs.colorKey = true;
  rs.viewportX1 = width;
  rs.viewportY1 = height;
  GlApi& gl = context->Api();
  auto draw = [&](const raster_scene::Mesh& mesh, const GlTexture& texture) {
    raster.DrawTriangles(rs, target, &texture, mesh.vertices.data(), mesh.vertices.size(), mesh.indices.data(),
                         mesh.indices.size(), true);
  };
  const GlCounters before = gl.counters;
  uint64_t frames = 0;
  for (auto _ : state) {
    raster.FillColor(target, 0, 0, width, height, 0xDFDFEFu);
    raster.FillDepth(target, 0, 0, width, height, 1.0f);
    draw(scene.skyMesh, sky);
    draw(scene.terrain, ground);
    draw(scene.spheres, leaves);
    gl.Finish();
    ++frames;
  }
  const double n = double(frames);
  state.counters["gl_calls"] = double(gl.counters.calls - before.calls) / n;
  state.counters["uploads"] = double(gl.counters.textureUploads - before.textureUploads) / n;
  state.counters["vertex_bytes"] = double(gl.counters.vertexBytes - before.vertexBytes) / n;
  state.counters["read_back_bytes"] = double(gl.counters.readBackBytes - before.readBackBytes) / n;
  raster.DestroyTexture(&sky);
  raster.DestroyTexture(&ground);
  raster.DestroyTexture(&leaves);
  raster.DestroyTarget(&target);
}
BENCHMARK(BM_GlFrame)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace
