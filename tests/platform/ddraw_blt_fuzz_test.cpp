// Blt and BltFast with rectangles and positions anywhere in the 32-bit range: seeded random cases
// (the same every run) through the checks of support/blt_exercise.h. The sanitizer build catches
// any read or write outside a surface; the checks catch pixels changed outside the clipped
// destination, copies from the wrong source pixel and rectangles accepted that should be refused.
// tests/fuzz/blt_fuzzer.cpp runs the same checks under libFuzzer for longer runs by hand.
#include <gtest/gtest.h>

#include <random>

#include "platform/ddraw_test_util.h"
#include "support/blt_exercise.h"

namespace {

constexpr int kCases = 20000;
constexpr size_t kBytesPerCase = 48;

using BltFuzzTest = DDrawTest;

TEST_F(BltFuzzTest, RandomRectanglesNeverTouchPixelsOutsideTheClippedDestination) {
  std::mt19937 random(20261209);
  std::vector<uint8_t> bytes(kBytesPerCase);
  int failures = 0;
  for (int i = 0; i < kCases && failures < 5; ++i) {
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    const std::string failure = blt_exercise::Run(dd_, bytes.data(), bytes.size());
    if (!failure.empty()) {
      ++failures;
      ADD_FAILURE() << "case " << i << ": " << failure;
    }
  }
}

}  // namespace
