// The Direct3D component: device policies and the depth rule on hand-made device tables, the
// creation fallback chain and its messages, start-up that cannot succeed, the background colour,
// restore and the owner rule of release.
#include "display_fixture.h"

#include "platform/dx5/ddraw_testing.h"

namespace {

class RmTest : public DisplayTest {
 protected:
  // A full-screen owner display and a 640 x 480 Direct3D component, displays initialised.
  void SetUpDisplays() {
    owner.SetFullScreen(true);
    rm.DDEnum();
    InitAllDisplays();
    enumerated = Table();
  }
  std::vector<TD3DDeviceEntry>& Table() { return (*KalvorGUnit.DriverList)[0].Devices; }
  // The enumerated software RGB device or the hardware one, with the given depth bits.
  TD3DDeviceEntry Device(bool hardware, DWORD depths) {
    TD3DDeviceEntry d = enumerated.at(hardware ? 2 : 1);
    (hardware ? d.HALDesc : d.HELDesc).dwDeviceZBufferBitDepth = depths;
    return d;
  }
  DWORD ZBufferDepth() {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    rm.ZBuffer->GetSurfaceDesc(&d);
    return d.dwZBufferBitDepth;
  }
  bool InitWith(std::vector<TD3DDeviceEntry> table, int32_t choice) {
    Table() = std::move(table);
    KalvorRMUnit.DeviceChoice = choice;
    return rm.RmInit();
  }

  TKalvorG owner{&form};
  TKalvorRM rm{&form};
  std::vector<TD3DDeviceEntry> enumerated;
};

TEST_F(RmTest, FirstAndLastSoftwareDevicePolicies) {
  SetUpDisplays();
  const DWORD none = 0;
  ASSERT_TRUE(InitWith({Device(true, DDBD_16), Device(false, DDBD_24 | DDBD_16), Device(false, none)}, -1));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 1);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(ZBufferDepth(), 24u);
  ASSERT_TRUE(InitWith({Device(true, DDBD_16), Device(false, DDBD_24), Device(false, none)}, -3));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 2);
  EXPECT_EQ(ZBufferDepth(), 16u) << "no depth bits give 16";
}

TEST_F(RmTest, HardwareFirstPolicyAndItsFallbackToDeviceZero) {
  SetUpDisplays();
  ASSERT_TRUE(InitWith({Device(false, DDBD_16), Device(true, DDBD_32)}, -2));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 1);
  EXPECT_TRUE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(ZBufferDepth(), 32u);
  ASSERT_TRUE(InitWith({Device(false, DDBD_24), Device(true, 0)}, -2));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 0);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(ZBufferDepth(), 24u) << "from device 0's software description";
}

TEST_F(RmTest, IndexChoiceTakesTheDepthOfTheDevicesKind) {
  SetUpDisplays();
  KalvorRMUnit.HardwareDevice = false;
  ASSERT_TRUE(InitWith({Device(false, DDBD_16), Device(true, DDBD_24)}, 1));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 1);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice) << "set by the dialog, not here";
  EXPECT_EQ(ZBufferDepth(), 24u);
}

TEST_F(RmTest, InitialisationBuildsStatesMaterialsAndScene) {
  SetUpDisplays();
  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  EXPECT_TRUE(boxes.empty());
  DWORD value = 0;
  rm.D3DDevice->GetRenderState(D3DRENDERSTATE_CULLMODE, &value);
  EXPECT_EQ(value, D3DCULL_CCW);
  rm.D3DDevice->GetRenderState(D3DRENDERSTATE_SHADEMODE, &value);
  EXPECT_EQ(value, D3DSHADE_GOURAUD);
  rm.D3DDevice->GetLightState(D3DLIGHTSTATE_MATERIAL, &value);
  EXPECT_EQ(value, rm.LightMaterialHandle);
  EXPECT_NE(rm.BgMaterialHandle, 0u);
  ASSERT_NE(rm.RMViewport, nullptr);
  EXPECT_EQ(rm.RMViewport->GetBack(), 5000.0f);
  EXPECT_EQ(rm.TexFormatDesc.ddpfPixelFormat.dwRGBBitCount, 8u);
  EXPECT_EQ(rm.TexFormatDesc.dwWidth, 64u);
  EXPECT_NE(rm.SavedPalette, nullptr);
}

