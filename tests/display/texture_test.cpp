// Textures: numbering and formats, the copy from a bitmap, the hardware form with its reload, the
// texture-source face, and the refusals (a 257th texture, no device yet).
#include "display_fixture.h"

#include "platform/dx5/ddraw_testing.h"
#include "platform/win/bitmap.h"
#include "platform/win/bmp_writer.h"
#include "support/bmp_fixtures.h"

namespace {

class TextureTest : public DisplayTest {
 protected:
  void Init() {
    owner.SetFullScreen(true);
    rm.DDEnum();
    InitAllDisplays();
    KalvorRMUnit.DeviceChoice = 2;
    ASSERT_TRUE(rm.RmInit());
  }
  // A 24-bit bitmap whose pixel (x, y) has red x * 16, green y * 16, blue 0x55.
  TBitmap Bitmap(int w, int h) {
    std::vector<uint8_t> bgr;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        bgr.insert(bgr.end(), {0x55, static_cast<uint8_t>(y * 16), static_cast<uint8_t>(x * 16)});
    const std::string file = (ConfigDir() / "tex.bmp").string();
    WriteBmp24(file, w, h, bgr);
    TBitmap bitmap;
    bitmap.LoadFromFile(file);
    return bitmap;
  }
  // The 32-bit texel (x, y) of a surface as 0xRRGGBB.
  static uint32_t Texel(IDirectDrawSurface* s, int x, int y) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 32u);
    const uint32_t v = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(d.lpSurface) + y * d.lPitch)[x];
    s->Unlock(nullptr);
    return v & 0xFFFFFF;
  }

  TKalvorG owner{&form};
  TKalvorRM rm{&form};
};

TEST_F(TextureTest, IndexesRunInCreationOrderAndDepthPicksTheFormat) {
  Init();
  TKalvorTexture *a = nullptr, *b = nullptr, *c = nullptr;
  rm.MakeTexture(a, 4, 4, 16);
  rm.MakeTexture(b, 8, 2, 24);
  rm.MakeTexture(c, 4, 4, 8);
  EXPECT_EQ(a->Data.Index, 0);
  EXPECT_EQ(b->Data.Index, 1);
  EXPECT_EQ(c->Data.Index, 2);
  ASSERT_EQ(KalvorRMUnit.TextureList->size(), 3u);
  EXPECT_EQ((*KalvorRMUnit.TextureList)[1].get(), b);
  EXPECT_EQ(a->Desc.ddpfPixelFormat.dwRGBBitCount, b->Desc.ddpfPixelFormat.dwRGBBitCount);
  EXPECT_EQ(a->Desc.ddpfPixelFormat.dwFlags, b->Desc.ddpfPixelFormat.dwFlags);
  EXPECT_NE(c->Desc.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8, 0u);
  EXPECT_EQ(a->Desc.dwFlags, 0x1007u);
  EXPECT_EQ(a->Desc.ddsCaps.dwCaps, 0x1800u);
  EXPECT_EQ(a->SrcSurface, a->DevSurface) << "software device";
  EXPECT_EQ(a->SrcTexture, a->DevTexture);
  EXPECT_NE(a->Data.Handle, 0u);
  EXPECT_EQ(a->Data.MaterialHandle, 0u);
}

TEST_F(TextureTest, SetTextureCopiesExactlyTheSurfaceSize) {
  Init();
  TBitmap big = Bitmap(8, 8);
  TKalvorTexture* tex = nullptr;
  rm.MakeTexture(tex, 4, 4, 24);
  rm.SetTexture(tex, big, "big");
  EXPECT_EQ(Texel(tex->SrcSurface, 3, 3), 0x303055u);
  EXPECT_EQ(Texel(tex->SrcSurface, 0, 2), 0x002055u);
  EXPECT_EQ(tex->Data.Name, "big");
  EXPECT_NE(tex->Data.MaterialHandle, 0u);
  EXPECT_EQ(tex->MatDesc.hTexture, tex->Data.Handle);
  EXPECT_EQ(tex->MatDesc.specular.a, 1.0f);

  TBitmap small = Bitmap(2, 2);
  TKalvorTexture* other = nullptr;
  rm.MakeTexture(other, 4, 4, 24);
  rm.SetTexture(other, small, "small");
  EXPECT_EQ(Texel(other->SrcSurface, 1, 1), 0x101055u);
  EXPECT_EQ(Texel(other->SrcSurface, 3, 3), 0u);
}

