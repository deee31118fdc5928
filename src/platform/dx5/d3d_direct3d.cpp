// The IDirect3D2 object: the four devices it lists, device creation on a render surface, and the
// factories through which DirectDraw hands out Direct3D interfaces.
#include <new>

#include "platform/dx5/d3d_factory.h"
#include "platform/dx5/d3d_objects.h"

namespace {

constexpr DWORD kZDepths = DDBD_16 | DDBD_24 | DDBD_32;
// The hardware device offers only 16-bit depth: a program takes the deepest z-buffer a device
// offers, and the software rasteriser behind this device draws a good deal faster on 16 bits (half
// the memory to clear, test and write); on the GPU the depth buffer is the GPU's own.
constexpr DWORD kHardwareZDepths = DDBD_16;
constexpr DWORD kRenderDepths = DDBD_16 | DDBD_32;
constexpr DWORD kMaxTextureSize = 4096;

D3DPRIMCAPS TriangleCaps() {
  D3DPRIMCAPS caps{};
  caps.dwSize = sizeof(D3DPRIMCAPS);
  caps.dwMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
  caps.dwZCmpCaps = D3DPCMPCAPS_LESSEQUAL;
  caps.dwShadeCaps = D3DPSHADECAPS_COLORFLATRGB | D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_FOGGOURAUD;
  caps.dwTextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_TRANSPARENCY;
  caps.dwTextureFilterCaps = D3DFILTER_NEAREST;
  caps.dwTextureBlendCaps = D3DPTBLENDCAPS_MODULATE;
  caps.dwTextureAddressCaps = D3DPTADDRESSCAPS_WRAP;
  return caps;
}

// A description of a device that renders with `colorModel` on z-buffers of `zDepths`.
D3DDEVICEDESC RenderingDescription(D3DCOLORMODEL colorModel, DWORD zDepths) {
  D3DDEVICEDESC desc{};
  desc.dwSize = kD3DDeviceDescSize;
  desc.dwFlags =
      D3DDD_COLORMODEL | D3DDD_DEVCAPS | D3DDD_TRICAPS | D3DDD_DEVICERENDERBITDEPTH | D3DDD_DEVICEZBUFFERBITDEPTH;
  desc.dcmColorModel = colorModel;
  desc.dwDevCaps = D3DDEVCAPS_FLOATTLVERTEX | D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                   D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX;
  desc.dtcTransformCaps.dwSize = sizeof(D3DTRANSFORMCAPS);
  desc.bClipping = TRUE;
  desc.dlcLightingCaps.dwSize = sizeof(D3DLIGHTINGCAPS);
  desc.dpcLineCaps = TriangleCaps();
  desc.dpcTriCaps = TriangleCaps();
  desc.dwDeviceRenderBitDepth = kRenderDepths;
  desc.dwDeviceZBufferBitDepth = zDepths;
  desc.dwMaxVertexCount = 65536;
  desc.dwMinTextureWidth = 1;
  desc.dwMinTextureHeight = 1;
  desc.dwMaxTextureWidth = kMaxTextureSize;
  desc.dwMaxTextureHeight = kMaxTextureSize;
  return desc;
}

// A description with only its version marker: "no such capability" in the hardware slot of a
// software device, or in the software slot of a hardware one.
D3DDEVICEDESC EmptyDescription() {
  D3DDEVICEDESC desc{};
  desc.dwSize = kD3DDeviceDescSize;
  return desc;
}

struct DeviceEntry {
  const GUID* guid;
  const char* description;
  const char* name;
  bool hardware;
  D3DCOLORMODEL colorModel;
};

// The devices in the order EnumDevices reports them.
constexpr DeviceEntry kDevices[] = {
    {&IID_IDirect3DRampDevice, "Software rasteriser, mono ramp colour model", "Ramp Emulation", false, D3DCOLOR_MONO},
    {&IID_IDirect3DRGBDevice, "Software rasteriser, RGB colour model", "RGB Emulation", false, D3DCOLOR_RGB},
    {&IID_IDirect3DHALDevice, "Best software rasteriser, reported as hardware", "Direct3D HAL", true, D3DCOLOR_RGB},
    {&IID_IDirect3DMMXDevice, "Software rasteriser, RGB colour model (second)", "MMX Emulation", false, D3DCOLOR_RGB},
};

bool KnownDevice(REFCLSID guid) {
  for (const DeviceEntry& entry : kDevices)
    if (*entry.guid == guid) return true;
  return false;
}

// A surface the rasteriser can draw into: made for 3D and 16 or 32 bits a pixel.
bool RenderableSurface(IDirectDrawSurface* surface) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  if (FAILED(surface->GetSurfaceDesc(&desc))) return false;
  if ((desc.ddsCaps.dwCaps & DDSCAPS_3DDEVICE) == 0) return false;
  if ((desc.ddpfPixelFormat.dwFlags & DDPF_RGB) == 0) return false;
  DWORD bits = desc.ddpfPixelFormat.dwRGBBitCount;
  return bits == 16 || bits == 32;
}

}  // namespace

