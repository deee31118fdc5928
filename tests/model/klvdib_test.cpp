// The raw bitmap reader: stored layout (file row order, padding, colour table) and refusals.
#include "model/klvdib.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/bmp_fixtures.h"

namespace {

using bmpfix::TempFile;

class KlvDIBTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }
  std::string Write(const std::vector<uint8_t>& bytes) {
    bmpfix::Rewrite(path_, bytes);
    return path_;
  }
  std::string path_ = TempFile("klvdib.bmp");
  TKlvDIB dib_;
};

TEST_F(KlvDIBTest, EightBitRowsAreKeptInFileOrderWithTheirPadding) {
  const int width = 510, height = 4;
  const auto pixels = bmpfix::Pattern8(width, height);
  dib_.LoadFromFile(Write(EncodeBmp8(width, height, pixels, bmpfix::Palette(256))));

  EXPECT_EQ(dib_.RowBytes, 512);
  EXPECT_EQ(dib_.Header.biWidth, width);
  EXPECT_EQ(dib_.Header.biHeight, height);
  EXPECT_EQ(dib_.Header.biBitCount, 8);
  EXPECT_EQ(dib_.Header.biSizeImage, 4u * 512);
  ASSERT_EQ(dib_.Bits.size(), 4u * 512);
  for (int stored = 0; stored < height; ++stored) {
    const int pictureRow = height - 1 - stored;  // bottom-up: the bottom row is stored first
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(dib_.Bits[stored * 512 + x], pixels[pictureRow * width + x]) << stored << "," << x;
  }
  ASSERT_EQ(dib_.Colors.size(), 256u);
  EXPECT_EQ(dib_.Colors[7].rgbRed, 7);
  EXPECT_EQ(dib_.Colors[7].rgbGreen, 248);
  EXPECT_EQ(dib_.Colors[7].rgbBlue, 21);
}

TEST_F(KlvDIBTest, ColourTableLengthFollowsColoursUsed) {
  auto bytes = EncodeBmp8(4, 2, bmpfix::Pattern8(4, 2, 16), bmpfix::Palette(16));
  dib_.LoadFromFile(Write(bytes));
  EXPECT_EQ(dib_.Colors.size(), 16u);
  EXPECT_EQ(dib_.Header.biClrUsed, 16u);
  EXPECT_EQ(dib_.Bits[0], bmpfix::Pattern8(4, 2, 16)[4]);  // rows right after the 16 entries

  // Colours used 0 means a full table of 256, and the kept header then says so.
  auto full = EncodeBmp8(4, 2, bmpfix::Pattern8(4, 2), bmpfix::Palette(256));
  bmpfix::Patch32(full, bmpfix::kClrUsedAt, 0);
  bmpfix::Patch32(full, 50, 99);  // colours important: cleared on load
  dib_.LoadFromFile(Write(full));
  EXPECT_EQ(dib_.Colors.size(), 256u);
  EXPECT_EQ(dib_.Header.biClrUsed, 256u);
  EXPECT_EQ(dib_.Header.biClrImportant, 0u);
  EXPECT_EQ(dib_.Colors[255].rgbRed, 255);
}

TEST_F(KlvDIBTest, TwentyFourBitRowsKeepBlueGreenRedOrder) {
  const int width = 10, height = 3;
  const auto bgr = bmpfix::Pattern24(width, height);
  dib_.LoadFromFile(Write(EncodeBmp24(width, height, bgr)));
  EXPECT_EQ(dib_.RowBytes, 32);
  EXPECT_TRUE(dib_.Colors.empty());
  ASSERT_EQ(dib_.Bits.size(), 96u);
  // Stored row 0 is the bottom picture row; bytes keep the file's blue, green, red order.
  for (int i = 0; i < width * 3; ++i) EXPECT_EQ(dib_.Bits[i], bgr[2 * width * 3 + i]);
  EXPECT_EQ(dib_.Bits[30], 0);  // padding
  EXPECT_EQ(dib_.Bits[31], 0);
}

TEST_F(KlvDIBTest, TopDownFilesKeepTheirStoredOrder) {
  auto bytes = EncodeBmp8(4, 2, bmpfix::Pattern8(4, 2), bmpfix::Palette(256));
  bmpfix::Patch32(bytes, bmpfix::kHeightAt, static_cast<uint32_t>(-2));
  dib_.LoadFromFile(Write(bytes));
  EXPECT_EQ(dib_.Header.biHeight, -2);
  EXPECT_EQ(dib_.Header.biSizeImage, 8u);
  EXPECT_EQ(dib_.Bits[0], bmpfix::Pattern8(4, 2)[4]);  // the file's first row, untouched
}

