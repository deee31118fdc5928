// Test helpers for bitmap readers: unique temporary file names, pixel patterns, hand-crafted files
// of any depth, byte patching, and the list of malformed-file cases both readers must refuse.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/win/bmp_writer.h"
#include "platform/win/wintypes.h"

namespace bmpfix {

// Byte offsets of the header fields in a file with the 40-byte information header.
constexpr size_t kPixelOffsetAt = 10;
constexpr size_t kInfoSizeAt = 14;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;
constexpr size_t kBitCountAt = 28;
constexpr size_t kCompressionAt = 30;
constexpr size_t kClrUsedAt = 46;
constexpr size_t kTableAt = 54;

// A file name in the temporary folder, unique to this process.
inline std::string TempFile(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("klv_bmp_" + std::to_string(getpid()) + "_" + name)).string();
}

// Replaces a file with `bytes`. Removing it first avoids the flush some file systems force when a
// file with data is truncated and rewritten, which makes thousands of rewrites slow.
inline void Rewrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::remove(path);
  WriteFileBytes(path, bytes);
}

inline std::vector<PALETTEENTRY> Palette(int count) {
  std::vector<PALETTEENTRY> palette(count);
  for (int i = 0; i < count; ++i)
    palette[i] = PALETTEENTRY{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 3), 0};
  return palette;
}

// Top-down packed 8-bit pixels, each row different and not symmetric.
inline std::vector<uint8_t> Pattern8(int width, int height, int modulo = 256) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((x * 7 + y * 13) % modulo);
  return pixels;
}

// Top-down packed blue, green, red pixels.
inline std::vector<uint8_t> Pattern24(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 5 + 1);
  return pixels;
}

inline void Patch16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Patch32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  Patch16(bytes, at, value & 0xFFFF);
  Patch16(bytes, at + 2, value >> 16);
}

inline uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// A file laid out by hand: headers (information header of `infoSize` bytes, zero past 40), the
// `extra` bytes (colour table, masks, a gap) and the stored rows, in that order; the pixel offset
// points at the rows.
struct Crafted {
  int bitCount = 8;
  int32_t width = 1;
  int32_t height = 1;  // negative: top-down
  uint32_t compression = 0;
  uint32_t clrUsed = 0;
  uint32_t infoSize = 40;
  std::vector<uint8_t> extra;
  std::vector<uint8_t> rows;  // in file order, already padded
};

inline std::vector<uint8_t> Craft(const Crafted& c) {
  const uint32_t pixelOffset = 14 + c.infoSize + static_cast<uint32_t>(c.extra.size());
  std::vector<uint8_t> bytes(pixelOffset, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  Patch32(bytes, 2, pixelOffset + static_cast<uint32_t>(c.rows.size()));
  Patch32(bytes, kPixelOffsetAt, pixelOffset);
  Patch32(bytes, kInfoSizeAt, c.infoSize);
  Patch32(bytes, kWidthAt, static_cast<uint32_t>(c.width));
  Patch32(bytes, kHeightAt, static_cast<uint32_t>(c.height));
  Patch16(bytes, 26, 1);
  Patch16(bytes, kBitCountAt, static_cast<uint32_t>(c.bitCount));
  Patch32(bytes, kCompressionAt, c.compression);
  Patch32(bytes, kClrUsedAt, c.clrUsed);
  std::copy(c.extra.begin(), c.extra.end(), bytes.begin() + 14 + c.infoSize);
  bytes.insert(bytes.end(), c.rows.begin(), c.rows.end());
  return bytes;
}

// A small valid 8-bit file (16-entry palette, width 5: one byte of row padding) and 24-bit file.
inline std::vector<uint8_t> Small8() { return EncodeBmp8(5, 3, Pattern8(5, 3, 16), Palette(16)); }
inline std::vector<uint8_t> Small24() { return EncodeBmp24(5, 3, Pattern24(5, 3)); }

// A malformed variant of a valid file and the error kind a reader must give it.
struct BadCase {
  std::string name;
  std::function<std::vector<uint8_t>()> make;
  KlvErrorKind kind;
};

inline std::vector<uint8_t> With32(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
  Patch32(bytes, at, value);
  return bytes;
}

inline std::vector<uint8_t> With16(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
  Patch16(bytes, at, value);
  return bytes;
}

inline std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// Cases both readers refuse the same way. Small8 has its colour table at 54..117, rows from 118.
inline std::vector<BadCase> CommonBadCases() {
  const auto b8 = Small8();
  const auto b24 = Small24();
  const auto withClrUsed0 = With32(b8, kClrUsedAt, 0);  // now promises 256 colours: table too short
  using K = KlvErrorKind;
  return {
      {"empty file", [] { return std::vector<uint8_t>{}; }, K::ShortFile},
      {"cut inside file header", [=] { return Cut(b8, 10); }, K::ShortFile},
      {"cut before info size", [=] { return Cut(b8, 16); }, K::ShortFile},
      {"cut inside info header", [=] { return Cut(b8, 40); }, K::ShortFile},
      {"cut inside colour table", [=] { return Cut(b8, 100); }, K::ShortFile},
      {"cut at first row", [=] { return Cut(b8, 118); }, K::ShortFile},
      {"cut one byte short", [=] { return Cut(b8, b8.size() - 1); }, K::ShortFile},
      {"cut 24-bit rows", [=] { return Cut(b24, b24.size() - 5); }, K::ShortFile},
      {"colours used 0 means 256", [=] { return withClrUsed0; }, K::ShortFile},
      {"absurd but legal size", [=] { return With32(With32(b24, kWidthAt, 32768), kHeightAt, 32768); }, K::ShortFile},
      {"bad signature", [=] { return With16(b8, 0, 0x4142); }, K::BadFormat},
      {"odd header size", [=] { return With32(b8, kInfoSizeAt, 64); }, K::BadFormat},
      {"RLE4 at 8 bits", [=] { return With32(b8, kCompressionAt, 2); }, K::BadFormat},
      {"0 bits", [=] { return With16(b24, kBitCountAt, 0); }, K::BadFormat},
      {"bit fields at 24 bits", [=] { return With32(b24, kCompressionAt, 3); }, K::BadFormat},
      {"JPEG", [=] { return With32(b24, kCompressionAt, 4); }, K::BadFormat},
      {"width 0", [=] { return With32(b8, kWidthAt, 0); }, K::OutOfRange},
      {"height 0", [=] { return With32(b8, kHeightAt, 0); }, K::OutOfRange},
      {"width 32769", [=] { return With32(b8, kWidthAt, 32769); }, K::OutOfRange},
      {"height -32769", [=] { return With32(b24, kHeightAt, static_cast<uint32_t>(-32769)); }, K::OutOfRange},
      {"most negative width", [=] { return With32(b24, kWidthAt, 0x80000000u); }, K::OutOfRange},
      {"huge height", [=] { return With32(b24, kHeightAt, 0x7FFFFFFFu); }, K::OutOfRange},
      {"257 colours", [=] { return With32(b8, kClrUsedAt, 257); }, K::OutOfRange},
      {"4 billion colours", [=] { return With32(b8, kClrUsedAt, 0xFFFFFFFFu); }, K::OutOfRange},
  };
}

}  // namespace bmpfix
