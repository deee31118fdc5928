// The display component: owner and secondary set-up in full-screen and windowed mode, the pixel
// masks, the shared properties, enumeration, copies, restore and release.
#include "display_fixture.h"

#include "platform/dx5/ddraw_testing.h"
#include "platform/dx5/virtual_display.h"
#include "platform/win/bmp_writer.h"

namespace {

struct ExposedG : TKalvorG {
  using TKalvorG::ReadPixelMasks;
  using TKalvorG::TKalvorG;
};

DDSURFACEDESC DescOf(IDirectDrawSurface* s) {
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->GetSurfaceDesc(&d), DD_OK);
  return d;
}

TEST_F(DisplayTest, FullScreenOwnerFlipsAndSecondaryGetsItsOwnSurface) {
  TKalvorG owner(&form);
  TKalvorG second(&form);
  second.Width = 320;
  second.Height = 200;
  owner.Width = 100;
  owner.SetFullScreen(true);
  owner.DDEnum();
  InitAllDisplays();

  ASSERT_NE(KalvorGUnit.DirectDraw, nullptr);
  EXPECT_EQ(KalvorGUnit.DDOwnerIndex, 0);
  EXPECT_EQ(KalvorGUnit.ActiveDriver, -1);
  EXPECT_EQ(owner.Width, 640);
  EXPECT_EQ(CurrentDisplayMode().bitsPerPixel, 16u);
  EXPECT_EQ(owner.BackSurface, KalvorGUnit.BackBuffer);
  EXPECT_TRUE(static_cast<bool>(owner.OnFlip));
  EXPECT_FALSE(static_cast<bool>(second.OnFlip));
  EXPECT_EQ(DescOf(second.BackSurface).dwWidth, 320u);
  EXPECT_EQ(owner.RLow, 0x0800u);
  EXPECT_EQ(owner.GLow, 0x0020u);
  EXPECT_EQ(owner.BLow, 0x0001u);
  EXPECT_EQ(owner.ClearRect.right, 640);

  owner.SetFullScreen(false);  // ignored once the display is up
  EXPECT_TRUE(second.FullScreen());

  const uint64_t frames = PresentedFrameCount();
  owner.OnFlip();
  EXPECT_EQ(PresentedFrameCount(), frames + 1);

  second.DDrelease();
  EXPECT_EQ(second.BackSurface, nullptr);
  EXPECT_NE(KalvorGUnit.DirectDraw, nullptr);
  owner.DDrelease();
  EXPECT_EQ(KalvorGUnit.DirectDraw, nullptr);
  EXPECT_EQ(KalvorGUnit.PrimarySurface, nullptr);
  EXPECT_EQ(KalvorGUnit.DriverList, nullptr);
  owner.DDrelease();  // a second release finds nothing more
}

TEST_F(DisplayTest, WindowedComponentsCopyToTheScreen) {
  TKalvorG owner(&form);
  TKalvorG second(&form);
  owner.Width = 200;
  owner.Height = 100;
  second.Width = 50;
  second.Height = 40;
  InitAllDisplays();
  ASSERT_NE(owner.Clipper, nullptr);
  ASSERT_NE(second.Clipper, nullptr);
  EXPECT_NE(owner.BackSurface, second.BackSurface);
  EXPECT_EQ(DescOf(owner.BackSurface).dwWidth, 200u);

  const uint64_t frames = PresentedFrameCount();
  owner.OnFlip();
  second.OnFlip();
  EXPECT_EQ(PresentedFrameCount(), frames + 2);
  EXPECT_EQ(KalvorGUnit.LastResult, DD_OK);
}

TEST_F(DisplayTest, ReadPixelMasksOn555) {
  SurfaceMaker maker;
  ExposedG g(&form);
  g.BackSurface = maker.Make(4, 4, 0x7C00, 0x03E0, 0x001F);
  g.ReadPixelMasks();
  EXPECT_EQ(g.RLow, 0x0400u);
  EXPECT_EQ(g.GLow, 0x0020u);
  EXPECT_EQ(g.BLow, 0x0001u);
  EXPECT_EQ(g.SurfDesc.ddpfPixelFormat.dwRBitMask, 0x7C00u);
}

