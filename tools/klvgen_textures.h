// The bitmaps of the data set, painted procedurally: the height map, the ground, the sky, the
// chrome reflection map and the model textures. Every image is a pure function of its seed.
#pragma once

#include <cmath>

#include "klvgen_geom.h"
#include "klvgen_image.h"

namespace klvgen {

constexpr int kGridSize = 512;

// Grid cells of the places the scene puts models on the ground: world x or y maps to grid row or
// column 272 + w / 15 (the terrain window's fixed mapping with cell size 15 and 32 cells).
constexpr double kGridOfWorldOrigin = 272.0, kCellSize = 15.0;
struct GroundSpot {
  double worldX, worldY, pixel, radius;
};
// The tree stands on ground at z 35 (pixel 162), the building on ground at z 25 (pixel 128).
constexpr GroundSpot kGroundSpots[] = {{10, 10, 162, 2.5}, {-80, -80, 128, 2.5}};

// Height-map pixel of grid row i, column j. Dark low values are hills, bright ones valleys; no value
// below 116 keeps the ground (height 25 + 37.5 (p - 128) / 128) under the flight band z < 20.
inline double HeightPixel(int i, int j, uint32_t seed) {
  const double x = static_cast<double>(j) / kGridSize, y = static_cast<double>(i) / kGridSize;
  const double hills = Smooth(0.28, 0.72, TileFractal(x, y, 32, 4, 0.5, seed));
  const double warp = TileNoise(x, y, 8, seed + 7) * 0.08;
  const double river = TileFractal(x + warp, y - warp, 16, 2, 0.4, seed + 13);
  const double canyon = 1.0 - Smooth(0.0, 0.07, std::abs(river - 0.5));
  double p = 116 + 95 * hills + 42 * canyon;
  for (const GroundSpot& s : kGroundSpots) {
    const double di = i - (kGridOfWorldOrigin + s.worldX / kCellSize);
    const double dj = j - (kGridOfWorldOrigin + s.worldY / kCellSize);
    const double t = Smooth(s.radius, 2 * s.radius, std::sqrt(di * di + dj * dj));
    p = s.pixel + (p - s.pixel) * t;
  }
  return std::clamp(p, 116.0, 253.0);
}

// 8-bit grey height map; picture row y holds grid row 511 - y (the file stores rows bottom-up and
// the terrain reads them in stored order).
inline IndexedImage HeightMap(uint32_t seed) {
  IndexedImage img(kGridSize, kGridSize);
  img.Ramp(0, 255, {0, 0, 0}, {255, 255, 255});
  img.palette[0] = {0, 0, 0, 0};
  for (int y = 0; y < kGridSize; ++y) {
    for (int x = 0; x < kGridSize; ++x)
      img.At(x, y) = static_cast<uint8_t>(std::lround(HeightPixel(kGridSize - 1 - y, x, seed)));
  }
  return img;
}

// Ground seen from the air: a patchwork of fields with furrows, woods, and fine grain. Tileable.
inline RgbImage GroundTexture(uint32_t seed) {
  constexpr int kSize = 512, kFieldGrid = 6;
  const Rgb crops[] = {{112, 140, 62}, {150, 160, 80}, {176, 160, 96}, {96, 124, 58}, {140, 112, 76}, {126, 150, 70}};
  RgbImage img(kSize, kSize);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double fx = static_cast<double>(x) / kSize * kFieldGrid, fy = static_cast<double>(y) / kSize * kFieldGrid;
      // Nearest and second-nearest jittered field centre, wrapping around the tile.
      double best = 1e9, second = 1e9;
      int bestX = 0, bestY = 0;
      for (int cy = static_cast<int>(fy) - 1; cy <= static_cast<int>(fy) + 1; ++cy) {
        for (int cx = static_cast<int>(fx) - 1; cx <= static_cast<int>(fx) + 1; ++cx) {
          const int wx = Wrap(cx, kFieldGrid), wy = Wrap(cy, kFieldGrid);
          const double px = cx + 0.15 + 0.7 * Hash01(wx, wy, seed), py = cy + 0.15 + 0.7 * Hash01(wx, wy, seed + 1);
          const double d = (px - fx) * (px - fx) + (py - fy) * (py - fy);
          if (d < best) {
            second = best;
            best = d;
            bestX = wx;
            bestY = wy;
          } else if (d < second) {
            second = d;
          }
        }
      }
      const uint32_t field = Hash(bestX, bestY, seed + 2);
      Rgb c = crops[field % 6];
      const double angle = (field >> 8) % 4 * kPi / 4;
      const double furrow = std::sin((fx * std::cos(angle) + fy * std::sin(angle)) * 2 * kPi * 10);
      c = Scale(c, 0.93 + 0.07 * furrow);
      const double edge = std::sqrt(second) - std::sqrt(best);
      if (edge < 0.035) c = Mix(Rgb{88, 104, 56}, c, edge / 0.035);  // hedges between fields
      const double u = static_cast<double>(x) / kSize, v = static_cast<double>(y) / kSize;
      const double wood = TileFractal(u, v, 4, 4, 0.55, seed + 3);
      const double woodMask = Smooth(0.56, 0.6, wood);
      const double canopy = TileFractal(u, v, 64, 2, 0.5, seed + 4);
      c = Mix(c, Rgb{46 + 40 * canopy, 78 + 44 * canopy, 40 + 20 * canopy}, woodMask);
      const double grain = TileNoise(u, v, 128, seed + 5) - 0.5;
      img.Set(x, y, Scale(c, 0.92 + 0.25 * grain));
    }
  }
  return img;
}

