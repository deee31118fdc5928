// The 16-bit pixel operations: exact blend values on 5-6-5 and 5-5-5, clipping, darkening and the
// 8-bit mode in which they change nothing.
#include "display_fixture.h"

namespace {

struct Layout {
  DWORD r, g, b;
  uint16_t white;
};
constexpr Layout k565{0xF800, 0x07E0, 0x001F, 0xFFFF};
constexpr Layout k555{0x7C00, 0x03E0, 0x001F, 0x7FFF};

class PixelOpsTest : public DisplayTest {
 protected:
  // A component drawing into a fresh w x h surface of `layout`, filled with `value`.
  IDirectDrawSurface* Attach(TKalvorG& g, const Layout& layout, int w, int h, uint16_t value) {
    g.BackSurface = maker.Make(w, h, layout.r, layout.g, layout.b);
    Fill16(g.BackSurface, value);
    return g.BackSurface;
  }
  IDirectDrawSurface* Source(const Layout& layout, int w, int h, uint16_t value) {
    IDirectDrawSurface* s = maker.Make(w, h, layout.r, layout.g, layout.b);
    Fill16(s, value);
    sources.push_back(s);
    return s;
  }
  void TearDown() override {
    for (IDirectDrawSurface* s : sources) s->Release();
    DisplayTest::TearDown();
  }
  SurfaceMaker maker;
  std::vector<IDirectDrawSurface*> sources;
};

TEST_F(PixelOpsTest, SaturatingAddSaturatesEachChannelOn565) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k565, 4, 2, 0x7800);
  g.ADDBlt2(0, 0, Source(k565, 4, 2, 0x9000), 0, 0, 4, 2);
  EXPECT_EQ(Pixel16(d, 0, 0), 0xF800);
  EXPECT_EQ(Pixel16(d, 3, 1), 0xF800);
  Fill16(d, 0xFFFF);
  g.ADDBlt2(0, 0, Source(k565, 4, 2, 0xFFFF), 0, 0, 4, 2);
  EXPECT_EQ(Pixel16(d, 1, 0), 0xFFFF);
}

TEST_F(PixelOpsTest, SaturatingAddOn555ClearsTheUnusedBit) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k555, 3, 1, 0x4000);
  g.ADDBlt2(0, 0, Source(k555, 3, 1, 0xC001), 0, 0, 3, 1);
  EXPECT_EQ(Pixel16(d, 0, 0), 0x7C01);
  EXPECT_EQ(Pixel16(d, 2, 0), 0x7C01);  // the odd last pixel too
}

TEST_F(PixelOpsTest, ScreenBlendValues) {
  for (const auto& [layout, mid, expected] :
       {std::tuple{k565, uint16_t{0x8410}, uint16_t{0xBDF8}}, std::tuple{k555, uint16_t{0x4210}, uint16_t{0x5EF8}}}) {
    TKalvorG g(&form);
    IDirectDrawSurface* d = Attach(g, layout, 5, 1, mid);
    g.ADDBlt(0, 0, Source(layout, 5, 1, mid), 0, 0, 5, 1);
    EXPECT_EQ(Pixel16(d, 4, 0), expected);
    g.ADDBlt(0, 0, Source(layout, 5, 1, 0), 0, 0, 5, 1);
    EXPECT_EQ(Pixel16(d, 0, 0), expected) << "a black source leaves the destination";
    g.ADDBlt(0, 0, Source(layout, 5, 1, layout.white), 0, 0, 5, 1);
    EXPECT_EQ(Pixel16(d, 2, 0), layout.white);
  }
}

TEST_F(PixelOpsTest, BlitsAreClippedToBothSurfaces) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k565, 20, 4, 0);
  IDirectDrawSurface* s = maker.Make(20, 4, k565.r, k565.g, k565.b);
  sources.push_back(s);
  DDSURFACEDESC sd{};
  sd.dwSize = kDDSurfaceDescSize;
  s->Lock(nullptr, &sd, DDLOCK_WAIT, nullptr);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 20; ++x)
      reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(sd.lpSurface) + y * sd.lPitch)[x] = static_cast<uint16_t>(x);
  s->Unlock(nullptr);

  g.ADDBlt2(-10, 0, s, 0, 0, 15, 4);  // starts 10 columns into the source, 10 narrower
  for (int x = 0; x < 5; ++x) EXPECT_EQ(Pixel16(d, x, 3), 10 + x);
  EXPECT_EQ(Pixel16(d, 5, 0), 0);

  Fill16(d, 0);
  g.ADDBlt2(15, 2, s, 0, 0, 40, 40);  // runs past the right and bottom edges
  EXPECT_EQ(Pixel16(d, 19, 3), 4);
  EXPECT_EQ(Pixel16(d, 14, 2), 0);

  Fill16(d, 0);
  g.ADDBlt2(0, 0, s, 0, 4, 5, 5);  // SrcY at the source height
  g.ADDBlt2(0, 0, s, 20, 0, 5, 5);
  g.ADDBlt2(20, 0, s, 0, 0, 5, 5);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(Pixel16(d, x, 0), 0);
}

TEST_F(PixelOpsTest, DarkSubtractsAFractionOfEachChannel) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k565, 3, 2, 0xFFFF);
  g.RLow = 0x0800;
  g.GLow = 0x0020;
  g.BLow = 0x0001;
  g.Dark(0.5f);
  EXPECT_EQ(Pixel16(d, 0, 0), 0x8410);
  EXPECT_EQ(Pixel16(d, 2, 1), 0x8410);  // last column of an odd width
  Fill16(d, 0x0801);
  g.Dark(0.5f);
  EXPECT_EQ(Pixel16(d, 1, 1), 0);  // floored at 0
  Fill16(d, 0xFFFF);
  g.Dark(0.0f);
  EXPECT_EQ(Pixel16(d, 1, 0), 0xF7DE);  // one lowest bit per channel
  g.Dark(2.0f);
  EXPECT_EQ(Pixel16(d, 1, 0), 0);
}

TEST_F(PixelOpsTest, DarkOn555UsesItsMasks) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k555, 2, 1, 0x7FFF);
  g.Dark(0.5f);
  EXPECT_EQ(Pixel16(d, 1, 0), 0x4210);
}

TEST_F(PixelOpsTest, EightBitModeChangesNothing) {
  TKalvorG g(&form);
  IDirectDrawSurface* d = Attach(g, k565, 2, 1, 0x7800);
  KalvorGUnit.Color8bit = true;
  g.ADDBlt2(0, 0, Source(k565, 2, 1, 0x9000), 0, 0, 2, 1);
  g.ADDBlt(0, 0, Source(k565, 2, 1, 0xFFFF), 0, 0, 2, 1);
  g.Dark(1.0f);
  EXPECT_EQ(Pixel16(d, 0, 0), 0x7800);
}

TEST_F(PixelOpsTest, NonSixteenBitSurfacesAreLeftAlone) {
  TKalvorG g(&form);
  g.BackSurface = maker.Make(2, 1, 0xFF0000, 0xFF00, 0xFF, 32);
  g.ADDBlt2(0, 0, Source(k565, 2, 1, 0xFFFF), 0, 0, 2, 1);
  g.Dark(1.0f);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  g.BackSurface->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
  EXPECT_EQ(static_cast<uint32_t*>(d.lpSurface)[0], 0u);
  g.BackSurface->Unlock(nullptr);
}

}  // namespace
