// A saver's world on the headless devices: the display and Direct3D components brought up as begin
// does (full screen, the stored device choice in a private registry folder), the scene built from
// the generated data set, and helpers to step, draw and read the picture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "display/component.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "display/klvenumwin.h"
#include "platform/dx5/virtual_display.h"
#include "platform/win/bitmap.h"
#include "platform/win/messagebox.h"
#include "render/framedraw.h"
#include "scene/scene.h"
#include "support/device_units_fixture.h"

class SceneTest : public DeviceUnitsTest {
 protected:
  void SetUp() override {
    DeviceUnitsTest::SetUp();
    KalvorG1 = std::make_unique<TKalvorG>(&form);
    KalvorRM1 = std::make_unique<TKalvorRM>(&form);
    KalvorRM1->SetFullScreen(true);
    // The picture's size, as the saver shell gives it before the device choice.
    SetNativeDisplaySize(DisplaySize{static_cast<DWORD>(pictureWidth), static_cast<DWORD>(pictureHeight)});
    KalvorGUnit.ScreenWidth = pictureWidth;
    KalvorGUnit.ScreenHeight = pictureHeight;
    KalvorRM1->Width = pictureWidth;
    KalvorRM1->Height = pictureHeight;
    ASSERT_TRUE(SelectDevices(kSelectStored));
  }

  void TearDown() override {
    FreeScene(scene);
    if (KalvorRM1) KalvorRM1->RmRelease();
    if (KalvorG1) KalvorG1->DDrelease();
    KalvorRM1.reset();
    KalvorG1.reset();
    DeviceUnitsTest::TearDown();
  }

  // Begin's scene build and flight paths, then the start trigger's two render states.
  void Build(uint64_t seed = 1) {
    ASSERT_TRUE(BuildScene(scene, *KalvorRM1, dataPath, image));
    random.Seed(seed);
    InitFlightPaths(scene, random);
    KalvorRM1->D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    KalvorRM1->D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
  }

  void Step() { SceneStep(scene, settings, *KalvorRM1, random); }

  // The draw handler's render: the step's camera into the view, then the frame over what was there.
  void Draw() {
    scene.View.Camera = scene.RenderCamera;
    RenderView(scene.View, scene.SceneRoot, true);
  }

  // The render target's 16-bit pixels, row after row.
  std::vector<uint16_t> Picture() {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    std::vector<uint16_t> pixels;
    if (KalvorRM1->BackSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return pixels;
    pixels.resize(static_cast<size_t>(desc.dwWidth) * desc.dwHeight);
    for (DWORD y = 0; y < desc.dwHeight; ++y) {
      const auto* row = reinterpret_cast<const uint16_t*>(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch);
      std::copy(row, row + desc.dwWidth, pixels.begin() + static_cast<ptrdiff_t>(y) * desc.dwWidth);
    }
    KalvorRM1->BackSurface->Unlock(nullptr);
    return pixels;
  }

  void FillTarget(uint16_t value) {
    DDBLTFX fx{};
    fx.dwSize = kDDBltFxSize;
    fx.dwFillColor = value;
    KalvorRM1->BackSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  }

  // Set before SetUp runs to draw pictures of another size.
  int pictureWidth = 640;
  int pictureHeight = 480;
  TComponentOwner form;
  std::unique_ptr<TKalvorG> KalvorG1;
  std::unique_ptr<TKalvorRM> KalvorRM1;
  TKlvScene scene;
  TSaverSettings settings;
  TKlvRandom random{1};
  TBitmap image;
  std::string dataPath = std::string(KLV_DATA_DIR) + "/";
};