TEST_F(TextureTest, HardwareTexturesAreLoadedAndReloadedAfterALoss) {
  Init();
  KalvorRMUnit.HardwareDevice = true;
  TBitmap bitmap = Bitmap(4, 4);
  TKalvorTexture* tex = nullptr;
  rm.MakeTexture(tex, 4, 4, 24);
  ASSERT_NE(tex->DevSurface, tex->SrcSurface);
  EXPECT_EQ(tex->Desc.ddsCaps.dwCaps, 0x4005000u);
  rm.SetTexture(tex, bitmap, "hw");
  EXPECT_EQ(Texel(tex->DevSurface, 2, 1), 0x201055u);
  ASSERT_TRUE(ForceSurfaceLost(tex->DevSurface));
  rm.RmRestore();
  EXPECT_EQ(tex->DevSurface->IsLost(), DD_OK);
  EXPECT_EQ(Texel(tex->DevSurface, 2, 1), 0x201055u);
}

TEST_F(TextureTest, TextureSourceFindsByExactNameAndMakesFromBitmaps) {
  Init();
  TBitmap bitmap = Bitmap(2, 2);
  TextureSource& source = rm;
  TKlvTexdata* made = source.MakeTextureFromBitmap(bitmap, "Wood.bmp");
  EXPECT_EQ(source.FindTexture("Wood.bmp"), made);
  EXPECT_EQ(source.FindTexture("wood.bmp"), nullptr);
  EXPECT_EQ(made->Index, 0);
}

// Only 8-bit bitmaps make palette textures: a 4-bit or 1-bit bitmap makes an RGB texture with
// its palette's colours, so its colour key is black rather than palette index 0.
TEST_F(TextureTest, FourAndOneBitBitmapsMakeRgbTextures) {
  Init();
  for (const int bits : {4, 1}) {
    SCOPED_TRACE(bits);
    bmpfix::Crafted c;
    c.bitCount = bits;
    c.width = 2;
    c.height = 1;
    c.clrUsed = 2;
    c.extra = {0x30, 0x20, 0x10, 0, 0x00, 0x00, 0x00, 0};  // index 0 red 0x10, index 1 black
    c.rows = {static_cast<uint8_t>(bits == 4 ? 0x01 : 0x40), 0, 0, 0};
    const std::string file = (ConfigDir() / "low.bmp").string();
    WriteFileBytes(file, bmpfix::Craft(c));
    TBitmap bitmap;
    bitmap.LoadFromFile(file);
    TextureSource& source = rm;
    TKlvTexdata* made = source.MakeTextureFromBitmap(bitmap, "low" + std::to_string(bits));
    TKalvorTexture* tex = KalvorRMUnit.TextureList->back().get();
    ASSERT_EQ(&tex->Data, made);
    EXPECT_EQ(tex->Desc.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8, 0u);
    EXPECT_NE(tex->Desc.ddpfPixelFormat.dwFlags & DDPF_RGB, 0u);
    EXPECT_EQ(Texel(tex->SrcSurface, 0, 0), 0x102030u);
    EXPECT_EQ(Texel(tex->SrcSurface, 1, 0), 0u);
  }
}

TEST_F(TextureTest, TheTwoHundredFiftySeventhTextureIsRefused) {
  Init();
  TKalvorTexture* tex = nullptr;
  for (int i = 0; i < kMaxTextures; ++i) rm.MakeTexture(tex, 1, 1, 16);
  EXPECT_EQ(tex->Data.Index, 255);
  TKalvorTexture* refused = tex;
  try {
    rm.MakeTexture(refused, 1, 1, 16);
    FAIL() << "a 257th texture was made";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::Capacity);
  }
  EXPECT_EQ(refused, tex);
  EXPECT_EQ(KalvorRMUnit.TextureList->size(), 256u);
  EXPECT_EQ(KalvorRMUnit.TextureCounter, 256);
}

TEST_F(TextureTest, TexturesNeedAnInitialisedDevice) {
  TKalvorTexture* tex = nullptr;
  try {
    rm.MakeTexture(tex, 4, 4, 16);
    FAIL() << "a texture was made without a device";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::Unsupported);
  }
  EXPECT_EQ(tex, nullptr);
}

}  // namespace
