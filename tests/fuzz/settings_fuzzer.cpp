// libFuzzer harness: each input is one settings file and one write through the checks of
// support/settings_exercise.h, in a private folder in memory. Built and run by scripts/fuzz.sh; a
// failed check aborts with its description.
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "support/settings_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    std::string pattern = "/dev/shm/klv_settings_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    setenv("KLV_CONFIG_DIR", pattern.c_str(), 1);
    return pattern;
  }();
  const std::string failure = settings_exercise::Run(folder, data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "settings check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
