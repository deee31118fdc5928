// Feeds randomly corrupted variants of valid 8-bit and 24-bit files to both bitmap readers: each
// variant must load into a consistent state or be refused with KlvError, and never crash or read
// out of bounds (this test also runs under the sanitizers).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "model/klvdib.h"
#include "platform/win/bitmap.h"
#include "support/bmp_fixtures.h"

namespace {

constexpr int kVariants = 10000;
constexpr uint32_t kSeed = 20240611;

// Values that sit on or just past the readers' limits.
constexpr uint32_t kEdgeValues[] = {0, 1, 2, 3, 4, 8, 12, 24, 32, 40, 108, 124, 255, 256, 257,
                                    32767, 32768, 32769, 0x7FFFFFFF, 0x80000000, 0xFFFF8000, 0xFFFFFFFF};
// Offsets of the 32-bit and 16-bit header fields: size, pixel offset, header size, width, height,
// planes and bit count, compression, image size, resolutions, colours used, colours important.
constexpr size_t kFieldOffsets[] = {2, 10, 14, 18, 22, 26, 28, 30, 34, 38, 42, 46, 50};

std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes, std::mt19937& random) {
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const int rounds = 1 + static_cast<int>(pick(3));
  for (int r = 0; r < rounds; ++r) {
    switch (pick(4)) {
      case 0:  // a random byte anywhere
        bytes[pick(bytes.size())] = static_cast<uint8_t>(random());
        break;
      case 1:  // a random byte in the headers
        bytes[pick(std::min<size_t>(bytes.size(), 64))] = static_cast<uint8_t>(random());
        break;
      case 2: {  // a header field set to an edge value
        const size_t at = kFieldOffsets[pick(std::size(kFieldOffsets))];
        const uint32_t value = kEdgeValues[pick(std::size(kEdgeValues))];
        if (at == 26 || at == 28) bmpfix::Patch16(bytes, at, value);
        else bmpfix::Patch32(bytes, at, value);
        break;
      }
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
  const std::vector<std::vector<uint8_t>> bases = {
      bmpfix::Small8(), bmpfix::Small24(), EncodeBmp8(6, 4, bmpfix::Pattern8(6, 4), bmpfix::Palette(256))};
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
