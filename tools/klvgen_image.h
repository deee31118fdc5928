// Images and noise of the data-set generator: a seeded hash (the same bytes on every machine, no
// library distributions), tileable value noise and fractal sums, and RGB and palette images.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/win/wintypes.h"

namespace klvgen {

// A well-mixed 32-bit hash of three integers and a seed.
inline uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B9u ^ static_cast<uint32_t>(x) * 0x85EBCA6Bu ^ static_cast<uint32_t>(y) * 0xC2B2AE35u;
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

// Uniform in [0, 1).
inline double Hash01(int32_t x, int32_t y, uint32_t seed) { return Hash(x, y, seed) / 4294967296.0; }

inline int32_t Wrap(int32_t i, int32_t period) { return ((i % period) + period) % period; }

// Smooth value noise in [0, 1) with lattice `cells` per unit, repeating with period 1 in x and y.
inline double TileNoise(double x, double y, int cells, uint32_t seed) {
  const double fx = x * cells, fy = y * cells;
  const int32_t ix = static_cast<int32_t>(std::floor(fx)), iy = static_cast<int32_t>(std::floor(fy));
  const double tx = fx - ix, ty = fy - iy;
  const auto fade = [](double t) { return t * t * t * (t * (t * 6 - 15) + 10); };
  const double sx = fade(tx), sy = fade(ty);
  const auto at = [&](int32_t dx, int32_t dy) { return Hash01(Wrap(ix + dx, cells), Wrap(iy + dy, cells), seed); };
  const double top = at(0, 0) + (at(1, 0) - at(0, 0)) * sx;
  const double bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * sx;
  return top + (bottom - top) * sy;
}

// Fractal sum of `octaves` tileable noises from `cells` lattice cells upwards, normalised to [0, 1).
inline double TileFractal(double x, double y, int cells, int octaves, double gain, uint32_t seed) {
  double sum = 0, weight = 1, total = 0;
  for (int o = 0; o < octaves; ++o) {
    sum += TileNoise(x, y, cells << o, seed + 101 * o) * weight;
    total += weight;
    weight *= gain;
  }
  return sum / total;
}

inline double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
inline double Smooth(double e0, double e1, double v) {
  const double t = Clamp01((v - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

struct Rgb {
  double r = 0, g = 0, b = 0;
};
inline Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
inline Rgb Scale(Rgb a, double s) { return {a.r * s, a.g * s, a.b * s}; }

// Every channel is kept at or above this: pure black (and whatever a 16-bit surface would round to
// it) is the colour key and must only appear where a model means a hole.
constexpr int kDarkest = 12;

// 24-bit image, top row first.
struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> bgr;

  RgbImage(int w, int h) : width(w), height(h), bgr(static_cast<size_t>(w) * h * 3) {}
  void Set(int x, int y, Rgb c) {
    uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
    const auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), long{kDarkest}, 255L)); };
    p[0] = byte(c.b);
    p[1] = byte(c.g);
    p[2] = byte(c.r);
  }
};

// 8-bit image with palette, top row first. Index 0 is the transparent colour key (black).
struct IndexedImage {
  int width = 0, height = 0;
  std::vector<uint8_t> indices;
  std::array<PALETTEENTRY, 256> palette{};

  IndexedImage(int w, int h) : width(w), height(h), indices(static_cast<size_t>(w) * h, 1) {}
  uint8_t& At(int x, int y) { return indices[static_cast<size_t>(y) * width + x]; }
  // Entries first..last become a ramp from colour a to colour b; none is black.
  void Ramp(int first, int last, Rgb a, Rgb b) {
    for (int i = first; i <= last; ++i) {
      const Rgb c = Mix(a, b, last > first ? static_cast<double>(i - first) / (last - first) : 0.0);
      const auto byte = [](double v) { return static_cast<BYTE>(std::clamp(std::lround(v), long{kDarkest}, 255L)); };
      palette[i] = {byte(c.r), byte(c.g), byte(c.b), 0};
    }
  }
};

}  // namespace klvgen
