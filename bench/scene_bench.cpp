// The saver's per-frame work on the generated data set at 640 x 480: the scene step alone, and the
// step followed by the frame render, replaying a seeded flight.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "display/component.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "display/klvenumwin.h"
#include "platform/win/bitmap.h"
#include "render/framedraw.h"
#include "scene/scene.h"

namespace {

constexpr uint64_t kSeed = 2024;

// The devices and the scene as begin leaves them, with the registry in a private folder.
class SaverWorld {
 public:
  SaverWorld() {
    char pattern[] = "/tmp/klv_scene_bench_XXXXXX";
    configDir_ = mkdtemp(pattern);
    setenv("KLV_CONFIG_DIR", configDir_.c_str(), 1);
    display_ = std::make_unique<TKalvorG>(&form_);
    device_ = std::make_unique<TKalvorRM>(&form_);
    device_->SetFullScreen(true);
    ok_ = SelectDevices(kSelectStored) && BuildScene(scene, *device_, dataPath_, image_);
    if (!ok_) return;
    random.Seed(kSeed);
    InitFlightPaths(scene, random);
    device_->D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    device_->D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
  }
  ~SaverWorld() {
    FreeScene(scene);
    device_->RmRelease();
    display_->DDrelease();
    std::filesystem::remove_all(configDir_);
  }

  bool Ok() const { return ok_; }
  void Step() { SceneStep(scene, settings, *device_, random); }
  void Draw() {
    scene.View.Camera = scene.RenderCamera;
    RenderView(scene.View, scene.SceneRoot, true);
  }

  TKlvScene scene;
  TSaverSettings settings;
  TKlvRandom random{kSeed};

 private:
  std::string configDir_;
  std::string dataPath_ = std::string(KLV_DATA_DIR) + "/";
  TComponentOwner form_;
  std::unique_ptr<TKalvorG> display_;
  std::unique_ptr<TKalvorRM> device_;
  TBitmap image_;
  bool ok_ = false;
};

void BM_SceneStep(benchmark::State& state) {
  SaverWorld world;
  if (!world.Ok()) {
    state.SkipWithError("the scene could not be built");
    return;
  }
  for (auto _ : state) world.Step();
  state.SetLabel("per step");
}
BENCHMARK(BM_SceneStep)->Unit(benchmark::kMicrosecond);

void BM_SceneStepAndRender(benchmark::State& state) {
  SaverWorld world;
  if (!world.Ok()) {
    state.SkipWithError("the scene could not be built");
    return;
  }
  double vertices = 0;
  for (auto _ : state) {
    world.Step();
    world.Draw();
    vertices += world.scene.View.TLVertexCount;
  }
  state.counters["vertices"] = benchmark::Counter(vertices, benchmark::Counter::kAvgIterations);
  state.SetLabel("per frame, 640 x 480");
}
BENCHMARK(BM_SceneStepAndRender)->Unit(benchmark::kMillisecond);

}  // namespace
