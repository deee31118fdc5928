// The GDI stand-in: the system palette, the screen context, and BitBlt with conversion from 8-bit
// and 24-bit bitmaps into 8-bit, 5-6-5 and 32-bit surfaces through their drawing contexts.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/ddraw_test_util.h"
#include "platform/win/gdi.h"

namespace {

HDC__ Context(GdiFormat format, int width, int height, std::vector<uint8_t>& pixels, const PALETTEENTRY* palette) {
  const int bytes = format == GdiFormat::Indexed8 ? 1
                    : format == GdiFormat::Bgr24  ? 3
                    : format == GdiFormat::Xrgb32 ? 4
                                                  : 2;
  pixels.assign(static_cast<size_t>(width * height * bytes), 0);
  return HDC__{format, width, height, width * bytes, pixels.data(), palette};
}

TEST(SystemPalette, HoldsTheTwentyStaticColoursAndBlackElsewhere) {
  const PALETTEENTRY* p = SystemPaletteEntries();
  auto rgb = [&](int i) { return std::array<int, 3>{p[i].peRed, p[i].peGreen, p[i].peBlue}; };
  EXPECT_EQ(rgb(0), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(rgb(1), (std::array<int, 3>{128, 0, 0}));
  EXPECT_EQ(rgb(7), (std::array<int, 3>{192, 192, 192}));
  EXPECT_EQ(rgb(8), (std::array<int, 3>{192, 220, 192}));
  EXPECT_EQ(rgb(9), (std::array<int, 3>{166, 202, 240}));
  EXPECT_EQ(rgb(246), (std::array<int, 3>{255, 251, 240}));
  EXPECT_EQ(rgb(247), (std::array<int, 3>{160, 160, 164}));
  EXPECT_EQ(rgb(249), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(rgb(252), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(rgb(255), (std::array<int, 3>{255, 255, 255}));
  for (int i = 10; i < 246; ++i) EXPECT_EQ(rgb(i), (std::array<int, 3>{0, 0, 0})) << i;
}

TEST(ScreenContext, ReadsTheSystemPaletteAndHasNoPixels) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 0, nullptr), 256u);
  std::array<PALETTEENTRY, 256> entries{};
  EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 256, entries.data()), 256u);
  EXPECT_EQ(entries[250].peGreen, 255);
  EXPECT_EQ(GetSystemPaletteEntries(screen, 250, 100, entries.data()), 6u);
  EXPECT_EQ(entries[0].peRed, 0);  // entry 250 is pure green
  EXPECT_EQ(entries[0].peGreen, 255);
  std::vector<uint8_t> pixels;
  HDC__ dst = Context(GdiFormat::Indexed8, 2, 2, pixels, nullptr);
  EXPECT_EQ(BitBlt(&dst, 0, 0, 2, 2, screen, 0, 0, SRCCOPY), TRUE);
  EXPECT_EQ(pixels, std::vector<uint8_t>(4, 0));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, &dst), 0);
}

TEST(BitBlt, ClipsToBothContextsAndServesOnlySourceCopy) {
  std::vector<uint8_t> srcPixels;
  std::vector<uint8_t> dstPixels;
  HDC__ src = Context(GdiFormat::Indexed8, 3, 3, srcPixels, nullptr);
  for (int i = 0; i < 9; ++i) srcPixels[static_cast<size_t>(i)] = static_cast<uint8_t>(i + 1);
  HDC__ dst = Context(GdiFormat::Indexed8, 4, 2, dstPixels, nullptr);
  EXPECT_EQ(BitBlt(&dst, 0, 0, 3, 3, &src, 0, 0, 0x00EE0086), FALSE);
  EXPECT_EQ(BitBlt(nullptr, 0, 0, 3, 3, &src, 0, 0, SRCCOPY), FALSE);
  // From (-1, -1) of the destination, 10 x 10: clipped to the 2 x 2 the source has left at (1, 1).
  ASSERT_EQ(BitBlt(&dst, -1, -1, 10, 10, &src, 0, 0, SRCCOPY), TRUE);
  EXPECT_EQ(dstPixels, (std::vector<uint8_t>{5, 6, 0, 0, 8, 9, 0, 0}));
  ASSERT_EQ(BitBlt(&dst, 3, 1, 5, 5, &src, -2, 0, SRCCOPY), TRUE);  // nothing of the source is left
  EXPECT_EQ(dstPixels[7], 0);
  // Positions and sizes at the ends of the integer range copy nothing and touch nothing.
  EXPECT_EQ(BitBlt(&dst, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, &src, 0, 0, SRCCOPY), TRUE);
  EXPECT_EQ(BitBlt(&dst, INT32_MAX, 0, INT32_MAX, 1, &src, INT32_MIN, 0, SRCCOPY), TRUE);
  EXPECT_EQ(dstPixels, (std::vector<uint8_t>{5, 6, 0, 0, 8, 9, 0, 0}));
}

