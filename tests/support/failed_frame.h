// Writes a rasteriser target whose golden hash did not match as a PNG beside the test's output
// (KLV_TEST_BIN_DIR/failed-frames/NAME.png), so the wrong picture can be looked at; the hashes
// keep no expected picture to write beside it. Returns the file's path for the failure message.
#pragma once

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dx5/raster.h"
#include "platform/png_writer.h"
#include "platform/win/gdi_pixels.h"

inline std::string WriteFailedFrame(const RasterTarget& target, const std::string& name) {
  const GdiFormat format = target.format == RasterPixelFormat::Xrgb32   ? GdiFormat::Xrgb32
                           : target.format == RasterPixelFormat::Rgb555 ? GdiFormat::Rgb555
                                                                        : GdiFormat::Rgb565;
  std::vector<uint32_t> pixels(static_cast<size_t>(target.width) * target.height);
  for (int y = 0; y < target.height; ++y)
    RowToXrgb(format, target.bits + y * target.pitch, target.width, nullptr, &pixels[size_t(y) * target.width]);
  std::string file = name;
  for (char& c : file)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  const std::filesystem::path folder = std::filesystem::path(KLV_TEST_BIN_DIR) / "failed-frames";
  std::filesystem::create_directories(folder);
  const std::string path = (folder / (file + ".png")).string();
  WritePngXrgb32(path, reinterpret_cast<const uint8_t*>(pixels.data()), target.width, target.height,
                 intptr_t{target.width} * 4);
  return path;
}