TEST_F(DisplayTest, EnumeratingTwiceListsEveryDriverTwice) {
  TKalvorG g(&form);
  g.DDEnum();
  g.DDEnum();
  ASSERT_EQ(KalvorGUnit.DriverList->size(), 2u);
  const TDDDriverEntry& driver = (*KalvorGUnit.DriverList)[0];
  EXPECT_FALSE(driver.Guid.has_value());
  EXPECT_TRUE(driver.Has3D);
  EXPECT_TRUE(driver.HasTexture);
  EXPECT_FALSE(driver.Modes.empty());
  ASSERT_EQ(driver.Devices.size(), 4u);
  EXPECT_NE(driver.Devices[2].HALDesc.dcmColorModel, 0u);
}

TEST_F(DisplayTest, DriverChoiceOutsideTheTableFallsBackToThePrimaryDriver) {
  TKalvorG g(&form);
  g.DDEnum();
  g.SelectDrawDriver(5);
  g.DDInit();
  EXPECT_NE(KalvorGUnit.DirectDraw, nullptr);
  EXPECT_EQ(KalvorGUnit.ActiveDriver, -1);
}

TEST_F(DisplayTest, CopyClipsToTheComponentAndClearFills) {
  TKalvorG owner(&form);
  TKalvorG source(&form);
  owner.Width = 8;
  owner.Height = 4;
  source.Width = 8;
  source.Height = 4;
  InitAllDisplays();
  Fill16(source.BackSurface, 0x1234);
  owner.Copy(-3, 0, source.BackSurface, RECT{0, 0, 8, 4}, false);
  EXPECT_EQ(Pixel16(owner.BackSurface, 4, 0), 0x1234);
  EXPECT_EQ(Pixel16(owner.BackSurface, 5, 0), 0);
  owner.Copy(6, 2, source.BackSurface, RECT{0, 0, 8, 4}, false);
  EXPECT_EQ(Pixel16(owner.BackSurface, 7, 3), 0x1234);
  owner.Clear();
  EXPECT_EQ(Pixel16(owner.BackSurface, 7, 3), 0);
}

TEST_F(DisplayTest, CopyFromFileCopiesIndicesOnlyInEightBitMode) {
  const std::string file = (ConfigDir() / "image.bmp").string();
  const std::vector<uint8_t> indices{1, 2, 3, 4, 5, 6};  // 3 x 2, top row first
  std::vector<PALETTEENTRY> palette(8);
  WriteBmp8(file, 3, 2, indices, palette);

  TKalvorG g(&form);
  g.SetFullScreen(true);
  g.SetColor8bit(true);
  g.DDInit();
  g.CopyFromFile(file);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(g.BackSurface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  const auto* bits = static_cast<const uint8_t*>(d.lpSurface);
  EXPECT_EQ(bits[0], 1);
  EXPECT_EQ(bits[2], 3);
  EXPECT_EQ(bits[d.lPitch + 1], 5);
  EXPECT_EQ(bits[3], 0);
  g.BackSurface->Unlock(nullptr);
  EXPECT_THROW(g.CopyFromFile((ConfigDir() / "missing.bmp").string()), KlvError);
  EXPECT_EQ(g.BackSurface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK) << "left unlocked after a failure";
  g.BackSurface->Unlock(nullptr);
}

TEST_F(DisplayTest, CopyFromFileCopiesNothingInSixteenBitMode) {
  const std::string file = (ConfigDir() / "image.bmp").string();
  const std::vector<uint8_t> indices{9, 9, 9, 9};
  std::vector<PALETTEENTRY> palette(16);
  WriteBmp8(file, 2, 2, indices, palette);
  TKalvorG g(&form);
  g.SetFullScreen(true);
  g.DDInit();
  g.CopyFromFile(file);
  EXPECT_EQ(Pixel16(g.BackSurface, 0, 0), 0);
}

TEST_F(DisplayTest, DDRestoreBringsBackLostSurfaces) {
  TKalvorG g(&form);
  g.SetFullScreen(true);
  g.DDInit();
  ASSERT_TRUE(ForceSurfacesLost(KalvorGUnit.DirectDraw));
  EXPECT_EQ(KalvorGUnit.PrimarySurface->IsLost(), DDERR_SURFACELOST);
  g.DDRestore();
  EXPECT_EQ(KalvorGUnit.PrimarySurface->IsLost(), DD_OK);
  EXPECT_EQ(KalvorGUnit.BackBuffer->IsLost(), DD_OK);
}

}  // namespace
