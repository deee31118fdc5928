// The raw bitmap reader: loads an uncompressed 8-bit or 24-bit ".bmp" file as it is stored (the
// information header, the colour table and the padded pixel rows in file order). Used by the
// terrain, which reads 8-bit pixel values as heights, and by the display component, which copies
// 8-bit indices straight into a surface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/bmp_format.h"

class TKlvDIB {
 public:
  // Replaces whatever the reader held with the file's contents. Accepts 8-bit and 24-bit BI_RGB
  // files with the 40-byte information header or the 108- and 124-byte headers that extend it; the
  // rows are expected right after the header and colour table. Throws KlvError naming the file and the problem
  // (FileOpen, ShortFile, BadFormat, OutOfRange) and leaves the reader empty on failure.
  void LoadFromFile(const std::string& fileName);
  // Releases the header, the colour table and the pixels.
  void Free();

  bool Empty() const { return Bits.empty(); }

  // The first 40 bytes of the file's information header with biSize = 40 and biSizeImage =
  // |height| × RowBytes; for 8-bit files also biClrUsed = the colour table's length (256 when the
  // file said 0), biClrImportant = 0 and biCompression = BI_RGB. All zeros while empty.
  BITMAPINFOHEADER Header{};
  // The colour table of an 8-bit file (biClrUsed entries, blue, green, red, reserved); empty for 24-bit.
  std::vector<RGBQUAD> Colors;
  // The pixel rows in file order (bottom row first unless the height is negative), RowBytes each:
  // one index per pixel for 8-bit files, blue, green, red per pixel for 24-bit files.
  std::vector<uint8_t> Bits;
  // ((|width| × bit count + 31) div 32) × 4.
  int32_t RowBytes = 0;
};
