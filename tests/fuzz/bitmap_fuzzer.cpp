// libFuzzer harness for both bitmap readers (the platform's bitmap object and the raw reader).
// Each input is written to an in-memory file and loaded through its /proc/self/fd name, so the
// readers run exactly as on a file on disk. Every input must load or be refused with KlvError;
// anything else (a crash, a sanitizer report, another exception) is a finding. Built and run by
// scripts/fuzz-bitmaps.sh.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/klvdib.h"
#include "platform/win/bitmap.h"

namespace {

// Pictures above 65536 pixels are skipped: filling megabytes per input would cut the rate to
// a few hundred inputs a second, and the decoders' checks do not depend on the size. The refusal
// of oversized pictures is covered by the unit tests.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 16;

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

uint64_t Magnitude(uint32_t v) { return static_cast<int32_t>(v) < 0 ? uint64_t{0} - static_cast<int32_t>(v) : v; }

bool TooLarge(const uint8_t* data, size_t size) {
  if (size < 26) return false;
  if (Le(data + 14, 4) == 12) return uint64_t{Le(data + 18, 2)} * Le(data + 20, 2) > kMaxFuzzPixels;
  return Magnitude(Le(data + 18, 4)) * Magnitude(Le(data + 22, 4)) > kMaxFuzzPixels;
}

int InputFile() {
  static const int fd = memfd_create("bitmap-fuzz", 0);
  if (fd < 0) std::abort();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (TooLarge(data, size)) return -1;  // not added to the corpus
  const int fd = InputFile();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  const std::string name = "/proc/self/fd/" + std::to_string(fd);
  TBitmap bitmap;
  try {
    bitmap.LoadFromFile(name);
    // Touch the last pixel of the last row: it must lie inside what was allocated.
    const uint8_t* row = bitmap.Row(bitmap.Height() - 1);
    volatile uint8_t last = row[bitmap.Width() * (bitmap.Is8Bit() ? 1 : 3) - 1];
    (void)last;
  } catch (const KlvError&) {
    if (!bitmap.Empty()) std::abort();
  }
  TKlvDIB dib;
  try {
    dib.LoadFromFile(name);
    if (dib.Bits.empty()) std::abort();
  } catch (const KlvError&) {
    if (!dib.Empty()) std::abort();
  }
  return 0;
}