// Two bitmaps the tests copy: 8-bit with its own palette, and 24-bit.
struct Bitmaps {
  std::array<PALETTEENTRY, 256> palette{};
  std::vector<uint8_t> indexedPixels;
  std::vector<uint8_t> bgrPixels;
  HDC__ indexed;
  HDC__ bgr;

  Bitmaps() {
    palette[1] = PALETTEENTRY{255, 128, 7, 0};
    palette[2] = PALETTEENTRY{16, 32, 48, 0};
    indexed = Context(GdiFormat::Indexed8, 3, 1, indexedPixels, palette.data());
    indexedPixels = {0, 1, 2};
    indexed.bits = indexedPixels.data();
    bgr = Context(GdiFormat::Bgr24, 3, 1, bgrPixels, nullptr);
    bgrPixels = {0, 0, 255, 250, 250, 250, 2, 126, 130};  // red, near white, olive-ish
    bgr.bits = bgrPixels.data();
  }
};

class SurfaceContextTest : public DDrawTest {
 protected:
  std::vector<uint32_t> CopyInto(SurfaceFormat format, HDC__& bitmap, IDirectDrawPalette* palette = nullptr) {
    IDirectDrawSurface* s = MakeSurface(3, 1, format);
    if (palette != nullptr) {
      EXPECT_EQ(s->SetPalette(palette), DD_OK);
    }
    HDC dc = nullptr;
    EXPECT_EQ(s->GetDC(&dc), DD_OK);
    EXPECT_EQ(BitBlt(dc, 0, 0, 3, 1, &bitmap, 0, 0, SRCCOPY), TRUE);
    EXPECT_EQ(s->ReleaseDC(dc), DD_OK);
    std::vector<uint32_t> values;
    for (int x = 0; x < 3; ++x) values.push_back(ReadPixel(s, x, 0));
    s->Release();
    return values;
  }

  Bitmaps bitmaps_;
};

TEST_F(SurfaceContextTest, EightBitBitmapsCopyIndicesOrGoThroughTheirPalette) {
  EXPECT_EQ(CopyInto(SurfaceFormat::Indexed8, bitmaps_.indexed), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(CopyInto(SurfaceFormat::Rgb565, bitmaps_.indexed), (std::vector<uint32_t>{0x0000, 0xFC00, 0x1106}));
  EXPECT_EQ(CopyInto(SurfaceFormat::Xrgb32, bitmaps_.indexed),
            (std::vector<uint32_t>{0x00000000, 0x00FF8007, 0x00102030}));
}

TEST_F(SurfaceContextTest, TwentyFourBitBitmapsConvertOrTakeTheNearestPaletteEntry) {
  // No palette on the surface: the nearest of the system palette.
  EXPECT_EQ(CopyInto(SurfaceFormat::Indexed8, bitmaps_.bgr), (std::vector<uint32_t>{249, 255, 3}));
  EXPECT_EQ(CopyInto(SurfaceFormat::Rgb565, bitmaps_.bgr), (std::vector<uint32_t>{0xF800, 0xFFDF, 0x83E0}));
  EXPECT_EQ(CopyInto(SurfaceFormat::Xrgb32, bitmaps_.bgr), (std::vector<uint32_t>{0x00FF0000, 0x00FAFAFA, 0x00827E02}));
  // With a palette on the surface, the nearest of its entries.
  std::array<PALETTEENTRY, 256> entries{};
  entries.fill(PALETTEENTRY{0, 0, 0, 0});
  entries[40] = PALETTEENTRY{200, 10, 10, 0};
  entries[41] = PALETTEENTRY{240, 240, 240, 0};
  entries[42] = PALETTEENTRY{120, 120, 10, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, entries.data(), &palette, nullptr), DD_OK);
  EXPECT_EQ(CopyInto(SurfaceFormat::Indexed8, bitmaps_.bgr, palette), (std::vector<uint32_t>{40, 41, 42}));
  EXPECT_EQ(palette->Release(), 0u);
}

TEST_F(SurfaceContextTest, TheContextHoldsTheSurfaceUntilReleased) {
  IDirectDrawSurface* s = MakeSurface(4, 4, SurfaceFormat::Rgb565);
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  EXPECT_EQ(dc->width, 4);
  EXPECT_EQ(dc->format, GdiFormat::Rgb565);
  HDC second = nullptr;
  EXPECT_EQ(s->GetDC(&second), DDERR_SURFACEBUSY);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  HDC__ stranger{};
  EXPECT_EQ(s->ReleaseDC(&stranger), DDERR_INVALIDPARAMS);
  EXPECT_EQ(s->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(s->ReleaseDC(dc), DDERR_NODC);
  s->Release();
}

}  // namespace
