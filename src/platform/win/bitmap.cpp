// The platform's bitmap object: decodes every layout the platform's bitmap loading reads (1, 4, 8,
// 16, 24 and 32 bits per pixel, uncompressed, RLE8, RLE4 and bit fields, the OS/2 core header and
// the larger information headers) into top-row-first storage: palette indices for 8-bit files,
// blue, green, red for every other depth. Every write is bounds-checked against the picture.
#include "platform/win/bitmap.h"

#include <algorithm>
#include <bit>
#include <new>
#include <utility>

#include "platform/win/bmp_format.h"

namespace {

// The core header, the classic header, and the version 2 to 5 headers, which begin with the
// classic header's 40 bytes.
constexpr std::array<uint32_t, 6> kInfoSizes = {kBmpCoreHeaderBytes, kBmpInfoHeaderBytes, 52, 56,
                                                kBmpV4HeaderBytes,   kBmpV5HeaderBytes};
constexpr uint32_t kBitFieldMasksBytes = 12;  // red, green, blue masks after a 40-byte header
// What a 16-bit BI_RGB file means: 5-5-5, top bit unused.
constexpr std::array<uint32_t, 3> kMasks555 = {0x7C00, 0x03E0, 0x001F};
constexpr std::array<uint32_t, 3> kMasks888 = {0x00FF0000, 0x0000FF00, 0x000000FF};
// Largest decoded picture held, so a small compressed file cannot ask for gigabytes.
constexpr uint64_t kMaxPictureBytes = uint64_t{256} << 20;

bool IsIndexedDepth(uint32_t bitCount) { return bitCount == 1 || bitCount == 4 || bitCount == 8; }

// One colour channel of a bit-field pixel: its position and width, scaled to 0..255.
struct Channel {
  uint32_t shift = 0;
  uint32_t max = 0;  // the mask shifted down: 2^width - 1

  uint8_t Of(uint32_t pixel) const {
    const uint64_t v = (pixel >> shift) & max;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

enum class Layout { Indexed, BitFields, Bgr24, Rle8, Rle4 };

struct Encoding {
  Layout layout = Layout::Indexed;
  std::array<Channel, 3> channels{};  // red, green, blue of a bit-field layout (16 and 32 bits)
  uint64_t tableOffset = 0;           // where the colour table starts (or the pixels may)
};

Channel MakeChannel(BmpSource& source, uint32_t mask, uint32_t bitCount) {
  const uint32_t shift = mask == 0 ? 0 : static_cast<uint32_t>(std::countr_zero(mask));
  const uint32_t max = mask >> shift;
  // A channel is one run of set bits inside the pixel.
  if (mask == 0 || (max & (max + 1)) != 0 || (bitCount < 32 && mask >> bitCount != 0))
    source.Fail(KlvErrorKind::BadFormat, "colour masks that are not runs of bits inside the pixel");
  return Channel{shift, max};
}

std::array<Channel, 3> MakeChannels(BmpSource& source, const std::array<uint32_t, 3>& masks, uint32_t bitCount) {
  return {MakeChannel(source, masks[0], bitCount), MakeChannel(source, masks[1], bitCount),
          MakeChannel(source, masks[2], bitCount)};
}

// Checks the depth and compression; says how the pixels are laid out.
Encoding CheckEncoding(BmpSource& source, const BmpHeaders& headers) {
  const BITMAPINFOHEADER& info = headers.info;
  const uint32_t bits = info.biBitCount;
  if (!IsIndexedDepth(bits) && bits != 16 && bits != 24 && bits != 32)
    source.Fail(KlvErrorKind::BadFormat, std::to_string(bits) + " bits per pixel (1, 4, 8, 16, 24 and 32 are read)");
  Encoding enc;
  enc.tableOffset = kBmpFileHeaderBytes + uint64_t{info.biSize};
  switch (info.biCompression) {
    case BI_RGB:
      enc.layout = IsIndexedDepth(bits) ? Layout::Indexed : bits == 24 ? Layout::Bgr24 : Layout::BitFields;
      if (enc.layout == Layout::BitFields)
        enc.channels = MakeChannels(source, bits == 16 ? kMasks555 : kMasks888, bits);
      return enc;
    case BI_RLE8:
    case BI_RLE4:
      if (bits != (info.biCompression == BI_RLE8 ? 8u : 4u))
        source.Fail(KlvErrorKind::BadFormat, "run-length compression that does not match the bit count");
      if (headers.topDown) source.Fail(KlvErrorKind::BadFormat, "a compressed bitmap cannot be stored top-down");
      enc.layout = info.biCompression == BI_RLE8 ? Layout::Rle8 : Layout::Rle4;
      return enc;
    case BI_BITFIELDS: {
      if (bits != 16 && bits != 32) source.Fail(KlvErrorKind::BadFormat, "bit fields need 16 or 32 bits per pixel");
      // The masks follow the 40-byte header, inside the larger headers and after the classic one.
      uint8_t raw[kBitFieldMasksBytes];
      source.ReadAt(kBmpFileHeaderBytes + kBmpInfoHeaderBytes, raw, sizeof raw, "colour masks");
      std::array<uint32_t, 3> masks{};
      for (size_t i = 0; i < masks.size(); ++i)
        masks[i] = raw[4 * i] | raw[4 * i + 1] << 8 | raw[4 * i + 2] << 16 | uint32_t{raw[4 * i + 3]} << 24;
      enc.layout = Layout::BitFields;
      enc.channels = MakeChannels(source, masks, bits);
      if (info.biSize == kBmpInfoHeaderBytes) enc.tableOffset += kBitFieldMasksBytes;
      return enc;
    }
    default: source.Fail(KlvErrorKind::BadFormat, "compression " + std::to_string(info.biCompression) + " is not read");
  }
}

std::array<PALETTEENTRY, 256> ToPalette(const std::vector<RGBQUAD>& table) {
  std::array<PALETTEENTRY, 256> palette{};
  for (size_t i = 0; i < table.size(); ++i)
    palette[i] = PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  return palette;
}

uint32_t Pixel32(const uint8_t* p, uint32_t bytes) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

// Unpacks one stored row: palette indices for 1, 4 and 8 bits, blue, green, red for the others.
void UnpackRow(const uint8_t* in, uint32_t width, uint32_t bitCount, const Encoding& enc, uint8_t* out) {
  switch (bitCount) {
    case 1:
      for (uint32_t x = 0; x < width; ++x) out[x] = (in[x / 8] >> (7 - x % 8)) & 1;
      break;
    case 4:
      for (uint32_t x = 0; x < width; ++x) out[x] = x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 0x0F;
      break;
    case 8:
    case 24: std::copy(in, in + width * bitCount / 8, out); break;
    default: {  // 16 and 32: bit fields
      const uint32_t bytes = bitCount / 8;
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t pixel = Pixel32(in + bytes * x, bytes);
        out[3 * x] = enc.channels[2].Of(pixel);
        out[3 * x + 1] = enc.channels[1].Of(pixel);
        out[3 * x + 2] = enc.channels[0].Of(pixel);
      }
      break;
    }
  }
}

// The run-length decoder's output: an index plane, rows bottom first as they are coded. Every
// write is checked against the row and the picture; pixels the code skips stay index 0.
class RleCanvas {
 public:
  RleCanvas(BmpSource& source, uint32_t width, uint32_t height, std::vector<uint8_t>& plane)
      : source_(source), width_(width), height_(height), plane_(plane) {}

