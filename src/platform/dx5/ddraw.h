// DirectDraw stand-in: the structures, flags, result codes and interfaces of DirectDraw (DirectX 5)
// that the saver calls, under their DirectX names. Interfaces are reference counted abstract
// classes; the concrete objects live in this folder's .cpp files. Structures keep their field names;
// `dwSize` carries the version marker the caller passes (108 for DDSURFACEDESC, 100 for DDBLTFX,
// 364 for DDCAPS), which the stand-in checks instead of sizeof (pointers are 8 bytes here).
#pragma once

#include <cstdint>

#include "platform/win/gdi.h"
#include "platform/win/wintypes.h"

// Result codes. Failures carry DirectDraw's facility (0x876) like the originals.
constexpr HRESULT MakeDDHResult(unsigned code) { return static_cast<HRESULT>(0x88760000u | code); }
constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_GENERIC = E_FAIL;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DDERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DDERR_INVALIDOBJECT = MakeDDHResult(130);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = MakeDDHResult(145);
constexpr HRESULT DDERR_INVALIDRECT = MakeDDHResult(150);
constexpr HRESULT DDERR_NOCOLORKEY = MakeDDHResult(215);
constexpr HRESULT DDERR_NOTFOUND = MakeDDHResult(255);
constexpr HRESULT DDERR_NOEXCLUSIVEMODE = MakeDDHResult(225);
constexpr HRESULT DDERR_NOTFLIPPABLE = MakeDDHResult(582);
constexpr HRESULT DDERR_SURFACEBUSY = MakeDDHResult(430);
constexpr HRESULT DDERR_SURFACELOST = MakeDDHResult(450);
constexpr HRESULT DDERR_SURFACEALREADYATTACHED = MakeDDHResult(410);
constexpr HRESULT DDERR_CANNOTATTACHSURFACE = MakeDDHResult(110);
constexpr HRESULT DDERR_NOTLOCKED = MakeDDHResult(584);
constexpr HRESULT DDERR_NOPALETTEATTACHED = MakeDDHResult(572);
constexpr HRESULT DDERR_NOCLIPPERATTACHED = MakeDDHResult(568);
constexpr HRESULT DDERR_INVALIDMODE = MakeDDHResult(160);
constexpr HRESULT DDERR_NODC = MakeDDHResult(585);
constexpr HRESULT DDERR_WRONGMODE = MakeDDHResult(587);

// Surface description flags (DDSURFACEDESC.dwFlags).
constexpr DWORD DDSD_CAPS = 0x00000001;
constexpr DWORD DDSD_HEIGHT = 0x00000002;
constexpr DWORD DDSD_WIDTH = 0x00000004;
constexpr DWORD DDSD_PITCH = 0x00000008;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x00000020;
constexpr DWORD DDSD_ZBUFFERBITDEPTH = 0x00000040;
constexpr DWORD DDSD_LPSURFACE = 0x00000800;
constexpr DWORD DDSD_PIXELFORMAT = 0x00001000;
constexpr DWORD DDSD_CKSRCBLT = 0x00010000;
constexpr DWORD DDSD_REFRESHRATE = 0x00040000;

// Surface capabilities (DDSCAPS.dwCaps).
constexpr DWORD DDSCAPS_BACKBUFFER = 0x00000004;
constexpr DWORD DDSCAPS_COMPLEX = 0x00000008;
constexpr DWORD DDSCAPS_FLIP = 0x00000010;
constexpr DWORD DDSCAPS_FRONTBUFFER = 0x00000020;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x00000040;
constexpr DWORD DDSCAPS_PALETTE = 0x00000100;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x00000200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x00000800;
constexpr DWORD DDSCAPS_TEXTURE = 0x00001000;
constexpr DWORD DDSCAPS_3DDEVICE = 0x00002000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x00004000;
constexpr DWORD DDSCAPS_ZBUFFER = 0x00020000;
constexpr DWORD DDSCAPS_ALLOCONLOAD = 0x04000000;

// Pixel format flags (DDPIXELFORMAT.dwFlags).
constexpr DWORD DDPF_ALPHAPIXELS = 0x00000001;
constexpr DWORD DDPF_ALPHA = 0x00000002;
constexpr DWORD DDPF_FOURCC = 0x00000004;
constexpr DWORD DDPF_PALETTEINDEXED4 = 0x00000008;
constexpr DWORD DDPF_PALETTEINDEXED8 = 0x00000020;
constexpr DWORD DDPF_RGB = 0x00000040;
constexpr DWORD DDPF_ZBUFFER = 0x00000400;

