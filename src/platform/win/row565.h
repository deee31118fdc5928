// Widening rows of 5-6-5 pixels to 0x00RRGGBB words with the vector units the processor has: the
// conversion every software-drawn frame goes through on its way to the window. The result is the
// one RowToXrgb gives (each channel's top bits repeated into its low ones), bit for bit.
#pragma once

#include <cstdint>

// The vector instruction sets the widening can use, from the widest down.
enum class RowSimd { Avx2, Sse2, None };

// The widest set this processor runs (None where the build targets no x86 vector unit).
RowSimd BestRowSimd();

// Writes `count` 5-6-5 pixels read from `src` (little-endian, any alignment) as 0x00RRGGBB words
// to `out`, using at most `simd` (which the processor must run).
void Row565ToXrgb(const uint8_t* src, int count, uint32_t* out, RowSimd simd);
