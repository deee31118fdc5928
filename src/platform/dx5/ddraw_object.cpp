// The DirectDraw entry points and the DirectDraw object: cooperative level, display modes,
// capabilities, and creation of surfaces, palettes and clippers (see ddraw_objects.h).
#include <algorithm>
#include <new>
#include <vector>

#include "platform/dx5/d3d_factory.h"
#include "platform/dx5/ddraw_objects.h"
#include "platform/dx5/raster.h"
#include "platform/dx5/virtual_display.h"

namespace {

constexpr const char* kDriverDescription = "Primary Display Driver";
constexpr const char* kDriverName = "display";
constexpr DWORD kRefreshRate = 60;
constexpr DWORD kMaxBackBuffers = 3;
constexpr DWORD kMaxSurfaceSide = 8192;
constexpr DWORD kVideoMemoryBytes = 16u << 20;

constexpr DisplayMode kDisplayModes[] = {
    {640, 480, 8},  {640, 480, 16}, {640, 480, 32},  {800, 600, 8},   {800, 600, 16},
    {800, 600, 32}, {1024, 768, 8}, {1024, 768, 16}, {1024, 768, 32},
};

constexpr DWORD kDisplayDepths[] = {8, 16, 32};

// The fixed modes, then the monitor's own size at each depth when it is not one of them.
std::vector<DisplayMode> DisplayModes() {
  std::vector<DisplayMode> modes(std::begin(kDisplayModes), std::end(kDisplayModes));
  const DisplaySize native = NativeDisplaySize();
  if (native.width < 1 || native.height < 1 || native.width > kMaxSurfaceSide || native.height > kMaxSurfaceSide)
    return modes;
  for (DWORD bits : kDisplayDepths) {
    const DisplayMode mode{native.width, native.height, bits};
    if (std::none_of(modes.begin(), modes.end(), [&](const DisplayMode& m) {
          return m.width == mode.width && m.height == mode.height && m.bitsPerPixel == bits;
        }))
      modes.push_back(mode);
  }
  return modes;
}

bool KnownMode(DWORD width, DWORD height, DWORD bits) {
  const std::vector<DisplayMode> modes = DisplayModes();
  return std::any_of(modes.begin(), modes.end(), [&](const DisplayMode& m) {
    return m.width == width && m.height == height && m.bitsPerPixel == bits;
  });
}

bool IsNullGuid(const GUID* guid) {
  if (guid == nullptr) return true;
  return *guid == GUID{};
}

constexpr DWORD kSurfaceCaps = DDSCAPS_BACKBUFFER | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER |
                               DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PALETTE | DDSCAPS_PRIMARYSURFACE |
                               DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY |
                               DDSCAPS_ZBUFFER;

// What the stand-in does, as a driver would describe it: colour fill, source colour keys, 8-bit
// palettes and z-buffers of 16, 24 and 32 bits, with the 3D device and textures in "hardware".
DDCAPS DescribeCaps(bool hardware) {
  DDCAPS caps{};
  caps.dwSize = kDDCapsSize;
  caps.dwCaps = DDCAPS_BLT | DDCAPS_BLTCOLORFILL | DDCAPS_COLORKEY | DDCAPS_PALETTE;
  if (hardware) caps.dwCaps |= DDCAPS_3D;
  caps.dwCKeyCaps = DDCKEYCAPS_SRCBLT;
  caps.dwPalCaps = DDPCAPS_8BIT;
  caps.dwZBufferBitDepths = DDBD_16 | DDBD_24 | DDBD_32;
  if (hardware) {
    caps.dwVidMemTotal = kVideoMemoryBytes;
    caps.dwVidMemFree = kVideoMemoryBytes;
  }
  caps.ddsCaps.dwCaps = kSurfaceCaps;
  return caps;
}

DDSURFACEDESC DescribeMode(const DisplayMode& mode) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
  desc.dwWidth = mode.width;
  desc.dwHeight = mode.height;
  desc.lPitch = static_cast<LONG>(mode.width * (mode.bitsPerPixel / 8));
  desc.dwRefreshRate = kRefreshRate;
  desc.ddpfPixelFormat = PixelFormatOf(DisplayFormatFrom(mode.bitsPerPixel).value_or(SurfaceFormat::Rgb565));
  return desc;
}

