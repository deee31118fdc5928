// Shared set-up for the display tests: a fresh form, the display units back at their start values,
// a private registry folder and a recorder for message boxes.
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

using Box = std::pair<std::string, std::string>;  // text, caption

class DisplayTest : public ::testing::Test {
 protected:
  // The units are reset before the components of derived fixtures register themselves.
  DisplayTest() {
    KalvorGUnit = TKalvorGUnitState{};
    KalvorRMUnit = TKalvorRMUnitState{};
  }
  void SetUp() override {
    configDir_ =
        std::filesystem::temp_directory_path() / ("klv_display_" + std::to_string(getpid()) + "_" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(configDir_);
    std::filesystem::create_directories(configDir_);
    setenv("KLV_CONFIG_DIR", configDir_.c_str(), 1);
    SetMessageBoxRecorder(
        [this](const std::string& text, const std::string& caption) { boxes.emplace_back(text, caption); });
  }
  void TearDown() override {
    SetMessageBoxRecorder(nullptr);
    std::filesystem::remove_all(configDir_);
  }

  const std::filesystem::path& ConfigDir() const { return configDir_; }

  TComponentOwner form;
  std::vector<Box> boxes;

 private:
  std::filesystem::path configDir_;
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
