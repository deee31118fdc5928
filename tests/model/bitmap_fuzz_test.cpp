// Feeds randomly corrupted variants of valid files to both bitmap readers: 8-bit and 24-bit rows,
// RLE8 and RLE4 codes, bit fields and OS/2 core headers. Each variant must load into a consistent
// state or be refused with KlvError, and never crash or read or write out of bounds (this test
// also runs under the sanitizers). tests/fuzz/bitmap_fuzzer.cpp runs the same readers for millions
// of coverage-guided inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "model/klvdib.h"
#include "platform/win/bitmap.h"
#include "support/bmp_fixtures.h"

namespace {

constexpr int kVariants = 10000;
constexpr uint32_t kSeed = 20240611;

// Values that sit on or just past the readers' limits.
constexpr uint32_t kEdgeValues[] = {0,     1,     2,          3,          4,          8,         12,  24,
                                    32,    40,    108,        124,        255,        256,       257, 32767,
                                    32768, 32769, 0x7FFFFFFF, 0x80000000, 0xFFFF8000, 0xFFFFFFFF};
// Offsets of the 32-bit and 16-bit header fields: size, pixel offset, header size, width, height,
// planes and bit count, compression, image size, resolutions, colours used, colours important.
constexpr size_t kFieldOffsets[] = {2, 10, 14, 18, 22, 26, 28, 30, 34, 38, 42, 46, 50};

std::vector<uint8_t> Fixture(const std::string& name) {
  std::ifstream in(std::string(KLV_TEST_FIXTURE_DIR) + "/bmp/" + name, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

// A 7 x 2 RLE4 picture with encoded and absolute runs, a delta and both end codes.
std::vector<uint8_t> SmallRle4() {
  bmpfix::Crafted c;
  c.bitCount = 4;
  c.width = 7;
  c.height = 2;
  c.compression = 2;
  c.clrUsed = 4;
  c.extra = {0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};
  c.rows = {0, 5, 0x12, 0x12, 0x10, 0, 2, 0x30, 0, 0, 0, 3, 0x21, 0x30, 0, 2, 1, 0, 3, 0x22, 0, 1};
  return bmpfix::Craft(c);
}

std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes, std::mt19937& random) {
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const int rounds = 1 + static_cast<int>(pick(3));
  for (int r = 0; r < rounds; ++r) {
    switch (pick(5)) {
      case 0:  // a random byte anywhere
        bytes[pick(bytes.size())] = static_cast<uint8_t>(random());
        break;
      case 1:  // a random byte in the headers
        bytes[pick(std::min<size_t>(bytes.size(), 64))] = static_cast<uint8_t>(random());
        break;
      case 2: {  // a header field set to an edge value
        const size_t at = kFieldOffsets[pick(std::size(kFieldOffsets))];
        const uint32_t value = kEdgeValues[pick(std::size(kEdgeValues))];
        if (at == 26 || at == 28)
          bmpfix::Patch16(bytes, at, value);
        else
          bmpfix::Patch32(bytes, at, value);
        break;
      }
      case 3:  // a random byte near the end, where run-length codes end
        bytes[bytes.size() - 1 - pick(std::min<size_t>(bytes.size(), 24))] = static_cast<uint8_t>(random());
        break;
      default:  // cut short
        bytes.resize(pick(bytes.size() + 1));
        return bytes;
    }
  }
  return bytes;
}

void CheckLoadedDib(const TKlvDIB& dib) {
  const uint64_t height = std::abs(int64_t{dib.Header.biHeight});
  ASSERT_EQ(dib.Bits.size(), height * static_cast<uint64_t>(dib.RowBytes));
  ASSERT_EQ(dib.Colors.size(), dib.Header.biBitCount == 8 ? dib.Header.biClrUsed : 0u);
}

void CheckLoadedBitmap(TBitmap& bitmap) {
  ASSERT_GT(bitmap.Width(), 0);
  const uint8_t* last = bitmap.Row(bitmap.Height() - 1);
  ASSERT_NE(last, nullptr);
  volatile uint8_t sink = last[bitmap.Width() * (bitmap.Is8Bit() ? 1 : 3) - 1];  // in bounds
  (void)sink;
  ASSERT_EQ(bitmap.Canvas()->bits, bitmap.Row(0));
}

TEST(BitmapFuzzTest, CorruptedFilesLoadOrAreRefused) {
  const std::string path = bmpfix::TempFile("fuzz.bmp");
  const std::vector<std::vector<uint8_t>> bases = {bmpfix::Small8(),
                                                   bmpfix::Small24(),
                                                   EncodeBmp8(6, 4, bmpfix::Pattern8(6, 4), bmpfix::Palette(256)),
                                                   Fixture("rle8.bmp"),
                                                   SmallRle4(),
                                                   Fixture("rgb565-v5.bmp"),
                                                   Fixture("os2-8.bmp"),
                                                   Fixture("argb8888-v5.bmp"),
                                                   Fixture("pal8-v5.bmp")};
  std::mt19937 random(kSeed);
  int loaded = 0, refused = 0;
  TKlvDIB dib;
  TBitmap bitmap;
  for (int i = 0; i < kVariants; ++i) {
    bmpfix::Rewrite(path, Mutate(bases[i % bases.size()], random));
    try {
      dib.LoadFromFile(path);
      CheckLoadedDib(dib);
      ++loaded;
    } catch (const KlvError&) {
      ASSERT_TRUE(dib.Empty());
      ++refused;
    }
    try {
      bitmap.LoadFromFile(path);
      CheckLoadedBitmap(bitmap);
      ++loaded;
    } catch (const KlvError&) {
      ASSERT_TRUE(bitmap.Empty());
      ++refused;
    }
    if (HasFatalFailure()) FAIL() << "variant " << i;
  }
  std::filesystem::remove(path);
  // Both outcomes must be well represented, or the mutations are not exercising the readers.
  EXPECT_GT(loaded, kVariants / 5);
  EXPECT_GT(refused, kVariants / 5);
  std::printf("%d loads, %d refusals\n", loaded, refused);
}

}  // namespace
