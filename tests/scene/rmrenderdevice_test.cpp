// The device component seen as the renderer's device: the viewport it hands out, the colour model
// and the sizes it reports, and what it says before the 3D layer exists.
#include "scene/rmrenderdevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "display/component.h"
#include "support/recording_device.h"

namespace {

class RMRenderDeviceTest : public ::testing::Test {
 protected:
  RMRenderDeviceTest() { KalvorRMUnit = TKalvorRMUnitState{}; }
  ~RMRenderDeviceTest() override {
    rm.RMViewport = nullptr;
    rmViewport->Release();
  }

  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  RecordingRMViewport* rmViewport = RecordingRMViewport::Create(log);
  TComponentOwner form;
  TKalvorRM rm{&form};
};

TEST_F(RMRenderDeviceTest, HandsOutTheImmediateViewportWithOneReferenceForTheCaller) {
  rm.RMViewport = rmViewport;
  TKalvorRMRenderDevice device(rm);
  const ULONG before = rmViewport->Viewport()->References();
  IDirect3DViewport2* viewport = device.AcquireViewport();
  ASSERT_EQ(viewport, rmViewport->Viewport());
  EXPECT_EQ(rmViewport->Viewport()->References(), before + 1);
  viewport->Release();
  EXPECT_EQ(rmViewport->Viewport()->References(), before);
  ASSERT_FALSE(log->empty());
  EXPECT_EQ(log->front().method, "RMViewport.GetDirect3DViewport");
}

TEST_F(RMRenderDeviceTest, ReportsTheComponentsStateAndNothingBeforeItExists) {
  rm.Width = 1920;
  rm.Height = 1080;
  rm.BgMaterialHandle = 77;
  TKalvorRMRenderDevice device(rm);
  EXPECT_EQ(device.AcquireViewport(), nullptr);  // no retained-mode viewport yet
  EXPECT_EQ(device.DefaultWidth(), 1920);
  EXPECT_EQ(device.DefaultHeight(), 1080);
  EXPECT_EQ(device.BackgroundMaterial(), 77u);
  KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_RGB);
  EXPECT_TRUE(device.ColorModelIsRgb());
  KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_MONO);
  EXPECT_FALSE(device.ColorModelIsRgb());

  TKalvorRMRenderDevice unattached;
  EXPECT_EQ(unattached.Direct3DDevice(), nullptr);
  EXPECT_EQ(unattached.AcquireViewport(), nullptr);
  EXPECT_EQ(unattached.DefaultWidth(), 0);
}

}  // namespace
