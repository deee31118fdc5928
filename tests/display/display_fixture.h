// Shared set-up for the display tests: a fresh form over the shared device-unit set-up (units at
// their start values, a private registry folder, a message-box recorder).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "display/component.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "platform/dx5/ddraw.h"
#include "platform/error.h"
#include "platform/win/messagebox.h"
#include "support/device_units_fixture.h"

class DisplayTest : public DeviceUnitsTest {
 protected:
  TComponentOwner form;
};

// A plain off-screen surface of a 16-bit RGB layout, made on its own DirectDraw object.
struct SurfaceMaker {
  SurfaceMaker() {
    DirectDrawCreate(nullptr, &dd, nullptr);
    dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  }
  ~SurfaceMaker() { dd->Release(); }
  IDirectDrawSurface* Make(int width, int height, DWORD r, DWORD g, DWORD b, DWORD bits = 16) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    desc.ddpfPixelFormat.dwSize = 32;
    desc.ddpfPixelFormat.dwFlags = DDPF_RGB;
    desc.ddpfPixelFormat.dwRGBBitCount = bits;
    desc.ddpfPixelFormat.dwRBitMask = r;
    desc.ddpfPixelFormat.dwGBitMask = g;
    desc.ddpfPixelFormat.dwBBitMask = b;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
  }
  IDirectDraw* dd = nullptr;
};

// Reads or writes one 16-bit pixel of a surface through Lock.
inline uint16_t Pixel16(IDirectDrawSurface* s, int x, int y) {
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
  const uint16_t v = *reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch + 2 * x);
  s->Unlock(nullptr);
  return v;
}

inline void Fill16(IDirectDrawSurface* s, uint16_t value) {
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
  for (DWORD y = 0; y < d.dwHeight; ++y)
    for (DWORD x = 0; x < d.dwWidth; ++x)
      reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch)[x] = value;
  s->Unlock(nullptr);
}