bool ModeMatches(const DisplayMode& mode, const DDSURFACEDESC& templ) {
  if ((templ.dwFlags & DDSD_WIDTH) && templ.dwWidth != mode.width) return false;
  if ((templ.dwFlags & DDSD_HEIGHT) && templ.dwHeight != mode.height) return false;
  if ((templ.dwFlags & DDSD_PIXELFORMAT) && templ.ddpfPixelFormat.dwRGBBitCount != mode.bitsPerPixel) return false;
  if ((templ.dwFlags & DDSD_REFRESHRATE) && templ.dwRefreshRate != 0 && templ.dwRefreshRate != kRefreshRate)
    return false;
  return true;
}

bool ValidSide(DWORD side) { return side >= 1 && side <= kMaxSurfaceSide; }

void SetKeyFromDesc(const DDSURFACEDESC& desc, DDrawSurface* surface) {
  if (desc.dwFlags & DDSD_CKSRCBLT) {
    DDCOLORKEY key = desc.ddckCKSrcBlt;
    surface->SetColorKey(DDCKEY_SRCBLT, &key);
  }
}

}  // namespace

HRESULT DirectDrawEnumerateA(LPDDENUMCALLBACKA callback, void* context) {
  if (callback == nullptr) return DDERR_INVALIDPARAMS;
  callback(nullptr, kDriverDescription, kDriverName, context);
  return DD_OK;
}

HRESULT DirectDrawCreate(GUID* guid, IDirectDraw** directDraw, IUnknown* outer) {
  if (directDraw == nullptr) return DDERR_INVALIDPARAMS;
  *directDraw = nullptr;
  if (outer != nullptr || !IsNullGuid(guid)) return DDERR_INVALIDPARAMS;
  DDrawObject* object = new (std::nothrow) DDrawObject();
  if (object == nullptr) return DDERR_OUTOFMEMORY;
  *directDraw = object;
  return DD_OK;
}

DDrawObject::~DDrawObject() { RestoreDisplayMode(); }

HRESULT DDrawObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return DDERR_INVALIDPARAMS;
  *object = nullptr;
  if (riid == IID_IDirectDraw) {
    AddRef();
    *object = static_cast<IDirectDraw*>(this);
    return DD_OK;
  }
  if (riid == IID_IDirectDraw2) {
    AddRef();
    *object = static_cast<IDirectDraw2*>(this);
    return DD_OK;
  }
  if (riid == IID_IDirect3D2) {
    IDirect3D2* d3d = nullptr;
    const HRESULT result = CreateDirect3D2(this, &d3d);
    *object = d3d;
    return result;
  }
  return E_NOINTERFACE;
}

HRESULT DDrawObject::SetCooperativeLevel(HWND window, DWORD flags) {
  const bool normal = (flags & DDSCL_NORMAL) != 0;
  const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
  const bool fullScreen = (flags & DDSCL_FULLSCREEN) != 0;
  if (normal == exclusive || exclusive != fullScreen) return DDERR_INVALIDPARAMS;
  // Leaving exclusive mode gives the display back in the mode it had.
  if (normal && Exclusive()) RestoreDisplayMode();
  level_ = flags;
  window_ = window;
  return DD_OK;
}

HRESULT DDrawObject::SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (!KnownMode(width, height, bitsPerPixel)) return DDERR_INVALIDMODE;
  SetCurrentDisplayMode(DisplayMode{width, height, bitsPerPixel});
  changedMode_ = true;
  return DD_OK;
}

HRESULT DDrawObject::SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate, DWORD) {
  if (refreshRate != 0 && refreshRate != kRefreshRate) return DDERR_INVALIDMODE;
  return SetDisplayMode(width, height, bitsPerPixel);
}

HRESULT DDrawObject::RestoreDisplayMode() {
  if (changedMode_) SetCurrentDisplayMode(kDesktopDisplayMode);
  changedMode_ = false;
  return DD_OK;
}

HRESULT DDrawObject::GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) {
  if (driverCaps == nullptr && helCaps == nullptr) return DDERR_INVALIDPARAMS;
  if ((driverCaps != nullptr && driverCaps->dwSize != kDDCapsSize) ||
      (helCaps != nullptr && helCaps->dwSize != kDDCapsSize))
    return DDERR_INVALIDPARAMS;
  if (driverCaps != nullptr) *driverCaps = DescribeCaps(true);
  if (helCaps != nullptr) *helCaps = DescribeCaps(false);
  return DD_OK;
}

