// Direct3D immediate-mode stand-in (DirectX 5): device descriptions, render and light states,
// materials, textures, viewports and the transformed-and-lit vertex, under their DirectX names.
// The device rasterises D3DTLVERTEX triangle lists in software into its render target surface.
#pragma once

#include <cstdint>

#include "platform/dx5/ddraw.h"

using D3DVALUE = float;
using D3DCOLOR = DWORD;  // ARGB, alpha in the top byte
using D3DMATERIALHANDLE = DWORD;
using D3DTEXTUREHANDLE = DWORD;
using D3DCOLORMODEL = DWORD;

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_INVALID_DEVICE = MakeDDHResult(705);
constexpr HRESULT D3DERR_INITFAILED = MakeDDHResult(706);
constexpr HRESULT D3DERR_SCENE_IN_SCENE = MakeDDHResult(770);
constexpr HRESULT D3DERR_SCENE_NOT_IN_SCENE = MakeDDHResult(771);
constexpr HRESULT D3DERR_SCENE_BEGIN_FAILED = MakeDDHResult(772);
constexpr HRESULT D3DERR_SCENE_END_FAILED = MakeDDHResult(773);
constexpr HRESULT D3DERR_TEXTURE_BADSIZE = MakeDDHResult(724);
constexpr HRESULT D3DERR_MATERIAL_GETDATA_FAILED = MakeDDHResult(753);
constexpr HRESULT D3DERR_VIEWPORTHASNODEVICE = MakeDDHResult(791);
constexpr HRESULT D3DERR_INVALIDVERTEXTYPE = MakeDDHResult(795);
constexpr HRESULT D3DERR_INVALIDPRIMITIVETYPE = MakeDDHResult(794);
constexpr HRESULT D3DERR_INVALIDRAMPTEXTURE = MakeDDHResult(790);
constexpr HRESULT D3DENUMRET_CANCEL = 0;
constexpr HRESULT D3DENUMRET_OK = 1;

constexpr D3DCOLORMODEL D3DCOLOR_MONO = 1;
constexpr D3DCOLORMODEL D3DCOLOR_RGB = 2;

enum D3DRENDERSTATETYPE : DWORD {
  D3DRENDERSTATE_TEXTUREHANDLE = 1,
  D3DRENDERSTATE_ANTIALIAS = 2,
  D3DRENDERSTATE_TEXTUREADDRESS = 3,
  D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4,
  D3DRENDERSTATE_WRAPU = 5,
  D3DRENDERSTATE_WRAPV = 6,
  D3DRENDERSTATE_ZENABLE = 7,
  D3DRENDERSTATE_FILLMODE = 8,
  D3DRENDERSTATE_SHADEMODE = 9,
  D3DRENDERSTATE_LINEPATTERN = 10,
  D3DRENDERSTATE_MONOENABLE = 11,
  D3DRENDERSTATE_ROP2 = 12,
  D3DRENDERSTATE_PLANEMASK = 13,
  D3DRENDERSTATE_ZWRITEENABLE = 14,
  D3DRENDERSTATE_ALPHATESTENABLE = 15,
  D3DRENDERSTATE_LASTPIXEL = 16,
  D3DRENDERSTATE_TEXTUREMAG = 17,
  D3DRENDERSTATE_TEXTUREMIN = 18,
  D3DRENDERSTATE_SRCBLEND = 19,
  D3DRENDERSTATE_DESTBLEND = 20,
  D3DRENDERSTATE_TEXTUREMAPBLEND = 21,
  D3DRENDERSTATE_CULLMODE = 22,
  D3DRENDERSTATE_ZFUNC = 23,
  D3DRENDERSTATE_ALPHAREF = 24,
  D3DRENDERSTATE_ALPHAFUNC = 25,
  D3DRENDERSTATE_DITHERENABLE = 26,
  D3DRENDERSTATE_ALPHABLENDENABLE = 27,
  D3DRENDERSTATE_FOGENABLE = 28,
  D3DRENDERSTATE_SPECULARENABLE = 29,
  D3DRENDERSTATE_ZVISIBLE = 30,
  D3DRENDERSTATE_SUBPIXEL = 31,
  D3DRENDERSTATE_SUBPIXELX = 32,
  D3DRENDERSTATE_STIPPLEDALPHA = 33,
  D3DRENDERSTATE_FOGCOLOR = 34,
  D3DRENDERSTATE_FOGTABLEMODE = 35,
  D3DRENDERSTATE_FOGTABLESTART = 36,
  D3DRENDERSTATE_FOGTABLEEND = 37,
  D3DRENDERSTATE_FOGTABLEDENSITY = 38,
  D3DRENDERSTATE_STIPPLEENABLE = 39,
  D3DRENDERSTATE_EDGEANTIALIAS = 40,
  D3DRENDERSTATE_COLORKEYENABLE = 41,
  D3DRENDERSTATE_BORDERCOLOR = 43,
  D3DRENDERSTATE_TEXTUREADDRESSU = 44,
  D3DRENDERSTATE_TEXTUREADDRESSV = 45,
};
constexpr DWORD kD3DRenderStateCount = 46;  // states are numbered below this

