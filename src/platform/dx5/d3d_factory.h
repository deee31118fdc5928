// The two places where DirectDraw objects hand out Direct3D interfaces: IDirectDraw2 answers
// QueryInterface(IID_IDirect3D2) and a texture surface answers QueryInterface(IID_IDirect3DTexture2).
// DirectDraw calls these; Direct3D implements them, so neither side needs the other's classes.
#pragma once

#include "platform/dx5/d3d.h"

// A new IDirect3D2 (one reference) bound to `directDraw`, which it keeps a reference to.
HRESULT CreateDirect3D2(IDirectDraw2* directDraw, IDirect3D2** d3d);
// A new texture interface (one reference) over `surface`, which it keeps a reference to.
HRESULT CreateSurfaceTexture(IDirectDrawSurface* surface, IDirect3DTexture2** texture);
