// The program's one random generator: a small deterministic generator (splitmix64) seeded from
// the clock or with an explicit seed. The saver owns the one instance and hands it by reference
// to whatever draws random numbers (the flight paths, the scene step); tests and tools seed it.
#pragma once

#include <cstdint>

class TKlvRandom {
 public:
  // Seeded from the clock.
  TKlvRandom();
  explicit TKlvRandom(uint64_t seed);

  void Seed(uint64_t seed);
  void SeedFromClock();

  // Uniform in [0, 1).
  double Uniform();
  // Uniform in 0 .. n - 1; 0 when n is 0 or less.
  int32_t Random(int32_t n);

 private:
  uint64_t NextBits();

  uint64_t state_;
};
