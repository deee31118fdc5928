// The GL path of the Direct3D device.
#include "platform/dx5/gl_device.h"

#include <algorithm>

#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_raster.h"

std::unique_ptr<GlDeviceBackend> GlDeviceBackend::For(IDirectDrawSurface* target) {
  if (target == nullptr || DisplayGlRaster() == nullptr) return nullptr;
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  if (FAILED(target->GetSurfaceDesc(&desc)) || (desc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) == 0) return nullptr;
  std::unique_ptr<GlDeviceBackend> backend(
      new GlDeviceBackend(target, static_cast<int>(desc.dwWidth), static_cast<int>(desc.dwHeight)));
  if (GlRenderTargetOf(target, backend->HasDepth()) == nullptr) return nullptr;
  return backend;
}

bool GlDeviceBackend::HasDepth() const {
  DDSCAPS caps{DDSCAPS_ZBUFFER};
  IDirectDrawSurface* depth = nullptr;
  if (FAILED(target_->GetAttachedSurface(&caps, &depth)) || depth == nullptr) return false;
  depth->Release();
  return true;
}

D3DVIEWPORT2 GlDeviceBackend::WholeTarget() const {
  return D3DVIEWPORT2{sizeof(D3DVIEWPORT2),
                      0,
                      0,
                      static_cast<DWORD>(width_),
                      static_cast<DWORD>(height_),
                      0.0f,
                      0.0f,
                      0.0f,
                      0.0f,
                      0.0f,
                      1.0f};
}

HRESULT GlDeviceBackend::Draw(const RasterState& state, bool textureSet, IDirectDrawSurface* texture,
                              const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t indexCount,
                              bool clip) {
  GlRaster* raster = DisplayGlRaster();
  if (raster == nullptr) return DDERR_SURFACELOST;
  const GlTexture* sampled = nullptr;
  if (textureSet) {
    // A handle naming nothing draws nothing, as in software; so does a texture that is the target.
    if (texture == nullptr || texture == target_) return D3D_OK;
    sampled = GlTextureOf(texture);
    if (sampled == nullptr) return DDERR_INVALIDPIXELFORMAT;
  }
  const GlTarget* target = GlRenderTargetOf(target_, state.zEnable && HasDepth());
  if (target == nullptr) return DDERR_SURFACELOST;
  raster->DrawTriangles(state, *target, sampled, vertices, vertexCount, indices, indexCount, clip);
  return D3D_OK;
}

HRESULT GlDeviceBackend::Clear(const RasterState& state, const D3DRECT* rects, DWORD count, DWORD flags,
                               D3DCOLOR color) {
  GlRaster* raster = DisplayGlRaster();
  if (raster == nullptr) return DDERR_SURFACELOST;
  const bool clearDepth = (flags & D3DCLEAR_ZBUFFER) != 0 && HasDepth();
  const GlTarget* target = GlRenderTargetOf(target_, clearDepth);
  if (target == nullptr) return DDERR_SURFACELOST;
  for (DWORD i = 0; i < count; ++i) {
    const int x0 = std::max(rects[i].x1, static_cast<LONG>(state.viewportX0));
    const int y0 = std::max(rects[i].y1, static_cast<LONG>(state.viewportY0));
    const int x1 = std::min(rects[i].x2, static_cast<LONG>(state.viewportX1));
    const int y1 = std::min(rects[i].y2, static_cast<LONG>(state.viewportY1));
    if ((flags & D3DCLEAR_TARGET) != 0) raster->FillColor(*target, x0, y0, x1, y1, color);
    if (clearDepth) raster->FillDepth(*target, x0, y0, x1, y1, 1.0f);
  }
  return (flags & D3DCLEAR_ZBUFFER) != 0 && !clearDepth ? D3DERR_INITFAILED : D3D_OK;
}
