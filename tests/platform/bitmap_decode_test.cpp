// The platform's bitmap object on the layouts beyond plain rows: files written by ImageMagick
// (RLE8, 5-5-5 and 5-6-5 bit fields, 32-bit bit fields, OS/2 core headers, version 5 headers)
// decoded to exactly the picture they were written from, hand-made RLE4, RLE8 and 16-bit codes,
// the refusal of every run-length code that would write outside the picture, and file access.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/win/bitmap.h"
#include "support/bmp_fixtures.h"

namespace {

using bmpfix::Crafted;

const std::string kFixtures = std::string(KLV_TEST_FIXTURE_DIR) + "/bmp/";

// A binary PPM's pixels as red, green, blue triples, top row first.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

Picture ReadPpm(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Picture p;
  in >> magic >> p.width >> p.height >> maxValue;
  in.get();
  p.rgb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(p.rgb.size(), static_cast<size_t>(p.width) * p.height * 3);
  return p;
}

class BitmapDecodeTest : public ::testing::Test {
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
      EXPECT_TRUE(bitmap_.Empty());
      return e.kind();
    }
    ADD_FAILURE() << "accepted";
    return KlvErrorKind::Unsupported;
  }
  // Pixel (x, y), y from the top, as 0xRRGGBB whatever the bitmap holds.
  uint32_t Rgb(int x, int y) const {
    const uint8_t* row = bitmap_.Row(y);
    if (bitmap_.Is8Bit()) {
      const PALETTEENTRY& e = bitmap_.Palette()[row[x]];
      return uint32_t{e.peRed} << 16 | uint32_t{e.peGreen} << 8 | e.peBlue;
    }
    return uint32_t{row[3 * x + 2]} << 16 | uint32_t{row[3 * x + 1]} << 8 | row[3 * x];
  }
  std::vector<int> Indices(int y) const {
    const uint8_t* row = bitmap_.Row(y);
    return std::vector<int>(row, row + bitmap_.Width());
  }
  std::vector<uint32_t> Rgbs(int y) const {
    std::vector<uint32_t> out;
    for (int x = 0; x < bitmap_.Width(); ++x) out.push_back(Rgb(x, y));
    return out;
  }
  std::string path_ = bmpfix::TempFile("decode.bmp");
  TBitmap bitmap_;
};

std::vector<uint8_t> Table(std::initializer_list<uint32_t> rgb) {
  std::vector<uint8_t> bytes;
  for (uint32_t c : rgb)
    bytes.insert(bytes.end(),
                 {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16), 0});
  return bytes;
}

TEST_F(BitmapDecodeTest, ImageMagickFilesDecodeToThePictureTheyWereWrittenFrom) {
  const Picture source = ReadPpm(kFixtures + "source.ppm");
  const Picture source565 = ReadPpm(kFixtures + "source565.ppm");
  struct Fixture {
    const char* file;
    const Picture& picture;
    bool indexed;
  };
  const Fixture fixtures[] = {
      {"rle8.bmp", source, true},          {"rle8-v5.bmp", source, true},      {"pal8-v5.bmp", source, true},
      {"os2-8.bmp", source, true},         {"os2-24.bmp", source, false},      {"rgb555-v5.bmp", source, false},
      {"rgb565-v5.bmp", source565, false}, {"argb8888-v5.bmp", source, false},
  };
  for (const Fixture& f : fixtures) {
    SCOPED_TRACE(f.file);
    bitmap_.LoadFromFile(kFixtures + f.file);
    ASSERT_EQ(bitmap_.Width(), f.picture.width);
    ASSERT_EQ(bitmap_.Height(), f.picture.height);
    EXPECT_EQ(bitmap_.Is8Bit(), f.indexed);
    int wrong = 0;
    for (int y = 0; y < f.picture.height; ++y) {
      for (int x = 0; x < f.picture.width; ++x) {
        const uint8_t* p = f.picture.rgb.data() + 3 * (static_cast<size_t>(y) * f.picture.width + x);
        const uint32_t expected = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (Rgb(x, y) != expected && wrong++ < 3)
          ADD_FAILURE() << "pixel " << x << ", " << y << ": " << std::hex << Rgb(x, y) << " instead of " << expected;
      }
    }
  }
}

// RLE8: an encoded run, an absolute run of odd length with its pad byte, end of line, a delta
// that skips the rest of a row and part of the next, end of bitmap. Skipped pixels are index 0.
TEST_F(BitmapDecodeTest, Rle8RunsAbsoluteRunsAndDeltas) {
  Crafted c;
  c.width = 5;
  c.height = 3;
  c.compression = 1;
  c.clrUsed = 4;
  c.extra = Table({0x000000, 0x112233, 0x445566, 0x778899});
  c.rows = {2, 1, 0, 3, 2, 3, 1, 0,  // bottom row: 1 1 | 2 3 1, padded
            0, 0,                    // end of line
            0, 2, 1, 1,              // delta: right 1, up 1
            1, 3,                    // top row, x = 1
            0, 1};
  Load(bmpfix::Craft(c));
  EXPECT_TRUE(bitmap_.Is8Bit());
  EXPECT_EQ(Indices(0), (std::vector<int>{0, 3, 0, 0, 0}));
  EXPECT_EQ(Indices(1), (std::vector<int>{0, 0, 0, 0, 0}));
  EXPECT_EQ(Indices(2), (std::vector<int>{1, 1, 2, 3, 1}));
}

