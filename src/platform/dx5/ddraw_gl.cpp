// GPU copies of video-memory surfaces, GPU blits and fills, and GL presentation of the primary.
#include "platform/dx5/ddraw_gl.h"

#include <algorithm>
#include <bit>

#include "platform/dx5/ddraw_objects.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_surface.h"
#include "platform/dx5/virtual_display.h"

namespace {

DDrawSurface* AsSurface(IDirectDrawSurface* surface) { return dynamic_cast<DDrawSurface*>(surface); }

bool ColourTargetFormat(SurfaceFormat format) {
  return format == SurfaceFormat::Rgb565 || format == SurfaceFormat::Rgb555 || format == SurfaceFormat::Xrgb32;
}

// The surface's GPU copy, made when the GL device is active and the surface lives in video memory.
GlSurface* GpuOf(DDrawSurface& surface, bool create) {
  GlSurface* gpu = surface.Gpu();
  if (gpu != nullptr) return gpu->Alive() ? gpu : nullptr;
  if (!create || (surface.Caps() & DDSCAPS_VIDEOMEMORY) == 0 || IsDepthFormat(surface.Format())) return nullptr;
  GlRaster* raster = DisplayGlRaster();
  if (raster == nullptr) return nullptr;
  const PixelBlock block = surface.Block();
  surface.SetGpu(std::make_unique<GlSurface>(*raster, block.width, block.height));
  return surface.Gpu();
}

// A raw pixel value of a 16- or 32-bit colour format as 0x00RRGGBB, channels widened by repeating
// their top bits (so converting back gives the same raw value).
D3DCOLOR ColourOfPixel(SurfaceFormat format, DWORD value) {
  auto widen5 = [](DWORD v) { return (v << 3 | v >> 2) & 0xFF; };
  auto widen6 = [](DWORD v) { return (v << 2 | v >> 4) & 0xFF; };
  switch (format) {
    case SurfaceFormat::Rgb565:
      return widen5(value >> 11 & 0x1F) << 16 | widen6(value >> 5 & 0x3F) << 8 | widen5(value & 0x1F);
    case SurfaceFormat::Rgb555:
      return widen5(value >> 10 & 0x1F) << 16 | widen5(value >> 5 & 0x1F) << 8 | widen5(value & 0x1F);
    default: return value & 0xFFFFFFu;
  }
}

RasterChannel ChannelOf(DWORD mask) {
  if (mask == 0) return {};
  return {static_cast<uint32_t>(std::countr_zero(mask)), std::clamp<uint32_t>(std::popcount(mask), 1, 8)};
}

// The rasteriser's description of a texture surface's memory (as the software device reads it);
// false for formats it does not sample.
bool DescribeTexels(IDirectDrawSurface* surface, const PixelBlock& block, RasterTexture* texture) {
  texture->bits = block.bits;
  texture->pitch = block.pitch;
  texture->width = block.width;
  texture->height = block.height;
  switch (block.format) {
    case SurfaceFormat::Indexed8:
      texture->format = RasterTexelFormat::Indexed8;
      if (block.palette != nullptr)
        for (int i = 0; i < 256; ++i)
          texture->palette[i] = uint32_t{block.palette[i].peRed} << 16 | uint32_t{block.palette[i].peGreen} << 8 |
                                block.palette[i].peBlue;
      break;
    case SurfaceFormat::Rgb565:
    case SurfaceFormat::Rgb555: {
      const DDPIXELFORMAT format = PixelFormatOf(block.format);
      texture->format = RasterTexelFormat::Direct16;
      texture->red = ChannelOf(format.dwRBitMask);
      texture->green = ChannelOf(format.dwGBitMask);
      texture->blue = ChannelOf(format.dwBBitMask);
      break;
    }
    case SurfaceFormat::Xrgb32: texture->format = RasterTexelFormat::Xrgb32; break;
    default: return false;
  }
  DDCOLORKEY key{};
  if (SUCCEEDED(surface->GetColorKey(DDCKEY_SRCBLT, &key))) {
    texture->hasColorKey = true;
    texture->keyLow = key.dwColorSpaceLowValue;
    texture->keyHigh = std::max(key.dwColorSpaceLowValue, key.dwColorSpaceHighValue);
  }
  return true;
}

}  // namespace

const GlTarget* GlRenderTargetOf(IDirectDrawSurface* surface, bool withDepth) {
  DDrawSurface* ours = AsSurface(surface);
  if (ours == nullptr || !ColourTargetFormat(ours->Format())) return nullptr;
  GlSurface* gpu = GpuOf(*ours, true);
  if (gpu == nullptr) return nullptr;
  const GlTarget* target = gpu->Target(ours->Block(), withDepth);
  if (target != nullptr) gpu->GpuChanged();
  return target;
}

