// Pictures from memory on the GL window.
#include "platform/dx5/gl_window_picture.h"

#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_raster.h"

namespace {

// The last picture shown from memory, kept on the GPU for redraws.
struct MemoryPicture {
  GlRaster* raster = nullptr;
  uint64_t serial = 0;
  GlTarget target;
};

MemoryPicture& Picture() {
  static MemoryPicture picture;
  return picture;
}

}  // namespace

bool PresentPixelsOnGl(const uint8_t* pixels, int width, int height, intptr_t pitch) {
  GlRaster* raster = DisplayGlRaster();
  GlContext* context = DisplayGlContext();
  if (raster == nullptr || context == nullptr || !context->HasWindow()) return false;
  MemoryPicture& p = Picture();
  if (p.raster != raster || p.serial != DisplayGlSerial()) p = MemoryPicture{raster, DisplayGlSerial(), {}};
  if (p.target.width != width || p.target.height != height) {
    raster->DestroyTarget(&p.target);
    if (!raster->CreateTarget(width, height, false, &p.target)) return false;
  }
  raster->WriteColor(p.target,
                     RasterTarget{const_cast<uint8_t*>(pixels), pitch, width, height, RasterPixelFormat::Xrgb32});
  int windowWidth = 0, windowHeight = 0;
  context->WindowSize(&windowWidth, &windowHeight);
  raster->PresentToWindow(p.target, windowWidth, windowHeight, context->FillsWindow());
  context->Present();
  return true;
}

void ShowLastGlPicture() {
  if (GlPresentFrontBuffer()) return;
  MemoryPicture& p = Picture();
  GlContext* context = DisplayGlContext();
  if (context == nullptr || p.raster != DisplayGlRaster() || p.serial != DisplayGlSerial() || p.target.framebuffer == 0)
    return;
  int windowWidth = 0, windowHeight = 0;
  context->WindowSize(&windowWidth, &windowHeight);
  p.raster->PresentToWindow(p.target, windowWidth, windowHeight, context->FillsWindow());
  context->Present();
}
