// TKalvorRMRenderDevice: the Direct3D device component seen as the renderer's device. The view
// context the scene builds draws through it; it hands out the immediate-mode viewport of the
// component's retained-mode viewport and reads the colour model the device dialog picked.
#pragma once

#include "display/kalvorrm.h"
#include "render/renderdevice.h"

class TKalvorRMRenderDevice final : public TKlvRenderDevice {
 public:
  TKalvorRMRenderDevice() = default;
  explicit TKalvorRMRenderDevice(TKalvorRM& component) : component_(&component) {}

  IDirect3DDevice2* Direct3DDevice() const override;
  IDirect3DViewport2* AcquireViewport() override;
  D3DMATERIALHANDLE BackgroundMaterial() const override;
  bool ColorModelIsRgb() const override;
  int32_t DefaultWidth() const override;
  int32_t DefaultHeight() const override;

 private:
  TKalvorRM* component_ = nullptr;  // not owned; null until the scene is built
};
