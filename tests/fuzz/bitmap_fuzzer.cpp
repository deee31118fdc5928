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

int InputFile() {
  static const int fd = memfd_create("bitmap-fuzz", 0);
  if (fd < 0) std::abort();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
