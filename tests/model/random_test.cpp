#include "model/random.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(TKlvRandom, SameSeedSameSequenceAndReseedingRestarts) {
  TKlvRandom a(1234), b(1234), other(1235);
  bool differs = false;
  std::vector<double> first;
  for (int i = 0; i < 100; ++i) {
    const double value = a.Uniform();
    first.push_back(value);
    EXPECT_EQ(value, b.Uniform());
    differs = differs || value != other.Uniform();
  }
  EXPECT_TRUE(differs);
  a.Seed(1234);
  for (double value : first) EXPECT_EQ(a.Uniform(), value);
}

TEST(TKlvRandom, UniformStaysInTheHalfOpenUnitIntervalAndFillsIt) {
  TKlvRandom random(0);
  int buckets[10] = {};
  for (int i = 0; i < 100000; ++i) {
    const double value = random.Uniform();
    ASSERT_GE(value, 0.0);
    ASSERT_LT(value, 1.0);
    ++buckets[static_cast<int>(value * 10)];
  }
  for (int count : buckets) EXPECT_NEAR(count, 10000, 600);
}

TEST(TKlvRandom, RandomCoversZeroToNMinusOne) {
  TKlvRandom random(99);
  int seen[5] = {};
  for (int i = 0; i < 50000; ++i) {
    const int32_t value = random.Random(5);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 5);
    ++seen[value];
  }
  for (int count : seen) EXPECT_NEAR(count, 10000, 600);
  EXPECT_EQ(random.Random(1), 0);
  EXPECT_EQ(random.Random(0), 0);
  EXPECT_EQ(random.Random(-3), 0);
  for (int i = 0; i < 1000; ++i) EXPECT_LT(random.Random(2147483647), 2147483647);
}

}  // namespace