  // An encoded run: `count` pixels of `value` (RLE4: its high and low nibble in turn).
  void Run(uint32_t count, uint8_t value, bool nibbles) {
    uint8_t* out = Claim(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = nibbles ? Nibble(value, i) : value;
  }
  // An absolute run: `count` pixels taken from `bytes` (RLE4: two to a byte, high nibble first).
  void Literal(uint32_t count, const uint8_t* bytes, bool nibbles) {
    uint8_t* out = Claim(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = nibbles ? Nibble(bytes[i / 2], i) : bytes[i];
  }
  // Moving to the row just above the picture is allowed; writing there is not.
  void EndOfLine() {
    x_ = 0;
    y_ = std::min(y_ + 1, height_);
  }
  void Delta(uint32_t dx, uint32_t dy) {
    if (dx > width_ - x_ || dy > height_ - y_)
      source_.Fail(KlvErrorKind::OutOfRange, "run-length delta moves past the picture");
    x_ += dx;
    y_ += dy;
  }

 private:
  static uint8_t Nibble(uint8_t byte, uint32_t i) { return i % 2 == 0 ? byte >> 4 : byte & 0x0F; }
  // The next `count` pixels of the current row; refuses a run that leaves the row or the picture.
  uint8_t* Claim(uint32_t count) {
    if (y_ >= height_) source_.Fail(KlvErrorKind::OutOfRange, "run-length code writes past the picture");
    if (count > width_ - x_) source_.Fail(KlvErrorKind::OutOfRange, "run-length code runs past the end of a row");
    uint8_t* out = plane_.data() + size_t{y_} * width_ + x_;
    x_ += count;
    return out;
  }

  BmpSource& source_;
  uint32_t width_, height_;
  uint32_t x_ = 0, y_ = 0;
  std::vector<uint8_t>& plane_;
};

// Decodes an RLE8 or RLE4 stream into `plane` (width × height indices, bottom row first).
void DecodeRle(BmpSource& source, const std::vector<uint8_t>& code, bool nibbles, uint32_t width, uint32_t height,
               std::vector<uint8_t>& plane) {
  RleCanvas canvas(source, width, height, plane);
  size_t pos = 0;
  auto need = [&](size_t count) {
    if (count > code.size() - pos) source.Fail(KlvErrorKind::ShortFile, "file ends inside the run-length code");
  };
  for (;;) {
    need(2);
    const uint8_t count = code[pos], value = code[pos + 1];
    pos += 2;
    if (count > 0) {
      canvas.Run(count, value, nibbles);
      continue;
    }
    switch (value) {
      case 0: canvas.EndOfLine(); break;
      case 1: return;
      case 2:
        need(2);
        canvas.Delta(code[pos], code[pos + 1]);
        pos += 2;
        break;
      default: {  // absolute: `value` pixels, their bytes padded to a 16-bit boundary
        const size_t bytes = nibbles ? (value + 1u) / 2 : value;
        need(bytes + bytes % 2);
        canvas.Literal(value, code.data() + pos, nibbles);
        pos += bytes + bytes % 2;
        break;
      }
    }
  }
}

// Index plane (stored row order) to the held picture: indices for 8-bit files, colours otherwise.
void StoreIndexedRow(const uint8_t* indices, uint32_t width, bool keepIndices,
                     const std::array<PALETTEENTRY, 256>& palette, uint8_t* out) {
  if (keepIndices) {
    std::copy(indices, indices + width, out);
    return;
  }
  for (uint32_t x = 0; x < width; ++x) {
    const PALETTEENTRY& e = palette[indices[x]];
    out[3 * x] = e.peBlue;
    out[3 * x + 1] = e.peGreen;
    out[3 * x + 2] = e.peRed;
  }
}

std::vector<uint8_t> Allocate(BmpSource& source, uint64_t bytes) {
  if (bytes > kMaxPictureBytes)
    source.Fail(KlvErrorKind::OutOfRange, "picture of " + std::to_string(bytes) + " bytes is too large to hold");
  try {
    return std::vector<uint8_t>(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    source.Fail(KlvErrorKind::Capacity, "not enough memory for the picture");
  }
}

}  // namespace

void TBitmap::LoadFromFile(const std::string& fileName) {
  *this = TBitmap();
  BmpSource source(fileName);
  const BmpHeaders headers = ReadBmpHeaders(source, kInfoSizes);
  const uint32_t bitCount = headers.info.biBitCount;
  const Encoding enc = CheckEncoding(source, headers);
  const bool indexedFile = IsIndexedDepth(bitCount);
  const bool keepIndices = bitCount == 8;

  std::vector<RGBQUAD> table;
  uint64_t headersEnd = enc.tableOffset;
  if (indexedFile) {
    const uint32_t count = headers.info.biClrUsed == 0 ? 1u << bitCount : headers.info.biClrUsed;
    table = ReadBmpColourTable(source, headers.info, enc.tableOffset, count);
    headersEnd += uint64_t{count} * BmpColourEntryBytes(headers.info);
  }
  if (headers.pixelOffset < headersEnd)
    source.Fail(KlvErrorKind::BadFormat, "pixel data offset points into the headers");
  const std::array<PALETTEENTRY, 256> palette = ToPalette(table);

  const uint32_t width = headers.width, height = headers.height;
  const bool compressed = enc.layout == Layout::Rle8 || enc.layout == Layout::Rle4;
  const uint32_t rowBytes = BmpRowBytes(width, bitCount);
  const uint64_t available = source.Size() - std::min<uint64_t>(source.Size(), headers.pixelOffset);
  if (!compressed && uint64_t{rowBytes} * height > available)
    source.Fail(KlvErrorKind::ShortFile, "file ends inside the pixel rows");
  const size_t outRowBytes = size_t{width} * (keepIndices ? 1 : 3);
  std::vector<uint8_t> pixels = Allocate(source, uint64_t{outRowBytes} * height);
  auto outRow = [&](uint32_t storedRow) {
    const uint32_t y = headers.topDown ? storedRow : height - 1 - storedRow;
    return pixels.data() + size_t{y} * outRowBytes;
  };

  if (compressed) {
    // The code runs to the image size the header gives, or to the end of the file.
    const uint64_t codeBytes =
        headers.info.biSizeImage == 0 ? available : std::min<uint64_t>(available, headers.info.biSizeImage);
    if (codeBytes > kMaxPictureBytes) source.Fail(KlvErrorKind::OutOfRange, "run-length code too large to hold");
    const std::vector<uint8_t> code = source.ReadBytesAt(headers.pixelOffset, codeBytes, "run-length code");
    std::vector<uint8_t> plane = Allocate(source, uint64_t{width} * height);
    DecodeRle(source, code, enc.layout == Layout::Rle4, width, height, plane);
    for (uint32_t r = 0; r < height; ++r)
      StoreIndexedRow(plane.data() + size_t{r} * width, width, keepIndices, palette, outRow(r));
  } else {
    std::vector<uint8_t> stored(rowBytes);
    std::vector<uint8_t> indices(indexedFile ? width : 0);
    for (uint32_t r = 0; r < height; ++r) {
      source.ReadAt(headers.pixelOffset + uint64_t{r} * rowBytes, stored.data(), rowBytes, "pixel rows");
      if (indexedFile) {
        UnpackRow(stored.data(), width, bitCount, enc, indices.data());
        StoreIndexedRow(indices.data(), width, keepIndices, palette, outRow(r));
      } else {
        UnpackRow(stored.data(), width, bitCount, enc, outRow(r));
      }
    }
  }

  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  indexed_ = keepIndices;
  palette_ = palette;
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
