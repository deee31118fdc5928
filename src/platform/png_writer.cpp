// PNG writer on libpng's simplified interface, which reports failures by result instead of a
// long jump, so nothing unwinds through C frames.
#include "platform/png_writer.h"

#include <png.h>

#include <cstdlib>
#include <vector>

#include "platform/error.h"

void WritePngXrgb32(const std::string& fileName, const uint8_t* pixels, int width, int height, intptr_t pitch) {
  if (width < 1 || height < 1 || std::llabs(pitch) < int64_t{width} * 4)
    throw KlvError(KlvErrorKind::OutOfRange, fileName, "picture size or pitch out of range");
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = pixels + y * pitch;
    uint8_t* dst = rgb.data() + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[2];  // 0x00RRGGBB stored little-endian: blue, green, red, unused
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, fileName.c_str(), 0, rgb.data(), width * 3, nullptr)) {
    const std::string reason = image.message;
    png_image_free(&image);
    throw KlvError(KlvErrorKind::FileOpen, fileName, "cannot write the PNG file: " + reason);
  }
}
