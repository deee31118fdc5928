// DirectDraw surfaces: memory with a pitch, locks, blits, flipping, palettes, colour keys,
// clippers, drawing contexts and loss (see ddraw_objects.h). Every rectangle is checked against
// both surfaces before a pixel moves: a blit through a clipper is clipped, any other rectangle that
// does not fit is refused with DDERR_INVALIDRECT.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/dx5/d3d_factory.h"
#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/ddraw_objects.h"
#include "platform/dx5/gl_surface.h"
#include "platform/dx5/virtual_display.h"

namespace {

constexpr int kRowAlignment = 4;

LONG PitchFor(int width, SurfaceFormat format) {
  const int bytes = width * SurfaceBytesPerPixel(format);
  return static_cast<LONG>((bytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment);
}

DDrawSurface* AsSurface(IDirectDrawSurface* surface) { return dynamic_cast<DDrawSurface*>(surface); }

bool Inverted(const RECT& r) { return r.right < r.left || r.bottom < r.top; }

// Cuts `dst` to `bounds` and moves the edges of `src` in proportion, so a stretched blit keeps its
// scale; the result goes to `cut`. Done in 64 bits: a destination side is below 2^33 (a 32-bit
// rectangle, moved by a window position) and a source side at most a surface side, so the products
// stay far below 2^63. False when nothing of the destination or the source is left.
bool ClipPair(const WideRect& dst, RECT& src, const RECT& bounds, RECT& cut) {
  cut = IntersectRect(dst, bounds);
  if (RectEmpty(cut)) return false;
  const int64_t dstWidth = dst.right - dst.left;
  const int64_t dstHeight = dst.bottom - dst.top;
  const int64_t srcWidth = int64_t{src.right} - src.left;
  const int64_t srcHeight = int64_t{src.bottom} - src.top;
  // Each pair of cuts takes less than the whole source side, so the edges stay inside the source.
  src.left += static_cast<LONG>((cut.left - dst.left) * srcWidth / dstWidth);
  src.right -= static_cast<LONG>((dst.right - cut.right) * srcWidth / dstWidth);
  src.top += static_cast<LONG>((cut.top - dst.top) * srcHeight / dstHeight);
  src.bottom -= static_cast<LONG>((dst.bottom - cut.bottom) * srcHeight / dstHeight);
  return !RectEmpty(src);
}

}  // namespace

DDrawSurface* DDrawSurface::Create(DDrawObject* owner, const SurfaceSetup& setup) {
  try {
    return new DDrawSurface(owner, setup);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

DDrawSurface::DDrawSurface(DDrawObject* owner, const SurfaceSetup& setup)
    : owner_(owner),
      caps_(setup.caps),
      format_(setup.format),
      width_(setup.width),
      height_(setup.height),
      pitch_(PitchFor(setup.width, setup.format)),
      windowedPrimary_(setup.windowedPrimary),
      memory_(static_cast<size_t>(pitch_) * static_cast<size_t>(setup.height)) {
  owner_->AddSurface(this);
  owner_->AddRef();
}

DDrawSurface::~DDrawSurface() {
  owner_->DrawQueued();
  ForgetPrimarySurface(this);
  if (palette_ != nullptr) palette_->Release();
  if (clipper_ != nullptr) clipper_->Release();
  if (zBuffer_ != nullptr) zBuffer_->Release();
  for (DDrawSurface* back : flipChain_) back->Release();
  owner_->RemoveSurface(this);
  owner_->Release();
}

void DDrawSurface::DrawQueued(IDirectDrawSurface* source) const {
  owner_->DrawQueued();
  if (const DDrawSurface* from = AsSurface(source); from != nullptr && from->owner_ != owner_)
    from->owner_->DrawQueued();
}

PixelBlock DDrawSurface::Block() const {
  PixelBlock block;
  block.bits = const_cast<uint8_t*>(memory_.data());
  block.width = width_;
  block.height = height_;
  block.pitch = pitch_;
  block.format = format_;
  if (format_ == SurfaceFormat::Indexed8) block.palette = palette_ ? palette_->Entries() : SystemPaletteEntries();
  return block;
}

void DDrawSurface::SetGpu(std::unique_ptr<GlSurface> gpu) { gpu_ = std::move(gpu); }

void DDrawSurface::AttachFlipChain(std::vector<DDrawSurface*> backBuffers) { flipChain_ = std::move(backBuffers); }

void DDrawSurface::Describe(DDSURFACEDESC* desc) const {
  *desc = DDSURFACEDESC{};
  desc->dwSize = kDDSurfaceDescSize;
  desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
  desc->dwWidth = static_cast<DWORD>(width_);
  desc->dwHeight = static_cast<DWORD>(height_);
  desc->lPitch = pitch_;
  desc->ddpfPixelFormat = PixelFormatOf(format_);
  desc->ddsCaps.dwCaps = caps_;
  if (!flipChain_.empty()) {
    desc->dwFlags |= DDSD_BACKBUFFERCOUNT;
    desc->dwBackBufferCount = static_cast<DWORD>(flipChain_.size());
  }
  if (IsDepthFormat(format_)) {
    desc->dwFlags |= DDSD_ZBUFFERBITDEPTH;
    desc->dwZBufferBitDepth = desc->ddpfPixelFormat.dwZBufferBitDepth;
  }
  if (srcKey_) {
    desc->dwFlags |= DDSD_CKSRCBLT;
    desc->ddckCKSrcBlt = *srcKey_;
  }
}

HRESULT DDrawSurface::CheckUsable() const {
  if (lost_) return DDERR_SURFACELOST;
  if (access_ != Access::None) return DDERR_SURFACEBUSY;
  return DD_OK;
}

void DDrawSurface::NotePresented() const {
  if (IsShownPrimarySurface(this)) CountPresentedFrame();
}

HRESULT DDrawSurface::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return DDERR_INVALIDPARAMS;
  *object = nullptr;
  if (riid == IID_IDirectDrawSurface) {
    AddRef();
    *object = static_cast<IDirectDrawSurface*>(this);
    return DD_OK;
  }
  if (riid == IID_IDirect3DTexture2 && (caps_ & DDSCAPS_TEXTURE)) {
    IDirect3DTexture2* texture = nullptr;
    const HRESULT result = CreateSurfaceTexture(this, &texture);
    *object = texture;
    return result;
  }
  return E_NOINTERFACE;
}

HRESULT DDrawSurface::AddAttachedSurface(IDirectDrawSurface* surface) {
  if (surface == nullptr) return DDERR_INVALIDPARAMS;
  DDrawSurface* attached = AsSurface(surface);
  if (attached == nullptr) return DDERR_INVALIDOBJECT;
  if (attached == zBuffer_) return DDERR_SURFACEALREADYATTACHED;
  // Only a z-buffer of the same size attaches, and only to a colour surface without one.
  if (attached == this || !IsDepthFormat(attached->format_) || IsDepthFormat(format_) || zBuffer_ != nullptr ||
      attached->width_ != width_ || attached->height_ != height_)
    return DDERR_CANNOTATTACHSURFACE;
  attached->AddRef();
  zBuffer_ = attached;
  return DD_OK;
}

HRESULT DDrawSurface::GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** surface) {
  if (caps == nullptr || surface == nullptr) return DDERR_INVALIDPARAMS;
  *surface = nullptr;
  std::vector<DDrawSurface*> candidates = flipChain_;
  if (zBuffer_ != nullptr) candidates.push_back(zBuffer_);
  for (DDrawSurface* candidate : candidates) {
    if ((candidate->caps_ & caps->dwCaps) == caps->dwCaps) {
      candidate->AddRef();
      *surface = candidate;
      return DD_OK;
    }
  }
  return DDERR_NOTFOUND;
}

WideRect DDrawSurface::DestinationRect(const RECT* destRect) const {
  if (destRect == nullptr) return WideRect{0, 0, width_, height_};
  const WideRect r = Widened(*destRect);
  if (!windowedPrimary_) return r;
  const RECT area = WindowClientArea();
  return WideRect{r.left - area.left, r.top - area.top, r.right - area.left, r.bottom - area.top};
}

HRESULT DDrawSurface::Blt(RECT* destRect, IDirectDrawSurface* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) {
  DrawQueued(src);
  if (HRESULT usable = CheckUsable(); usable != DD_OK) return usable;
  if (fx != nullptr && fx->dwSize != kDDBltFxSize) return DDERR_INVALIDPARAMS;
  if (destRect != nullptr && Inverted(*destRect)) return DDERR_INVALIDRECT;
  const WideRect wanted = DestinationRect(destRect);
  const RECT bounds{0, 0, width_, height_};

  if (flags & DDBLT_COLORFILL) {
    if (fx == nullptr) return DDERR_INVALIDPARAMS;
    if (clipper_ == nullptr && !RectInside(wanted, width_, height_)) return DDERR_INVALIDRECT;
    const RECT dst = IntersectRect(wanted, bounds);
    if (!GlFill(*this, dst, fx->dwFillColor)) {
      GlBringToMemory(*this);
      FillBlock(Block(), dst, fx->dwFillColor);
      GlMemoryChanged(*this);
    }
    NotePresented();
    return DD_OK;
  }

  DDrawSurface* source = AsSurface(src);
  if (src == nullptr) return DDERR_INVALIDPARAMS;
  if (source == nullptr) return DDERR_INVALIDOBJECT;
  if (source->lost_) return DDERR_SURFACELOST;
  if (source != this && source->access_ != Access::None) return DDERR_SURFACEBUSY;
  RECT from = srcRect ? *srcRect : RECT{0, 0, source->width_, source->height_};
  if (!RectInside(from, source->width_, source->height_)) return DDERR_INVALIDRECT;
  if (wanted.right == wanted.left || wanted.bottom == wanted.top || RectEmpty(from)) return DD_OK;
  RECT dst{};
  if (clipper_ != nullptr) {
    if (!ClipPair(wanted, from, bounds, dst)) return DD_OK;
  } else if (RectInside(wanted, width_, height_)) {
    dst = Narrowed(wanted);
  } else {
    return DDERR_INVALIDRECT;
  }
  const HRESULT result = CopyFrom(dst, source, from, (flags & DDBLT_KEYSRC) != 0);
  if (result == DD_OK) NotePresented();
  return result;
}

HRESULT DDrawSurface::BltFast(DWORD x, DWORD y, IDirectDrawSurface* src, RECT* srcRect, DWORD trans) {
  DrawQueued(src);
  if (HRESULT usable = CheckUsable(); usable != DD_OK) return usable;
  if (src == nullptr) return DDERR_INVALIDPARAMS;
  DDrawSurface* source = AsSurface(src);
  if (source == nullptr) return DDERR_INVALIDOBJECT;
  if (source->lost_) return DDERR_SURFACELOST;
  if (source != this && source->access_ != Access::None) return DDERR_SURFACEBUSY;
  if (trans & DDBLTFAST_DESTCOLORKEY) return DDERR_UNSUPPORTED;
  const RECT from = srcRect ? *srcRect : RECT{0, 0, source->width_, source->height_};
  if (!RectInside(from, source->width_, source->height_)) return DDERR_INVALIDRECT;
  // x and y arrive unsigned: a negative position wraps to a huge one and is refused like any other.
  int64_t left = x;
  int64_t top = y;
  if (windowedPrimary_) {
    const RECT area = WindowClientArea();
    left = static_cast<int32_t>(x) - int64_t{area.left};
    top = static_cast<int32_t>(y) - int64_t{area.top};
  }
  const int64_t right = left + (from.right - from.left);
  const int64_t bottom = top + (from.bottom - from.top);
  if (left < 0 || top < 0 || right > width_ || bottom > height_) return DDERR_INVALIDRECT;
  const RECT dst{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right), static_cast<LONG>(bottom)};
  const HRESULT result = CopyFrom(dst, source, from, (trans & DDBLTFAST_SRCCOLORKEY) != 0);
  if (result == DD_OK) NotePresented();
  return result;
}

