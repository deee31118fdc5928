// The recording device, viewport and retained-mode viewport: each call becomes one RecordedCall.
#include "support/recording_device.h"

namespace {

RecordedCall Call(const char* method, std::vector<uint64_t> args) {
  RecordedCall call;
  call.method = method;
  call.args = std::move(args);
  return call;
}

uint64_t Pointer(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

RecordingDevice* RecordingDevice::Create(std::shared_ptr<CallLog> log) { return new RecordingDevice(std::move(log)); }

void RecordingDevice::Record(const char* method, std::vector<uint64_t> args) {
  log_->push_back(Call(method, std::move(args)));
}

HRESULT RecordingDevice::QueryInterface(REFIID riid, void** object) {
  Record("Device.QueryInterface", {});
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!(riid == IID_IDirect3DDevice2)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IDirect3DDevice2*>(this);
  return S_OK;
}

ULONG RecordingDevice::AddRef() { return ++refs_; }

ULONG RecordingDevice::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT RecordingDevice::AddViewport(IDirect3DViewport2* viewport) {
  Record("Device.AddViewport", {Pointer(viewport)});
  return D3D_OK;
}

HRESULT RecordingDevice::DeleteViewport(IDirect3DViewport2* viewport) {
  Record("Device.DeleteViewport", {Pointer(viewport)});
  return D3D_OK;
}

HRESULT RecordingDevice::SetCurrentViewport(IDirect3DViewport2* viewport) {
  Record("Device.SetCurrentViewport", {Pointer(viewport)});
  return D3D_OK;
}

HRESULT RecordingDevice::GetCurrentViewport(IDirect3DViewport2** viewport) {
  Record("Device.GetCurrentViewport", {});
  if (viewport != nullptr) *viewport = nullptr;
  return D3DERR_VIEWPORTHASNODEVICE;
}

HRESULT RecordingDevice::BeginScene() {
  Record("Device.BeginScene", {});
  return D3D_OK;
}

HRESULT RecordingDevice::EndScene() {
  Record("Device.EndScene", {});
  return D3D_OK;
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  Record("Device.SetRenderState", {state, value});
  if (state >= kD3DRenderStateCount) return E_INVALIDARG;
  renderStates_[state] = value;
  return D3D_OK;
}

HRESULT RecordingDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  Record("Device.GetRenderState", {state});
  if (value == nullptr || state >= kD3DRenderStateCount) return E_INVALIDARG;
  *value = renderStates_[state];
  return D3D_OK;
}

HRESULT RecordingDevice::SetLightState(D3DLIGHTSTATETYPE state, DWORD value) {
  Record("Device.SetLightState", {state, value});
  if (state >= 8) return E_INVALIDARG;
  lightStates_[state] = value;
  return D3D_OK;
}

HRESULT RecordingDevice::GetLightState(D3DLIGHTSTATETYPE state, DWORD* value) {
  Record("Device.GetLightState", {state});
  if (value == nullptr || state >= 8) return E_INVALIDARG;
  *value = lightStates_[state];
  return D3D_OK;
}

HRESULT RecordingDevice::EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, void* context) {
  Record("Device.EnumTextureFormats", {});
  if (callback == nullptr) return E_INVALIDARG;
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_PIXELFORMAT;
  desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
  desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
  desc.ddpfPixelFormat.dwFlags = DDPF_RGB;
  desc.ddpfPixelFormat.dwRGBBitCount = 16;
  desc.ddpfPixelFormat.dwRBitMask = 0xF800;
  desc.ddpfPixelFormat.dwGBitMask = 0x07E0;
  desc.ddpfPixelFormat.dwBBitMask = 0x001F;
  callback(&desc, context);
  return D3D_OK;
}