D3DObject::D3DObject(IDirectDraw2* directDraw) : directDraw_(directDraw) { directDraw_->AddRef(); }

D3DObject::~D3DObject() { directDraw_->Release(); }

HRESULT D3DObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (riid == IID_IDirect3D2) {
    AddRef();
    *object = static_cast<IDirect3D2*>(this);
    return S_OK;
  }
  if (riid == IID_IDirectDraw2 || riid == IID_IDirectDraw) return directDraw_->QueryInterface(riid, object);
  return E_NOINTERFACE;
}

HRESULT D3DObject::EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) {
  if (callback == nullptr) return E_INVALIDARG;
  for (const DeviceEntry& entry : kDevices) {
    GUID guid = *entry.guid;
    D3DDEVICEDESC hardware =
        entry.hardware ? RenderingDescription(entry.colorModel, kHardwareZDepths) : EmptyDescription();
    D3DDEVICEDESC software = entry.hardware ? EmptyDescription() : RenderingDescription(entry.colorModel, kZDepths);
    if (callback(&guid, entry.description, entry.name, &hardware, &software, context) == D3DENUMRET_CANCEL) break;
  }
  return D3D_OK;
}

HRESULT D3DObject::CreateDevice(REFCLSID guid, IDirectDrawSurface* target, IDirect3DDevice2** device) {
  if (device == nullptr) return E_INVALIDARG;
  *device = nullptr;
  if (!KnownDevice(guid)) return D3DERR_INVALID_DEVICE;
  if (target == nullptr || !RenderableSurface(target)) return D3DERR_INITFAILED;
  D3DDevice* created = new (std::nothrow) D3DDevice(target);
  if (created == nullptr) return E_OUTOFMEMORY;
  // The hardware device draws on the GPU when it can; otherwise it is the software rasteriser.
  if (guid == IID_IDirect3DHALDevice) created->UseGl(GlDeviceBackend::For(target));
  *device = created;
  return D3D_OK;
}

HRESULT D3DObject::CreateMaterial(IDirect3DMaterial2** material, IUnknown* outer) {
  if (material == nullptr || outer != nullptr) return E_INVALIDARG;
  *material = new (std::nothrow) D3DMaterial();
  return *material != nullptr ? D3D_OK : E_OUTOFMEMORY;
}

HRESULT D3DObject::CreateViewport(IDirect3DViewport2** viewport, IUnknown* outer) {
  if (viewport == nullptr || outer != nullptr) return E_INVALIDARG;
  *viewport = new (std::nothrow) D3DViewport();
  return *viewport != nullptr ? D3D_OK : E_OUTOFMEMORY;
}

HRESULT CreateDirect3D2(IDirectDraw2* directDraw, IDirect3D2** d3d) {
  if (d3d == nullptr) return E_INVALIDARG;
  *d3d = nullptr;
  if (directDraw == nullptr) return E_INVALIDARG;
  *d3d = new (std::nothrow) D3DObject(directDraw);
  return *d3d != nullptr ? D3D_OK : E_OUTOFMEMORY;
}

HRESULT CreateSurfaceTexture(IDirectDrawSurface* surface, IDirect3DTexture2** texture) {
  if (texture == nullptr) return E_INVALIDARG;
  *texture = nullptr;
  if (surface == nullptr) return E_INVALIDARG;
  *texture = new (std::nothrow) D3DTexture(surface);
  return *texture != nullptr ? D3D_OK : E_OUTOFMEMORY;
}
