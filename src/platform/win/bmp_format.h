// The Windows bitmap file layout (file header, the 12-byte OS/2 core header and the information
// headers that begin with the 40-byte one, colour table entries) and a bounds-checked reader of its
// parts. Shared by the platform's bitmap object and the raw bitmap reader of the model layer, so
// both refuse malformed files the same way.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file_read.h"
#include "platform/win/wintypes.h"

// The information header's first 40 bytes, in file order (no padding: every field is aligned).
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: bottom row stored first; negative: top row first
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the information header is 40 bytes in the file");

struct RGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4, "colour table entries are 4 bytes in the file");

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

constexpr uint32_t kBmpFileHeaderBytes = 14;
constexpr uint32_t kBmpCoreHeaderBytes = 12;  // OS/2 header: 16-bit width and height, no compression
constexpr uint32_t kBmpInfoHeaderBytes = 40;
constexpr uint32_t kBmpV4HeaderBytes = 108;
constexpr uint32_t kBmpV5HeaderBytes = 124;
constexpr uint32_t kBmpMaxDimension = 32768;  // largest width or height magnitude accepted
constexpr uint32_t kBmpMaxColours = 256;      // largest colour table accepted

// Length of one stored row: width × bit count rounded up to a multiple of 4 bytes.
constexpr uint32_t BmpRowBytes(uint32_t width, uint32_t bitCount) {
  return static_cast<uint32_t>((static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4);
}

// An open bitmap file of known length. Every read is checked against that length, so a file
// shorter than its headers promise is refused before anything is allocated for it.
class BmpSource {
 public:
  // Throws KlvError(FileOpen) when the file cannot be opened or is not a regular file.
  explicit BmpSource(const std::string& fileName) : file_(fileName) {}

  const std::string& FileName() const { return file_.FileName(); }
  uint64_t Size() const { return file_.Size(); }

  // Reads count bytes at offset; KlvError(ShortFile) naming `what` when the file ends first.
  void ReadAt(uint64_t offset, void* out, size_t count, const char* what);
  std::vector<uint8_t> ReadBytesAt(uint64_t offset, uint64_t count, const char* what);

  [[noreturn]] void Fail(KlvErrorKind kind, const std::string& problem) const;

 private:
  TReadOnlyFile file_;
};

struct BmpHeaders {
  DWORD pixelOffset = 0;  // the file header's offset of the pixel rows
  // The information header; a 12-byte core header is widened into it (biSize 12, BI_RGB, no
  // colours-used count).
  BITMAPINFOHEADER info{};
  uint32_t width = 0;   // |biWidth|, 1..32768
  uint32_t height = 0;  // |biHeight|, 1..32768
  bool topDown = false;
};

// Reads the file header and the information header. Refuses a missing "BM" signature, an
// information header size not in `acceptedSizes` (BadFormat), a width or height of 0 or of
// magnitude above 32768 (OutOfRange) and a file too short for its headers (ShortFile).
BmpHeaders ReadBmpHeaders(BmpSource& source, std::span<const uint32_t> acceptedSizes);

// Bytes per colour table entry: 3 (blue, green, red) after a core header, else 4.
constexpr uint32_t BmpColourEntryBytes(const BITMAPINFOHEADER& info) {
  return info.biSize == kBmpCoreHeaderBytes ? 3 : 4;
}

// Reads `count` colour table entries at offset, each of BmpColourEntryBytes(info) bytes; refuses
// more than 256 (OutOfRange).
std::vector<RGBQUAD> ReadBmpColourTable(BmpSource& source, const BITMAPINFOHEADER& info, uint64_t offset,
                                        uint32_t count);
