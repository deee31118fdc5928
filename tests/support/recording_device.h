// A recording Direct3D device for tests: an IDirect3DDevice2, an IDirect3DViewport2 and an
// IDirect3DRMViewport that draw nothing and append every call, with its arguments, to one shared
// log in call order, so tests can check what a renderer asked for and in which order.
//
//   auto log = std::make_shared<CallLog>();
//   RecordingDevice* device = RecordingDevice::Create(log);       // one reference each
//   RecordingRMViewport* rmViewport = RecordingRMViewport::Create(log);
//   ... run the code under test ...
//   EXPECT_EQ(log->at(0).method, "RMViewport.GetDirect3DViewport");
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dx5/d3d.h"
#include "platform/dx5/d3drm.h"

struct RecordedCall {
  std::string method;          // "Device.SetRenderState", "Viewport.Clear", ...: object kind, then method
  std::vector<uint64_t> args;  // the scalar arguments in order (states, values, handles, counts, flags)
  D3DVIEWPORT2 viewport{};     // Viewport.SetViewport2: the record passed
  std::vector<D3DRECT> rects;  // Viewport.Clear: the rectangles passed
  // Device.DrawIndexedPrimitive: the indices, and for each index the vertex it refers to (a zero
  // vertex when the index is at or beyond the vertex count).
  std::vector<WORD> indices;
  std::vector<D3DTLVERTEX> vertices;
};
using CallLog = std::vector<RecordedCall>;

// Every call returns D3D_OK unless noted. Render and light states read back what was set
// (zero when never set).
class RecordingDevice final : public IDirect3DDevice2 {
 public:
  static RecordingDevice* Create(std::shared_ptr<CallLog> log);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT AddViewport(IDirect3DViewport2* viewport) override;
  HRESULT DeleteViewport(IDirect3DViewport2* viewport) override;
  HRESULT SetCurrentViewport(IDirect3DViewport2* viewport) override;
  // Hands out nothing: returns D3DERR_VIEWPORTHASNODEVICE with a null viewport.
  HRESULT GetCurrentViewport(IDirect3DViewport2** viewport) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetLightState(D3DLIGHTSTATETYPE state, DWORD value) override;
  HRESULT GetLightState(D3DLIGHTSTATETYPE state, DWORD* value) override;
  // Reports one format, 16-bit 5-6-5 RGB.
  HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, void* context) override;
  // Has no surface: returns DDERR_NOTFOUND with a null surface.
  HRESULT GetRenderTarget(IDirectDrawSurface** surface) override;
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitive, D3DVERTEXTYPE vertexType, void* vertices, DWORD vertexCount,
                               WORD* indices, DWORD indexCount, DWORD flags) override;

 private:
  explicit RecordingDevice(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  ~RecordingDevice() override = default;
  void Record(const char* method, std::vector<uint64_t> args);

  std::shared_ptr<CallLog> log_;
  ULONG refs_ = 1;
  DWORD renderStates_[kD3DRenderStateCount] = {};
  DWORD lightStates_[8] = {};
};

// Answers QueryInterface for IID_IDirect3DViewport and IID_IDirect3DViewport2 with itself.
class RecordingViewport final : public IDirect3DViewport2 {
 public:
  static RecordingViewport* Create(std::shared_ptr<CallLog> log);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT SetBackground(D3DMATERIALHANDLE material) override;
  HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags) override;
  HRESULT SetViewport2(D3DVIEWPORT2* viewport) override;
  HRESULT GetViewport2(D3DVIEWPORT2* viewport) override;

  ULONG References() const { return refs_; }

 private:
  explicit RecordingViewport(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  ~RecordingViewport() override = default;

  std::shared_ptr<CallLog> log_;
  ULONG refs_ = 1;
  D3DVIEWPORT2 viewport_{};
};

// Holds one RecordingViewport on the same log and hands it out (with a new reference) from
// GetDirect3DViewport.
class RecordingRMViewport final : public IDirect3DRMViewport {
 public:
  static RecordingRMViewport* Create(std::shared_ptr<CallLog> log);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT SetBack(D3DVALUE back) override;
  D3DVALUE GetBack() override;
  HRESULT Clear() override;
  HRESULT Render(IDirect3DRMFrame* scene) override;
  HRESULT GetDirect3DViewport(IDirect3DViewport** viewport) override;

  RecordingViewport* Viewport() const { return viewport_; }

 private:
  explicit RecordingRMViewport(std::shared_ptr<CallLog> log);
  ~RecordingRMViewport() override;

  std::shared_ptr<CallLog> log_;
  ULONG refs_ = 1;
  RecordingViewport* viewport_;
  D3DVALUE back_ = 0.0f;
};