TEST_F(RmTest, SecondInitialisationWarnsAndStartsAgain) {
  SetUpDisplays();
  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  TKalvorTexture* tex = nullptr;
  rm.MakeTexture(tex, 4, 4, 16);
  rm.MakeFramefromFile(nullptr, "missing.x");
  ASSERT_TRUE(rm.RmInit());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], Box("You Can't use Two or More KalvorRM Components.", "Warning"));
  // The lists outlive the re-initialisation: faces of loaded models still point at their textures.
  ASSERT_TRUE(KalvorRMUnit.TextureList);
  ASSERT_EQ(KalvorRMUnit.TextureList->size(), 1u);
  EXPECT_EQ(KalvorRMUnit.TextureList->front().get(), tex);
  ASSERT_TRUE(KalvorRMUnit.FrameList);
  EXPECT_EQ(KalvorRMUnit.FrameList->size(), 1u);
  rm.MakeTexture(tex, 4, 4, 16);
  EXPECT_EQ(tex->Data.Index, 1);
}

TEST_F(RmTest, FailedCreationTriesTheOthersInTurn) {
  SetUpDisplays();
  TD3DDeviceEntry unknown = Device(false, DDBD_16);
  unknown.Guid.Data1 ^= 0x5A5A5A5A;
  ASSERT_TRUE(InitWith({unknown}, 0));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], Box("D3DDevice Initialize was Failed. I'm going to try Others.", "Failed"));
  EXPECT_EQ(boxes[1], Box("I try HAL.", "Try"));
  EXPECT_NE(rm.D3DDevice, nullptr);
}

TEST_F(RmTest, EveryCreationFailingIsReportedAndStops) {
  owner.SetFullScreen(true);
  owner.SetColor8bit(true);  // an 8-bit target no device renders to
  rm.DDEnum();
  InitAllDisplays();
  KalvorRMUnit.DeviceChoice = -1;
  EXPECT_FALSE(rm.RmInit());
  const std::vector<Box> expected{{"D3DDevice Initialize was Failed. I'm going to try Others.", "Failed"},
                                  {"I try HAL.", "Try"},
                                  {"I try MMX.", "Try"},
                                  {"I try RGB.", "Try"},
                                  {"I try Ramp.", "Try"},
                                  {"All D3D Devices were Failed.", "Failed"}};
  EXPECT_EQ(boxes, expected);
  EXPECT_EQ(rm.D3DDevice, nullptr);
  rm.RmRelease();
  rm.SetBGColor(1, 2, 3);
  EXPECT_EQ(KalvorRMUnit.D3D, nullptr);
}

TEST_F(RmTest, NoUsableDeviceIsReportedInsteadOfReadingPastTheTable) {
  SetUpDisplays();
  EXPECT_FALSE(InitWith({}, -1));
  EXPECT_FALSE(InitWith({Device(true, DDBD_16)}, -1));  // no software device; SelectedDevice still -3
  EXPECT_FALSE(InitWith({Device(false, DDBD_16)}, 4));
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2], Box("No D3D Device can be used.", "Failed"));
  EXPECT_EQ(rm.D3DDevice, nullptr);
}

TEST_F(RmTest, InitialisationWithoutDisplayIsReported) {
  KalvorRMUnit.DeviceChoice = 0;
  EXPECT_FALSE(rm.RmInit());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].second, "Failed");
}

TEST_F(RmTest, BackgroundColourDividesBy256) {
  SetUpDisplays();
  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  rm.SetBGColor(223, 223, 239);
  D3DMATERIAL m{};
  m.dwSize = kD3DMaterialSize;
  ASSERT_EQ(rm.BgMaterial->GetMaterial(&m), D3D_OK);
  for (const D3DCOLORVALUE& c : {m.diffuse, m.ambient, m.specular, m.emissive}) {
    EXPECT_EQ(c.r, 0.87109375f);
    EXPECT_EQ(c.g, 0.87109375f);
    EXPECT_EQ(c.b, 0.93359375f);
    EXPECT_EQ(c.a, 0.0f);
  }
  EXPECT_EQ(m.dwRampSize, 20u);
  EXPECT_EQ(m.power, 20.0f);
}

