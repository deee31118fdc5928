// TKlvRenderDevice: the little the renderer needs of the Direct3D device component it draws with:
// the immediate-mode device, the viewport the frame is cleared and drawn through, the background
// material, whether the device's colour model is RGB and the picture's default size. The scene
// layer adapts the device component to it (TKalvorRMRenderDevice); the renderer's tests implement
// it over recording stand-ins, so they need no display component.
#pragma once

#include <cstdint>

#include "platform/dx5/d3d.h"

class TKlvRenderDevice {
 public:
  // The device the frame's states and triangles go to; null before the 3D layer exists.
  virtual IDirect3DDevice2* Direct3DDevice() const = 0;
  // The immediate-mode viewport, with a reference the caller releases; null when there is none.
  virtual IDirect3DViewport2* AcquireViewport() = 0;
  // The material the viewport's background is cleared with.
  virtual D3DMATERIALHANDLE BackgroundMaterial() const = 0;
  // False turns fog, specular and dithering off and shades flat.
  virtual bool ColorModelIsRgb() const = 0;
  // The picture's size in pixels, which a view of width or height below 1 takes.
  virtual int32_t DefaultWidth() const = 0;
  virtual int32_t DefaultHeight() const = 0;

 protected:
  ~TKlvRenderDevice() = default;
};
