// Comparing pictures drawn by the software rasteriser and the GL device: the share of pixels whose
// channels all lie within a tolerance, the largest channel difference, and a PNG of both pictures
// and their difference for a failing comparison. Where a texel boundary or a triangle edge falls
// exactly on a pixel centre the two pick neighbouring texels or pixels, which on a high-contrast
// texture differs by far more than any shading difference; so the largest difference is taken
// between a pixel and the closest of the other picture's 3 x 3 neighbours of it. Where vertices sit
// exactly on pixel centres, both devices leave single-pixel pinholes at different places along that
// row; a few such outliers per picture (kOutliersPerPixel) are allowed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dx5/raster.h"
#include "platform/png_writer.h"

namespace gl_compare {

constexpr int kTolerance = 8;             // levels per 8-bit channel a pixel may differ by
constexpr double kMinShare = 0.99;        // share of pixels that must lie within the tolerance
constexpr int kMaxDifference = 64;        // no channel of any pixel may differ by more from its neighbours
constexpr int kPixelsPerOutlier = 20000;  // except one pixel in this many

// Pixel (x, y) of a target as 0x00RRGGBB, 16-bit channels widened by repeating their top bits.
inline uint32_t PixelRgb(const RasterTarget& t, int x, int y) {
  const uint8_t* row = t.bits + y * t.pitch;
  if (t.format == RasterPixelFormat::Xrgb32) return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFFu;
  const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
  const bool is565 = t.format == RasterPixelFormat::Rgb565;
  uint32_t r = (p >> (is565 ? 11 : 10)) & 0x1F, g = is565 ? (p >> 5) & 0x3F : (p >> 5) & 0x1F, b = p & 0x1F;
  r = r << 3 | r >> 2;
  g = is565 ? (g << 2 | g >> 4) : (g << 3 | g >> 2);
  b = b << 3 | b >> 2;
  return r << 16 | g << 8 | b;
}

inline int Difference(uint32_t a, uint32_t b) {
  int most = 0;
  for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
  return most;
}

struct Agreement {
  double share = 0.0;  // pixels within kTolerance of the same pixel
  int64_t pixels = 0;
  int64_t beyond = 0;    // pixels further than kMaxDifference from the same pixel
  int64_t outliers = 0;  // pixels further than kMaxDifference from every neighbour
  int largest = 0;       // largest channel difference of a pixel from its closest neighbour
  bool Good() const { return share >= kMinShare && outliers <= pixels / kPixelsPerOutlier; }
};

// The smallest difference between pixel (x, y) of `a` and the pixels of `b` around (x, y).
inline int NearestDifference(const RasterTarget& a, const RasterTarget& b, int x, int y) {
  const uint32_t pa = PixelRgb(a, x, y);
  int best = 255;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      int nx = x + dx, ny = y + dy;
      if (nx >= 0 && ny >= 0 && nx < b.width && ny < b.height)
        best = std::min(best, Difference(pa, PixelRgb(b, nx, ny)));
    }
  return best;
}

inline Agreement Compare(const RasterTarget& a, const RasterTarget& b) {
  Agreement result;
  int64_t within = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      int d = Difference(PixelRgb(a, x, y), PixelRgb(b, x, y));
      within += d <= kTolerance ? 1 : 0;
      if (d <= kMaxDifference) continue;
      ++result.beyond;
      int nearest = std::max(NearestDifference(a, b, x, y), NearestDifference(b, a, x, y));
      result.largest = std::max(result.largest, nearest);
      result.outliers += nearest > kMaxDifference ? 1 : 0;
    }
  result.pixels = int64_t{a.width} * a.height;
  result.share = double(within) / double(result.pixels);
  return result;
}

// Writes software | GL | difference (times four) side by side to `directory`/`name`.png; returns
// the file's path.
inline std::string WriteSideBySide(const std::string& directory, const std::string& name, const RasterTarget& a,
                                   const RasterTarget& b) {
  const int w = a.width, h = a.height;
  std::vector<uint32_t> picture(size_t(w) * 3 * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t pa = PixelRgb(a, x, y), pb = PixelRgb(b, x, y);
      uint32_t diff = 0;
      for (int shift : {0, 8, 16}) {
        int d = std::abs(int((pa >> shift) & 0xFF) - int((pb >> shift) & 0xFF));
        diff |= uint32_t(std::min(d * 4, 255)) << shift;
      }
      uint32_t* row = picture.data() + size_t(y) * 3 * w;
      row[x] = pa;
      row[w + x] = pb;
      row[2 * w + x] = diff;
    }
  std::filesystem::create_directories(directory);
  std::string path = directory + "/" + name + ".png";
  WritePngXrgb32(path, reinterpret_cast<const uint8_t*>(picture.data()), 3 * w, h, intptr_t(w) * 3 * 4);
  return path;
}

}  // namespace gl_compare
