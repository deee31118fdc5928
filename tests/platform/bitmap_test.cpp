// The platform's bitmap object: every depth it reads, both row orders, the pixel data offset,
// the palette, the canvas, and the refusals it shares with the raw reader.
#include "platform/win/bitmap.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/bmp_fixtures.h"

namespace {

using bmpfix::Crafted;

class BitmapTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }
  void Load(const std::vector<uint8_t>& bytes) {
    bmpfix::Rewrite(path_, bytes);
    bitmap_.LoadFromFile(path_);
  }
  KlvErrorKind LoadError(const std::vector<uint8_t>& bytes) {
    try {
      Load(bytes);
    } catch (const KlvError& e) {
      EXPECT_EQ(e.file(), path_);
      return e.kind();
    }
    ADD_FAILURE() << "accepted";
    return KlvErrorKind::Unsupported;
  }
  std::vector<uint8_t> RowOf(int y, int bytesPerPixel = 1) const {
    const uint8_t* row = bitmap_.Row(y);
    return std::vector<uint8_t>(row, row + bitmap_.Width() * bytesPerPixel);
  }
  std::string path_ = bmpfix::TempFile("bitmap.bmp");
  TBitmap bitmap_;
};

// Blue, green, red bytes of palette indices through a table of 0xRRGGBB colours.
std::vector<uint8_t> Colours(std::initializer_list<int> indices, const std::vector<uint32_t>& rgb) {
  std::vector<uint8_t> bytes;
  for (int i : indices)
    bytes.insert(bytes.end(),
                 {static_cast<uint8_t>(rgb[i]), static_cast<uint8_t>(rgb[i] >> 8), static_cast<uint8_t>(rgb[i] >> 16)});
  return bytes;
}

std::vector<uint8_t> Table(std::initializer_list<uint32_t> rgb) {
  std::vector<uint8_t> bytes;
  for (uint32_t c : rgb) {
    bytes.insert(bytes.end(),
                 {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16), 0});
  }
  return bytes;
}

TEST_F(BitmapTest, EightBitBottomUpFileIsHeldTopRowFirst) {
  const auto pixels = bmpfix::Pattern8(7, 5, 16);
  Load(EncodeBmp8(7, 5, pixels, bmpfix::Palette(16)));
  EXPECT_EQ(bitmap_.Width(), 7);
  EXPECT_EQ(bitmap_.Height(), 5);
  EXPECT_TRUE(bitmap_.Is8Bit());
  for (int y = 0; y < 5; ++y)
    EXPECT_EQ(RowOf(y), std::vector<uint8_t>(pixels.begin() + y * 7, pixels.begin() + y * 7 + 7)) << y;
  EXPECT_EQ(bitmap_.Palette()[15].peRed, 15);
  EXPECT_EQ(bitmap_.Palette()[15].peGreen, 240);
  EXPECT_EQ(bitmap_.Palette()[15].peBlue, 45);
  for (int i = 16; i < 256; ++i) EXPECT_EQ(bitmap_.Palette()[i].peGreen, 0) << i;
  EXPECT_EQ(bitmap_.Row(-1), nullptr);
  EXPECT_EQ(bitmap_.Row(5), nullptr);
}

TEST_F(BitmapTest, TwentyFourBitFileKeepsBlueGreenRedAndHasNoPalette) {
  const auto bgr = bmpfix::Pattern24(5, 3);
  Load(EncodeBmp24(5, 3, bgr));
  EXPECT_FALSE(bitmap_.Is8Bit());
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(RowOf(y, 3), std::vector<uint8_t>(bgr.begin() + y * 15, bgr.begin() + y * 15 + 15)) << y;
  for (const PALETTEENTRY& e : bitmap_.Palette()) EXPECT_EQ(e.peRed | e.peGreen | e.peBlue, 0);
}

// 1- and 4-bit files are held as colours, like every depth but 8 (so their textures are 24-bit).
TEST_F(BitmapTest, OneBitFileUnpacksMostSignificantBitFirstIntoColours) {
  Crafted c;
  c.bitCount = 1;
  c.width = 10;
  c.height = 2;
  c.extra = Table({0x000000, 0xFF8040});
  // Stored bottom row first, 4 bytes per row.
  c.rows = {0b10110000, 0b01000000, 0, 0, 0b00000001, 0b11000000, 0, 0};
  Load(bmpfix::Craft(c));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(RowOf(0, 3), Colours({0, 0, 0, 0, 0, 0, 0, 1, 1, 1}, {0x000000, 0xFF8040}));
  EXPECT_EQ(RowOf(1, 3), Colours({1, 0, 1, 1, 0, 0, 0, 0, 0, 1}, {0x000000, 0xFF8040}));
  EXPECT_EQ(bitmap_.Palette()[1].peRed, 0xFF);
  EXPECT_EQ(bitmap_.Palette()[1].peGreen, 0x80);
  EXPECT_EQ(bitmap_.Palette()[1].peBlue, 0x40);
  EXPECT_EQ(bitmap_.Palette()[2].peRed, 0);
  EXPECT_EQ(bitmap_.Canvas()->format, GdiFormat::Bgr24);
}

TEST_F(BitmapTest, FourBitTopDownFileUnpacksHighNibbleFirstIntoColours) {
  Crafted c;
  c.bitCount = 4;
  c.width = 3;
  c.height = -2;  // top row stored first
  c.clrUsed = 3;
  c.extra = Table({0x010203, 0x040506, 0x070809});
  c.rows = {0x12, 0x00, 0, 0, 0x21, 0x30, 0, 0};  // index 3 is past the table: black
  Load(bmpfix::Craft(c));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(bitmap_.Height(), 2);
  const std::vector<uint32_t> table = {0x010203, 0x040506, 0x070809, 0};
  EXPECT_EQ(RowOf(0, 3), Colours({1, 2, 0}, table));
  EXPECT_EQ(RowOf(1, 3), Colours({2, 1, 3}, table));
  EXPECT_EQ(bitmap_.Palette()[2].peBlue, 0x09);
  EXPECT_EQ(bitmap_.Palette()[3].peBlue, 0);
}

