// The platform's bitmap object: loads ".bmp" files of 1, 4, 8, 16, 24 and 32 bits per pixel
// (uncompressed, bottom-up or top-down, RLE8, RLE4, bit fields; OS/2 core headers and the version
// 4 and 5 headers) and offers its size, its 256-entry palette, row access and a drawing canvas that
// BitBlt copies from. Malformed files are refused.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/gdi.h"

class TBitmap {
 public:
  TBitmap() = default;

  // Replaces the contents with the file's; throws KlvError naming the file and the problem (an
  // RLE run past its row or the picture, a picture above 256 MiB, memory that cannot be had
  // included), and leaves the bitmap empty on failure.
  void LoadFromFile(const std::string& fileName);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0; }
  // True when the file stored 8-bit palette indices (uncompressed or RLE8); such a bitmap is held
  // as indices. Every other depth, 1 and 4 bits included, is held as blue, green, red.
  bool Is8Bit() const { return indexed_; }
  // The file's colours, zero entries past them.
  const std::array<PALETTEENTRY, 256>& Palette() const { return palette_; }

  // Row y from the top: palette indices (8-bit bitmaps) or blue, green, red triples (others);
  // null when y is outside 0..Height() - 1.
  const uint8_t* Row(int y) const;
  // A context over the pixels (Indexed8 or Bgr24) for BitBlt. Valid while the bitmap lives unchanged.
  HDC Canvas();

 private:
  int width_ = 0;
  int height_ = 0;
  bool indexed_ = false;
  std::array<PALETTEENTRY, 256> palette_{};
  std::vector<uint8_t> pixels_;  // top row first, rows of width * (1 or 3) bytes
  HDC__ canvas_{};
};