HRESULT DDrawSurface::CopyFrom(const RECT& dstRect, DDrawSurface* src, const RECT& srcRect, bool keyed) {
  KeyRange range{};
  if (keyed) {
    if (!src->srcKey_) return DDERR_NOCOLORKEY;
    range = KeyRange{src->srcKey_->dwColorSpaceLowValue, src->srcKey_->dwColorSpaceHighValue};
  }
  if (GlCopy(*this, dstRect, *src, srcRect, keyed)) return DD_OK;
  GlBringToMemory(*this);
  GlBringToMemory(*src);
  if (!CopyBlock(Block(), dstRect, src->Block(), srcRect, keyed ? &range : nullptr)) return DDERR_INVALIDPIXELFORMAT;
  GlMemoryChanged(*this);
  return DD_OK;
}

HRESULT DDrawSurface::Flip(IDirectDrawSurface* targetOverride, DWORD) {
  owner_->DrawQueued();
  if (flipChain_.empty()) return DDERR_NOTFLIPPABLE;
  if (!owner_->Exclusive()) return DDERR_NOEXCLUSIVEMODE;
  if (targetOverride != nullptr &&
      std::find(flipChain_.begin(), flipChain_.end(), AsSurface(targetOverride)) == flipChain_.end())
    return DDERR_INVALIDPARAMS;
  if (HRESULT usable = CheckUsable(); usable != DD_OK) return usable;
  for (const DDrawSurface* back : flipChain_)
    if (HRESULT usable = back->CheckUsable(); usable != DD_OK) return usable;
  // The first back buffer's memory goes on show; the old front memory moves to the end of the chain.
  for (DDrawSurface* back : flipChain_) {
    std::swap(memory_, back->memory_);
    std::swap(gpu_, back->gpu_);
  }
  NotePresented();
  return DD_OK;
}