HRESULT DDrawObject::EnumDisplayModes(DWORD, DDSURFACEDESC* templ, void* context, LPDDENUMMODESCALLBACK callback) {
  if (callback == nullptr || (templ != nullptr && templ->dwSize != kDDSurfaceDescSize)) return DDERR_INVALIDPARAMS;
  for (const DisplayMode& mode : DisplayModes()) {
    if (templ != nullptr && !ModeMatches(mode, *templ)) continue;
    DDSURFACEDESC desc = DescribeMode(mode);
    if (callback(&desc, context) == DDENUMRET_CANCEL) break;
  }
  return DD_OK;
}

HRESULT DDrawObject::CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** surface, IUnknown* outer) {
  if (surface == nullptr) return DDERR_INVALIDPARAMS;
  *surface = nullptr;
  if (desc == nullptr || desc->dwSize != kDDSurfaceDescSize || outer != nullptr) return DDERR_INVALIDPARAMS;
  DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : DWORD{DDSCAPS_OFFSCREENPLAIN};
  if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDPARAMS;
  if (!(caps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY))) caps |= DDSCAPS_VIDEOMEMORY;
  if (caps & DDSCAPS_PRIMARYSURFACE) return CreatePrimary(*desc, caps, surface);
  if (caps & (DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_BACKBUFFER | DDSCAPS_FRONTBUFFER)) return DDERR_UNSUPPORTED;
  if (caps & DDSCAPS_ZBUFFER) return CreateDepth(*desc, caps, surface);
  return CreatePlain(*desc, caps, surface);
}

