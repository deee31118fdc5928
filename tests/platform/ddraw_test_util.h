// Helpers shared by the DirectDraw stand-in tests: a DirectDraw object per test and short ways to
// make surfaces and read or write their pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/dx5/ddraw.h"
#include "platform/dx5/ddraw_format.h"

class DDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DirectDrawCreate(nullptr, &dd1_, nullptr), DD_OK);
    ASSERT_EQ(dd1_->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd_)), DD_OK);
  }
  void TearDown() override {
    if (dd_ != nullptr) {
      EXPECT_EQ(dd_->Release(), 1u);
    }
    if (dd1_ != nullptr) {
      EXPECT_EQ(dd1_->Release(), 0u);
    }
  }

  // An off-screen surface of `format` (a colour format) in system memory.
  IDirectDrawSurface* MakeSurface(int width, int height, SurfaceFormat format, DWORD extraCaps = 0) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat = PixelFormatOf(format);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY | extraCaps;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
  }

  IDirectDraw* dd1_ = nullptr;
  IDirectDraw2* dd_ = nullptr;
};

inline DDSURFACEDESC LockSurface(IDirectDrawSurface* surface) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  return desc;
}

// Pixel (x, y) of a surface as a raw value of `bytes` bytes.
inline uint32_t ReadPixel(IDirectDrawSurface* surface, int x, int y) {
  const DDSURFACEDESC desc = LockSurface(surface);
  const int bytes = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
  uint32_t value = 0;
  std::memcpy(&value, static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * bytes, static_cast<size_t>(bytes));
  surface->Unlock(nullptr);
  return value;
}

inline void WritePixel(IDirectDrawSurface* surface, int x, int y, uint32_t value) {
  const DDSURFACEDESC desc = LockSurface(surface);
  const int bytes = static_cast<int>(desc.ddpfPixelFormat.dwRGBBitCount / 8);
  std::memcpy(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * bytes, &value, static_cast<size_t>(bytes));
  surface->Unlock(nullptr);
}

inline HRESULT Fill(IDirectDrawSurface* surface, RECT* rect, DWORD colour) {
  DDBLTFX fx{};
  fx.dwSize = kDDBltFxSize;
  fx.dwFillColor = colour;
  return surface->Blt(rect, nullptr, rect, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
}
