// The vector widening of 5-6-5 rows (see row565.h). Each channel widens with one unsigned
// multiply-high of the channel's bits moved to the top of a 16-bit lane:
//   5 bits: (c << 11) * 264 >> 16 = c * 33 >> 2 = (c << 3) | (c >> 2)
//   6 bits: (c << 5) * 8320 >> 16 = c * 65 >> 4 = (c << 2) | (c >> 4)
// (33 and 65 place a copy of the channel just above itself, so the products have no carries).
#include "platform/win/row565.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "platform/win/gdi_pixels.h"

namespace {

#if defined(__SSE2__)
constexpr short kRedBits = static_cast<short>(0xF800);
constexpr short kGreenBits = 0x07E0;
constexpr short kWiden5 = 264;   // for a 5-bit channel in bits 11..15
constexpr short kWiden6 = 8320;  // for a 6-bit channel in bits 5..10

// Sixteen pixels per step; returns how many pixels it wrote.
__attribute__((target("avx2"))) int Row565ToXrgbAvx2(const uint8_t* src, int count, uint32_t* out) {
  const __m256i redBits = _mm256_set1_epi16(kRedBits), greenBits = _mm256_set1_epi16(kGreenBits);
  const __m256i widen5 = _mm256_set1_epi16(kWiden5), widen6 = _mm256_set1_epi16(kWiden6);
  int i = 0;
  // Two steps per loop turn: the loop's own add, compare and branch are 3 of a step's 16 instructions.
#pragma GCC unroll 2
  for (; i + 16 <= count; i += 16) {
    // Quadwords in the order 0 2 1 3: the unpacking below works within 128-bit halves, and this
    // order makes its two results pixels 0-7 and 8-15.
    const __m256i p = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i)), 0xD8);
    const __m256i r8 = _mm256_mulhi_epu16(_mm256_and_si256(p, redBits), widen5);
    const __m256i g8 = _mm256_mulhi_epu16(_mm256_and_si256(p, greenBits), widen6);
    const __m256i b8 = _mm256_mulhi_epu16(_mm256_slli_epi16(p, 11), widen5);
    const __m256i gb = _mm256_or_si256(_mm256_slli_epi16(g8, 8), b8);
    auto* at = reinterpret_cast<__m256i*>(out + i);
    _mm256_storeu_si256(at, _mm256_unpacklo_epi16(gb, r8));
    _mm256_storeu_si256(at + 1, _mm256_unpackhi_epi16(gb, r8));
  }
  return i;
}

// Eight pixels per step from `start` on; returns how many pixels are written then.
int Row565ToXrgbSse2(const uint8_t* src, int start, int count, uint32_t* out) {
  const __m128i redBits = _mm_set1_epi16(kRedBits), greenBits = _mm_set1_epi16(kGreenBits);
  const __m128i widen5 = _mm_set1_epi16(kWiden5), widen6 = _mm_set1_epi16(kWiden6);
  int i = start;
  for (; i + 8 <= count; i += 8) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
    const __m128i r8 = _mm_mulhi_epu16(_mm_and_si128(p, redBits), widen5);
    const __m128i g8 = _mm_mulhi_epu16(_mm_and_si128(p, greenBits), widen6);
    const __m128i b8 = _mm_mulhi_epu16(_mm_slli_epi16(p, 11), widen5);
    const __m128i gb = _mm_or_si128(_mm_slli_epi16(g8, 8), b8);
    auto* at = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(at, _mm_unpacklo_epi16(gb, r8));
    _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(gb, r8));
  }
  return i;
}
#endif

}  // namespace

RowSimd BestRowSimd() {
#if defined(__SSE2__)
  return __builtin_cpu_supports("avx2") ? RowSimd::Avx2 : RowSimd::Sse2;
#else
  return RowSimd::None;
#endif
}

void Row565ToXrgb(const uint8_t* src, int count, uint32_t* out, RowSimd simd) {
  int i = 0;
#if defined(__SSE2__)
  if (simd == RowSimd::Avx2) i = Row565ToXrgbAvx2(src, count, out);
  if (simd != RowSimd::None) i = Row565ToXrgbSse2(src, i, count, out);
#else
  (void)simd;
#endif
  if (i < count) RowToXrgb(GdiFormat::Rgb565, src + 2 * i, count - i, nullptr, out + i);
}