const GlTexture* GlTextureOf(IDirectDrawSurface* surface) {
  DDrawSurface* ours = AsSurface(surface);
  if (ours == nullptr) return nullptr;
  GlSurface* gpu = GpuOf(*ours, true);
  if (gpu == nullptr) return nullptr;
  const bool bilinear = GlBilinearFiltering();
  if (const GlTexture* current = gpu->CurrentTexture(bilinear); current != nullptr) return current;
  RasterTexture texels;
  if (!DescribeTexels(surface, ours->Block(), &texels)) return nullptr;
  return gpu->Texture(texels, bilinear);
}

void GlSurfaceChanged(IDirectDrawSurface* surface) {
  DDrawSurface* ours = AsSurface(surface);
  if (ours != nullptr) GlMemoryChanged(*ours);
}

bool GlSurfaceOnGpu(IDirectDrawSurface* surface) {
  DDrawSurface* ours = AsSurface(surface);
  return ours != nullptr && GpuOf(*ours, false) != nullptr;
}

bool GlFill(DDrawSurface& dst, const RECT& rect, DWORD value) {
  GlSurface* gpu = GpuOf(dst, false);
  if (gpu == nullptr || !ColourTargetFormat(dst.Format())) return false;
  const PixelBlock whole = dst.Block();
  if (rect.left <= 0 && rect.top <= 0 && rect.right >= whole.width && rect.bottom >= whole.height) gpu->WillOverwrite();
  const GlTarget* target = gpu->Target(whole, false);
  if (target == nullptr) return false;
  gpu->Raster().FillColor(*target, rect.left, rect.top, rect.right, rect.bottom, ColourOfPixel(dst.Format(), value));
  gpu->GpuChanged();
  return true;
}

// On the GPU only when the source's picture is there already, the copy is not keyed or stretched,
// and the destination can take a GPU copy.
bool GlCopy(DDrawSurface& dst, const RECT& dstRect, DDrawSurface& src, const RECT& srcRect, bool keyed) {
  if (keyed || &dst == &src || !ColourTargetFormat(dst.Format()) || !ColourTargetFormat(src.Format())) return false;
  const LONG width = srcRect.right - srcRect.left, height = srcRect.bottom - srcRect.top;
  if (dstRect.right - dstRect.left != width || dstRect.bottom - dstRect.top != height) return false;
  GlSurface* from = GpuOf(src, false);
  if (from == nullptr) return false;
  GlSurface* to = GpuOf(dst, true);
  if (to == nullptr) return false;
  const PixelBlock whole = dst.Block();
  if (dstRect.left == 0 && dstRect.top == 0 && dstRect.right == whole.width && dstRect.bottom == whole.height)
    to->WillOverwrite();
  const GlTarget* source = from->Target(src.Block(), false);
  const GlTarget* dest = to->Target(dst.Block(), false);
  if (source == nullptr || dest == nullptr) return false;
  to->Raster().CopyColor(*source, srcRect.left, srcRect.top, *dest, dstRect.left, dstRect.top, width, height);
  to->GpuChanged();
  return true;
}

void GlBringToMemory(const DDrawSurface& surface) {
  if (GlSurface* gpu = surface.Gpu(); gpu != nullptr) gpu->SyncToMemory(surface.Block());
}

// A texture is uploaded as soon as its memory changes, so the frames that sample it later upload
// nothing.
void GlMemoryChanged(DDrawSurface& surface) {
  if (GlSurface* gpu = surface.Gpu(); gpu != nullptr) gpu->MemoryChanged();
  if ((surface.Caps() & DDSCAPS_TEXTURE) != 0) GlTextureOf(&surface);
}

bool GlPresentFrontBuffer() {
  GlContext* context = DisplayGlContext();
  const DDrawSurface* primary = ShownPrimarySurface();
  if (context == nullptr || !context->HasWindow() || primary == nullptr) return false;
  GlSurface* gpu = primary->Gpu();
  if (gpu == nullptr || !gpu->Alive() || !gpu->GpuNewer()) return false;
  const GlTarget* target = gpu->Target(primary->Block(), false);
  if (target == nullptr) return false;
  int width = 0, height = 0;
  context->WindowSize(&width, &height);
  gpu->Raster().PresentToWindow(*target, width, height, context->FillsWindow());
  context->Present();
  return true;
}
