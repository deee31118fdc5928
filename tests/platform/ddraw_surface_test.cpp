// Surfaces of the DirectDraw stand-in: layouts and pitches, locks, colour fill, keyed and
// converting blits, rectangle checks, attachments, colour keys, loss and reference counts.
#include <gtest/gtest.h>

#include "platform/ddraw_test_util.h"
#include "platform/dx5/d3d.h"
#include "platform/dx5/ddraw_testing.h"

namespace {

using SurfaceTest = DDrawTest;

TEST_F(SurfaceTest, LayoutsHaveTheirMasksAndDwordAlignedPitches) {
  struct Case {
    SurfaceFormat format;
    DWORD bits, red, green, blue;
    LONG pitchFor5;
  };
  const Case cases[] = {{SurfaceFormat::Indexed8, 8, 0, 0, 0, 8},
                        {SurfaceFormat::Rgb565, 16, 0xF800, 0x07E0, 0x001F, 12},
                        {SurfaceFormat::Rgb555, 16, 0x7C00, 0x03E0, 0x001F, 12},
                        {SurfaceFormat::Xrgb32, 32, 0xFF0000, 0x00FF00, 0x0000FF, 20}};
  for (const Case& c : cases) {
    IDirectDrawSurface* s = MakeSurface(5, 3, c.format);
    DDSURFACEDESC desc = LockSurface(s);
    EXPECT_EQ(desc.dwWidth, 5u);
    EXPECT_EQ(desc.dwHeight, 3u);
    EXPECT_EQ(desc.lPitch, c.pitchFor5);
    EXPECT_NE(desc.lpSurface, nullptr);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, c.bits);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, c.red);
    EXPECT_EQ(desc.ddpfPixelFormat.dwGBitMask, c.green);
    EXPECT_EQ(desc.ddpfPixelFormat.dwBBitMask, c.blue);
    EXPECT_EQ(s->Unlock(nullptr), DD_OK);
    EXPECT_EQ(s->Release(), 0u);
  }
}

TEST_F(SurfaceTest, WithoutAPixelFormatASurfaceTakesTheDisplayFormat) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = 4;
  desc.dwHeight = 4;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_SYSTEMMEMORY;
  IDirectDrawSurface* s = nullptr;
  ASSERT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DD_OK);
  DDSURFACEDESC got{};
  got.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(s->GetSurfaceDesc(&got), DD_OK);
  EXPECT_EQ(got.ddpfPixelFormat.dwRGBBitCount, 16u);
  EXPECT_EQ(got.ddpfPixelFormat.dwRBitMask, 0xF800u);
  EXPECT_EQ(got.ddsCaps.dwCaps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY), DDSCAPS_SYSTEMMEMORY);
  s->Release();
}

TEST_F(SurfaceTest, CreationRefusesWrongMarkersSizesAndFormats) {
  DDSURFACEDESC desc{};
  desc.dwSize = 100;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = 4;
  desc.dwHeight = 4;
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface* s = reinterpret_cast<IDirectDrawSurface*>(&desc);
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(s, nullptr);
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwWidth = 0;
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPARAMS);
  desc.dwWidth = 4;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH;
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPARAMS);
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  desc.ddpfPixelFormat = PixelFormatOf(SurfaceFormat::Rgb565);
  desc.ddpfPixelFormat.dwGBitMask = 0x0FE0;  // not a layout the stand-in has
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPIXELFORMAT);
  desc.ddpfPixelFormat = PixelFormatOf(SurfaceFormat::Xrgb32);
  desc.ddpfPixelFormat.dwFlags |= DDPF_ALPHAPIXELS;
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DDERR_INVALIDPIXELFORMAT);
  EXPECT_EQ(s, nullptr);
}

TEST_F(SurfaceTest, ColourFillWritesTheRawValueInsideTheRectangleOnly) {
  IDirectDrawSurface* s = MakeSurface(8, 4, SurfaceFormat::Rgb565);
  ASSERT_EQ(Fill(s, nullptr, 0x1234), DD_OK);
  RECT inner{2, 1, 5, 3};
  ASSERT_EQ(Fill(s, &inner, 0xF81F), DD_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool in = x >= 2 && x < 5 && y >= 1 && y < 3;
      EXPECT_EQ(ReadPixel(s, x, y), in ? 0xF81Fu : 0x1234u) << x << "," << y;
    }
  IDirectDrawSurface* s32 = MakeSurface(3, 2, SurfaceFormat::Xrgb32);
  ASSERT_EQ(Fill(s32, nullptr, 0x00ABCDEF), DD_OK);
  EXPECT_EQ(ReadPixel(s32, 2, 1), 0x00ABCDEFu);
  DDBLTFX badFx{};
  badFx.dwSize = 99;
  EXPECT_EQ(s32->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &badFx), DDERR_INVALIDPARAMS);
  EXPECT_EQ(s32->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(ReadPixel(s32, 0, 0), 0x00ABCDEFu);
  s32->Release();
  s->Release();
}

