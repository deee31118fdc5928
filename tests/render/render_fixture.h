// Shared set-up for the renderer tests: a render device over recording stand-ins of the Direct3D
// device and viewport, a view context made on it (640 x 480, zoom 2, identity camera, so camera
// space is world space), and small meshes built in code.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <memory>
#include <vector>

#include "model/sceneobject.h"
#include "render/framedraw.h"
#include "render/renderdevice.h"
#include "render/scenerender.h"
#include "render/viewcontext.h"
#include "support/recording_device.h"

constexpr D3DMATERIALHANDLE kBackgroundHandle = 77;

// The renderer's device over a recording device and viewport, with a switchable colour model.
class RecordingRenderDevice final : public TKlvRenderDevice {
 public:
  explicit RecordingRenderDevice(const std::shared_ptr<CallLog>& log)
      : device_(RecordingDevice::Create(log)), viewport_(RecordingViewport::Create(log)) {}
  ~RecordingRenderDevice() {
    device_->Release();
    viewport_->Release();
  }

  IDirect3DDevice2* Direct3DDevice() const override { return device_; }
  IDirect3DViewport2* AcquireViewport() override {
    viewport_->AddRef();
    return viewport_;
  }
  D3DMATERIALHANDLE BackgroundMaterial() const override { return kBackgroundHandle; }
  bool ColorModelIsRgb() const override { return rgb; }
  int32_t DefaultWidth() const override { return 640; }
  int32_t DefaultHeight() const override { return 480; }

  RecordingDevice* Device() const { return device_; }
  RecordingViewport* Viewport() const { return viewport_; }

  bool rgb = true;

 private:
  RecordingDevice* device_;
  RecordingViewport* viewport_;
};

class RenderTest : public ::testing::Test {
 protected:
  ~RenderTest() override {
    FreeView(view);
    for (TSceneObject* root : roots) FreeObjectTree(root);
  }

  void MakeView(int32_t maxFaces = 1000, int32_t maxVertices = 1000) {
    FreeView(view);
    CreateView(view, &renderDevice, 0, 0, maxFaces, maxVertices, 2.0f);
    log->clear();
  }

  // A texture record with bucket `index` and handles derived from it.
  TKlvTexdata* Texture(int32_t index) {
    TKlvTexdata& tex = textures.emplace_back();
    tex.Index = index;
    tex.Handle = 1000 + static_cast<uint32_t>(index);
    tex.MaterialHandle = 2000 + static_cast<uint32_t>(index);
    return &tex;
  }

  // An object with the given vertices (normal (0, 0, 1), white unless told) and fan faces, all
  // with `tex`. The fixture frees it unless it is attached under another object.
  TSceneObject* Mesh(std::initializer_list<TVector3> positions, std::vector<std::vector<uint16_t>> faces,
                     TKlvTexdata* tex, uint32_t color = 0xFFFFFFFF, TVector3 normal = {0, 0, 1}) {
    TSceneObject* obj = nullptr;
    CreateObject(obj, static_cast<int32_t>(positions.size()), static_cast<int32_t>(faces.size()), 0, 0);
    float u = 0;
    for (const TVector3& p : positions) {
      AddVertex(obj, p.x, p.y, p.z, normal.x, normal.y, normal.z, u, 1 - u, color);
      u += 0.25f;
    }
    for (const std::vector<uint16_t>& face : faces)
      AddFace(obj, face.data(), static_cast<int32_t>(face.size()), kPrimTriangleFan, tex);
    return obj;
  }

  // Registers a top-level object for release at the end of the test.
  TSceneObject* Root(TSceneObject* obj) {
    roots.push_back(obj);
    return obj;
  }

  // Runs the scene pass alone, as RenderView does, from an empty frame.
  void Transform(TSceneObject* root) {
    view.TLVertexCount = 0;
    view.NodeCount = 0;
    std::fill(std::begin(view.Buckets), std::end(view.Buckets), nullptr);
    TransformObjectTree(view, BuildViewMatrix(view), MatrixIdentity, root);
  }

  // Faces of one bucket in list order.
  std::vector<TMeshFace*> Bucket(int index) const {
    std::vector<TMeshFace*> faces;
    for (TKlvFaceNode* n = view.Buckets[index]; n != nullptr; n = n->NextNode) faces.push_back(n->Face);
    return faces;
  }

  std::vector<const RecordedCall*> Calls(const std::string& method) const {
    std::vector<const RecordedCall*> found;
    for (const RecordedCall& call : *log)
      if (call.method == method) found.push_back(&call);
    return found;
  }

  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  RecordingRenderDevice renderDevice{log};
  TKlvViewContext view{};
  std::deque<TKlvTexdata> textures;
  std::vector<TSceneObject*> roots;
};