TEST_F(KlvDIBTest, SecondLoadReplacesTheFirst) {
  dib_.LoadFromFile(Write(EncodeBmp8(6, 6, bmpfix::Pattern8(6, 6), bmpfix::Palette(256))));
  dib_.LoadFromFile(Write(EncodeBmp24(2, 1, bmpfix::Pattern24(2, 1))));
  EXPECT_EQ(dib_.Header.biBitCount, 24);
  EXPECT_EQ(dib_.Header.biWidth, 2);
  EXPECT_EQ(dib_.RowBytes, 8);
  EXPECT_EQ(dib_.Bits.size(), 8u);
  EXPECT_TRUE(dib_.Colors.empty());
}

// Editors save 8-bit files with the version 4 (108-byte) and 5 (124-byte) headers: the colour table
// and rows follow the longer header, and the held header describes the 40 bytes that are kept.
TEST_F(KlvDIBTest, VersionFourAndFiveHeadersAreRead) {
  for (const uint32_t size : {108u, 124u}) {
    SCOPED_TRACE(size);
    bmpfix::Crafted c;
    c.infoSize = size;
    c.width = 3;
    c.height = 2;
    c.clrUsed = 2;
    c.extra = {1, 2, 3, 0, 4, 5, 6, 0};
    c.rows = {1, 0, 1, 0, 0, 1, 1, 0};
    dib_.LoadFromFile(Write(bmpfix::Craft(c)));
    EXPECT_EQ(dib_.Header.biSize, 40u);
    EXPECT_EQ(dib_.Header.biWidth, 3);
    ASSERT_EQ(dib_.Colors.size(), 2u);
    EXPECT_EQ(dib_.Colors[1].rgbRed, 6);
    EXPECT_EQ(dib_.Bits, c.rows);
  }
  // The same from ImageMagick, whose 8-bit files carry the version 5 header.
  dib_.LoadFromFile(std::string(KLV_TEST_FIXTURE_DIR) + "/bmp/pal8-v5.bmp");
  EXPECT_EQ(dib_.Header.biBitCount, 8);
  EXPECT_EQ(dib_.RowBytes, 12);
  EXPECT_EQ(dib_.Bits.size(), 7u * 12);
}

TEST_F(KlvDIBTest, FoldersNamedLikeTheFileAreOpenErrors) {
  std::filesystem::create_directory(path_);
  try {
    dib_.LoadFromFile(path_);
    FAIL() << "a folder was read";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    EXPECT_EQ(e.file(), path_);
  }
}

TEST_F(KlvDIBTest, MissingFileIsAnOpenError) {
  try {
    dib_.LoadFromFile(TempFile("no-such-file.bmp"));
    FAIL() << "no error";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    EXPECT_EQ(e.file(), TempFile("no-such-file.bmp"));
  }
}

TEST_F(KlvDIBTest, MalformedFilesAreRefusedAndLeaveTheReaderEmpty) {
  auto cases = bmpfix::CommonBadCases();
  using K = KlvErrorKind;
  // Depths the platform's bitmap object reads but this reader does not.
  cases.push_back({"1 bit", [] { return bmpfix::With16(bmpfix::Small8(), bmpfix::kBitCountAt, 1); }, K::BadFormat});
  cases.push_back({"32 bits", [] { return bmpfix::With16(bmpfix::Small24(), bmpfix::kBitCountAt, 32); }, K::BadFormat});
  cases.push_back({"16 bits", [] { return bmpfix::With16(bmpfix::Small24(), bmpfix::kBitCountAt, 16); }, K::BadFormat});
  cases.push_back(
      {"core header", [] { return bmpfix::With32(bmpfix::Small8(), bmpfix::kInfoSizeAt, 12); }, K::BadFormat});
  cases.push_back({"RLE8", [] { return bmpfix::With32(bmpfix::Small8(), bmpfix::kCompressionAt, 1); }, K::BadFormat});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dib_.LoadFromFile(Write(bmpfix::Small24()));
    try {
      dib_.LoadFromFile(Write(c.make()));
      ADD_FAILURE() << "accepted";
    } catch (const KlvError& e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
      EXPECT_EQ(e.file(), path_);
    }
    EXPECT_TRUE(dib_.Empty());
    EXPECT_TRUE(dib_.Colors.empty());
    EXPECT_EQ(dib_.RowBytes, 0);
    EXPECT_EQ(dib_.Header.biWidth, 0);
  }
}

}  // namespace
