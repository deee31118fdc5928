// The DirectDraw object and the virtual display: driver enumeration, capabilities, display modes,
// cooperative levels, the primary flipping chain, the windowed primary with its clipper, and
// what the window backend reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ddraw_test_util.h"
#include "platform/dx5/d3d.h"
#include "platform/dx5/ddraw_testing.h"
#include "platform/dx5/virtual_display.h"
#include "platform/win/gdi_pixels.h"

namespace {

using DisplayTest = DDrawTest;

struct Driver {
  bool nullGuid;
  std::string description, name;
};

BOOL CollectDriver(GUID* guid, const char* description, const char* name, void* context) {
  static_cast<std::vector<Driver>*>(context)->push_back(Driver{guid == nullptr, description, name});
  return TRUE;
}

HRESULT CollectMode(DDSURFACEDESC* mode, void* context) {
  static_cast<std::vector<DDSURFACEDESC>*>(context)->push_back(*mode);
  return DDENUMRET_OK;
}

HRESULT StopAtFirst(DDSURFACEDESC*, void* context) {
  ++*static_cast<int*>(context);
  return DDENUMRET_CANCEL;
}

TEST(DirectDrawEntry, EnumeratesThePrimaryDisplayDriverOnly) {
  std::vector<Driver> drivers;
  ASSERT_EQ(DirectDrawEnumerateA(CollectDriver, &drivers), DD_OK);
  ASSERT_EQ(drivers.size(), 1u);
  EXPECT_TRUE(drivers[0].nullGuid);
  EXPECT_FALSE(drivers[0].description.empty());
  EXPECT_FALSE(drivers[0].name.empty());
  EXPECT_EQ(DirectDrawEnumerateA(nullptr, nullptr), DDERR_INVALIDPARAMS);
}

TEST(DirectDrawEntry, CreateRefusesUnknownDriversAndMissingOutputs) {
  GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  IDirectDraw* dd = nullptr;
  EXPECT_EQ(DirectDrawCreate(&other, &dd, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dd, nullptr);
  EXPECT_EQ(DirectDrawCreate(nullptr, nullptr, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DisplayTest, QueryInterfaceSharesOneCountAcrossTheDirectDrawInterfaces) {
  void* out = nullptr;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirectDraw, &out), DD_OK);
  EXPECT_EQ(static_cast<IDirectDraw*>(out), dd1_);
  EXPECT_EQ(dd1_->AddRef(), 4u);
  EXPECT_EQ(dd1_->Release(), 3u);
  EXPECT_EQ(dd1_->Release(), 2u);
  EXPECT_EQ(dd_->QueryInterface(IID_IDirectDrawSurface, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(DisplayTest, QueryInterfaceForDirect3DGivesAnObjectThatHoldsTheDirectDraw) {
  IDirect3D2* d3d = nullptr;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d)), DD_OK);
  ASSERT_NE(d3d, nullptr);
  EXPECT_EQ(d3d->Release(), 0u);
}

TEST_F(DisplayTest, CapsDescribeA3DDriverWithTexturesAndCheckTheirMarker) {
  DDCAPS hal{};
  DDCAPS hel{};
  hal.dwSize = 360;
  hel.dwSize = kDDCapsSize;
  EXPECT_EQ(dd_->GetCaps(&hal, &hel), DDERR_INVALIDPARAMS);
  hal.dwSize = kDDCapsSize;
  ASSERT_EQ(dd_->GetCaps(&hal, &hel), DD_OK);
  EXPECT_TRUE(hal.dwCaps & DDCAPS_3D);
  EXPECT_TRUE(hal.ddsCaps.dwCaps & DDSCAPS_TEXTURE);
  EXPECT_TRUE(hal.dwCaps & DDCAPS_BLTCOLORFILL);
  EXPECT_TRUE(hal.dwZBufferBitDepths & DDBD_16);
  EXPECT_EQ(hel.dwSize, kDDCapsSize);
  EXPECT_TRUE(hel.dwCaps & DDCAPS_BLT);
}

TEST_F(DisplayTest, EnumeratesModesAndSetsOnlyThoseModes) {
  std::vector<DDSURFACEDESC> modes;
  ASSERT_EQ(dd_->EnumDisplayModes(0, nullptr, &modes, CollectMode), DD_OK);
  auto has = [&](DWORD w, DWORD h, DWORD bits) {
    for (const DDSURFACEDESC& m : modes)
      if (m.dwWidth == w && m.dwHeight == h && m.ddpfPixelFormat.dwRGBBitCount == bits) return true;
    return false;
  };
  EXPECT_TRUE(has(640, 480, 8));
  EXPECT_TRUE(has(640, 480, 16));
  EXPECT_TRUE(has(800, 600, 16));
  EXPECT_TRUE(has(1024, 768, 32));
  DDSURFACEDESC templ{};
  templ.dwSize = kDDSurfaceDescSize;
  templ.dwFlags = DDSD_WIDTH;
  templ.dwWidth = 800;
  modes.clear();
  ASSERT_EQ(dd_->EnumDisplayModes(0, &templ, &modes, CollectMode), DD_OK);
  EXPECT_EQ(modes.size(), 3u);
  int calls = 0;
  ASSERT_EQ(dd_->EnumDisplayModes(0, nullptr, &calls, StopAtFirst), DD_OK);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(dd_->SetDisplayMode(641, 480, 16), DDERR_INVALIDMODE);
  EXPECT_EQ(dd_->SetDisplayMode(640, 480, 24), DDERR_INVALIDMODE);
}

// The monitor's own size is a mode too, at every depth, once named (the saver names its picture's).
TEST_F(DisplayTest, TheNativeSizeIsListedAndSetLikeTheFixedModes) {
  SetNativeDisplaySize(DisplaySize{1366, 768});
  std::vector<DDSURFACEDESC> modes;
  ASSERT_EQ(dd_->EnumDisplayModes(0, nullptr, &modes, CollectMode), DD_OK);
  int native = 0;
  for (const DDSURFACEDESC& m : modes) native += m.dwWidth == 1366 && m.dwHeight == 768;
  EXPECT_EQ(native, 3);
  EXPECT_EQ(dd_->SetDisplayMode(1366, 768, 16), DD_OK);
  EXPECT_EQ(CurrentDisplayMode().width, 1366u);
  EXPECT_EQ(dd_->SetDisplayMode(1366, 768, 24), DDERR_INVALIDMODE);
  // A fixed mode is not listed twice; a size beyond the surface limit is no mode.
  SetNativeDisplaySize(DisplaySize{640, 480});
  modes.clear();
  ASSERT_EQ(dd_->EnumDisplayModes(0, nullptr, &modes, CollectMode), DD_OK);
  EXPECT_EQ(modes.size(), 9u);
  SetNativeDisplaySize(DisplaySize{9000, 100});
  EXPECT_EQ(dd_->SetDisplayMode(9000, 100, 16), DDERR_INVALIDMODE);
  SetNativeDisplaySize(DisplaySize{});
  EXPECT_EQ(dd_->SetDisplayMode(1366, 768, 16), DDERR_INVALIDMODE);
}

TEST_F(DisplayTest, CooperativeLevelsMustBeConsistent) {
  EXPECT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL | DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dd_->SetCooperativeLevel(nullptr, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  EXPECT_EQ(dd_->SetCooperativeLevel(nullptr, 0x57), DD_OK);
}

// The saver's full-screen set-up: exclusive mode, 640 x 480 x 16, a primary with one back buffer.
class FullScreenTest : public DDrawTest {
 protected:
  void SetUp() override {
    DDrawTest::SetUp();
    ASSERT_EQ(dd1_->SetCooperativeLevel(nullptr, 0x57), DD_OK);
    ASSERT_EQ(dd1_->SetDisplayMode(640, 480, 16), DD_OK);
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.dwBackBufferCount = 1;
    desc.ddsCaps.dwCaps =
        DDSCAPS_SYSTEMMEMORY | DDSCAPS_PRIMARYSURFACE | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_3DDEVICE;
    ASSERT_EQ(dd_->CreateSurface(&desc, &primary_, nullptr), DD_OK);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(primary_->GetAttachedSurface(&caps, &back_), DD_OK);
  }
  void TearDown() override {
    EXPECT_EQ(back_->Release(), 1u);  // the chain keeps it
    EXPECT_EQ(primary_->Release(), 0u);
    EXPECT_EQ(FrontBufferView().pixels, nullptr);
    DDrawTest::TearDown();
    EXPECT_EQ(CurrentDisplayMode().bitsPerPixel, kDesktopDisplayMode.bitsPerPixel);
  }

  IDirectDrawSurface* primary_ = nullptr;
  IDirectDrawSurface* back_ = nullptr;
};

TEST_F(FullScreenTest, TheChainHasTheModeSizeAndFormat) {
  for (IDirectDrawSurface* s : {primary_, back_}) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(s->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 640u);
    EXPECT_EQ(desc.dwHeight, 480u);
    EXPECT_EQ(desc.lPitch, 1280);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, 0xF800u);
  }
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(back_->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_TRUE(desc.ddsCaps.dwCaps & DDSCAPS_BACKBUFFER);
  EXPECT_FALSE(desc.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE);
}

TEST_F(FullScreenTest, FlipSwapsFrontAndBackAndCountsAFrame) {
  ASSERT_EQ(Fill(primary_, nullptr, 0x1111), DD_OK);
  ASSERT_EQ(Fill(back_, nullptr, 0x2222), DD_OK);
  const uint64_t before = PresentedFrameCount();
  ASSERT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(PresentedFrameCount(), before + 1);
  EXPECT_EQ(ReadPixel(primary_, 10, 10), 0x2222u);
  EXPECT_EQ(ReadPixel(back_, 10, 10), 0x1111u);
  const DisplayView view = FrontBufferView();
  ASSERT_NE(view.pixels, nullptr);
  EXPECT_EQ(view.width, 640);
  EXPECT_EQ(view.height, 480);
  EXPECT_EQ(view.format, GdiFormat::Rgb565);
  EXPECT_EQ(view.pixels[0] | (view.pixels[1] << 8), 0x2222);
  EXPECT_EQ(back_->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
  DDSURFACEDESC desc = LockSurface(back_);
  EXPECT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACEBUSY);
  back_->Unlock(desc.lpSurface);
}

TEST_F(FullScreenTest, TheFrontBufferConvertsToXrgbRows) {
  ASSERT_EQ(Fill(back_, nullptr, 0xF800), DD_OK);
  RECT corner{0, 0, 1, 1};
  ASSERT_EQ(Fill(back_, &corner, 0x001F), DD_OK);
  ASSERT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  std::vector<uint32_t> pixels;
  int width = 0;
  int height = 0;
  ASSERT_TRUE(FrontBufferToXrgb(pixels, width, height));
  ASSERT_EQ(pixels.size(), 640u * 480u);
  EXPECT_EQ(pixels[0], 0x000000FFu);
  EXPECT_EQ(pixels[1], 0x00FF0000u);
  EXPECT_EQ(pixels[640 * 480 - 1], 0x00FF0000u);
}

// Every 5-6-5 value, at every position of an eight-pixel group, widens as the row converter does.
TEST_F(FullScreenTest, EverySixteenBitValueWidensLikeTheRowConverter) {
  DDSURFACEDESC desc = LockSurface(back_);
  for (uint32_t y = 0; y < desc.dwHeight; ++y)
    for (uint32_t x = 0; x < desc.dwWidth; ++x) {
      const auto value = static_cast<uint16_t>((y * desc.dwWidth + x) * 7);
      std::memcpy(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch + 2 * x, &value, 2);
    }
  back_->Unlock(desc.lpSurface);
  ASSERT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  ASSERT_TRUE(FrontBufferToXrgb(pixels, width, height));
  int wrong = 0;
  for (size_t i = 0; i < pixels.size(); ++i) {
    const auto value = static_cast<uint16_t>(i * 7);
    uint32_t expected = 0;
    RowToXrgb(GdiFormat::Rgb565, reinterpret_cast<const uint8_t*>(&value), 1, nullptr, &expected);
    wrong += pixels[i] != expected;
  }
  EXPECT_EQ(wrong, 0);
}

// A picture of an odd width, whose rows lie an odd number of bytes apart, written into rows with
// room to spare: each row holds its converted pixels and the bytes between rows stay as they were.
TEST(ViewToXrgb, WritesEachRowAtItsPitchAndNothingBetween) {
  constexpr int kWidth = 31, kHeight = 3, kSourcePitch = 2 * kWidth + 7, kTargetWords = kWidth + 5;
  constexpr uint32_t kUntouched = 0xDEADBEEFu;
  std::vector<uint8_t> source(static_cast<size_t>(kSourcePitch) * kHeight);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 37 + 11);
  DisplayView view;
  view.pixels = source.data();
  view.width = kWidth;
  view.height = kHeight;
  view.pitch = kSourcePitch;
  view.format = GdiFormat::Rgb565;
  std::vector<uint32_t> target(static_cast<size_t>(kTargetWords) * kHeight, kUntouched);
  ViewToXrgb(view, target.data(), kTargetWords * 4);
  for (int y = 0; y < kHeight; ++y) {
    uint32_t expected[kWidth];
    RowToXrgb(GdiFormat::Rgb565, source.data() + y * kSourcePitch, kWidth, nullptr, expected);
    for (int x = 0; x < kTargetWords; ++x) {
      const uint32_t written = target[static_cast<size_t>(y) * kTargetWords + x];
      EXPECT_EQ(written, x < kWidth ? expected[x] : kUntouched) << x << "," << y;
    }
  }
}

TEST_F(FullScreenTest, LosingTheDisplayLosesTheChainUntilRestored) {
  ASSERT_TRUE(ForceSurfacesLost(dd1_));
  EXPECT_EQ(primary_->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(back_->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
  EXPECT_EQ(primary_->Restore(), DD_OK);
  EXPECT_EQ(back_->IsLost(), DD_OK);
  EXPECT_EQ(primary_->Flip(nullptr, DDFLIP_WAIT), DD_OK);
}

TEST_F(DisplayTest, AFlippingChainNeedsExclusiveModeAndABackBufferCount) {
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_COMPLEX | DDSCAPS_FLIP;
  IDirectDrawSurface* s = nullptr;
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_NOEXCLUSIVEMODE);
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, 0x57), DD_OK);
  desc.dwFlags = DDSD_CAPS;
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(s, nullptr);
}

