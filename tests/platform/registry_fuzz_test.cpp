// The settings store against seeded random files and writes (the same every run), through the checks
// of support/settings_exercise.h: files built from the pieces settings files are made of (headers,
// broken headers, values, comments, blank lines, Windows line ends, escapes, stray bytes) and names
// and values from the same pieces. tests/fuzz/settings_fuzzer.cpp runs the same checks under
// libFuzzer for longer runs by hand.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/settings_exercise.h"

namespace {

constexpr int kCases = 4000;

const char* const kNames[] = {"",   "S",     "KalvorG", "DataPath", " pad ", "a=b",      "[x]", ";c",
                              "#d", "\\x41", "\\\\",    "x\ny",     "\r",    "\xc3\xa9", "S ",  "Enum_Checkbox"};
const char* const kPieces[] = {"[S]",         "[KalvorG]", "[ S ]",   "[broken",   "]",  "[]",       "[\\x41]",
                               "DataPath=/d", "S=1",       " a = b ", "=",         "=x", "x=",       ";c=1",
                               "# note",      "junk",      "\\x",     "\\\\=\\\\", "\t", "\xff\xfe", "Enum_Checkbox=-4",
                               "a=b=c"};

std::string RandomText(std::mt19937& random) {
  std::string text;
  const int lines = static_cast<int>(random() % 12);
  for (int i = 0; i < lines; ++i) {
    text += kPieces[random() % std::size(kPieces)];
    if (random() % 4 == 0) text += kPieces[random() % std::size(kPieces)];
    if (random() % 5 == 0) text += '\r';
    if (random() % 20 != 0) text += '\n';
  }
  if (random() % 40 == 0) text.insert(random() % (text.size() + 1), 1, '\0');
  return text;
}

TEST(RegistryFuzzTest, RandomFilesAndWritesKeepEveryPromise) {
  // Each write syncs the file to disk; in memory (/dev/shm) that costs nothing.
  const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
  std::string folder = base + "/klv_registry_fuzz_XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const char* pattern = folder.c_str();
  setenv("KLV_CONFIG_DIR", pattern, 1);
  std::mt19937 random(20261209);
  int failures = 0;
  for (int i = 0; i < kCases && failures < 5; ++i) {
    std::string input;
    std::string names;
    for (size_t n = 0; n < settings_exercise::kNameBytes; ++n) {
      const std::string name = kNames[random() % std::size(kNames)];
      input += static_cast<char>(name.size());
      names += name;
    }
    input += names + RandomText(random);
    const std::string failure =
        settings_exercise::Run(pattern, reinterpret_cast<const uint8_t*>(input.data()), input.size());
    if (!failure.empty()) {
      ++failures;
      ADD_FAILURE() << "case " << i << ": " << failure << "\n" << testing::PrintToString(input);
    }
  }
  unsetenv("KLV_CONFIG_DIR");
  std::filesystem::remove_all(pattern);
}

}  // namespace