// Sky around the camera, u once around, v from the zenith (row 0) to the nadir (last row). Each
// texel is painted from the direction it stands for: blue deepening towards the zenith, clouds on a
// flat layer seen in perspective (so they neither streak nor pinch at the pole), and from a little
// above the horizon down to the nadir the haze. The renderer lights the sky with 0.8 and adds a grey
// highlight of 70, so the haze texel is chosen to come out as the fog colour (223, 223, 239).
constexpr int kSkyWidth = 512, kSkyHeight = 256;
constexpr Rgb kSkyHaze{190, 190, 212};
inline RgbImage SkyTexture(uint32_t seed) {
  const Rgb zenith{12, 54, 172}, high{70, 116, 200};
  RgbImage img(kSkyWidth, kSkyHeight);
  for (int y = 0; y < kSkyHeight; ++y) {
    const double elevation = kPi / 2 - kPi * (y + 0.5) / kSkyHeight;
    const double up = std::sin(elevation);
    for (int x = 0; x < kSkyWidth; ++x) {
      if (up <= 0) {
        img.Set(x, y, kSkyHaze);
        continue;
      }
      const double azimuth = 2 * kPi * x / kSkyWidth;
      Rgb c = Mix(kSkyHaze, high, Smooth(0.06, 0.4, up));
      c = Mix(c, zenith, Smooth(0.3, 1.0, up));
      // The cloud layer: where the ray meets a plane above, stretched less towards the horizon.
      const double reach = std::cos(elevation) / (up + 0.12) * 0.11;
      const double px = 0.5 + reach * std::cos(azimuth), py = 0.5 + reach * std::sin(azimuth);
      const double cloud = TileFractal(px, py, 6, 5, 0.5, seed);
      const double amount = Smooth(0.5, 0.68, cloud) * Smooth(0.08, 0.3, up);
      const double body = TileFractal(px, py, 24, 2, 0.5, seed + 1);
      c = Mix(c, Mix(Rgb{206, 210, 226}, Rgb{250, 250, 252}, Smooth(0.3, 0.7, body)), amount * 0.92);
      img.Set(x, y, c);
    }
  }
  return img;
}

