// The GL path of the "hardware" Direct3D device: what DrawIndexedPrimitive and the viewport's Clear
// do when the device's render target lives on the GPU. The device keeps its states, handles and
// viewports as always and hands each draw here already decoded; render target and textures are the
// GPU copies of their surfaces, so a frame moves no pixels between memory and GPU.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/dx5/d3d.h"
#include "platform/dx5/raster.h"

class GlDeviceBackend {
 public:
  // The backend for a device drawing into `target`: only when GL drawing is available and the
  // target is a video-memory surface it can render into; null otherwise (the device draws in
  // software).
  static std::unique_ptr<GlDeviceBackend> For(IDirectDrawSurface* target);

  // The whole target as a viewport, for draws without a current viewport.
  D3DVIEWPORT2 WholeTarget() const;
  // As the software device's DrawIndexedPrimitive after its checks: `textureSet` tells whether a
  // texture handle is set, `texture` is its surface (null when the handle names none).
  HRESULT Draw(const RasterState& state, bool textureSet, IDirectDrawSurface* texture, const D3DTLVERTEX* vertices,
               size_t vertexCount, const WORD* indices, size_t indexCount, bool clip);
  // As the software device's viewport clear: the rectangles cut to the viewport in `state`.
  HRESULT Clear(const RasterState& state, const D3DRECT* rects, DWORD count, DWORD flags, D3DCOLOR color);

 private:
  GlDeviceBackend(IDirectDrawSurface* target, int width, int height)
      : target_(target), width_(width), height_(height) {}
  bool HasDepth() const;

  IDirectDrawSurface* target_;  // the device holds the reference
  int width_, height_;
};
