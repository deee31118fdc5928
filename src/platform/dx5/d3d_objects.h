// The concrete Direct3D immediate-mode objects: the IDirect3D2 object that DirectDraw hands out,
// the software device, viewports, materials and textures over DirectDraw surfaces. Devices resolve
// material and texture handles through their own tables; the device draws with the rasteriser.
// Surfaces are used only through their public interface.
#pragma once

#include <memory>
#include <vector>

#include "platform/dx5/d3d.h"
#include "platform/dx5/gl_device.h"
#include "platform/dx5/raster.h"

// Reference counting shared by every object here: one reference at creation, deleted at zero.
template <class Interface>
class D3DRefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG refs_ = 1;
};

// Locks a surface for the duration of a scope; `ok` tells whether the lock succeeded.
class SurfaceLock {
 public:
  SurfaceLock(IDirectDrawSurface* surface, DWORD flags) : surface_(surface) {
    desc_.dwSize = kDDSurfaceDescSize;
    ok_ = SUCCEEDED(surface_->Lock(nullptr, &desc_, flags | DDLOCK_WAIT, nullptr)) && desc_.lpSurface != nullptr;
  }
  ~SurfaceLock() {
    if (ok_) surface_->Unlock(desc_.lpSurface);
  }
  SurfaceLock(const SurfaceLock&) = delete;
  SurfaceLock& operator=(const SurfaceLock&) = delete;

  bool ok() const { return ok_; }
  const DDSURFACEDESC& desc() const { return desc_; }

 private:
  IDirectDrawSurface* surface_;
  DDSURFACEDESC desc_{};
  bool ok_ = false;
};

class D3DDevice;
class DDrawObject;

class D3DMaterial final : public D3DRefCounted<IDirect3DMaterial2> {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT SetMaterial(D3DMATERIAL* material) override;
  HRESULT GetMaterial(D3DMATERIAL* material) override;
  HRESULT GetHandle(IDirect3DDevice2* device, D3DMATERIALHANDLE* handle) override;

  const D3DMATERIAL& Description() const { return material_; }

 private:
  D3DMATERIAL material_{kD3DMaterialSize, {}, {}, {}, {}, 0.0f, 0, 0};
};

class D3DTexture final : public D3DRefCounted<IDirect3DTexture2> {
 public:
  explicit D3DTexture(IDirectDrawSurface* surface);
  ~D3DTexture() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetHandle(IDirect3DDevice2* device, D3DTEXTUREHANDLE* handle) override;
  HRESULT PaletteChanged(DWORD start, DWORD count) override;
  HRESULT Load(IDirect3DTexture2* source) override;

  IDirectDrawSurface* Surface() const { return surface_; }

 private:
  IDirectDrawSurface* surface_;  // one reference held
};

class D3DViewport final : public D3DRefCounted<IDirect3DViewport2> {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT SetBackground(D3DMATERIALHANDLE material) override;
  HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags) override;
  HRESULT SetViewport2(D3DVIEWPORT2* viewport) override;
  HRESULT GetViewport2(D3DVIEWPORT2* viewport) override;

  // The device this viewport was added to; it holds a reference to the viewport, not the reverse.
  void AttachTo(D3DDevice* device) { device_ = device; }
  D3DDevice* Device() const { return device_; }
  const D3DVIEWPORT2& Rect() const { return viewport_; }

 private:
  D3DDevice* device_ = nullptr;
  D3DVIEWPORT2 viewport_{kD3DViewport2Size, 0, 0, 0, 0, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  D3DMATERIALHANDLE background_ = 0;
};

class D3DDevice final : public D3DRefCounted<IDirect3DDevice2> {
 public:
  explicit D3DDevice(IDirectDrawSurface* target);
  ~D3DDevice() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT AddViewport(IDirect3DViewport2* viewport) override;
  HRESULT DeleteViewport(IDirect3DViewport2* viewport) override;
  HRESULT SetCurrentViewport(IDirect3DViewport2* viewport) override;
  HRESULT GetCurrentViewport(IDirect3DViewport2** viewport) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetLightState(D3DLIGHTSTATETYPE state, DWORD value) override;
  HRESULT GetLightState(D3DLIGHTSTATETYPE state, DWORD* value) override;
  HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, void* context) override;
  HRESULT GetRenderTarget(IDirectDrawSurface** surface) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitive, D3DVERTEXTYPE vertexType, void* vertices, DWORD vertexCount,
                               WORD* indices, DWORD indexCount, DWORD flags) override;

  // Handles are 1-based positions in the device's tables; 0 means none. The device keeps a
  // reference to every object it handed a handle to, so a handle never outlives its object.
  D3DMATERIALHANDLE MaterialHandle(D3DMaterial* material);
  D3DTEXTUREHANDLE TextureHandle(D3DTexture* texture);
  // Clears the given rectangles, cut to the viewport: colour to the background material's diffuse
  // colour, depth to far.
  HRESULT ClearViewport(const D3DViewport& viewport, D3DMATERIALHANDLE background, DWORD count, const D3DRECT* rects,
                        DWORD flags);
  void ForgetViewport(D3DViewport* viewport);
  // Draws and clears through `gl` from now on (the hardware device on the GPU).
  void UseGl(std::unique_ptr<GlDeviceBackend> gl) { gl_ = std::move(gl); }

 private:
  RasterState DecodeState(const D3DVIEWPORT2& viewport) const;
  D3DCOLOR BackgroundColor(D3DMATERIALHANDLE background) const;

  IDirectDrawSurface* target_;  // one reference held
  DWORD renderStates_[kD3DRenderStateCount] = {};
  DWORD lightStates_[8] = {};
  std::vector<D3DViewport*> viewports_;  // one reference each
  D3DViewport* current_ = nullptr;       // one of viewports_
  std::vector<D3DMaterial*> materials_;  // one reference each
  std::vector<D3DTexture*> textures_;    // one reference each
  bool inScene_ = false;
  std::unique_ptr<GlDeviceBackend> gl_;  // null: the software rasteriser draws
  // The software rasteriser's draws and clears of the current scene, drawn at EndScene or when
  // anything else uses the surfaces; registered with the DirectDraw object that made the target
  // (null when it is none of ours).
  RasterQueue queue_;
  DDrawObject* surfaces_ = nullptr;
};

class D3DObject final : public D3DRefCounted<IDirect3D2> {
 public:
  explicit D3DObject(IDirectDraw2* directDraw);
  ~D3DObject() override;
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) override;
  HRESULT CreateDevice(REFCLSID guid, IDirectDrawSurface* target, IDirect3DDevice2** device) override;
  HRESULT CreateMaterial(IDirect3DMaterial2** material, IUnknown* outer) override;
  HRESULT CreateViewport(IDirect3DViewport2** viewport, IUnknown* outer) override;

 private:
  IDirectDraw2* directDraw_;  // one reference held
};
