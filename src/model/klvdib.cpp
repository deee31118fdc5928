// Raw bitmap reader: validates the headers before it allocates, then reads the colour table and the
// rows that follow it without a gap.
#include "model/klvdib.h"

#include <array>
#include <utility>

namespace {

// The classic header and the version 4 and 5 headers editors write, which begin with the same 40 bytes.
constexpr std::array<uint32_t, 3> kInfoSizes = {kBmpInfoHeaderBytes, kBmpV4HeaderBytes, kBmpV5HeaderBytes};
constexpr uint32_t kDefaultColours = 256;

}  // namespace

void TKlvDIB::Free() {
  Header = {};
  Colors.clear();
  Colors.shrink_to_fit();
  Bits.clear();
  Bits.shrink_to_fit();
  RowBytes = 0;
}

void TKlvDIB::LoadFromFile(const std::string& fileName) {
  Free();
  BmpSource source(fileName);
  const BmpHeaders headers = ReadBmpHeaders(source, kInfoSizes);
  BITMAPINFOHEADER header = headers.info;
  if (header.biBitCount != 8 && header.biBitCount != 24)
    source.Fail(KlvErrorKind::BadFormat,
                std::to_string(header.biBitCount) + " bits per pixel (only 8 and 24 are read)");
  if (header.biCompression != BI_RGB) source.Fail(KlvErrorKind::BadFormat, "compressed bitmap");

  const uint32_t rowBytes = BmpRowBytes(headers.width, header.biBitCount);
  uint64_t pixelOffset = kBmpFileHeaderBytes + uint64_t{header.biSize};
  std::vector<RGBQUAD> colours;
  if (header.biBitCount == 8) {
    const uint32_t count = header.biClrUsed == 0 ? kDefaultColours : header.biClrUsed;
    colours = ReadBmpColourTable(source, header, pixelOffset, count);
    pixelOffset += uint64_t{count} * sizeof(RGBQUAD);
    header.biClrUsed = count;
    header.biClrImportant = 0;
  }
  // At most 32768 rows of 98304 bytes: fits in 32 bits.
  header.biSizeImage = headers.height * rowBytes;
  std::vector<uint8_t> bits = source.ReadBytesAt(pixelOffset, header.biSizeImage, "pixel rows");

  header.biSize = kBmpInfoHeaderBytes;  // only the first 40 bytes are held
  Header = header;
  Colors = std::move(colours);
  Bits = std::move(bits);
  RowBytes = static_cast<int32_t>(rowBytes);
}
