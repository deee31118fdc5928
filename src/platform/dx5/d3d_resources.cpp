// Materials, textures and viewports: the small immediate-mode objects that devices resolve by
// handle (materials, textures) or draw through (viewports).
#include <algorithm>
#include <cstring>

#include "platform/dx5/d3d_objects.h"
#include "platform/dx5/ddraw_gl.h"

namespace {

void CopyPalette(IDirectDrawSurface* from, IDirectDrawSurface* to) {
  IDirectDrawPalette* source = nullptr;
  IDirectDrawPalette* dest = nullptr;
  if (SUCCEEDED(from->GetPalette(&source)) && source != nullptr && SUCCEEDED(to->GetPalette(&dest)) &&
      dest != nullptr) {
    PALETTEENTRY entries[256] = {};
    if (SUCCEEDED(source->GetEntries(0, 0, 256, entries))) dest->SetEntries(0, 0, 256, entries);
  }
  if (dest != nullptr) dest->Release();
  if (source != nullptr) source->Release();
}

}  // namespace

HRESULT D3DMaterial::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!(riid == IID_IDirect3DMaterial2)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IDirect3DMaterial2*>(this);
  return S_OK;
}

HRESULT D3DMaterial::SetMaterial(D3DMATERIAL* material) {
  if (material == nullptr || material->dwSize != kD3DMaterialSize) return E_INVALIDARG;
  material_ = *material;
  return D3D_OK;
}

HRESULT D3DMaterial::GetMaterial(D3DMATERIAL* material) {
  if (material == nullptr || material->dwSize != kD3DMaterialSize) return D3DERR_MATERIAL_GETDATA_FAILED;
  *material = material_;
  return D3D_OK;
}

HRESULT D3DMaterial::GetHandle(IDirect3DDevice2* device, D3DMATERIALHANDLE* handle) {
  if (handle == nullptr) return E_INVALIDARG;
  *handle = 0;
  auto* ours = dynamic_cast<D3DDevice*>(device);
  if (ours == nullptr) return D3DERR_INVALID_DEVICE;
  *handle = ours->MaterialHandle(this);
  return *handle != 0 ? D3D_OK : E_OUTOFMEMORY;
}

D3DTexture::D3DTexture(IDirectDrawSurface* surface) : surface_(surface) { surface_->AddRef(); }

D3DTexture::~D3DTexture() { surface_->Release(); }

HRESULT D3DTexture::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (riid == IID_IDirect3DTexture2) {
    AddRef();
    *object = static_cast<IDirect3DTexture2*>(this);
    return S_OK;
  }
  if (riid == IID_IDirectDrawSurface) return surface_->QueryInterface(riid, object);
  return E_NOINTERFACE;
}

HRESULT D3DTexture::GetHandle(IDirect3DDevice2* device, D3DTEXTUREHANDLE* handle) {
  if (handle == nullptr) return E_INVALIDARG;
  *handle = 0;
  auto* ours = dynamic_cast<D3DDevice*>(device);
  if (ours == nullptr) return D3DERR_INVALID_DEVICE;
  *handle = ours->TextureHandle(this);
  return *handle != 0 ? D3D_OK : E_OUTOFMEMORY;
}

// Software devices read the palette when they draw; a texture on the GPU is expanded again.
HRESULT D3DTexture::PaletteChanged(DWORD start, DWORD count) {
  if (start > 256 || count > 256 - start) return E_INVALIDARG;
  GlSurfaceChanged(surface_);
  return D3D_OK;
}

// Copies the source texture's pixels (and, for palettised textures, its palette) into this one.
// Both must have the same pixel size; the copy covers the rows and columns both have.
HRESULT D3DTexture::Load(IDirect3DTexture2* source) {
  auto* from = dynamic_cast<D3DTexture*>(source);
  if (from == nullptr) return E_INVALIDARG;
  if (from == this || from->surface_ == surface_) return D3D_OK;
  SurfaceLock src(from->surface_, DDLOCK_READONLY);
  if (!src.ok()) return DDERR_SURFACEBUSY;
  SurfaceLock dst(surface_, 0);
  if (!dst.ok()) return DDERR_SURFACEBUSY;
  DWORD bits = src.desc().ddpfPixelFormat.dwRGBBitCount;
  if (bits != dst.desc().ddpfPixelFormat.dwRGBBitCount || bits == 0 || bits % 8 != 0) return D3DERR_TEXTURE_BADSIZE;
  size_t rowBytes = size_t{std::min(src.desc().dwWidth, dst.desc().dwWidth)} * (bits / 8);
  DWORD rows = std::min(src.desc().dwHeight, dst.desc().dwHeight);
  const auto* from_row = static_cast<const uint8_t*>(src.desc().lpSurface);
  auto* to_row = static_cast<uint8_t*>(dst.desc().lpSurface);
  for (DWORD y = 0; y < rows; ++y) {
    std::memcpy(to_row, from_row, rowBytes);
    from_row += src.desc().lPitch;
    to_row += dst.desc().lPitch;
  }
  if (bits == 8) CopyPalette(from->surface_, surface_);
  return D3D_OK;
}

HRESULT D3DViewport::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!(riid == IID_IDirect3DViewport2) && !(riid == IID_IDirect3DViewport)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IDirect3DViewport2*>(this);
  return S_OK;
}

HRESULT D3DViewport::SetBackground(D3DMATERIALHANDLE material) {
  background_ = material;
  return D3D_OK;
}

HRESULT D3DViewport::Clear(DWORD count, D3DRECT* rects, DWORD flags) {
  if (device_ == nullptr) return D3DERR_VIEWPORTHASNODEVICE;
  if (count > 0 && rects == nullptr) return E_INVALIDARG;
  return device_->ClearViewport(*this, background_, count, rects, flags);
}

HRESULT D3DViewport::SetViewport2(D3DVIEWPORT2* viewport) {
  if (viewport == nullptr || viewport->dwSize != kD3DViewport2Size) return E_INVALIDARG;
  viewport_ = *viewport;
  return D3D_OK;
}

HRESULT D3DViewport::GetViewport2(D3DVIEWPORT2* viewport) {
  if (viewport == nullptr || viewport->dwSize != kD3DViewport2Size) return E_INVALIDARG;
  *viewport = viewport_;
  return D3D_OK;
}
