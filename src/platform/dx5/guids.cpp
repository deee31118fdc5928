// The interface and device identifiers of the DirectDraw and Direct3D stand-ins, defined once.
// They are this system's own values, all distinct; only IID_IDirect3DViewport2 carries the value
// callers are known to compare against.
#include "platform/dx5/d3d.h"
#include "platform/dx5/d3drm.h"
#include "platform/dx5/ddraw.h"

namespace {

constexpr GUID KlvGuid(uint32_t serial) {
  return GUID{0x6B6C7600u + serial, 0x4B4C, 0x5644, {0x80, 0x35, 0x44, 0x58, 0x35, 0x00, 0x00, 0x01}};
}

}  // namespace

const IID IID_IDirectDraw = KlvGuid(1);
const IID IID_IDirectDraw2 = KlvGuid(2);
const IID IID_IDirectDrawSurface = KlvGuid(3);
const IID IID_IDirectDrawPalette = KlvGuid(4);
const IID IID_IDirectDrawClipper = KlvGuid(5);

const IID IID_IDirect3D2 = KlvGuid(16);
const IID IID_IDirect3DDevice2 = KlvGuid(17);
const IID IID_IDirect3DViewport = KlvGuid(18);
const IID IID_IDirect3DViewport2 = {0x93281500, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
const IID IID_IDirect3DMaterial2 = KlvGuid(20);
const IID IID_IDirect3DTexture2 = KlvGuid(21);
const GUID IID_IDirect3DHALDevice = KlvGuid(32);
const GUID IID_IDirect3DMMXDevice = KlvGuid(33);
const GUID IID_IDirect3DRGBDevice = KlvGuid(34);
const GUID IID_IDirect3DRampDevice = KlvGuid(35);

const IID IID_IDirect3DRM = KlvGuid(48);
const IID IID_IDirect3DRM2 = KlvGuid(49);