// RLE4 alternates the two nibbles of a run's byte, and is held as colours like every 4-bit file.
TEST_F(BitmapDecodeTest, Rle4NibbleRunsBecomeColours) {
  Crafted c;
  c.bitCount = 4;
  c.width = 7;
  c.height = 2;
  c.compression = 2;
  c.clrUsed = 4;
  c.extra = Table({0x000000, 0x0000FF, 0x00FF00, 0xFF0000});
  c.rows = {0, 5,    0x12, 0x12, 0x10, 0,  // absolute 1 2 1 2 1: three bytes and a pad byte
            2, 0x30,                       // run 3 0
            0, 0,                          // end of line
            0, 3,    0x21, 0x30,           // absolute 2 1 3: two bytes, no pad
            0, 2,    1,    0,              // delta right 1
            3, 0x22,                       // run 2 2 2
            0, 1};
  Load(bmpfix::Craft(c));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(Rgbs(1), (std::vector<uint32_t>{0xFF, 0xFF00, 0xFF, 0xFF00, 0xFF, 0xFF0000, 0}));
  EXPECT_EQ(Rgbs(0), (std::vector<uint32_t>{0xFF00, 0xFF, 0xFF0000, 0, 0xFF00, 0xFF00, 0xFF00}));
}

TEST_F(BitmapDecodeTest, RunLengthCodesThatLeaveThePictureAreRefused) {
  Crafted c;
  c.width = 5;
  c.height = 2;
  c.compression = 1;
  c.clrUsed = 2;
  c.extra = Table({0, 0xFFFFFF});
  using K = KlvErrorKind;
  const std::pair<std::vector<uint8_t>, K> cases[] = {
      {{6, 1, 0, 1}, K::OutOfRange},                          // run past the row
      {{3, 1, 0, 3, 1, 1, 1, 0, 0, 1}, K::OutOfRange},        // absolute run past the row
      {{1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 1}, K::OutOfRange},  // third row of a two-row picture
      {{0, 2, 0, 3, 0, 1}, K::OutOfRange},                    // delta past the top
      {{0, 2, 6, 0, 0, 1}, K::OutOfRange},                    // delta past the row's end
      {{0, 0, 0, 0, 0, 2, 0, 0, 1, 1}, K::OutOfRange},        // write after moving above the picture
      {{2, 1, 0, 0}, K::ShortFile},                           // no end of bitmap
      {{0, 4, 1, 1}, K::ShortFile},                           // absolute run cut short
      {{0, 2, 1}, K::ShortFile},                              // delta cut short
  };
  for (const auto& [code, kind] : cases) {
    SCOPED_TRACE(::testing::PrintToString(code));
    c.rows = code;
    EXPECT_EQ(LoadError(bmpfix::Craft(c)), kind);
  }
  c.rows = {0, 1};
  Crafted topDown = c;
  topDown.height = -2;
  EXPECT_EQ(LoadError(bmpfix::Craft(topDown)), K::BadFormat);
  // A few bytes of code may not ask for a gigabyte of picture.
  Crafted huge = c;
  huge.width = 32768;
  huge.height = 32768;
  EXPECT_EQ(LoadError(bmpfix::Craft(huge)), K::OutOfRange);
  // The smallest code is a whole picture of index 0.
  Load(bmpfix::Craft(c));
  EXPECT_EQ(Indices(1), (std::vector<int>{0, 0, 0, 0, 0}));
}

TEST_F(BitmapDecodeTest, SixteenBitFilesAre555UnlessTheirMasksSayOtherwise) {
  Crafted c;
  c.bitCount = 16;
  c.width = 3;
  c.height = 1;
  c.rows = {0x00, 0x7C, 0xFF, 0x03, 0x10, 0xC2, 0, 0};  // red; green + blue; top bit + 16 of each
  Load(bmpfix::Craft(c));
  EXPECT_FALSE(bitmap_.Is8Bit());
  EXPECT_EQ(Rgbs(0), (std::vector<uint32_t>{0xFF0000, 0x00FFFF, 0x848484}));

  c.compression = 3;
  c.extra = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};  // 5-6-5 after the 40-byte header
  c.rows = {0xE0, 0x07, 0x00, 0x04, 0x1F, 0xF8, 0, 0};         // green 63; green 32; red + blue
  Load(bmpfix::Craft(c));
  EXPECT_EQ(Rgbs(0), (std::vector<uint32_t>{0x00FF00, 0x008200, 0xFF00FF}));

  c.extra = {0, 0x80, 0x01, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};  // red mask beyond 16 bits
  EXPECT_EQ(LoadError(bmpfix::Craft(c)), KlvErrorKind::BadFormat);
}

// Anything at the file's name that is not a readable regular file is a FileOpen error naming it.
TEST_F(BitmapDecodeTest, FoldersAndPipesNamedLikeTheFileAreOpenErrors) {
  std::filesystem::create_directory(path_);
  try {
    bitmap_.LoadFromFile(path_);
    ADD_FAILURE() << "a folder was read";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    EXPECT_EQ(e.file(), path_);
  }
  std::filesystem::remove(path_);
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  try {
    bitmap_.LoadFromFile(path_);  // must not wait for a writer
    ADD_FAILURE() << "a pipe was read";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
  }
}

}  // namespace