HRESULT DDrawSurface::Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE) {
  owner_->DrawQueued();
  if (desc == nullptr || desc->dwSize != kDDSurfaceDescSize) return DDERR_INVALIDPARAMS;
  if (HRESULT usable = CheckUsable(); usable != DD_OK) return usable;
  const RECT area = rect ? *rect : RECT{0, 0, width_, height_};
  if (!RectInside(area, width_, height_) || RectEmpty(area)) return DDERR_INVALIDRECT;
  GlBringToMemory(*this);
  Describe(desc);
  desc->dwFlags |= DDSD_LPSURFACE;
  desc->lpSurface = memory_.data() + area.top * pitch_ + area.left * SurfaceBytesPerPixel(format_);
  access_ = Access::Locked;
  lockFlags_ = flags;
  return DD_OK;
}

HRESULT DDrawSurface::Unlock(void*) {
  if (access_ != Access::Locked) return DDERR_NOTLOCKED;
  access_ = Access::None;
  if ((lockFlags_ & DDLOCK_READONLY) == 0) GlMemoryChanged(*this);
  return DD_OK;
}

HRESULT DDrawSurface::GetSurfaceDesc(DDSURFACEDESC* desc) {
  if (desc == nullptr || desc->dwSize != kDDSurfaceDescSize) return DDERR_INVALIDPARAMS;
  Describe(desc);
  return DD_OK;
}