// Reflection map read through the sphere-map coordinates of the reflection pass: the disc of radius
// 0.25 around the centre is the sky (zenith at the centre), the ring out to 0.5 the ground below
// the horizon. A bright horizon, a sun and the landscape below make the surface read as polished
// metal from above and from below.
inline RgbImage ChromeTexture(uint32_t seed) {
  constexpr int kSize = 128;
  RgbImage img(kSize, kSize);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double s = (x + 0.5) / kSize - 0.5, t = (y + 0.5) / kSize - 0.5;
      const double r = std::sqrt(s * s + t * t);
      Rgb c;
      if (r < 0.25) {
        c = Mix(Rgb{36, 70, 150}, Rgb{236, 240, 255}, std::pow(r / 0.25, 3));
        const double sun = std::hypot(s + 0.08, t + 0.07);
        c = Mix(c, Rgb{255, 255, 250}, 1 - Smooth(0.015, 0.04, sun));
      } else {
        // Below the horizon the landscape: haze at the horizon, then fields and woods, a little
        // darker straight down (the corners, which the pass uses for straight down, included).
        // Painted bright, as the faces that reflect it face down and are lit at about half.
        const double d = Clamp01((r - 0.25) / 0.25);
        const double patch = TileNoise((x + 0.5) / kSize, (y + 0.5) / kSize, 8, seed);
        const Rgb land = Mix(Rgb{150, 190, 96}, Rgb{206, 180, 124}, Smooth(0.45, 0.6, patch));
        c = Mix(Rgb{206, 206, 222}, Mix(land, Scale(land, 0.75), d), Smooth(0.0, 0.2, d));
      }
      img.Set(x, y, c);
    }
  }
  return img;
}

// Fugu skin: u once around the body from its right side (0.25 the belly, 0.75 the back), v from the
// tail (0) to the head along the top 7/8 of the image; the bottom rows hold the fin membrane.
constexpr double kFuguBodyV = 0.875;
inline IndexedImage FuguTexture(uint32_t seed) {
  constexpr int kWidth = 256, kHeight = 128;
  IndexedImage img(kWidth, kHeight);
  img.Ramp(1, 63, {250, 246, 228}, {214, 206, 176});     // belly
  img.Ramp(64, 127, {214, 176, 84}, {150, 116, 52});     // back
  img.Ramp(128, 191, {92, 70, 40}, {48, 40, 30});        // spots
  img.Ramp(192, 223, {200, 190, 150}, {170, 150, 100});  // fins
  img.Ramp(224, 239, {24, 22, 26}, {60, 50, 40});        // eye and mouth
  img.Ramp(240, 255, {250, 250, 240}, {210, 200, 170});  // eye ring
  const int bodyRows = static_cast<int>(kHeight * kFuguBodyV);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = (x + 0.5) / kWidth, v = (y + 0.5) / bodyRows;
      const double grain = TileNoise(u, v, 32, seed);
      uint8_t index;
      if (y >= bodyRows) {
        const double ray = 0.5 + 0.5 * std::sin(u * 2 * kPi * 8);
        index = static_cast<uint8_t>(192 + std::lround(ray * 25 + grain * 6));
      } else {
        const double up = -std::sin(2 * kPi * u);  // 1 on the back, -1 on the belly
        const double backness = Smooth(-0.25, 0.15, up);
        const double spot = TileNoise(u, v, 24, seed + 1);
        if (backness > 0.5 && spot > 0.66) {
          index = static_cast<uint8_t>(128 + std::lround(grain * 40));
        } else if (backness > 0.5) {
          index = static_cast<uint8_t>(64 + std::lround((1 - v) * 40 + grain * 20));
        } else {
          index = static_cast<uint8_t>(1 + std::lround(grain * 60 * (0.5 + backness)));
        }
        // Eyes high on both flanks near the head, and the mouth at its tip.
        const double headV = 1 - (y + 0.5) / bodyRows;
        for (double eyeU : {0.96, 0.54}) {
          const double du = std::min(std::abs(u - eyeU), 1 - std::abs(u - eyeU)) * 2.4, dv = headV - 0.16;
          const double d = std::sqrt(du * du + dv * dv);
          if (d < 0.055)
            index = 224 + static_cast<uint8_t>(grain * 8);
          else if (d < 0.085)
            index = 240 + static_cast<uint8_t>(grain * 8);
        }
        if (headV < 0.03 && std::abs(u - 0.25) < 0.07) index = 230;
      }
      img.At(x, y) = index;
    }
  }
  return img;
}