TEST_F(BitmapTest, ThirtyTwoBitFilesDropTheUnusedByte) {
  Crafted c;
  c.bitCount = 32;
  c.width = 2;
  c.height = 1;
  c.rows = {1, 2, 3, 99, 4, 5, 6, 99};
  Load(bmpfix::Craft(c));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(RowOf(0, 3), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

  // Bit fields with the standard masks, after the 40-byte header and inside a version 5 header.
  c.compression = 3;
  c.extra = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  Load(bmpfix::Craft(c));
  EXPECT_EQ(RowOf(0, 3), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  Crafted v5 = c;
  v5.infoSize = 124;
  v5.extra.clear();
  auto bytes = bmpfix::Craft(v5);
  std::copy(c.extra.begin(), c.extra.end(), bytes.begin() + 54);
  Load(bytes);
  EXPECT_EQ(RowOf(0, 3), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

  c.extra = {0xFF, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0x0F, 0, 0, 0};  // red mask of two runs of bits
  EXPECT_EQ(LoadError(bmpfix::Craft(c)), KlvErrorKind::BadFormat);
  EXPECT_TRUE(bitmap_.Empty());
  c.extra = {0, 0, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};  // no red bits
  EXPECT_EQ(LoadError(bmpfix::Craft(c)), KlvErrorKind::BadFormat);
}

TEST_F(BitmapTest, PixelDataOffsetIsHonoured) {
  Crafted c;
  c.bitCount = 8;
  c.width = 2;
  c.height = 1;
  c.clrUsed = 1;
  c.extra = {9, 9, 9, 0, 0xAA, 0xAA, 0xAA, 0xAA};  // one colour, then a 4-byte gap
  c.rows = {0, 7, 0, 0};
  Load(bmpfix::Craft(c));
  EXPECT_EQ(RowOf(0), (std::vector<uint8_t>{0, 7}));
  EXPECT_EQ(bitmap_.Palette()[0].peRed, 9);

  auto bytes = bmpfix::Craft(c);
  bmpfix::Patch32(bytes, bmpfix::kPixelOffsetAt, 56);  // inside the colour table
  EXPECT_EQ(LoadError(bytes), KlvErrorKind::BadFormat);
  bmpfix::Patch32(bytes, bmpfix::kPixelOffsetAt, 0xFFFFFFF0u);  // past the end
  EXPECT_EQ(LoadError(bytes), KlvErrorKind::ShortFile);
}

TEST_F(BitmapTest, CanvasDescribesThePixels) {
  Load(EncodeBmp8(3, 2, bmpfix::Pattern8(3, 2), bmpfix::Palette(256)));
  HDC dc = bitmap_.Canvas();
  EXPECT_EQ(dc->format, GdiFormat::Indexed8);
  EXPECT_EQ(dc->width, 3);
  EXPECT_EQ(dc->height, 2);
  EXPECT_EQ(dc->pitch, 3);
  EXPECT_EQ(dc->bits, bitmap_.Row(0));
  EXPECT_EQ(dc->bits + dc->pitch, bitmap_.Row(1));
  EXPECT_EQ(dc->palette, bitmap_.Palette().data());

  Load(EncodeBmp24(3, 2, bmpfix::Pattern24(3, 2)));
  dc = bitmap_.Canvas();
  EXPECT_EQ(dc->format, GdiFormat::Bgr24);
  EXPECT_EQ(dc->pitch, 9);
  EXPECT_EQ(dc->bits + dc->pitch, bitmap_.Row(1));
}

TEST_F(BitmapTest, SecondLoadReplacesTheFirst) {
  Load(EncodeBmp8(3, 2, bmpfix::Pattern8(3, 2), bmpfix::Palette(256)));
  Load(EncodeBmp24(4, 1, bmpfix::Pattern24(4, 1)));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(bitmap_.Width(), 4);
  EXPECT_EQ(bitmap_.Height(), 1);
  EXPECT_EQ(bitmap_.Palette()[1].peGreen, 0);
}

TEST_F(BitmapTest, MalformedFilesAreRefusedAndLeaveItEmpty) {
  auto cases = bmpfix::CommonBadCases();
  using K = KlvErrorKind;
  cases.push_back({"2 bits", [] { return bmpfix::With16(bmpfix::Small8(), bmpfix::kBitCountAt, 2); }, K::BadFormat});
  cases.push_back(
      {"RLE8 at 24 bits", [] { return bmpfix::With32(bmpfix::Small24(), bmpfix::kCompressionAt, 1); }, K::BadFormat});
  cases.push_back({"bit fields at 8 bits", [] { return bmpfix::With32(bmpfix::Small8(), bmpfix::kCompressionAt, 3); },
                   K::BadFormat});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Load(bmpfix::Small24());
    EXPECT_EQ(LoadError(c.make()), c.kind);
    EXPECT_TRUE(bitmap_.Empty());
    EXPECT_EQ(bitmap_.Height(), 0);
    EXPECT_EQ(bitmap_.Row(0), nullptr);
    EXPECT_EQ(bitmap_.Canvas()->bits, nullptr);
  }
  bitmap_ = TBitmap();
  try {
    bitmap_.LoadFromFile(bmpfix::TempFile("missing.bmp"));
    ADD_FAILURE() << "accepted";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), K::FileOpen);
  }
}

}  // namespace