TEST_F(DisplayTest, AnEightBitDisplayShowsItsPrimaryThroughThePalette) {
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, 0x57), DD_OK);
  ASSERT_EQ(dd_->SetDisplayMode(640, 480, 8), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* primary = nullptr;
  ASSERT_EQ(dd_->CreateSurface(&desc, &primary, nullptr), DD_OK);
  PALETTEENTRY entries[256] = {};
  entries[5] = PALETTEENTRY{1, 2, 3, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
  ASSERT_EQ(primary->SetPalette(palette), DD_OK);
  ASSERT_EQ(Fill(primary, nullptr, 5), DD_OK);
  std::vector<uint32_t> pixels;
  int width = 0;
  int height = 0;
  ASSERT_TRUE(FrontBufferToXrgb(pixels, width, height));
  EXPECT_EQ(pixels[100], 0x00010203u);
  // A palette change shows at once.
  PALETTEENTRY changed{9, 8, 7, 0};
  ASSERT_EQ(palette->SetEntries(0, 5, 1, &changed), DD_OK);
  ASSERT_TRUE(FrontBufferToXrgb(pixels, width, height));
  EXPECT_EQ(pixels[100], 0x00090807u);
  EXPECT_EQ(palette->SetEntries(0, 250, 7, entries), DDERR_INVALIDPARAMS);
  palette->Release();
  EXPECT_EQ(primary->Release(), 0u);
}

// The windowed set-up: the primary is the client area; blits onto it use screen coordinates and
// are clipped by the clipper to the client area.
TEST_F(DisplayTest, AWindowedPrimaryIsTheClientAreaAndClipsScreenRectangles) {
  const RECT savedArea = WindowClientArea();
  SetWindowClientArea(RECT{100, 50, 420, 290});
  ASSERT_EQ(dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* primary = nullptr;
  ASSERT_EQ(dd_->CreateSurface(&desc, &primary, nullptr), DD_OK);
  DDSURFACEDESC got{};
  got.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(primary->GetSurfaceDesc(&got), DD_OK);
  EXPECT_EQ(got.dwWidth, 320u);
  EXPECT_EQ(got.dwHeight, 240u);

  IDirectDrawSurface* back = MakeSurface(320, 240, SurfaceFormat::Rgb565);
  ASSERT_EQ(Fill(back, nullptr, 0x07E0), DD_OK);
  RECT screen{100, 50, 420, 290};
  RECT source{0, 0, 320, 240};
  const uint64_t before = PresentedFrameCount();
  ASSERT_EQ(primary->Blt(&screen, back, &source, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(PresentedFrameCount(), before + 1);
  EXPECT_EQ(ReadPixel(primary, 0, 0), 0x07E0u);
  EXPECT_EQ(ReadPixel(primary, 319, 239), 0x07E0u);

  // Half the window off the screen area: refused without a clipper, clipped with one.
  ASSERT_EQ(Fill(back, nullptr, 0x001F), DD_OK);
  RECT shifted{260, 50, 580, 290};
  EXPECT_EQ(primary->Blt(&shifted, back, &source, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);
  EXPECT_EQ(ReadPixel(primary, 200, 0), 0x07E0u);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(dd_->CreateClipper(0, &clipper, nullptr), DD_OK);
  ASSERT_EQ(clipper->SetHWnd(0, nullptr), DD_OK);
  ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
  ASSERT_EQ(primary->Blt(&shifted, back, &source, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(ReadPixel(primary, 159, 0), 0x07E0u);
  EXPECT_EQ(ReadPixel(primary, 160, 0), 0x001Fu);
  EXPECT_EQ(ReadPixel(primary, 319, 239), 0x001Fu);
  EXPECT_EQ(FrontBufferView().width, 320);

  clipper->Release();
  back->Release();
  EXPECT_EQ(primary->Release(), 0u);
  SetWindowClientArea(savedArea);
}

TEST_F(DisplayTest, AStretchedBltThroughAClipperKeepsItsScale) {
  IDirectDrawSurface* src = MakeSurface(2, 1, SurfaceFormat::Indexed8);
  WritePixel(src, 0, 0, 1);
  WritePixel(src, 1, 0, 2);
  IDirectDrawSurface* dst = MakeSurface(4, 1, SurfaceFormat::Indexed8);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(dd_->CreateClipper(0, &clipper, nullptr), DD_OK);
  ASSERT_EQ(dst->SetClipper(clipper), DD_OK);
  RECT wide{-4, 0, 4, 1};  // 8 pixels wide, scale 4; only the right half lands
  ASSERT_EQ(dst->Blt(&wide, src, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel(dst, x, 0), 2u) << x;
  clipper->Release();
  dst->Release();
  src->Release();
}

}  // namespace