enum D3DLIGHTSTATETYPE : DWORD {
  D3DLIGHTSTATE_MATERIAL = 1,
  D3DLIGHTSTATE_AMBIENT = 2,
  D3DLIGHTSTATE_COLORMODEL = 3,
  D3DLIGHTSTATE_FOGMODE = 4,
  D3DLIGHTSTATE_FOGSTART = 5,
  D3DLIGHTSTATE_FOGEND = 6,
  D3DLIGHTSTATE_FOGDENSITY = 7,
};

enum D3DPRIMITIVETYPE : DWORD {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

enum D3DVERTEXTYPE : DWORD {
  D3DVT_VERTEX = 1,
  D3DVT_LVERTEX = 2,
  D3DVT_TLVERTEX = 3,
};

// Render state values.
constexpr DWORD D3DCULL_NONE = 1;
constexpr DWORD D3DCULL_CW = 2;
constexpr DWORD D3DCULL_CCW = 3;
constexpr DWORD D3DSHADE_FLAT = 1;
constexpr DWORD D3DSHADE_GOURAUD = 2;
constexpr DWORD D3DSHADE_PHONG = 3;
constexpr DWORD D3DFOG_NONE = 0;
constexpr DWORD D3DFOG_EXP = 1;
constexpr DWORD D3DFOG_EXP2 = 2;
constexpr DWORD D3DFOG_LINEAR = 3;
constexpr DWORD D3DCMP_NEVER = 1;
constexpr DWORD D3DCMP_LESS = 2;
constexpr DWORD D3DCMP_EQUAL = 3;
constexpr DWORD D3DCMP_LESSEQUAL = 4;
constexpr DWORD D3DCMP_GREATER = 5;
constexpr DWORD D3DCMP_NOTEQUAL = 6;
constexpr DWORD D3DCMP_GREATEREQUAL = 7;
constexpr DWORD D3DCMP_ALWAYS = 8;
constexpr DWORD D3DTBLEND_DECAL = 1;
constexpr DWORD D3DTBLEND_MODULATE = 2;
constexpr DWORD D3DTBLEND_DECALALPHA = 3;
constexpr DWORD D3DTBLEND_MODULATEALPHA = 4;
constexpr DWORD D3DTBLEND_COPY = 6;
constexpr DWORD D3DFILTER_NEAREST = 1;
constexpr DWORD D3DFILTER_LINEAR = 2;
constexpr DWORD D3DTADDRESS_WRAP = 1;
constexpr DWORD D3DTADDRESS_MIRROR = 2;
constexpr DWORD D3DTADDRESS_CLAMP = 3;
constexpr DWORD D3DFILL_SOLID = 3;

// DrawIndexedPrimitive flags.
constexpr DWORD D3DDP_WAIT = 0x00000001;
constexpr DWORD D3DDP_DONOTCLIP = 0x00000004;

// Viewport Clear flags.
constexpr DWORD D3DCLEAR_TARGET = 0x00000001;
constexpr DWORD D3DCLEAR_ZBUFFER = 0x00000002;

// D3DDEVICEDESC.dwFlags and capability bits the stand-in reports.
constexpr DWORD D3DDD_COLORMODEL = 0x00000001;
constexpr DWORD D3DDD_DEVCAPS = 0x00000002;
constexpr DWORD D3DDD_TRICAPS = 0x00000040;
constexpr DWORD D3DDD_DEVICERENDERBITDEPTH = 0x00000080;
constexpr DWORD D3DDD_DEVICEZBUFFERBITDEPTH = 0x00000100;
constexpr DWORD D3DDEVCAPS_FLOATTLVERTEX = 0x00000001;
constexpr DWORD D3DDEVCAPS_EXECUTESYSTEMMEMORY = 0x00000010;
constexpr DWORD D3DDEVCAPS_TLVERTEXSYSTEMMEMORY = 0x00000040;
constexpr DWORD D3DDEVCAPS_TEXTURESYSTEMMEMORY = 0x00000100;
constexpr DWORD D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x00000400;
constexpr DWORD D3DPSHADECAPS_COLORFLATRGB = 0x00000008;
constexpr DWORD D3DPSHADECAPS_COLORGOURAUDRGB = 0x00000200;
constexpr DWORD D3DPSHADECAPS_FOGGOURAUD = 0x00080000;
constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x00000001;
constexpr DWORD D3DPTEXTURECAPS_TRANSPARENCY = 0x00000008;
constexpr DWORD D3DPCMPCAPS_LESSEQUAL = 0x00000008;
constexpr DWORD D3DPTBLENDCAPS_MODULATE = 0x00000008;
constexpr DWORD D3DPTADDRESSCAPS_WRAP = 0x00000001;
constexpr DWORD D3DPMISCCAPS_CULLNONE = 0x00000010;
constexpr DWORD D3DPMISCCAPS_CULLCW = 0x00000020;
constexpr DWORD D3DPMISCCAPS_CULLCCW = 0x00000040;

// The transformed-and-lit vertex: screen position in pixels, depth 0..1, rhw, diffuse colour,
// specular colour whose alpha is the fog factor (255 no fog, 0 full fog), texture coordinates.
struct D3DTLVERTEX {
  D3DVALUE sx, sy, sz, rhw;
  D3DCOLOR color, specular;
  D3DVALUE tu, tv;
};
static_assert(sizeof(D3DTLVERTEX) == 32, "the vertex buffer is 32 bytes a vertex");

struct D3DCOLORVALUE {
  D3DVALUE r, g, b, a;
};

struct D3DMATERIAL {
  DWORD dwSize;  // version marker 80
  D3DCOLORVALUE diffuse;
  D3DCOLORVALUE ambient;
  D3DCOLORVALUE specular;
  D3DCOLORVALUE emissive;
  D3DVALUE power;
  D3DTEXTUREHANDLE hTexture;
  DWORD dwRampSize;
};
constexpr DWORD kD3DMaterialSize = 80;

struct D3DVIEWPORT2 {
  DWORD dwSize;  // version marker 44
  DWORD dwX, dwY;
  DWORD dwWidth, dwHeight;
  D3DVALUE dvClipX, dvClipY;
  D3DVALUE dvClipWidth, dvClipHeight;
  D3DVALUE dvMinZ, dvMaxZ;
};
constexpr DWORD kD3DViewport2Size = 44;
static_assert(sizeof(D3DVIEWPORT2) == kD3DViewport2Size, "D3DVIEWPORT2 is as large as its version marker says");

struct D3DRECT {
  LONG x1, y1, x2, y2;
};

struct D3DPRIMCAPS {
  DWORD dwSize;
  DWORD dwMiscCaps;
  DWORD dwRasterCaps;
  DWORD dwZCmpCaps;
  DWORD dwSrcBlendCaps;
  DWORD dwDestBlendCaps;
  DWORD dwAlphaCmpCaps;
  DWORD dwShadeCaps;
  DWORD dwTextureCaps;
  DWORD dwTextureFilterCaps;
  DWORD dwTextureBlendCaps;
  DWORD dwTextureAddressCaps;
  DWORD dwStippleWidth;
  DWORD dwStippleHeight;
};

struct D3DTRANSFORMCAPS {
  DWORD dwSize;
  DWORD dwCaps;
};

struct D3DLIGHTINGCAPS {
  DWORD dwSize;
  DWORD dwCaps;
  DWORD dwLightingModel;
  DWORD dwNumLights;
};

struct D3DDEVICEDESC {
  DWORD dwSize;  // version marker 204
  DWORD dwFlags;
  D3DCOLORMODEL dcmColorModel;  // 0 in a hardware description: not a hardware device
  DWORD dwDevCaps;
  D3DTRANSFORMCAPS dtcTransformCaps;
  BOOL bClipping;
  D3DLIGHTINGCAPS dlcLightingCaps;
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth;
  DWORD dwDeviceZBufferBitDepth;
  DWORD dwMaxBufferSize;
  DWORD dwMaxVertexCount;
  DWORD dwMinTextureWidth, dwMinTextureHeight;
  DWORD dwMaxTextureWidth, dwMaxTextureHeight;
  DWORD dwMinStippleWidth, dwMaxStippleWidth;
  DWORD dwMinStippleHeight, dwMaxStippleHeight;
};
constexpr DWORD kD3DDeviceDescSize = 204;

class IDirect3DDevice2;
class IDirect3DViewport2;
class IDirect3DMaterial2;
class IDirect3DTexture2;

extern const IID IID_IDirect3D2;
extern const IID IID_IDirect3DDevice2;
extern const IID IID_IDirect3DViewport;
extern const IID IID_IDirect3DViewport2;
extern const IID IID_IDirect3DMaterial2;
extern const IID IID_IDirect3DTexture2;
extern const GUID IID_IDirect3DHALDevice;
extern const GUID IID_IDirect3DMMXDevice;
extern const GUID IID_IDirect3DRGBDevice;
extern const GUID IID_IDirect3DRampDevice;

using LPD3DENUMDEVICESCALLBACK = HRESULT (*)(GUID* guid, const char* description, const char* name, D3DDEVICEDESC* hal,
                                             D3DDEVICEDESC* hel, void* context);
using LPD3DENUMTEXTUREFORMATSCALLBACK = HRESULT (*)(DDSURFACEDESC* format, void* context);

class IDirect3DMaterial2 : public IUnknown {
 public:
  virtual HRESULT SetMaterial(D3DMATERIAL* material) = 0;
  virtual HRESULT GetMaterial(D3DMATERIAL* material) = 0;
  virtual HRESULT GetHandle(IDirect3DDevice2* device, D3DMATERIALHANDLE* handle) = 0;
};

// Obtained from a texture surface with QueryInterface(IID_IDirect3DTexture2).
class IDirect3DTexture2 : public IUnknown {
 public:
  virtual HRESULT GetHandle(IDirect3DDevice2* device, D3DTEXTUREHANDLE* handle) = 0;
  virtual HRESULT PaletteChanged(DWORD start, DWORD count) = 0;
  virtual HRESULT Load(IDirect3DTexture2* source) = 0;
};

class IDirect3DViewport : public IUnknown {
 public:
  virtual HRESULT SetBackground(D3DMATERIALHANDLE material) = 0;
  virtual HRESULT Clear(DWORD count, D3DRECT* rects, DWORD flags) = 0;
};

class IDirect3DViewport2 : public IDirect3DViewport {
 public:
  virtual HRESULT SetViewport2(D3DVIEWPORT2* viewport) = 0;
  virtual HRESULT GetViewport2(D3DVIEWPORT2* viewport) = 0;
};

class IDirect3DDevice2 : public IUnknown {
 public:
  virtual HRESULT AddViewport(IDirect3DViewport2* viewport) = 0;
  virtual HRESULT DeleteViewport(IDirect3DViewport2* viewport) = 0;
  virtual HRESULT SetCurrentViewport(IDirect3DViewport2* viewport) = 0;
  virtual HRESULT GetCurrentViewport(IDirect3DViewport2** viewport) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT SetLightState(D3DLIGHTSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetLightState(D3DLIGHTSTATETYPE state, DWORD* value) = 0;
  virtual HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, void* context) = 0;
  virtual HRESULT GetRenderTarget(IDirectDrawSurface** surface) = 0;
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE primitive, D3DVERTEXTYPE vertexType, void* vertices,
                                       DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) = 0;
};

class IDirect3D2 : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) = 0;
  virtual HRESULT CreateDevice(REFCLSID guid, IDirectDrawSurface* target, IDirect3DDevice2** device) = 0;
  virtual HRESULT CreateMaterial(IDirect3DMaterial2** material, IUnknown* outer) = 0;
  virtual HRESULT CreateViewport(IDirect3DViewport2** viewport, IUnknown* outer) = 0;
};