TEST_F(SurfaceTest, RectanglesOutsideTheSurfaceAreRefusedAndNothingIsWritten) {
  IDirectDrawSurface* dst = MakeSurface(4, 4, SurfaceFormat::Indexed8);
  IDirectDrawSurface* src = MakeSurface(4, 4, SurfaceFormat::Indexed8);
  ASSERT_EQ(Fill(dst, nullptr, 7), DD_OK);
  ASSERT_EQ(Fill(src, nullptr, 9), DD_OK);
  RECT partly{-1, 0, 2, 2};
  RECT beyond{2, 2, 5, 4};
  RECT inverted{3, 0, 1, 2};
  EXPECT_EQ(Fill(dst, &partly, 1), DDERR_INVALIDRECT);
  EXPECT_EQ(Fill(dst, &beyond, 1), DDERR_INVALIDRECT);
  EXPECT_EQ(Fill(dst, &inverted, 1), DDERR_INVALIDRECT);
  EXPECT_EQ(dst->Blt(&beyond, src, nullptr, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);
  RECT whole{0, 0, 4, 4};
  EXPECT_EQ(dst->Blt(&whole, src, &beyond, DDBLT_WAIT, nullptr), DDERR_INVALIDRECT);
  RECT two{0, 0, 2, 2};
  EXPECT_EQ(dst->BltFast(3, 0, src, &two, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(dst->BltFast(0, 3, src, &two, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(dst->BltFast(static_cast<DWORD>(-1), 0, src, &two, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  EXPECT_EQ(dst->BltFast(0, 0, src, &beyond, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(dst->Lock(&beyond, &desc, DDLOCK_WAIT, nullptr), DDERR_INVALIDRECT);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadPixel(dst, x, y), 7u);
  // A rectangle that fits exactly is fine.
  EXPECT_EQ(dst->BltFast(2, 2, src, &two, DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(ReadPixel(dst, 3, 3), 9u);
  src->Release();
  dst->Release();
}

TEST_F(SurfaceTest, BltFastWithSourceKeyCopiesOnlyNonKeyPixels) {
  IDirectDrawSurface* src = MakeSurface(4, 1, SurfaceFormat::Rgb565);
  IDirectDrawSurface* dst = MakeSurface(6, 2, SurfaceFormat::Rgb565);
  const uint16_t row[4] = {0x0000, 0xF800, 0x0000, 0x001F};
  for (int x = 0; x < 4; ++x) WritePixel(src, x, 0, row[x]);
  ASSERT_EQ(Fill(dst, nullptr, 0x07E0), DD_OK);
  RECT all{0, 0, 4, 1};
  EXPECT_EQ(dst->BltFast(1, 1, src, &all, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT), DDERR_NOCOLORKEY);
  DDCOLORKEY key{0, 0};
  ASSERT_EQ(src->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  ASSERT_EQ(dst->BltFast(1, 1, src, &all, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT), DD_OK);
  const uint32_t expected[6] = {0x07E0, 0x07E0, 0xF800, 0x07E0, 0x001F, 0x07E0};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(ReadPixel(dst, x, 1), expected[x]) << x;
    EXPECT_EQ(ReadPixel(dst, x, 0), 0x07E0u) << x;
  }
  // Without the flag the key pixels are copied too.
  ASSERT_EQ(dst->BltFast(1, 1, src, &all, DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(ReadPixel(dst, 1, 1), 0u);
  dst->Release();
  src->Release();
}

TEST_F(SurfaceTest, BltStretchesAndConvertsBetweenFormats) {
  IDirectDrawSurface* src = MakeSurface(2, 1, SurfaceFormat::Xrgb32);
  WritePixel(src, 0, 0, 0x00FF0000);
  WritePixel(src, 1, 0, 0x000000FF);
  IDirectDrawSurface* dst = MakeSurface(4, 2, SurfaceFormat::Rgb555);
  ASSERT_EQ(dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(ReadPixel(dst, 0, y), 0x7C00u);
    EXPECT_EQ(ReadPixel(dst, 1, y), 0x7C00u);
    EXPECT_EQ(ReadPixel(dst, 2, y), 0x001Fu);
    EXPECT_EQ(ReadPixel(dst, 3, y), 0x001Fu);
  }
  // 5-5-5 back into 32 bits widens each channel by repeating its top bits.
  WritePixel(dst, 0, 0, (0x10 << 10) | (0x01 << 5) | 0x1F);
  RECT one{0, 0, 1, 1};
  ASSERT_EQ(src->Blt(&one, dst, &one, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(ReadPixel(src, 0, 0), 0x008408FFu);
  dst->Release();
  src->Release();
}

TEST_F(SurfaceTest, AKeyedConvertingBltTestsTheKeyOnTheSourceValues) {
  IDirectDrawSurface* src = MakeSurface(3, 1, SurfaceFormat::Indexed8);
  WritePixel(src, 0, 0, 0);
  WritePixel(src, 1, 0, 249);  // pure red in the system palette
  WritePixel(src, 2, 0, 0);
  DDCOLORKEY key{0, 0};
  ASSERT_EQ(src->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  IDirectDrawSurface* dst = MakeSurface(6, 1, SurfaceFormat::Rgb565);
  ASSERT_EQ(Fill(dst, nullptr, 0x07E0), DD_OK);
  ASSERT_EQ(dst->Blt(nullptr, src, nullptr, DDBLT_KEYSRC | DDBLT_WAIT, nullptr), DD_OK);
  const uint32_t expected[6] = {0x07E0, 0x07E0, 0xF800, 0xF800, 0x07E0, 0x07E0};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(ReadPixel(dst, x, 0), expected[x]) << x;
  dst->Release();
  src->Release();
}

TEST_F(SurfaceTest, BltOntoItselfCopiesAsIfThroughASeparateBuffer) {
  IDirectDrawSurface* s = MakeSurface(4, 1, SurfaceFormat::Indexed8);
  for (int x = 0; x < 4; ++x) WritePixel(s, x, 0, static_cast<uint32_t>(x + 1));
  RECT from{0, 0, 3, 1};
  ASSERT_EQ(s->BltFast(1, 0, s, &from, DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(ReadPixel(s, 0, 0), 1u);
  EXPECT_EQ(ReadPixel(s, 1, 0), 1u);
  EXPECT_EQ(ReadPixel(s, 2, 0), 2u);
  EXPECT_EQ(ReadPixel(s, 3, 0), 3u);
  s->Release();
}

// Sizes of a destination beyond 2^31 once went through 32-bit arithmetic: the clipped source left
// the source surface and the copy read outside it.
TEST_F(SurfaceTest, AClippedBltOfAHugeDestinationStaysInsideBothSurfaces) {
  IDirectDrawSurface* s = MakeSurface(1, 42, SurfaceFormat::Indexed8);
  for (int y = 0; y < 42; ++y) WritePixel(s, 0, y, static_cast<uint32_t>(y + 1));
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(dd_->CreateClipper(0, &clipper, nullptr), DD_OK);
  ASSERT_EQ(s->SetClipper(clipper), DD_OK);
  RECT huge{-33554432, -2147483647, 25, 4};
  ASSERT_EQ(s->Blt(&huge, s, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  // Rows 0..3 are the last 4 of 2^31 + 3 rows showing 42 source rows: each shows source row 41.
  for (int y = 0; y < 4; ++y) EXPECT_EQ(ReadPixel(s, 0, y), 42u) << y;
  for (int y = 4; y < 42; ++y) EXPECT_EQ(ReadPixel(s, 0, y), static_cast<uint32_t>(y + 1)) << y;
  // One that misses the surface changes nothing; one reaching far to the other side shows the first
  // source row everywhere.
  for (int y = 0; y < 42; ++y) WritePixel(s, 0, y, static_cast<uint32_t>(y + 1));
  RECT away{-2147483647 - 1, -2147483647 - 1, -1, 2147483647};
  EXPECT_EQ(s->Blt(&away, s, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 42; ++y) EXPECT_EQ(ReadPixel(s, 0, y), static_cast<uint32_t>(y + 1)) << y;
  RECT far{0, 0, 2147483647, 2147483647};
  ASSERT_EQ(s->Blt(&far, s, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 42; ++y) EXPECT_EQ(ReadPixel(s, 0, y), 1u) << y;
  clipper->Release();
  s->Release();
}

TEST_F(SurfaceTest, LockedSurfacesAreBusyAndUnlockNeedsALock) {
  IDirectDrawSurface* s = MakeSurface(2, 2, SurfaceFormat::Rgb565);
  IDirectDrawSurface* other = MakeSurface(2, 2, SurfaceFormat::Rgb565);
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);
  DDSURFACEDESC desc{};
  desc.dwSize = 80;
  EXPECT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
  desc = LockSurface(s);
  DDSURFACEDESC again{};
  again.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(Fill(s, nullptr, 1), DDERR_SURFACEBUSY);
  EXPECT_EQ(other->BltFast(0, 0, s, nullptr, DDBLTFAST_WAIT), DDERR_SURFACEBUSY);
  HDC dc = nullptr;
  EXPECT_EQ(s->GetDC(&dc), DDERR_SURFACEBUSY);
  EXPECT_EQ(s->Unlock(desc.lpSurface), DD_OK);
  // A lock of a sub-rectangle points at its top-left pixel.
  RECT lower{1, 1, 2, 2};
  DDSURFACEDESC sub{};
  sub.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(s->Lock(&lower, &sub, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(static_cast<uint8_t*>(sub.lpSurface), static_cast<uint8_t*>(desc.lpSurface) + desc.lPitch + 2);
  s->Unlock(nullptr);
  other->Release();
  s->Release();
}

TEST_F(SurfaceTest, ColourKeysAreKeptPerKind) {
  IDirectDrawSurface* s = MakeSurface(2, 2, SurfaceFormat::Indexed8);
  DDCOLORKEY key{};
  EXPECT_EQ(s->GetColorKey(DDCKEY_SRCBLT, &key), DDERR_NOCOLORKEY);
  DDCOLORKEY set{3, 5};
  ASSERT_EQ(s->SetColorKey(DDCKEY_SRCBLT, &set), DD_OK);
  ASSERT_EQ(s->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  EXPECT_EQ(key.dwColorSpaceLowValue, 3u);
  EXPECT_EQ(key.dwColorSpaceHighValue, 5u);
  EXPECT_EQ(s->GetColorKey(DDCKEY_DESTBLT, &key), DDERR_NOCOLORKEY);
  EXPECT_EQ(s->SetColorKey(0, &set), DDERR_INVALIDPARAMS);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(s->GetSurfaceDesc(&desc), DD_OK);
  EXPECT_TRUE(desc.dwFlags & DDSD_CKSRCBLT);
  ASSERT_EQ(s->SetColorKey(DDCKEY_SRCBLT, nullptr), DD_OK);
  EXPECT_EQ(s->GetColorKey(DDCKEY_SRCBLT, &key), DDERR_NOCOLORKEY);
  s->Release();
}

TEST_F(SurfaceTest, ZBuffersAttachToColourSurfacesOfTheirSize) {
  IDirectDrawSurface* back = MakeSurface(8, 6, SurfaceFormat::Rgb565, DDSCAPS_3DDEVICE);
  for (DWORD depth : {16u, 24u, 32u}) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
    desc.dwWidth = 8;
    desc.dwHeight = 6;
    desc.dwZBufferBitDepth = depth;
    desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* z = nullptr;
    ASSERT_EQ(dd_->CreateSurface(&desc, &z, nullptr), DD_OK);
    DDSURFACEDESC got{};
    got.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(z->GetSurfaceDesc(&got), DD_OK);
    EXPECT_EQ(got.dwZBufferBitDepth, depth);
    EXPECT_TRUE(got.ddpfPixelFormat.dwFlags & DDPF_ZBUFFER);
    EXPECT_EQ(got.lPitch, depth == 16 ? 16 : 32);
    if (depth == 16) {
      EXPECT_EQ(back->AddAttachedSurface(z), DD_OK);
      EXPECT_EQ(back->AddAttachedSurface(z), DDERR_SURFACEALREADYATTACHED);
      DDSCAPS caps{DDSCAPS_ZBUFFER};
      IDirectDrawSurface* found = nullptr;
      ASSERT_EQ(back->GetAttachedSurface(&caps, &found), DD_OK);
      EXPECT_EQ(found, z);
      found->Release();
    } else {
      EXPECT_EQ(back->AddAttachedSurface(z), DDERR_CANNOTATTACHSURFACE);
    }
    EXPECT_EQ(z->Release(), depth == 16 ? 1u : 0u);
  }
  IDirectDrawSurface* small = MakeSurface(4, 4, SurfaceFormat::Rgb565);
  IDirectDrawSurface* other = MakeSurface(8, 6, SurfaceFormat::Rgb565);
  EXPECT_EQ(small->AddAttachedSurface(other), DDERR_CANNOTATTACHSURFACE);
  DDSCAPS caps{DDSCAPS_ZBUFFER};
  IDirectDrawSurface* none = nullptr;
  EXPECT_EQ(small->GetAttachedSurface(&caps, &none), DDERR_NOTFOUND);
  other->Release();
  small->Release();
  DDSURFACEDESC bad{};
  bad.dwSize = kDDSurfaceDescSize;
  bad.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
  bad.dwWidth = bad.dwHeight = 2;
  bad.dwZBufferBitDepth = 12;
  bad.ddsCaps.dwCaps = DDSCAPS_ZBUFFER;
  IDirectDrawSurface* z = nullptr;
  EXPECT_EQ(dd_->CreateSurface(&bad, &z, nullptr), DDERR_INVALIDPIXELFORMAT);
  EXPECT_EQ(back->Release(), 0u);  // frees the attached z-buffer with it
}

TEST_F(SurfaceTest, ALostSurfaceRefusesWorkUntilRestored) {
  IDirectDrawSurface* s = MakeSurface(2, 2, SurfaceFormat::Rgb565, DDSCAPS_TEXTURE);
  IDirectDrawSurface* other = MakeSurface(2, 2, SurfaceFormat::Rgb565);
  ASSERT_EQ(Fill(s, nullptr, 0xFFFF), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  ASSERT_TRUE(ForceSurfaceLost(s));
  EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  EXPECT_EQ(Fill(s, nullptr, 1), DDERR_SURFACELOST);
  EXPECT_EQ(other->BltFast(0, 0, s, nullptr, DDBLTFAST_WAIT), DDERR_SURFACELOST);
  HDC dc = nullptr;
  EXPECT_EQ(s->GetDC(&dc), DDERR_SURFACELOST);
  EXPECT_EQ(s->Restore(), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  EXPECT_EQ(ReadPixel(s, 1, 1), 0u);  // the memory is back, its contents are not
  // Losing every surface of the object spares system-memory surfaces outside a primary chain.
  ASSERT_TRUE(ForceSurfacesLost(dd_));
  EXPECT_EQ(s->IsLost(), DD_OK);
  other->Release();
  s->Release();
}

TEST_F(SurfaceTest, PalettesAndClippersAreCountedByTheSurfacesHoldingThem) {
  IDirectDrawSurface* s = MakeSurface(2, 2, SurfaceFormat::Indexed8);
  PALETTEENTRY entries[256] = {};
  entries[1] = PALETTEENTRY{10, 20, 30, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
  IDirectDrawPalette* got = nullptr;
  EXPECT_EQ(s->GetPalette(&got), DDERR_NOPALETTEATTACHED);
  ASSERT_EQ(s->SetPalette(palette), DD_OK);
  ASSERT_EQ(s->GetPalette(&got), DD_OK);
  EXPECT_EQ(got, palette);
  EXPECT_EQ(got->Release(), 2u);
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(dd_->CreateClipper(0, &clipper, nullptr), DD_OK);
  IDirectDrawClipper* gotClipper = nullptr;
  EXPECT_EQ(s->GetClipper(&gotClipper), DDERR_NOCLIPPERATTACHED);
  ASSERT_EQ(s->SetClipper(clipper), DD_OK);
  EXPECT_EQ(clipper->Release(), 1u);
  EXPECT_EQ(palette->Release(), 1u);
  EXPECT_EQ(s->Release(), 0u);  // and with it the palette and the clipper
}

TEST_F(SurfaceTest, QueryInterfaceAnswersTheSurfaceAndRefusesOthers) {
  IDirectDrawSurface* s = MakeSurface(2, 2, SurfaceFormat::Rgb565);
  void* out = nullptr;
  ASSERT_EQ(s->QueryInterface(IID_IDirectDrawSurface, &out), DD_OK);
  EXPECT_EQ(out, s);
  EXPECT_EQ(s->Release(), 1u);
  EXPECT_EQ(s->QueryInterface(IID_IDirectDrawPalette, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  // Only texture surfaces are textures; the texture holds its surface.
  EXPECT_EQ(s->QueryInterface(IID_IDirect3DTexture2, &out), E_NOINTERFACE);
  EXPECT_EQ(s->Release(), 0u);
  IDirectDrawSurface* t = MakeSurface(4, 4, SurfaceFormat::Indexed8, DDSCAPS_TEXTURE);
  IDirect3DTexture2* texture = nullptr;
  ASSERT_EQ(t->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)), DD_OK);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(t->Release(), 1u);
  EXPECT_EQ(texture->Release(), 0u);
}

}  // namespace