HRESULT DDrawSurface::GetDC(HDC* dc) {
  owner_->DrawQueued();
  if (dc == nullptr) return DDERR_INVALIDPARAMS;
  *dc = nullptr;
  if (HRESULT usable = CheckUsable(); usable != DD_OK) return usable;
  const std::optional<GdiFormat> layout = GdiFormatOf(format_);
  if (!layout) return DDERR_INVALIDPIXELFORMAT;
  GlBringToMemory(*this);
  const PixelBlock block = Block();
  dc_ = HDC__{*layout, width_, height_, pitch_, block.bits, block.palette};
  access_ = Access::Dc;
  *dc = &dc_;
  return DD_OK;
}

HRESULT DDrawSurface::ReleaseDC(HDC dc) {
  if (access_ != Access::Dc) return DDERR_NODC;
  if (dc != &dc_) return DDERR_INVALIDPARAMS;
  access_ = Access::None;
  dc_ = HDC__{};
  GlMemoryChanged(*this);
  return DD_OK;
}

HRESULT DDrawSurface::IsLost() { return lost_ ? DDERR_SURFACELOST : DD_OK; }

HRESULT DDrawSurface::Restore() {
  owner_->DrawQueued();
  if (!lost_) return DD_OK;
  // A full-screen primary comes back only in the display mode it was made for.
  if ((caps_ & DDSCAPS_PRIMARYSURFACE) && !windowedPrimary_) {
    const DisplayMode mode = CurrentDisplayMode();
    if (static_cast<int>(mode.width) != width_ || static_cast<int>(mode.height) != height_ ||
        DisplayFormatFrom(mode.bitsPerPixel) != format_)
      return DDERR_WRONGMODE;
  }
  // The memory comes back, its contents do not.
  std::fill(memory_.begin(), memory_.end(), uint8_t{0});
  GlMemoryChanged(*this);
  lost_ = false;
  for (DDrawSurface* back : flipChain_) back->Restore();
  return DD_OK;
}

