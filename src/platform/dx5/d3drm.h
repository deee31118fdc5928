// Direct3D retained-mode stand-in (DirectX 5): the objects the device component builds (device,
// frames, lights, viewport, mesh builders, meshes, textures, wraps) with the operations it calls.
// The saver draws through immediate mode; retained mode matters for the viewport it hands out
// (GetDirect3DViewport) and keeps the state of frames and lights.
#pragma once

#include "platform/dx5/d3d.h"

using D3DRMLIGHTTYPE = DWORD;
constexpr D3DRMLIGHTTYPE D3DRMLIGHT_AMBIENT = 0;
constexpr D3DRMLIGHTTYPE D3DRMLIGHT_POINT = 1;
constexpr D3DRMLIGHTTYPE D3DRMLIGHT_SPOT = 2;
constexpr D3DRMLIGHTTYPE D3DRMLIGHT_DIRECTIONAL = 3;
constexpr D3DRMLIGHTTYPE D3DRMLIGHT_PARALLELPOINT = 4;

using D3DRMWRAPTYPE = DWORD;
constexpr D3DRMWRAPTYPE D3DRMWRAP_FLAT = 0;
constexpr D3DRMWRAPTYPE D3DRMWRAP_CYLINDER = 1;
constexpr D3DRMWRAPTYPE D3DRMWRAP_SPHERE = 2;
constexpr D3DRMWRAPTYPE D3DRMWRAP_CHROME = 3;

constexpr DWORD D3DRMLOAD_FROMFILE = 0x00;

constexpr HRESULT D3DRMERR_BADOBJECT = MakeDDHResult(781);
constexpr HRESULT D3DRMERR_BADVALUE = MakeDDHResult(782);
constexpr HRESULT D3DRMERR_BADFILE = MakeDDHResult(787);
constexpr HRESULT D3DRMERR_FILENOTFOUND = MakeDDHResult(793);
constexpr HRESULT D3DRMERR_NOTFOUND = MakeDDHResult(785);

extern const IID IID_IDirect3DRM;
extern const IID IID_IDirect3DRM2;

class IDirect3DRMFrame;
class IDirect3DRMVisual;

class IDirect3DRMObject : public IUnknown {};

class IDirect3DRMVisual : public IDirect3DRMObject {};

class IDirect3DRMLight : public IDirect3DRMObject {
 public:
  virtual D3DRMLIGHTTYPE GetType() = 0;
  virtual D3DCOLOR GetColor() = 0;
};

class IDirect3DRMTexture : public IDirect3DRMVisual {};

class IDirect3DRMMesh : public IDirect3DRMVisual {
 public:
  virtual unsigned GetGroupCount() = 0;
};

class IDirect3DRMWrap : public IDirect3DRMObject {
 public:
  virtual HRESULT Apply(IDirect3DRMObject* object) = 0;
  virtual HRESULT ApplyRelative(IDirect3DRMFrame* frame, IDirect3DRMObject* object) = 0;
};

class IDirect3DRMMeshBuilder2 : public IDirect3DRMVisual {
 public:
  // Loads a mesh file; a file the stand-in does not read is refused with D3DRMERR_BADFILE.
  virtual HRESULT Load(void* source, void* objectId, DWORD options, void* textureCallback, void* argument) = 0;
  virtual HRESULT CreateMesh(IDirect3DRMMesh** mesh) = 0;
  virtual HRESULT SetPerspective(BOOL perspective) = 0;
  virtual HRESULT SetTexture(IDirect3DRMTexture* texture) = 0;
};

class IDirect3DRMFrame : public IDirect3DRMVisual {
 public:
  virtual HRESULT AddChild(IDirect3DRMFrame* child) = 0;
  virtual HRESULT AddLight(IDirect3DRMLight* light) = 0;
  virtual HRESULT AddVisual(IDirect3DRMVisual* visual) = 0;
  virtual HRESULT DeleteVisual(IDirect3DRMVisual* visual) = 0;
  virtual HRESULT SetPosition(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) = 0;
  virtual HRESULT GetPosition(IDirect3DRMFrame* reference, D3DVALUE* xyz) = 0;
  virtual HRESULT SetOrientation(IDirect3DRMFrame* reference, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux,
                                 D3DVALUE uy, D3DVALUE uz) = 0;
  // Row-vector 4 x 4 transform of the frame relative to its parent.
  virtual HRESULT GetTransform(D3DVALUE matrix[16]) = 0;
  virtual HRESULT SetRotation(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z, D3DVALUE theta) = 0;
  virtual HRESULT Move(D3DVALUE delta) = 0;
};

class IDirect3DRMFrame2 : public IDirect3DRMFrame {};

class IDirect3DRMDevice : public IDirect3DRMObject {
 public:
  virtual HRESULT SetBufferCount(DWORD count) = 0;
  virtual DWORD GetBufferCount() = 0;
  virtual HRESULT Update() = 0;
};

class IDirect3DRMDevice2 : public IDirect3DRMDevice {};

class IDirect3DRMViewport : public IDirect3DRMObject {
 public:
  virtual HRESULT SetBack(D3DVALUE back) = 0;
  virtual D3DVALUE GetBack() = 0;
  virtual HRESULT Clear() = 0;
  virtual HRESULT Render(IDirect3DRMFrame* scene) = 0;
  // The immediate-mode viewport that draws on the device; the caller releases it.
  virtual HRESULT GetDirect3DViewport(IDirect3DViewport** viewport) = 0;
};

class IDirect3DRM : public IUnknown {};

class IDirect3DRM2 : public IDirect3DRM {
 public:
  virtual HRESULT CreateDeviceFromD3D(IDirect3D2* d3d, IDirect3DDevice2* device, IDirect3DRMDevice2** rmDevice) = 0;
  virtual HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame2** frame) = 0;
  virtual HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y, DWORD width,
                                 DWORD height, IDirect3DRMViewport** viewport) = 0;
  virtual HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE red, D3DVALUE green, D3DVALUE blue,
                                 IDirect3DRMLight** light) = 0;
  virtual HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder2** builder) = 0;
  virtual HRESULT LoadTexture(const char* fileName, IDirect3DRMTexture** texture) = 0;
  virtual HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame* reference, D3DVALUE ox, D3DVALUE oy, D3DVALUE oz,
                             D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux, D3DVALUE uy, D3DVALUE uz, D3DVALUE ou,
                             D3DVALUE ov, D3DVALUE su, D3DVALUE sv, IDirect3DRMWrap** wrap) = 0;
};

HRESULT Direct3DRMCreate(IDirect3DRM** d3drm);
