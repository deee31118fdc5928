// The GPU copy of a video-memory DirectDraw surface on the GL device: a render target for 16- and
// 32-bit colour surfaces, a texture for texture surfaces. The surface's memory and the GPU copy
// each know whether they hold something the other lacks; a Lock reads the GPU copy back first, an
// Unlock leaves the memory newer and the next GPU use uploads it. Made by ddraw_gl.cpp for surfaces
// the GL device draws into, samples or copies between.
#pragma once

#include <cstdint>

#include "platform/dx5/ddraw_blit.h"
#include "platform/dx5/gl_raster.h"

class GlSurface {
 public:
  GlSurface(GlRaster& raster, int width, int height);
  // Frees the GL objects unless the context they belonged to is already gone.
  ~GlSurface();
  GlSurface(const GlSurface&) = delete;
  GlSurface& operator=(const GlSurface&) = delete;

  // Whether the GL objects still belong to the display's current context.
  bool Alive() const;
  // The render target with the memory's contents, made (and uploaded) when needed; null when GL
  // cannot make it or the memory's format is not a 16- or 32-bit colour.
  const GlTarget* Target(const PixelBlock& memory, bool withDepth);
  // The texture with the memory's texels, uploaded when the memory changed; null when none.
  const GlTexture* Texture(const RasterTexture& texels, bool bilinear);
  // The texture as last uploaded when it is still current for `bilinear`, else null.
  const GlTexture* CurrentTexture(bool bilinear) const {
    return Alive() && texture_.name != 0 && !memoryNewer_ && texture_.bilinear == bilinear ? &texture_ : nullptr;
  }
  // Reads the GPU copy into `memory` when the GPU copy is newer.
  void SyncToMemory(const PixelBlock& memory);

  void MemoryChanged() {
    memoryNewer_ = true;
    gpuNewer_ = false;
  }
  void GpuChanged() {
    gpuNewer_ = true;
    memoryNewer_ = false;
  }
  // The next GPU operation writes every pixel, so the memory need not be uploaded before it.
  void WillOverwrite() { memoryNewer_ = false; }
  bool GpuNewer() const { return gpuNewer_; }
  GlRaster& Raster() { return raster_; }

 private:
  GlRaster& raster_;
  uint64_t serial_;
  int width_, height_;
  GlTarget target_;
  GlTexture texture_;
  bool gpuNewer_ = false;
  bool memoryNewer_ = true;  // nothing uploaded yet
};

// The rasteriser's view of a 16- or 32-bit colour block; false for other formats.
bool RasterTargetOf(const PixelBlock& block, RasterTarget* target);