HRESULT RecordingDevice::GetRenderTarget(IDirectDrawSurface** surface) {
  Record("Device.GetRenderTarget", {});
  if (surface != nullptr) *surface = nullptr;
  return DDERR_NOTFOUND;
}

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE primitive, D3DVERTEXTYPE vertexType, void* vertices,
                                              DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) {
  RecordedCall call = Call("Device.DrawIndexedPrimitive", {primitive, vertexType, vertexCount, indexCount, flags});
  const auto* tl = static_cast<const D3DTLVERTEX*>(vertices);
  if (indices != nullptr) {
    call.indices.assign(indices, indices + indexCount);
    for (WORD index : call.indices)
      call.vertices.push_back(tl != nullptr && index < vertexCount ? tl[index] : D3DTLVERTEX{});
  }
  log_->push_back(std::move(call));
  return D3D_OK;
}

RecordingViewport* RecordingViewport::Create(std::shared_ptr<CallLog> log) {
  return new RecordingViewport(std::move(log));
}

HRESULT RecordingViewport::QueryInterface(REFIID riid, void** object) {
  bool second = riid == IID_IDirect3DViewport2;
  log_->push_back(Call("Viewport.QueryInterface", {second ? 2u : 1u}));
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!second && !(riid == IID_IDirect3DViewport)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IDirect3DViewport2*>(this);
  return S_OK;
}

ULONG RecordingViewport::AddRef() { return ++refs_; }

ULONG RecordingViewport::Release() {
  log_->push_back(Call("Viewport.Release", {}));
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT RecordingViewport::SetBackground(D3DMATERIALHANDLE material) {
  log_->push_back(Call("Viewport.SetBackground", {material}));
  return D3D_OK;
}

HRESULT RecordingViewport::Clear(DWORD count, D3DRECT* rects, DWORD flags) {
  RecordedCall call = Call("Viewport.Clear", {count, flags});
  if (rects != nullptr) call.rects.assign(rects, rects + count);
  log_->push_back(std::move(call));
  return D3D_OK;
}

HRESULT RecordingViewport::SetViewport2(D3DVIEWPORT2* viewport) {
  RecordedCall call = Call("Viewport.SetViewport2", {});
  if (viewport != nullptr) {
    call.viewport = *viewport;
    viewport_ = *viewport;
  }
  log_->push_back(std::move(call));
  return viewport != nullptr ? D3D_OK : E_INVALIDARG;
}

HRESULT RecordingViewport::GetViewport2(D3DVIEWPORT2* viewport) {
  log_->push_back(Call("Viewport.GetViewport2", {}));
  if (viewport == nullptr) return E_INVALIDARG;
  *viewport = viewport_;
  return D3D_OK;
}

RecordingRMViewport* RecordingRMViewport::Create(std::shared_ptr<CallLog> log) {
  return new RecordingRMViewport(std::move(log));
}

RecordingRMViewport::RecordingRMViewport(std::shared_ptr<CallLog> log)
    : log_(std::move(log)), viewport_(RecordingViewport::Create(log_)) {}

RecordingRMViewport::~RecordingRMViewport() { viewport_->Release(); }

HRESULT RecordingRMViewport::QueryInterface(REFIID, void** object) {
  log_->push_back(Call("RMViewport.QueryInterface", {}));
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;
}

ULONG RecordingRMViewport::AddRef() { return ++refs_; }

ULONG RecordingRMViewport::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT RecordingRMViewport::SetBack(D3DVALUE back) {
  log_->push_back(Call("RMViewport.SetBack", {}));
  back_ = back;
  return D3D_OK;
}

D3DVALUE RecordingRMViewport::GetBack() { return back_; }

HRESULT RecordingRMViewport::Clear() {
  log_->push_back(Call("RMViewport.Clear", {}));
  return D3D_OK;
}

HRESULT RecordingRMViewport::Render(IDirect3DRMFrame* scene) {
  log_->push_back(Call("RMViewport.Render", {Pointer(scene)}));
  return D3D_OK;
}

HRESULT RecordingRMViewport::GetDirect3DViewport(IDirect3DViewport** viewport) {
  log_->push_back(Call("RMViewport.GetDirect3DViewport", {}));
  if (viewport == nullptr) return E_INVALIDARG;
  viewport_->AddRef();
  *viewport = viewport_;
  return D3D_OK;
}
