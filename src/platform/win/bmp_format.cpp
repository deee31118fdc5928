// Bounds-checked reading of bitmap file headers and colour tables.
#include "platform/win/bmp_format.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint8_t kSignature[2] = {'B', 'M'};
constexpr uint32_t kPixelOffsetField = 10;  // byte offset of bfOffBits in the file header

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

BITMAPINFOHEADER DecodeInfoHeader(const uint8_t* p) {
  BITMAPINFOHEADER h{};
  h.biSize = Get32(p);
  h.biWidth = static_cast<LONG>(Get32(p + 4));
  h.biHeight = static_cast<LONG>(Get32(p + 8));
  h.biPlanes = Get16(p + 12);
  h.biBitCount = Get16(p + 14);
  h.biCompression = Get32(p + 16);
  h.biSizeImage = Get32(p + 20);
  h.biXPelsPerMeter = static_cast<LONG>(Get32(p + 24));
  h.biYPelsPerMeter = static_cast<LONG>(Get32(p + 28));
  h.biClrUsed = Get32(p + 32);
  h.biClrImportant = Get32(p + 36);
  return h;
}

// The OS/2 header: size, 16-bit width and height (always bottom-up), planes, bit count.
BITMAPINFOHEADER DecodeCoreHeader(const uint8_t* p) {
  BITMAPINFOHEADER h{};
  h.biSize = Get32(p);
  h.biWidth = Get16(p + 4);
  h.biHeight = Get16(p + 6);
  h.biPlanes = Get16(p + 8);
  h.biBitCount = Get16(p + 10);
  h.biCompression = BI_RGB;
  return h;
}

// |value| as unsigned, defined for the most negative value too.
uint32_t Magnitude(LONG value) { return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value); }

}  // namespace

void BmpSource::ReadAt(uint64_t offset, void* out, size_t count, const char* what) {
  file_.ReadAt(offset, out, count, what);
}

std::vector<uint8_t> BmpSource::ReadBytesAt(uint64_t offset, uint64_t count, const char* what) {
  if (offset > Size() || count > Size() - offset)
    Fail(KlvErrorKind::ShortFile, std::string("file ends inside the ") + what);
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    Fail(KlvErrorKind::Capacity, std::string("not enough memory for the ") + what);
  }
  ReadAt(offset, bytes.data(), bytes.size(), what);
  return bytes;
}

void BmpSource::Fail(KlvErrorKind kind, const std::string& problem) const { throw KlvError(kind, FileName(), problem); }

BmpHeaders ReadBmpHeaders(BmpSource& source, std::span<const uint32_t> acceptedSizes) {
  uint8_t fileHeader[kBmpFileHeaderBytes + 4];  // the file header and the information header's size
  source.ReadAt(0, fileHeader, sizeof fileHeader, "file header");
  if (std::memcmp(fileHeader, kSignature, sizeof kSignature) != 0)
    source.Fail(KlvErrorKind::BadFormat, "no \"BM\" signature: not a bitmap file");
  const uint32_t infoSize = Get32(fileHeader + kBmpFileHeaderBytes);
  if (std::find(acceptedSizes.begin(), acceptedSizes.end(), infoSize) == acceptedSizes.end())
    source.Fail(KlvErrorKind::BadFormat, "unsupported information header size " + std::to_string(infoSize));

  uint8_t info[kBmpInfoHeaderBytes];
  const bool core = infoSize == kBmpCoreHeaderBytes;
  source.ReadAt(kBmpFileHeaderBytes, info, core ? kBmpCoreHeaderBytes : kBmpInfoHeaderBytes, "information header");
  BmpHeaders headers;
  headers.pixelOffset = Get32(fileHeader + kPixelOffsetField);
  headers.info = core ? DecodeCoreHeader(info) : DecodeInfoHeader(info);
  headers.width = Magnitude(headers.info.biWidth);
  headers.height = Magnitude(headers.info.biHeight);
  headers.topDown = headers.info.biHeight < 0;
  if (headers.width == 0 || headers.width > kBmpMaxDimension || headers.height == 0 ||
      headers.height > kBmpMaxDimension)
    source.Fail(KlvErrorKind::OutOfRange, "bitmap size " + std::to_string(headers.info.biWidth) + " x " +
                                              std::to_string(headers.info.biHeight) + " is outside 1..32768");
  return headers;
}

std::vector<RGBQUAD> ReadBmpColourTable(BmpSource& source, const BITMAPINFOHEADER& info, uint64_t offset,
                                        uint32_t count) {
  if (count > kBmpMaxColours)
    source.Fail(KlvErrorKind::OutOfRange, "colour table of " + std::to_string(count) + " entries (at most 256)");
  const uint32_t entryBytes = BmpColourEntryBytes(info);
  uint8_t raw[kBmpMaxColours * sizeof(RGBQUAD)];
  source.ReadAt(offset, raw, size_t{count} * entryBytes, "colour table");
  std::vector<RGBQUAD> table(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = raw + size_t{i} * entryBytes;
    table[i] = RGBQUAD{e[0], e[1], e[2], entryBytes == 4 ? e[3] : BYTE{0}};
  }
  return table;
}
