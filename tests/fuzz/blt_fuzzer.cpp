// libFuzzer harness: each input is one Blt or BltFast through the checks of support/blt_exercise.h.
// Built and run by scripts/fuzz.sh; a failed check aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "platform/dx5/ddraw.h"
#include "support/blt_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static IDirectDraw2* directDraw = [] {
    IDirectDraw* first = nullptr;
    IDirectDraw2* second = nullptr;
    if (DirectDrawCreate(nullptr, &first, nullptr) != DD_OK ||
        first->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&second)) != DD_OK)
      std::abort();
    return second;
  }();
  const std::string failure = blt_exercise::Run(directDraw, data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "blt check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