// Leaves with holes: index 0 (the colour key) wherever no leaf covers the texel.
inline IndexedImage LeafTexture(uint32_t seed) {
  constexpr int kSize = 64;
  IndexedImage img(kSize, kSize);
  img.Ramp(1, 255, {34, 70, 26}, {130, 176, 70});
  img.palette[0] = {0, 0, 0, 0};
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double u = (x + 0.5) / kSize, v = (y + 0.5) / kSize;
      const double edge = std::max(std::abs(u - 0.5), std::abs(v - 0.5));
      const double cover = TileFractal(u, v, 8, 3, 0.5, seed) + 0.25 * (0.5 - edge);
      const double shade = TileFractal(u, v, 16, 2, 0.5, seed + 1);
      img.At(x, y) = cover < 0.5 ? 0 : static_cast<uint8_t>(1 + std::lround(254 * Clamp01(shade * 1.4 - 0.2)));
    }
  }
  return img;
}

inline IndexedImage BarkTexture(uint32_t seed) {
  constexpr int kWidth = 32, kHeight = 64;
  IndexedImage img(kWidth, kHeight);
  img.Ramp(1, 255, {52, 38, 26}, {136, 110, 82});
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = (x + 0.5) / kWidth, v = (y + 0.5) / kHeight;
      const double ridges = 0.5 + 0.5 * std::sin((u + 0.05 * TileNoise(u, v, 8, seed)) * 2 * kPi * 5);
      const double grain = TileNoise(u, v, 16, seed + 1);
      img.At(x, y) = static_cast<uint8_t>(1 + std::lround(254 * Clamp01(0.2 + 0.5 * ridges + 0.3 * grain)));
    }
  }
  return img;
}

// The plane's paint: four swatches in a 2 x 2 atlas with panel lines.
enum class PlanePaint { Metal, Yellow, Red, Dark };
inline UVRect PlaneSwatch(PlanePaint paint) {
  const int k = static_cast<int>(paint);
  const double u0 = (k % 2) * 0.5, v0 = (k / 2) * 0.5;
  return {u0 + 0.03, v0 + 0.03, u0 + 0.47, v0 + 0.47};
}
inline IndexedImage PlaneTexture(uint32_t seed) {
  constexpr int kSize = 64;
  const Rgb paints[] = {{180, 186, 190}, {236, 196, 40}, {190, 40, 36}, {58, 60, 66}};
  IndexedImage img(kSize, kSize);
  for (int k = 0; k < 4; ++k) img.Ramp(1 + 64 * k, 63 + 64 * k, Scale(paints[k], 0.8), paints[k]);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const int k = (x >= kSize / 2) + 2 * (y >= kSize / 2);
      const bool panel = (x % 8 == 0) || (y % 12 == 0);
      const double grain = TileNoise((x + 0.5) / kSize, (y + 0.5) / kSize, 16, seed);
      img.At(x, y) = static_cast<uint8_t>(1 + 64 * k + (panel ? 20 : 40 + std::lround(grain * 22)));
    }
  }
  return img;
}

// Building facade: one tile is 2 x 2 windows in concrete; the roof samples the concrete.
constexpr UV kConcreteTexel{0.02, 0.02};
inline IndexedImage BuildingTexture(uint32_t seed) {
  constexpr int kSize = 64;
  IndexedImage img(kSize, kSize);
  img.Ramp(1, 127, {150, 146, 138}, {208, 204, 196});  // concrete
  img.Ramp(128, 255, {40, 62, 96}, {150, 190, 226});   // glass
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double u = (x + 0.5) / kSize, v = (y + 0.5) / kSize;
      const int cx = x % 32, cy = y % 32;
      const bool glass = cx >= 6 && cx < 26 && cy >= 8 && cy < 26;
      const double grain = TileNoise(u, v, 16, seed);
      if (glass) {
        const double sheen =
            Clamp01(1.0 - (cy - 8) / 18.0 * 0.8 + 0.3 * (grain - 0.5)) * (0.6 + 0.4 * Hash01(x / 32, y / 32, seed + 1));
        img.At(x, y) = static_cast<uint8_t>(128 + std::lround(127 * sheen));
      } else {
        img.At(x, y) = static_cast<uint8_t>(1 + std::lround(126 * Clamp01(0.4 + 0.5 * grain - (cy == 26 ? 0.3 : 0))));
      }
    }
  }
  return img;
}

}  // namespace klvgen
