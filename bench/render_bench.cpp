// The renderer on a scene of about 20,000 vertices at 640 x 480: the scene pass alone
// (TransformObjectTree) and the whole frame (RenderView: scene pass, clipping and the software
// rasteriser). Rasterisation costs the difference of the two.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "display/component.h"
#include "display/kalvorrm.h"
#include "platform/dx5/virtual_display.h"
#include "platform/win/bitmap.h"
#include "render/framedraw.h"
#include "render/scenerender.h"
#include "render/viewcontext.h"
#include "scene/rmrenderdevice.h"

namespace {

constexpr int kRgbDevice = 2;
constexpr int kSpheres = 10;
constexpr int kRings = 45;  // 45 x 45 vertices and 44 x 44 quads a sphere
constexpr int32_t kCapacity = 20000;

// A UV sphere of radius r around c, its quads wound clockwise on screen when seen from outside.
TSceneObject* Sphere(float cx, float cy, float cz, float r, TKlvTexdata* tex) {
  TSceneObject* obj = nullptr;
  CreateObject(obj, kRings * kRings, (kRings - 1) * (kRings - 1), 0, 0);
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < kRings; ++i) {
    const double theta = pi * i / (kRings - 1);
    for (int j = 0; j < kRings; ++j) {
      const double phi = 2 * pi * j / (kRings - 1);
      const float nx = static_cast<float>(std::sin(theta) * std::cos(phi));
      const float ny = static_cast<float>(std::sin(theta) * std::sin(phi));
      const float nz = static_cast<float>(std::cos(theta));
      AddVertex(obj, cx + r * nx, cy + r * ny, cz + r * nz, nx, ny, nz, 4.0f * j / (kRings - 1),
                2.0f * i / (kRings - 1), 0xFFFFFFFF);
    }
  }
  for (int i = 0; i + 1 < kRings; ++i)
    for (int j = 0; j + 1 < kRings; ++j) {
      const uint16_t a = static_cast<uint16_t>(i * kRings + j);
      const uint16_t quad[4] = {a, static_cast<uint16_t>(a + 1), static_cast<uint16_t>(a + 1 + kRings),
                                static_cast<uint16_t>(a + kRings)};
      AddFace(obj, quad, 4, kPrimTriangleFan, tex);
    }
  return obj;
}

// The device components brought up headless on the RGB device, three textures and the scene.
class RenderScene {
 public:
  RenderScene() {
    SetCurrentDisplayMode(kDesktopDisplayMode);
    SetWindowClientArea({0, 0, 640, 480});
    rm_ = std::make_unique<TKalvorRM>(&form_);
    KalvorGUnit.DriverChoice = -1;
    KalvorRMUnit.DeviceChoice = kRgbDevice;
    KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_RGB);
    rm_->DDEnum();
    rm_->DDInit();
    ok_ = rm_->RmInit();
    if (!ok_) return;
    rm_->SetBGColor(223, 223, 239);
    rm_->D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    rm_->D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, TRUE);

    const std::string data = KLV_DATA_DIR;
    const char* names[] = {"meta.bmp", "bark.bmp", "fugu.bmp"};
    TKlvTexdata* textures[3];
    for (int t = 0; t < 3; ++t) {
      TBitmap bitmap;
      bitmap.LoadFromFile(data + "/" + names[t]);
      textures[t] = rm_->MakeTextureFromBitmap(bitmap, names[t]);
    }
    CreateObject(root_, 0, 0, 0, 0);
    for (int s = 0; s < kSpheres; ++s) {
      const float x = -8.0f + 4.0f * (s % 5), y = (s < 5) ? -2.2f : 2.2f;
      AttachObject(root_, Sphere(x, y, 14.0f + (s % 3), 1.9f, textures[s % 3]));
    }
    device_ = TKalvorRMRenderDevice(*rm_);
    CreateView(view_, &device_, 0, 0, kCapacity, kCapacity, 2.0f);
  }

  ~RenderScene() {
    FreeView(view_);
    FreeObjectTree(root_);
    rm_->RmRelease();
    rm_->DDrelease();
  }

  bool Ok() const { return ok_; }
  TKlvViewContext& View() { return view_; }
  TSceneObject* Root() { return root_; }

 private:
  TComponentOwner form_;
  std::unique_ptr<TKalvorRM> rm_;
  TKalvorRMRenderDevice device_;
  TKlvViewContext view_{};
  TSceneObject* root_ = nullptr;
  bool ok_ = false;
};

void ReportFrame(benchmark::State& state, const TKlvViewContext& view) {
  state.counters["vertices"] = view.TLVertexCount;
  state.counters["faces"] = view.NodeCount;
}

void BM_TransformObjectTree(benchmark::State& state) {
  RenderScene scene;
  if (!scene.Ok()) {
    state.SkipWithError("no Direct3D device");
    return;
  }
  TKlvViewContext& view = scene.View();
  const TMatrix44 viewMatrix = BuildViewMatrix(view);
  for (auto _ : state) {
    view.TLVertexCount = 0;
    view.NodeCount = 0;
    std::fill(std::begin(view.Buckets), std::end(view.Buckets), nullptr);
    TransformObjectTree(view, viewMatrix, MatrixIdentity, scene.Root());
    benchmark::DoNotOptimize(view.TLVertices[0]);
  }
  ReportFrame(state, view);
  std::fill(std::begin(view.Buckets), std::end(view.Buckets), nullptr);
}
BENCHMARK(BM_TransformObjectTree)->Unit(benchmark::kMillisecond);

void BM_RenderView(benchmark::State& state) {
  RenderScene scene;
  if (!scene.Ok()) {
    state.SkipWithError("no Direct3D device");
    return;
  }
  for (auto _ : state) RenderView(scene.View(), scene.Root(), true);
  ReportFrame(state, scene.View());
}
BENCHMARK(BM_RenderView)->Unit(benchmark::kMillisecond);

}  // namespace