// Bit depth masks (z-buffer depths of D3DDEVICEDESC, display depths of DDCAPS).
constexpr DWORD DDBD_1 = 0x4000;
constexpr DWORD DDBD_2 = 0x2000;
constexpr DWORD DDBD_4 = 0x1000;
constexpr DWORD DDBD_8 = 0x0800;
constexpr DWORD DDBD_16 = 0x0400;
constexpr DWORD DDBD_24 = 0x0200;
constexpr DWORD DDBD_32 = 0x0100;

// Cooperative levels.
constexpr DWORD DDSCL_FULLSCREEN = 0x00000001;
constexpr DWORD DDSCL_ALLOWREBOOT = 0x00000002;
constexpr DWORD DDSCL_NOWINDOWCHANGES = 0x00000004;
constexpr DWORD DDSCL_NORMAL = 0x00000008;
constexpr DWORD DDSCL_EXCLUSIVE = 0x00000010;
constexpr DWORD DDSCL_ALLOWMODEX = 0x00000040;

// Blt, BltFast, Lock, Flip, colour key and palette flags.
constexpr DWORD DDBLT_COLORFILL = 0x00000400;
constexpr DWORD DDBLT_KEYSRC = 0x00008000;
constexpr DWORD DDBLT_WAIT = 0x01000000;
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x00000000;
constexpr DWORD DDBLTFAST_SRCCOLORKEY = 0x00000001;
constexpr DWORD DDBLTFAST_DESTCOLORKEY = 0x00000002;
constexpr DWORD DDBLTFAST_WAIT = 0x00000010;
constexpr DWORD DDLOCK_SURFACEMEMORYPTR = 0x00000000;
constexpr DWORD DDLOCK_WAIT = 0x00000001;
constexpr DWORD DDLOCK_READONLY = 0x00000010;
constexpr DWORD DDFLIP_WAIT = 0x00000001;
constexpr DWORD DDCKEY_DESTBLT = 0x00000002;
constexpr DWORD DDCKEY_SRCBLT = 0x00000008;
constexpr DWORD DDPCAPS_4BIT = 0x00000001;
constexpr DWORD DDPCAPS_8BIT = 0x00000004;
constexpr DWORD DDPCAPS_ALLOW256 = 0x00000040;
constexpr BYTE D3DPAL_READONLY = 0x40;

// Driver capabilities (DDCAPS.dwCaps) and enumeration results.
constexpr DWORD DDCAPS_3D = 0x00000001;
constexpr DWORD DDCAPS_BLT = 0x00000040;
constexpr DWORD DDCAPS_BLTCOLORFILL = 0x04000000;
constexpr DWORD DDCAPS_COLORKEY = 0x00400000;
constexpr DWORD DDCAPS_PALETTE = 0x00008000;
constexpr DWORD DDCKEYCAPS_SRCBLT = 0x00000200;
constexpr HRESULT DDENUMRET_CANCEL = 0;
constexpr HRESULT DDENUMRET_OK = 1;

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
};

struct DDSCAPS {
  DWORD dwCaps;
};

struct DDPIXELFORMAT {
  DWORD dwSize;  // 32
  DWORD dwFlags;
  DWORD dwFourCC;
  union {
    DWORD dwRGBBitCount;
    DWORD dwZBufferBitDepth;
  };
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
};
static_assert(sizeof(DDPIXELFORMAT) == 32, "the pickers copy the pixel format as 32 bytes");

struct DDSURFACEDESC {
  DWORD dwSize;  // version marker 108
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  union {
    DWORD dwZBufferBitDepth;
    DWORD dwRefreshRate;
    DWORD dwMipMapCount;
  };
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
};
constexpr DWORD kDDSurfaceDescSize = 108;

struct DDBLTFX {
  DWORD dwSize;  // version marker 100
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  DWORD dwZDestConst;
  DWORD dwZSrcConstBitDepth;
  DWORD dwZSrcConst;
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  DWORD dwAlphaDestConst;
  DWORD dwAlphaSrcConstBitDepth;
  DWORD dwAlphaSrcConst;
  DWORD dwFillColor;
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};
constexpr DWORD kDDBltFxSize = 100;