HRESULT DDrawSurface::SetPalette(IDirectDrawPalette* palette) {
  DDrawPalette* next = nullptr;
  if (palette != nullptr) {
    next = dynamic_cast<DDrawPalette*>(palette);
    if (next == nullptr) return DDERR_INVALIDOBJECT;
    if (IsDepthFormat(format_)) return DDERR_INVALIDPIXELFORMAT;
    next->AddRef();
  }
  if (palette_ != nullptr) palette_->Release();
  palette_ = next;
  if (access_ == Access::Dc && format_ == SurfaceFormat::Indexed8) dc_.palette = Block().palette;
  return DD_OK;
}

HRESULT DDrawSurface::GetPalette(IDirectDrawPalette** palette) {
  if (palette == nullptr) return DDERR_INVALIDPARAMS;
  *palette = nullptr;
  if (palette_ == nullptr) return DDERR_NOPALETTEATTACHED;
  palette_->AddRef();
  *palette = palette_;
  return DD_OK;
}

HRESULT DDrawSurface::SetColorKey(DWORD flags, DDCOLORKEY* key) {
  std::optional<DDCOLORKEY>* slot = nullptr;
  if (flags & DDCKEY_SRCBLT) slot = &srcKey_;
  if (flags & DDCKEY_DESTBLT) slot = slot ? nullptr : &destKey_;
  if (slot == nullptr) return DDERR_INVALIDPARAMS;
  if (key == nullptr) {
    slot->reset();
  } else {
    *slot = *key;
  }
  return DD_OK;
}

HRESULT DDrawSurface::GetColorKey(DWORD flags, DDCOLORKEY* key) {
  if (key == nullptr) return DDERR_INVALIDPARAMS;
  const std::optional<DDCOLORKEY>* slot = nullptr;
  if (flags == DDCKEY_SRCBLT) slot = &srcKey_;
  if (flags == DDCKEY_DESTBLT) slot = &destKey_;
  if (slot == nullptr) return DDERR_INVALIDPARAMS;
  if (!slot->has_value()) return DDERR_NOCOLORKEY;
  *key = **slot;
  return DD_OK;
}

HRESULT DDrawSurface::SetClipper(IDirectDrawClipper* clipper) {
  DDrawClipper* next = nullptr;
  if (clipper != nullptr) {
    next = dynamic_cast<DDrawClipper*>(clipper);
    if (next == nullptr) return DDERR_INVALIDOBJECT;
    next->AddRef();
  }
  if (clipper_ != nullptr) clipper_->Release();
  clipper_ = next;
  return DD_OK;
}

HRESULT DDrawSurface::GetClipper(IDirectDrawClipper** clipper) {
  if (clipper == nullptr) return DDERR_INVALIDPARAMS;
  *clipper = nullptr;
  if (clipper_ == nullptr) return DDERR_NOCLIPPERATTACHED;
  clipper_->AddRef();
  *clipper = clipper_;
  return DD_OK;
}