HRESULT DDrawObject::CreatePrimary(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface) {
  if (desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
  const bool flipping = (caps & DDSCAPS_FLIP) != 0;
  const DWORD backBuffers = (desc.dwFlags & DDSD_BACKBUFFERCOUNT) ? desc.dwBackBufferCount : 0;
  if (flipping != (backBuffers > 0) || flipping != ((caps & DDSCAPS_COMPLEX) != 0) || backBuffers > kMaxBackBuffers)
    return DDERR_INVALIDPARAMS;
  if (flipping && !Exclusive()) return DDERR_NOEXCLUSIVEMODE;

  const DisplayMode mode = CurrentDisplayMode();
  SurfaceSetup setup;
  setup.format = DisplayFormatFrom(mode.bitsPerPixel).value_or(SurfaceFormat::Rgb565);
  if (Exclusive()) {
    setup.width = static_cast<int>(mode.width);
    setup.height = static_cast<int>(mode.height);
  } else {
    const RECT area = WindowClientArea();
    setup.width = std::max<LONG>(1, area.right - area.left);
    setup.height = std::max<LONG>(1, area.bottom - area.top);
    setup.windowedPrimary = true;
  }
  setup.caps = caps | (flipping ? DDSCAPS_FRONTBUFFER : 0);
  DDrawSurface* front = DDrawSurface::Create(this, setup);
  if (front == nullptr) return DDERR_OUTOFMEMORY;

  std::vector<DDrawSurface*> chain;
  for (DWORD i = 0; i < backBuffers; ++i) {
    SurfaceSetup back = setup;
    back.caps = (caps & ~DDSCAPS_PRIMARYSURFACE) | (i == 0 ? DDSCAPS_BACKBUFFER : 0);
    DDrawSurface* buffer = DDrawSurface::Create(this, back);
    if (buffer == nullptr) {
      for (DDrawSurface* made : chain) made->Release();
      front->Release();
      return DDERR_OUTOFMEMORY;
    }
    chain.push_back(buffer);
  }
  front->AttachFlipChain(std::move(chain));
  SetKeyFromDesc(desc, front);
  ShowPrimarySurface(front);
  *surface = front;
  return DD_OK;
}

HRESULT DDrawObject::CreateDepth(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface) {
  if ((desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
  if (!ValidSide(desc.dwWidth) || !ValidSide(desc.dwHeight)) return DDERR_INVALIDPARAMS;
  DWORD depth = 0;
  if (desc.dwFlags & DDSD_ZBUFFERBITDEPTH) {
    depth = desc.dwZBufferBitDepth;
  } else if ((desc.dwFlags & DDSD_PIXELFORMAT) && (desc.ddpfPixelFormat.dwFlags & DDPF_ZBUFFER)) {
    depth = desc.ddpfPixelFormat.dwZBufferBitDepth;
  } else {
    return DDERR_INVALIDPARAMS;
  }
  const std::optional<SurfaceFormat> format = DepthFormatFrom(depth);
  if (!format) return DDERR_INVALIDPIXELFORMAT;
  SurfaceSetup setup{caps, *format, static_cast<int>(desc.dwWidth), static_cast<int>(desc.dwHeight), false};
  DDrawSurface* made = DDrawSurface::Create(this, setup);
  if (made == nullptr) return DDERR_OUTOFMEMORY;
  *surface = made;
  return DD_OK;
}

HRESULT DDrawObject::CreatePlain(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface) {
  if ((desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
  if (!ValidSide(desc.dwWidth) || !ValidSide(desc.dwHeight)) return DDERR_INVALIDPARAMS;
  std::optional<SurfaceFormat> format = DisplayFormatFrom(CurrentDisplayMode().bitsPerPixel);
  if (desc.dwFlags & DDSD_PIXELFORMAT) {
    format = ColourFormatFrom(desc.ddpfPixelFormat);
    if (!format) return DDERR_INVALIDPIXELFORMAT;
  }
  SurfaceSetup setup{caps, format.value_or(SurfaceFormat::Rgb565), static_cast<int>(desc.dwWidth),
                     static_cast<int>(desc.dwHeight), false};
  DDrawSurface* made = DDrawSurface::Create(this, setup);
  if (made == nullptr) return DDERR_OUTOFMEMORY;
  SetKeyFromDesc(desc, made);
  *surface = made;
  return DD_OK;
}

HRESULT DDrawObject::CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** palette,
                                   IUnknown* outer) {
  if (palette == nullptr) return DDERR_INVALIDPARAMS;
  *palette = nullptr;
  if (entries == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
  const bool eightBit = (flags & DDPCAPS_8BIT) != 0;
  const bool fourBit = (flags & DDPCAPS_4BIT) != 0;
  if (eightBit == fourBit) return DDERR_INVALIDPARAMS;
  DDrawPalette* made = new (std::nothrow) DDrawPalette(flags, eightBit ? 256 : 16, entries);
  if (made == nullptr) return DDERR_OUTOFMEMORY;
  *palette = made;
  return DD_OK;
}

HRESULT DDrawObject::CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) {
  if (clipper == nullptr) return DDERR_INVALIDPARAMS;
  *clipper = nullptr;
  if (flags != 0 || outer != nullptr) return DDERR_INVALIDPARAMS;
  DDrawClipper* made = new (std::nothrow) DDrawClipper();
  if (made == nullptr) return DDERR_OUTOFMEMORY;
  *clipper = made;
  return DD_OK;
}

HRESULT DDrawObject::GetAvailableVidMem(DDSCAPS* caps, DWORD* total, DWORD* free) {
  if (caps == nullptr) return DDERR_INVALIDPARAMS;
  if (total != nullptr) *total = kVideoMemoryBytes;
  if (free != nullptr) *free = kVideoMemoryBytes;
  return DD_OK;
}

void DDrawObject::AddSurface(DDrawSurface* surface) { surfaces_.push_back(surface); }

void DDrawObject::RemoveSurface(DDrawSurface* surface) { std::erase(surfaces_, surface); }

void DDrawObject::AddDrawQueue(RasterQueue* queue) { drawQueues_.push_back(queue); }

void DDrawObject::RemoveDrawQueue(RasterQueue* queue) { std::erase(drawQueues_, queue); }

void DDrawObject::DrawQueued() {
  for (RasterQueue* queue : drawQueues_)
    if (queue != queueInUse_) queue->Flush();
}

void DDrawObject::LoseSurfaces() {
  constexpr DWORD kLosable = DDSCAPS_VIDEOMEMORY | DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP;
  for (DDrawSurface* surface : surfaces_)
    if (surface->Caps() & kLosable) surface->MarkLost();
}
