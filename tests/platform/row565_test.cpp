// The vector widening of 5-6-5 rows: through every instruction set the processor runs, every
// 16-bit value widens as the scalar row converter widens it, wherever it sits in a vector, from
// any byte alignment, and a row of any length writes exactly its own pixels.
#include "platform/win/row565.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win/gdi_pixels.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEFu;

// The instruction sets this processor runs, the widest first.
std::vector<RowSimd> RunnableSets() {
  switch (BestRowSimd()) {
    case RowSimd::Avx2: return {RowSimd::Avx2, RowSimd::Sse2, RowSimd::None};
    case RowSimd::Sse2: return {RowSimd::Sse2, RowSimd::None};
    case RowSimd::None: break;
  }
  return {RowSimd::None};
}

std::string NameOf(RowSimd simd) { return simd == RowSimd::Avx2 ? "AVX2" : simd == RowSimd::Sse2 ? "SSE2" : "scalar"; }

std::vector<uint32_t> Reference(const uint8_t* src, int count) {
  std::vector<uint32_t> out(static_cast<size_t>(count));
  RowToXrgb(GdiFormat::Rgb565, src, count, nullptr, out.data());
  return out;
}

TEST(Row565Test, KnownColoursWidenByRepeatingTheirTopBits) {
  const uint16_t values[] = {0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821};
  const uint32_t expected[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x848284, 0x080408};
  // Padded to more than a full vector so every set widens them in its main loop, too.
  std::vector<uint16_t> row;
  for (int copy = 0; copy < 5; ++copy) row.insert(row.end(), std::begin(values), std::end(values));
  for (RowSimd simd : RunnableSets()) {
    std::vector<uint32_t> out(row.size());
    Row565ToXrgb(reinterpret_cast<const uint8_t*>(row.data()), static_cast<int>(row.size()), out.data(), simd);
    for (size_t i = 0; i < out.size(); ++i)
      EXPECT_EQ(out[i], expected[i % std::size(values)]) << NameOf(simd) << " pixel " << i;
  }
}

TEST(Row565Test, EveryValueAtEveryLaneAndAlignmentWidensLikeTheRowConverter) {
  // All 65,536 values in order, then again shifted by 1..15 pixels (each value meets every lane of
  // a sixteen-pixel step) and read from an odd byte address.
  constexpr int kValues = 1 << 16;
  for (int shift : {0, 1, 3, 7, 9, 15}) {
    std::vector<uint8_t> bytes(2 * static_cast<size_t>(kValues + shift) + 1);
    for (int i = 0; i < kValues + shift; ++i) {
      const auto value = static_cast<uint16_t>(i - shift);
      std::memcpy(&bytes[1 + 2 * static_cast<size_t>(i)], &value, 2);
    }
    const uint8_t* src = bytes.data() + 1;
    const std::vector<uint32_t> expected = Reference(src, kValues + shift);
    for (RowSimd simd : RunnableSets()) {
      std::vector<uint32_t> out(static_cast<size_t>(kValues + shift));
      Row565ToXrgb(src, kValues + shift, out.data(), simd);
      int wrong = 0;
      for (size_t i = 0; i < out.size(); ++i) wrong += out[i] != expected[i];
      EXPECT_EQ(wrong, 0) << NameOf(simd) << ", shifted by " << shift;
    }
  }
}

TEST(Row565Test, ARowOfAnyLengthWritesExactlyItsPixels) {
  std::vector<uint16_t> src(80);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint16_t>(0x1234 + 0x0F0F * i);
  const auto* bytes = reinterpret_cast<const uint8_t*>(src.data());
  for (RowSimd simd : RunnableSets())
    for (int count = 0; count <= 64; ++count) {
      std::vector<uint32_t> out(static_cast<size_t>(count) + 8, kUntouched);
      Row565ToXrgb(bytes, count, out.data(), simd);
      const std::vector<uint32_t> expected = Reference(bytes, count);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << NameOf(simd) << ", " << count;
      for (size_t i = static_cast<size_t>(count); i < out.size(); ++i)
        EXPECT_EQ(out[i], kUntouched) << NameOf(simd) << ", " << count << " pixels, word " << i;
    }
}

}  // namespace
