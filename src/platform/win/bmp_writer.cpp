// Bitmap file writer: lays out the file header, the information header, the colour table and the
// padded rows in the order a reader expects them.
#include "platform/win/bmp_writer.h"

#include <fstream>

#include "platform/error.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr int kMaxDimension = 32768;
constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

uint32_t PaddedRowBytes(int width, int bitCount) { return ((static_cast<uint32_t>(width) * bitCount + 31) / 32) * 4; }

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void CheckSize(int width, int height, size_t pixelBytes, size_t bytesPerPixel) {
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension)
    throw KlvError(KlvErrorKind::OutOfRange, "", "bitmap size must be 1..32768 on each side");
  if (pixelBytes != static_cast<size_t>(width) * height * bytesPerPixel)
    throw KlvError(KlvErrorKind::OutOfRange, "", "pixel buffer does not match the bitmap size");
}

// Headers for a file whose colour table has `colours` entries.
std::vector<uint8_t> Headers(int width, int height, int bitCount, uint32_t colours) {
  const uint32_t imageBytes = PaddedRowBytes(width, bitCount) * static_cast<uint32_t>(height);
  const uint32_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + colours * 4;
  std::vector<uint8_t> out;
  out.reserve(pixelOffset + imageBytes);
  out.push_back('B');
  out.push_back('M');
  Put32(out, pixelOffset + imageBytes);
  Put32(out, 0);  // reserved
  Put32(out, pixelOffset);
  Put32(out, kInfoHeaderBytes);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));  // positive: bottom-up
  Put16(out, 1);                              // planes
  Put16(out, static_cast<uint32_t>(bitCount));
  Put32(out, 0);  // BI_RGB
  Put32(out, imageBytes);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, colours);
  Put32(out, 0);  // all colours important
  return out;
}

// Appends the rows bottom row first, each padded with zeros to a multiple of 4 bytes.
void PutRows(std::vector<uint8_t>& out, int height, size_t packedRowBytes, uint32_t paddedRowBytes,
             std::span<const uint8_t> pixels) {
  for (int y = height - 1; y >= 0; --y) {
    const auto row = pixels.subspan(static_cast<size_t>(y) * packedRowBytes, packedRowBytes);
    out.insert(out.end(), row.begin(), row.end());
    out.insert(out.end(), paddedRowBytes - packedRowBytes, 0);
  }
}

}  // namespace

std::vector<uint8_t> EncodeBmp8(int width, int height, std::span<const uint8_t> indices,
                                std::span<const PALETTEENTRY> palette) {
  CheckSize(width, height, indices.size(), 1);
  if (palette.empty() || palette.size() > 256)
    throw KlvError(KlvErrorKind::OutOfRange, "", "an 8-bit palette holds 1..256 colours");
  std::vector<uint8_t> out = Headers(width, height, 8, static_cast<uint32_t>(palette.size()));
  for (const PALETTEENTRY& entry : palette) {
    out.push_back(entry.peBlue);
    out.push_back(entry.peGreen);
    out.push_back(entry.peRed);
    out.push_back(0);
  }
  PutRows(out, height, static_cast<size_t>(width), PaddedRowBytes(width, 8), indices);
  return out;
}

std::vector<uint8_t> EncodeBmp24(int width, int height, std::span<const uint8_t> bgr) {
  CheckSize(width, height, bgr.size(), 3);
  std::vector<uint8_t> out = Headers(width, height, 24, 0);
  PutRows(out, height, static_cast<size_t>(width) * 3, PaddedRowBytes(width, 24), bgr);
  return out;
}

void WriteBmp8(const std::string& fileName, int width, int height, std::span<const uint8_t> indices,
               std::span<const PALETTEENTRY> palette) {
  WriteFileBytes(fileName, EncodeBmp8(width, height, indices, palette));
}

void WriteBmp24(const std::string& fileName, int width, int height, std::span<const uint8_t> bgr) {
  WriteFileBytes(fileName, EncodeBmp24(width, height, bgr));
}

void WriteFileBytes(const std::string& fileName, std::span<const uint8_t> bytes) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  if (!file) throw KlvError(KlvErrorKind::FileOpen, fileName, "cannot create the file");
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw KlvError(KlvErrorKind::FileOpen, fileName, "cannot write the file");
}