struct DDCAPS {
  DWORD dwSize;  // version marker 364
  DWORD dwCaps;
  DWORD dwCaps2;
  DWORD dwCKeyCaps;
  DWORD dwFXCaps;
  DWORD dwFXAlphaCaps;
  DWORD dwPalCaps;
  DWORD dwSVCaps;
  DWORD dwAlphaBltConstBitDepths;
  DWORD dwAlphaBltPixelBitDepths;
  DWORD dwAlphaBltSurfaceBitDepths;
  DWORD dwAlphaOverlayConstBitDepths;
  DWORD dwAlphaOverlayPixelBitDepths;
  DWORD dwAlphaOverlaySurfaceBitDepths;
  DWORD dwZBufferBitDepths;
  DWORD dwVidMemTotal;
  DWORD dwVidMemFree;
  DWORD dwMaxVisibleOverlays;
  DWORD dwCurrVisibleOverlays;
  DWORD dwNumFourCCCodes;
  DWORD dwAlignBoundarySrc;
  DWORD dwAlignSizeSrc;
  DWORD dwAlignBoundaryDest;
  DWORD dwAlignSizeDest;
  DWORD dwAlignStrideAlign;
  DWORD dwRops[8];
  DDSCAPS ddsCaps;
};
constexpr DWORD kDDCapsSize = 364;

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

class IDirectDrawSurface;
class IDirectDrawPalette;
class IDirectDrawClipper;

extern const IID IID_IDirectDraw;
extern const IID IID_IDirectDraw2;
extern const IID IID_IDirectDrawSurface;
extern const IID IID_IDirectDrawPalette;
extern const IID IID_IDirectDrawClipper;

using LPDDENUMCALLBACKA = BOOL (*)(GUID* guid, const char* description, const char* name, void* context);
using LPDDENUMMODESCALLBACK = HRESULT (*)(DDSURFACEDESC* mode, void* context);

class IDirectDrawPalette : public IUnknown {
 public:
  virtual HRESULT GetCaps(DWORD* caps) = 0;
  virtual HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) = 0;
  virtual HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) = 0;
};

class IDirectDrawClipper : public IUnknown {
 public:
  virtual HRESULT SetHWnd(DWORD flags, HWND window) = 0;
  virtual HRESULT GetHWnd(HWND* window) = 0;
};

class IDirectDrawSurface : public IUnknown {
 public:
  virtual HRESULT AddAttachedSurface(IDirectDrawSurface* surface) = 0;
  virtual HRESULT GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** surface) = 0;
  virtual HRESULT Blt(RECT* destRect, IDirectDrawSurface* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) = 0;
  virtual HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface* src, RECT* srcRect, DWORD trans) = 0;
  virtual HRESULT Flip(IDirectDrawSurface* targetOverride, DWORD flags) = 0;
  virtual HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT Unlock(void* surfaceData) = 0;
  virtual HRESULT GetSurfaceDesc(DDSURFACEDESC* desc) = 0;
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  virtual HRESULT IsLost() = 0;
  virtual HRESULT Restore() = 0;
  virtual HRESULT SetPalette(IDirectDrawPalette* palette) = 0;
  virtual HRESULT GetPalette(IDirectDrawPalette** palette) = 0;
  virtual HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
  virtual HRESULT GetClipper(IDirectDrawClipper** clipper) = 0;
};

class IDirectDraw : public IUnknown {
 public:
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) = 0;
  virtual HRESULT RestoreDisplayMode() = 0;
  virtual HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) = 0;
  virtual HRESULT EnumDisplayModes(DWORD flags, DDSURFACEDESC* templ, void* context,
                                   LPDDENUMMODESCALLBACK callback) = 0;
  virtual HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** surface, IUnknown* outer) = 0;
  virtual HRESULT CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** palette,
                                IUnknown* outer) = 0;
  virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) = 0;
};

// IDirectDraw2 adds the refresh-rate form of SetDisplayMode and the video memory query.
class IDirectDraw2 : public IDirectDraw {
 public:
  using IDirectDraw::SetDisplayMode;
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate, DWORD flags) = 0;
  virtual HRESULT GetAvailableVidMem(DDSCAPS* caps, DWORD* total, DWORD* free) = 0;
};

HRESULT DirectDrawEnumerateA(LPDDENUMCALLBACKA callback, void* context);
// A null GUID asks for the primary display driver.
HRESULT DirectDrawCreate(GUID* guid, IDirectDraw** directDraw, IUnknown* outer);
