// The GPU copy of a surface and the bookkeeping of which copy is newer.
#include "platform/dx5/gl_surface.h"

#include "platform/dx5/gl_display.h"

bool RasterTargetOf(const PixelBlock& block, RasterTarget* target) {
  switch (block.format) {
    case SurfaceFormat::Rgb565: target->format = RasterPixelFormat::Rgb565; break;
    case SurfaceFormat::Rgb555: target->format = RasterPixelFormat::Rgb555; break;
    case SurfaceFormat::Xrgb32: target->format = RasterPixelFormat::Xrgb32; break;
    default: return false;
  }
  target->bits = block.bits;
  target->pitch = block.pitch;
  target->width = block.width;
  target->height = block.height;
  return true;
}

GlSurface::GlSurface(GlRaster& raster, int width, int height)
    : raster_(raster), serial_(DisplayGlSerial()), width_(width), height_(height) {}

GlSurface::~GlSurface() {
  if (!Alive()) return;
  raster_.DestroyTarget(&target_);
  raster_.DestroyTexture(&texture_);
}

bool GlSurface::Alive() const { return serial_ == DisplayGlSerial() && DisplayGlRaster() == &raster_; }

const GlTarget* GlSurface::Target(const PixelBlock& memory, bool withDepth) {
  RasterTarget view;
  if (!Alive() || !RasterTargetOf(memory, &view)) return nullptr;
  if (target_.framebuffer == 0) {
    if (!raster_.CreateTarget(width_, height_, withDepth, &target_)) return nullptr;
  } else if (withDepth && target_.depth == 0 && !raster_.SetTargetDepth(&target_, true)) {
    return nullptr;
  }
  if (memoryNewer_) {
    raster_.WriteColor(target_, view);
    memoryNewer_ = false;
  }
  return &target_;
}

const GlTexture* GlSurface::Texture(const RasterTexture& texels, bool bilinear) {
  if (!Alive()) return nullptr;
  if (CurrentTexture(bilinear) == nullptr) {
    if (!raster_.UploadTexture(texels, bilinear, &texture_)) return nullptr;
    memoryNewer_ = false;
  }
  return &texture_;
}

void GlSurface::SyncToMemory(const PixelBlock& memory) {
  if (!gpuNewer_) return;
  gpuNewer_ = false;
  RasterTarget view;
  if (!Alive() || target_.framebuffer == 0 || !RasterTargetOf(memory, &view)) return;
  raster_.ReadColor(target_, view);
}
