// splitmix64: one 64-bit state, every seed (0 included) gives a full-period stream.
#include "model/random.h"

#include <chrono>

namespace {

constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;
constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;

}  // namespace

TKlvRandom::TKlvRandom() { SeedFromClock(); }

TKlvRandom::TKlvRandom(uint64_t seed) { Seed(seed); }

void TKlvRandom::Seed(uint64_t seed) { state_ = seed; }

void TKlvRandom::SeedFromClock() {
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch();
  Seed(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

uint64_t TKlvRandom::NextBits() {
  uint64_t z = (state_ += kGoldenGamma);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double TKlvRandom::Uniform() {
  // The top 53 bits, so every value is exact and 1.0 is never reached.
  return static_cast<double>(NextBits() >> 11) * kTwoToMinus53;
}

int32_t TKlvRandom::Random(int32_t n) {
  if (n <= 0) {
    return 0;
  }
  // Multiply-shift of 32 random bits: always below n, without a division.
  const uint64_t bits = NextBits() >> 32;
  return static_cast<int32_t>((bits * static_cast<uint64_t>(n)) >> 32);
}