TEST_F(RmTest, RestoreWorksOnlyBetweenInitialisationAndRelease) {
  SetUpDisplays();
  ASSERT_TRUE(ForceSurfacesLost(KalvorGUnit.DirectDraw));
  rm.RmRestore();  // before RmInit: nothing
  EXPECT_EQ(KalvorGUnit.PrimarySurface->IsLost(), DDERR_SURFACELOST);
  KalvorGUnit.PrimarySurface->Restore();
  KalvorGUnit.BackBuffer->Restore();

  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  ASSERT_TRUE(ForceSurfacesLost(KalvorGUnit.DirectDraw));
  rm.RmRestore();
  EXPECT_EQ(KalvorGUnit.PrimarySurface->IsLost(), DD_OK);
  EXPECT_EQ(rm.ZBuffer->IsLost(), DD_OK);
  IDirectDrawPalette* palette = nullptr;
  KalvorGUnit.BackBuffer->GetPalette(&palette);
  EXPECT_EQ(palette, rm.SavedPalette);
  if (palette) palette->Release();

  rm.RmRelease();
  ASSERT_TRUE(ForceSurfacesLost(KalvorGUnit.DirectDraw));
  rm.RmRestore();  // after RmRelease: nothing
  EXPECT_EQ(KalvorGUnit.PrimarySurface->IsLost(), DDERR_SURFACELOST);
}

TEST_F(RmTest, ReleaseOnAnotherComponentReleasesOnlyItsDisplayLayer) {
  TKalvorRM other(&form);
  SetUpDisplays();
  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  ASSERT_NE(other.BackSurface, nullptr);
  other.RmRelease();
  EXPECT_EQ(other.BackSurface, nullptr);
  EXPECT_NE(rm.D3DDevice, nullptr);
  EXPECT_NE(KalvorRMUnit.D3D, nullptr);
  EXPECT_NE(KalvorGUnit.DirectDraw, nullptr);
  rm.RmRelease();
  EXPECT_EQ(rm.D3DDevice, nullptr);
  EXPECT_EQ(KalvorRMUnit.D3D, nullptr);
  EXPECT_EQ(KalvorRMUnit.TextureList, nullptr);
  EXPECT_NE(KalvorGUnit.DirectDraw, nullptr) << "the display owner is the first component";
  owner.DDrelease();
  EXPECT_EQ(KalvorGUnit.DirectDraw, nullptr);
}

TEST_F(RmTest, RetainedModeFramesAreReplacedWrappedAndReleased) {
  SetUpDisplays();
  KalvorRMUnit.DeviceChoice = 2;
  ASSERT_TRUE(rm.RmInit());
  TKalvorFrame* frame = nullptr;
  rm.MakeFramefromFile(&frame, (ConfigDir() / "missing.x").string());
  ASSERT_NE(frame, nullptr);
  TKalvorFrame* first = frame;
  rm.MakeFramefromFile(&frame, (ConfigDir() / "missing.x").string());
  EXPECT_NE(frame, first);
  ASSERT_EQ(KalvorRMUnit.FrameList->size(), 1u);
  EXPECT_EQ((*KalvorRMUnit.FrameList)[0].get(), frame);
  rm.MakeFramefromFile(nullptr, (ConfigDir() / "other.x").string());
  EXPECT_EQ(KalvorRMUnit.FrameList->size(), 2u);

  for (int wrapType : {0, 3, 9}) {
    rm.SetWrap(frame, (ConfigDir() / "missing.bmp").string(), wrapType, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 1);
    EXPECT_NE(frame->Mesh, nullptr);
  }
  rm.Render();
  rm.RMClear();
  rm.RmRelease();
  EXPECT_EQ(KalvorRMUnit.FrameList, nullptr);
}

}  // namespace
