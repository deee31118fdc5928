// The device component as the renderer's device (see rmrenderdevice.h).
#include "scene/rmrenderdevice.h"

IDirect3DDevice2* TKalvorRMRenderDevice::Direct3DDevice() const {
  return component_ != nullptr ? component_->D3DDevice : nullptr;
}

IDirect3DViewport2* TKalvorRMRenderDevice::AcquireViewport() {
  if (component_ == nullptr || component_->RMViewport == nullptr) return nullptr;
  IDirect3DViewport* viewport = nullptr;
  component_->RMViewport->GetDirect3DViewport(&viewport);
  if (viewport == nullptr) return nullptr;
  IDirect3DViewport2* viewport2 = nullptr;
  viewport->QueryInterface(IID_IDirect3DViewport2, reinterpret_cast<void**>(&viewport2));
  viewport->Release();
  return viewport2;
}

D3DMATERIALHANDLE TKalvorRMRenderDevice::BackgroundMaterial() const {
  return component_ != nullptr ? component_->BgMaterialHandle : 0;
}

bool TKalvorRMRenderDevice::ColorModelIsRgb() const {
  return KalvorRMUnit.ColorModel == static_cast<int32_t>(D3DCOLOR_RGB);
}

int32_t TKalvorRMRenderDevice::DefaultWidth() const { return component_ != nullptr ? component_->Width : 0; }

int32_t TKalvorRMRenderDevice::DefaultHeight() const { return component_ != nullptr ? component_->Height : 0; }
