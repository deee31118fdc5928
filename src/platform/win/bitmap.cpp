// The platform's bitmap object: reads any uncompressed bitmap of 1, 4, 8, 24 or 32 bits per pixel
// into top-row-first storage, palette indices for the indexed depths, blue, green, red otherwise.
#include "platform/win/bitmap.h"

#include <algorithm>
#include <utility>

#include "platform/win/bmp_format.h"

namespace {

// The classic header, and the version 4 and 5 headers, which begin with the same 40 bytes.
constexpr std::array<uint32_t, 3> kInfoSizes = {kBmpInfoHeaderBytes, 108, 124};
constexpr uint32_t kBitFieldMasksBytes = 12;  // red, green, blue masks after a 40-byte header
constexpr std::array<uint32_t, 3> kStandardMasks = {0x00FF0000, 0x0000FF00, 0x000000FF};

bool IsIndexedDepth(uint32_t bitCount) { return bitCount == 1 || bitCount == 4 || bitCount == 8; }

// Checks the depth and compression; returns where the colour table (or the pixels) may start.
uint64_t CheckEncoding(BmpSource& source, const BmpHeaders& headers) {
  const BITMAPINFOHEADER& info = headers.info;
  const uint32_t bits = info.biBitCount;
  if (!IsIndexedDepth(bits) && bits != 24 && bits != 32)
    source.Fail(KlvErrorKind::BadFormat, std::to_string(bits) + " bits per pixel (1, 4, 8, 24 and 32 are read)");
  const uint64_t afterHeader = kBmpFileHeaderBytes + uint64_t{info.biSize};
  if (info.biCompression == BI_RGB) return afterHeader;
  if (info.biCompression != BI_BITFIELDS || bits != 32) source.Fail(KlvErrorKind::BadFormat, "compressed bitmap");

  // The masks follow the 40-byte header, inside the larger headers and after the classic one.
  uint8_t raw[kBitFieldMasksBytes];
  source.ReadAt(kBmpFileHeaderBytes + kBmpInfoHeaderBytes, raw, sizeof raw, "colour masks");
  for (size_t i = 0; i < kStandardMasks.size(); ++i) {
    const uint32_t mask = raw[4 * i] | raw[4 * i + 1] << 8 | raw[4 * i + 2] << 16 | uint32_t{raw[4 * i + 3]} << 24;
    if (mask != kStandardMasks[i]) source.Fail(KlvErrorKind::BadFormat, "32-bit colour masks other than 8-8-8");
  }
  return info.biSize == kBmpInfoHeaderBytes ? afterHeader + kBitFieldMasksBytes : afterHeader;
}

std::array<PALETTEENTRY, 256> ToPalette(const std::vector<RGBQUAD>& table) {
  std::array<PALETTEENTRY, 256> palette{};
  for (size_t i = 0; i < table.size(); ++i)
    palette[i] = PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  return palette;
}

// Unpacks one stored row into `out`: indices for the indexed depths, blue, green, red otherwise.
void UnpackRow(const uint8_t* in, uint32_t width, uint32_t bitCount, uint8_t* out) {
  switch (bitCount) {
    case 1:
      for (uint32_t x = 0; x < width; ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1;
      break;
    case 4:
      for (uint32_t x = 0; x < width; ++x) out[x] = x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 0x0F;
      break;
    case 8:
      std::copy(in, in + width, out);
      break;
    case 24:
      std::copy(in, in + 3 * width, out);
      break;
    default:  // 32: blue, green, red, unused
      for (uint32_t x = 0; x < width; ++x) std::copy(in + 4 * x, in + 4 * x + 3, out + 3 * x);
      break;
  }
}

}  // namespace

void TBitmap::LoadFromFile(const std::string& fileName) {
  *this = TBitmap();
  BmpSource source(fileName);
  const BmpHeaders headers = ReadBmpHeaders(source, kInfoSizes);
  const uint32_t bitCount = headers.info.biBitCount;
  const uint64_t tableOffset = CheckEncoding(source, headers);
  const bool indexed = IsIndexedDepth(bitCount);

  std::vector<RGBQUAD> table;
  uint64_t headersEnd = tableOffset;
  if (indexed) {
    const uint32_t count = headers.info.biClrUsed == 0 ? 1u << bitCount : headers.info.biClrUsed;
    table = ReadBmpColourTable(source, tableOffset, count);
    headersEnd += uint64_t{count} * sizeof(RGBQUAD);
  }
  if (headers.pixelOffset < headersEnd)
    source.Fail(KlvErrorKind::BadFormat, "pixel data offset points into the headers");

  const uint32_t rowBytes = BmpRowBytes(headers.width, bitCount);
  const uint64_t imageBytes = uint64_t{rowBytes} * headers.height;
  if (imageBytes > source.Size() - std::min<uint64_t>(source.Size(), headers.pixelOffset))
    source.Fail(KlvErrorKind::ShortFile, "file ends inside the pixel rows");

  const size_t outRowBytes = size_t{headers.width} * (indexed ? 1 : 3);
  std::vector<uint8_t> pixels(outRowBytes * headers.height);
  std::vector<uint8_t> stored(rowBytes);
  for (uint32_t r = 0; r < headers.height; ++r) {
    source.ReadAt(headers.pixelOffset + uint64_t{r} * rowBytes, stored.data(), rowBytes, "pixel rows");
    const uint32_t y = headers.topDown ? r : headers.height - 1 - r;
    UnpackRow(stored.data(), headers.width, bitCount, pixels.data() + y * outRowBytes);
  }

  width_ = static_cast<int>(headers.width);
  height_ = static_cast<int>(headers.height);
  indexed_ = indexed;
  palette_ = ToPalette(table);
  pixels_ = std::move(pixels);
}

const uint8_t* TBitmap::Row(int y) const {
  if (y < 0 || y >= height_) return nullptr;
  return pixels_.data() + static_cast<size_t>(y) * width_ * (indexed_ ? 1 : 3);
}

HDC TBitmap::Canvas() {
  canvas_.format = indexed_ ? GdiFormat::Indexed8 : GdiFormat::Bgr24;
  canvas_.width = width_;
  canvas_.height = height_;
  canvas_.pitch = static_cast<intptr_t>(width_) * (indexed_ ? 1 : 3);
  canvas_.bits = pixels_.empty() ? nullptr : pixels_.data();
  canvas_.palette = palette_.data();
  return &canvas_;
}
