// Regression hashes of the software rasteriser: the colour and depth buffers after a frame like the
// benchmark's (sky dome, terrain, colour-keyed spheres; textured, fogged, Gouraud, specular) in every
// target and depth format, and after seeded random draws over every combination of target, texel,
// depth and render state. The expected values were recorded from the rasteriser once it evaluated
// depth, rhw and texture coordinates as start + index * step along each span; every path must keep
// drawing the same pixels, so a changed hash means changed output.
#include "platform/dx5/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/failed_frame.h"
#include "support/raster_scene.h"

namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001B3ull;
  return hash;
}

// SplitMix64: a fixed sequence on every platform, unlike the standard distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  float Uniform(float lo, float hi) { return lo + (hi - lo) * static_cast<float>(Next() >> 40) / 16777216.0f; }
  bool Chance(uint32_t percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

// Colour and depth buffers sized exactly, so a read or write past the last row is caught by the
// sanitizer build.
struct Buffers {
  std::vector<uint8_t> color, depth;
  RasterTarget target;
  RasterDepth depthBuffer;

  Buffers(int width, int height, RasterPixelFormat format, int depthBits) {
    int bytes = format == RasterPixelFormat::Xrgb32 ? 4 : 2;
    color.resize(size_t(width) * height * bytes);
    target = {color.data(), intptr_t(width) * bytes, width, height, format};
    int depthBytes = depthBits == 16 ? 2 : 4;
    depth.resize(depthBits == 0 ? 0 : size_t(width) * height * depthBytes);
    depthBuffer = {depth.data(), intptr_t(width) * depthBytes,
                   width,        height,
                   depthBytes,   depthBits == 16 ? 0xFFFFu : depthBits == 24 ? 0xFFFFFFu : 0xFFFFFF00u};
  }
  const RasterDepth* Depth() const { return depth.empty() ? nullptr : &depthBuffer; }
};

struct Format {
  RasterPixelFormat target;
  int depthBits;  // 0: no z-buffer
  const char* name;
};

struct Hashes {
  uint64_t color, depth;
};

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016llXull", static_cast<unsigned long long>(value));
  return text;
}

void ExpectHashes(const Buffers& buffers, const Hashes& expected, const std::string& name) {
  uint64_t color = Fnv1a(buffers.color), depth = Fnv1a(buffers.depth);
  EXPECT_EQ(color, expected.color) << name << " colour: " << Hex(color);
  EXPECT_EQ(depth, expected.depth) << name << " depth: " << Hex(depth);
  if (color != expected.color)
    ADD_FAILURE() << name << ": the frame drawn is " << WriteFailedFrame(buffers.target, name);
}

// The span routines a draw may use: the widest the processor has, the eight-pixel ones at most,
// and the four-pixel and scalar ones only. Every choice must draw the same pixels.
struct SpanPath {
  bool allowAvx2, allowAvx512;
  const char* name;
};
constexpr SpanPath kSpanPaths[] = {
    {true, true, ""}, {true, false, " without AVX-512"}, {false, false, " without AVX2"}};

// --- The benchmark-like frame ---------------------------------------------------------------

void DrawSceneFrame(Buffers& buffers, const SpanPath& path) {
  const int width = buffers.target.width, height = buffers.target.height;
  raster_scene::Scene scene;
  raster_scene::MakeScene(scene, width, height);

  RasterState rs;
  rs.cullMode = D3DCULL_NONE;
  rs.fog = true;
  rs.fogColor = 0xFFDFDFEFu;
  rs.colorKey = true;
  rs.allowAvx2 = path.allowAvx2;
  rs.allowAvx512 = path.allowAvx512;
  rs.viewportX1 = width;
  rs.viewportY1 = height;
  RasterFillColor(buffers.target, 0, 0, width, height, 0xDFDFEFu);
  if (buffers.Depth() != nullptr) RasterFillDepth(buffers.depthBuffer, 0, 0, width, height, 1.0f);
  for (auto [mesh, texture] :
       {std::pair{&scene.skyMesh, &scene.sky}, {&scene.terrain, &scene.ground}, {&scene.spheres, &scene.leaves}})
    RasterDrawTriangles(rs, buffers.target, buffers.Depth(), texture, mesh->vertices.data(), mesh->vertices.size(),
                        mesh->indices.data(), mesh->indices.size(), true, nullptr);
}

TEST(RasterGolden, BenchmarkFrameInEveryFormat) {
  struct Case {
    Format format;
    Hashes expected;
  };
  const Case cases[] = {
      {{RasterPixelFormat::Rgb565, 16, "565 z16"}, {0x663667CE966E6657ull, 0xA974DED6C442427Bull}},
      {{RasterPixelFormat::Rgb565, 24, "565 z24"}, {0x663667CE966E6657ull, 0xFE7FBC18F3B33B16ull}},
      {{RasterPixelFormat::Rgb565, 32, "565 z32"}, {0x663667CE966E6657ull, 0x8166874925031D74ull}},
      {{RasterPixelFormat::Rgb555, 16, "555 z16"}, {0xC0F22FB9A4E691E1ull, 0xA974DED6C442427Bull}},
      {{RasterPixelFormat::Rgb555, 32, "555 z32"}, {0xC0F22FB9A4E691E1ull, 0x8166874925031D74ull}},
      {{RasterPixelFormat::Xrgb32, 16, "x32 z16"}, {0x5C37AAD669012AF6ull, 0xA974DED6C442427Bull}},
      {{RasterPixelFormat::Xrgb32, 24, "x32 z24"}, {0x5C37AAD669012AF6ull, 0xFE7FBC18F3B33B16ull}},
      {{RasterPixelFormat::Xrgb32, 32, "x32 z32"}, {0x5C37AAD669012AF6ull, 0x8166874925031D74ull}},
      {{RasterPixelFormat::Rgb565, 0, "565 no z"}, {0xFBED4E4C25629C9Aull, 0xCBF29CE484222325ull}},
  };
  for (const Case& c : cases)
    for (const SpanPath& path : kSpanPaths) {
      Buffers buffers(640, 480, c.format.target, c.format.depthBits);
      DrawSceneFrame(buffers, path);
      ExpectHashes(buffers, c.expected, std::string(c.format.name) + path.name);
    }
}

// --- Seeded random draws ------------------------------------------------------------------------

constexpr int kTextureKinds = 6;  // none, Indexed8, 565, 555, 4444-like, Xrgb32

// A texture of a random size with random texels and a random colour key range.
struct RandomTexture {
  std::vector<uint8_t> bits;
  RasterTexture texture;

  RandomTexture(Random& random, int kind) {
    const int sizes[] = {1, 3, 8, 13, 64};
    texture.width = sizes[random.Below(5)];
    texture.height = sizes[random.Below(5)];
    int bytes = kind == 1 ? 1 : kind == 5 ? 4 : 2;
    texture.pitch = intptr_t(texture.width) * bytes + intptr_t(random.Below(3)) * bytes;
    bits.resize(size_t(texture.pitch) * texture.height);
    for (uint8_t& b : bits) b = static_cast<uint8_t>(random.Below(kind == 1 ? 6 : 256));  // few indices: keys hit
    texture.bits = bits.data();
    texture.format = kind == 1   ? RasterTexelFormat::Indexed8
                     : kind == 5 ? RasterTexelFormat::Xrgb32
                                 : RasterTexelFormat::Direct16;
    for (uint32_t& entry : texture.palette) entry = static_cast<uint32_t>(random.Next());
    if (kind == 2) texture.red = {11, 5}, texture.green = {5, 6}, texture.blue = {0, 5};
    if (kind == 3) texture.red = {10, 5}, texture.green = {5, 5}, texture.blue = {0, 5};
    if (kind == 4) texture.red = {8, 4}, texture.green = {4, 4}, texture.blue = {0, 4};
    texture.hasColorKey = random.Chance(70);
    uint32_t maxRaw = kind == 1 ? 5 : kind == 5 ? 0xFFFFFF : 0xFFFF;
    texture.keyLow = random.Below(maxRaw + 1);
    texture.keyHigh = texture.keyLow + random.Below(std::min<uint32_t>(maxRaw - texture.keyLow, 0x4000) + 1);
  }
};

D3DTLVERTEX RandomVertex(Random& random, int width, int height) {
  D3DTLVERTEX v;
  float spread = random.Chance(10) ? 20000.0f : 1.4f;
  v.sx = random.Uniform(-0.2f, 1.2f) * width * (spread > 2 ? spread / width : 1.0f);
  v.sy = random.Uniform(-0.2f, 1.2f) * height * (spread > 2 ? spread / height : 1.0f);
  v.sz = random.Uniform(-0.2f, 1.2f);
  v.rhw = random.Uniform(0.01f, 2.0f);
  v.tu = random.Uniform(-3.0f, 3.0f);
  v.tv = random.Uniform(-3.0f, 3.0f);
  v.color = static_cast<D3DCOLOR>(random.Next());
  v.specular = static_cast<D3DCOLOR>(random.Next());
  if (random.Chance(1)) v.sx = std::numeric_limits<float>::quiet_NaN();
  return v;
}

RasterState RandomState(Random& random, int width, int height) {
  RasterState rs;
  rs.zEnable = random.Chance(85);
  rs.zWrite = random.Chance(70);
  rs.perspective = random.Chance(60);
  rs.gouraud = random.Chance(80);
  const DWORD culls[] = {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW};
  rs.cullMode = culls[random.Below(3)];
  rs.specular = random.Chance(60);
  rs.fog = random.Chance(60);
  rs.fogColor = static_cast<D3DCOLOR>(random.Next());
  rs.colorKey = random.Chance(60);
  rs.viewportX0 = random.Chance(70) ? 0 : int(random.Below(width / 2));
  rs.viewportY0 = random.Chance(70) ? 0 : int(random.Below(height / 2));
  rs.viewportX1 = random.Chance(70) ? width : width / 2 + int(random.Below(width / 2));
  rs.viewportY1 = random.Chance(70) ? height : height / 2 + int(random.Below(height / 2));
  return rs;
}

// Draws about 60 random calls into buffers of one format, cycling through the texture kinds,
// counting into `stats`.
void DrawRandomCalls(Buffers& buffers, Random& random, const SpanPath& path, RasterStats& stats) {
  const int width = buffers.target.width, height = buffers.target.height;
  for (uint8_t& b : buffers.color) b = static_cast<uint8_t>(random.Next());
  for (size_t i = 0; i < buffers.depth.size(); ++i)  // high bytes set, so many pixels pass
    buffers.depth[i] = static_cast<uint8_t>(random.Next() | (i % 2 == 1 ? 0xC0 : 0));
  for (int call = 0; call < 10 * kTextureKinds; ++call) {
    int kind = call % kTextureKinds;
    RandomTexture texture(random, kind == 0 ? 1 : kind);
    RasterState rs = RandomState(random, width, height);
    rs.allowAvx2 = path.allowAvx2;
    rs.allowAvx512 = path.allowAvx512;
    std::vector<D3DTLVERTEX> vertices(3 + random.Below(10));
    for (D3DTLVERTEX& v : vertices) v = RandomVertex(random, width, height);
    std::vector<WORD> indices(3 * (1 + random.Below(6)));
    for (WORD& index : indices) index = WORD(random.Below(uint32_t(vertices.size()) + 1));  // a few out of range
    RasterDrawTriangles(rs, buffers.target, buffers.Depth(), kind == 0 ? nullptr : &texture.texture, vertices.data(),
                        vertices.size(), indices.data(), indices.size(), random.Chance(75), &stats);
  }
}

TEST(RasterGolden, SeededRandomDrawsInEveryCombination) {
  struct Case {
    Format format;
    Hashes expected;
  };
  const Case cases[] = {
      {{RasterPixelFormat::Rgb565, 0, "565 no z"}, {0xD852806F925439E9ull, 0xCBF29CE484222325ull}},
      {{RasterPixelFormat::Rgb565, 16, "565 z16"}, {0x3ED059315ADDCD20ull, 0x58E64FA3C7BAAC00ull}},
      {{RasterPixelFormat::Rgb565, 24, "565 z24"}, {0x6CE06D68241F243Cull, 0xA014E890AB642534ull}},
      {{RasterPixelFormat::Rgb565, 32, "565 z32"}, {0x3E2B765DD4D63A3Cull, 0x4A901B0B3FD2663Cull}},
      {{RasterPixelFormat::Rgb555, 0, "555 no z"}, {0xAEBFAC14C2F718DAull, 0xCBF29CE484222325ull}},
      {{RasterPixelFormat::Rgb555, 16, "555 z16"}, {0x51F5B1BEC200DAB3ull, 0x1DED3411C1B9506Full}},
      {{RasterPixelFormat::Rgb555, 24, "555 z24"}, {0x467BD55DE1708E0Cull, 0xFB6E9885E95159BDull}},
      {{RasterPixelFormat::Rgb555, 32, "555 z32"}, {0x74234A1ECEE4B39Dull, 0xB33CD87F1DBE684Cull}},
      {{RasterPixelFormat::Xrgb32, 0, "x32 no z"}, {0xBE90012A2195DD86ull, 0xCBF29CE484222325ull}},
      {{RasterPixelFormat::Xrgb32, 16, "x32 z16"}, {0x3903C3BF7E6FB8B3ull, 0x5F476C9A4D67B9EEull}},
      {{RasterPixelFormat::Xrgb32, 24, "x32 z24"}, {0xC4E04031DF80DCC6ull, 0xB296D523F1F3A20Dull}},
      {{RasterPixelFormat::Xrgb32, 32, "x32 z32"}, {0x68CC29F4BC9203F5ull, 0x828798111E87B05Dull}},
  };
  // Every path also counts the same pixels as passing the depth test.
  std::vector<uint64_t> passed;
  for (const SpanPath& path : kSpanPaths) {
    uint64_t seed = 1;
    for (const Case& c : cases) {
      // Odd sizes, so spans of every length end at the right edge of the buffer.
      Buffers buffers(61, 37, c.format.target, c.format.depthBits);
      Random random(seed++);
      RasterStats stats;
      for (int round = 0; round < 5; ++round) DrawRandomCalls(buffers, random, path, stats);
      ExpectHashes(buffers, c.expected, std::string(c.format.name) + path.name);
      if (passed.size() < std::size(cases)) passed.push_back(stats.depthPassed);
      EXPECT_EQ(stats.depthPassed, passed[seed - 2]) << c.format.name << path.name;
    }
  }
}

// The rectangle fills against a pixel-by-pixel reference: rectangles of every width and phase,
// partly outside the buffer, in 16- and 32-bit colour and depth.
TEST(RasterGolden, FillsWriteExactlyTheirRectangle) {
  Random random(99);
  for (int round = 0; round < 200; ++round) {
    const bool wide = round % 2 == 0;
    Buffers buffers(23, 5, wide ? RasterPixelFormat::Xrgb32 : RasterPixelFormat::Rgb565, wide ? 32 : 16);
    for (uint8_t& b : buffers.color) b = static_cast<uint8_t>(random.Next());
    for (uint8_t& b : buffers.depth) b = static_cast<uint8_t>(random.Next());
    std::vector<uint8_t> color = buffers.color, depth = buffers.depth;
    int x0 = int(random.Below(30)) - 3, x1 = int(random.Below(30)) - 3;
    int y0 = int(random.Below(8)) - 2, y1 = int(random.Below(8)) - 2;
    auto fillColor = static_cast<D3DCOLOR>(random.Next());
    float fillDepth = random.Uniform(0.0f, 1.0f);
    RasterFillColor(buffers.target, x0, y0, x1, y1, fillColor);
    RasterFillDepth(buffers.depthBuffer, x0, y0, x1, y1, fillDepth);
    const int bytes = wide ? 4 : 2;
    uint32_t pixel = wide
                         ? 0xFF000000u | fillColor
                         : ((fillColor >> 19 & 0x1F) << 11) | ((fillColor >> 10 & 0x3F) << 5) | (fillColor >> 3 & 0x1F);
    auto stored = static_cast<uint32_t>(static_cast<double>(fillDepth) * buffers.depthBuffer.maxValue);
    for (int y = std::max(y0, 0); y < std::min(y1, 5); ++y)
      for (int x = std::max(x0, 0); x < std::min(x1, 23); ++x) {
        std::memcpy(&color[size_t(y * 23 + x) * bytes], &pixel, size_t(bytes));
        std::memcpy(&depth[size_t(y * 23 + x) * bytes], &stored, size_t(bytes));
      }
    ASSERT_EQ(buffers.color, color) << "round " << round;
    ASSERT_EQ(buffers.depth, depth) << "round " << round;
  }
}

// A power-of-two axis takes floor(t * size) & (size - 1): -0.3 on four texels is texel 2. An index
// that leaves 32 bits (a billion whole textures away, either way) is texel 0, on every path.
TEST(RasterGolden, TexelIndicesBeyond32BitsWrapToTexelZeroOnEveryPath) {
  std::vector<uint32_t> texels(16);
  for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0x0A1420u * uint32_t(i + 1);
  RasterTexture texture;
  texture.bits = reinterpret_cast<const uint8_t*>(texels.data());
  texture.pitch = 16;
  texture.width = texture.height = 4;
  const struct {
    float t;
    size_t texel;
  } cases[] = {{-0.3f, 10}, {1.2f, 0}, {-3e9f, 0}, {3e9f, 0}, {-1e20f, 0}};
  for (const auto& c : cases)
    for (const SpanPath& path : kSpanPaths) {
      Buffers buffers(37, 3, RasterPixelFormat::Xrgb32, 0);
      RasterState rs;
      rs.cullMode = D3DCULL_NONE;
      rs.allowAvx2 = path.allowAvx2;
      rs.allowAvx512 = path.allowAvx512;
      rs.viewportX1 = 37;
      rs.viewportY1 = 3;
      std::vector<D3DTLVERTEX> quad(4);
      for (size_t i = 0; i < quad.size(); ++i) {
        quad[i].sx = i % 2 == 0 ? 0.0f : 37.0f;
        quad[i].sy = i < 2 ? 0.0f : 3.0f;
        quad[i].sz = 0.5f;
        quad[i].rhw = 1.0f;
        quad[i].color = 0xFFFFFFFFu;
        quad[i].tu = quad[i].tv = c.t;
      }
      const WORD indices[] = {0, 1, 2, 1, 3, 2};
      RasterDrawTriangles(rs, buffers.target, nullptr, &texture, quad.data(), quad.size(), indices, 6, false, nullptr);
      for (size_t i = 0; i < buffers.color.size(); i += 4) {
        uint32_t pixel;
        std::memcpy(&pixel, &buffers.color[i], 4);
        ASSERT_EQ(pixel & 0xFFFFFFu, texels[c.texel]) << "t " << c.t << path.name << ", pixel " << i / 4;
      }
    }
}

// Textures drawn about as large as their size or larger, where groups of pixels take their texels
// from a window of two texel rows: at random offsets, across the texture's wrap and up to its last
// column and row, every path draws the texels the one-pixel path draws. The texture's allocation
// ends at its last texel, so a read past it is caught by the sanitizer build. The last two have
// rows and sides longer than 32767 texels, more than a window's 16-bit column and row can number.
TEST(RasterGolden, MagnifiedTexturesDrawTheSameTexelsOnEveryPath) {
  struct Size {
    int width, height, pitchWords;
  };
  const Size sizes[] = {{16, 2, 16},  {17, 3, 19},       {32, 4, 32},    {15, 8, 15},
                        {64, 64, 67}, {32768, 3, 32768}, {20, 40000, 20}};
  constexpr int kWidth = 67, kHeight = 9;
  Random random(7);
  for (const Size& size : sizes) {
    std::vector<uint32_t> texels(size_t(size.pitchWords) * (size.height - 1) + size_t(size.width));
    for (uint32_t& texel : texels) texel = static_cast<uint32_t>(random.Next());
    RasterTexture texture;
    texture.bits = reinterpret_cast<const uint8_t*>(texels.data());
    texture.pitch = 4 * intptr_t(size.pitchWords);
    texture.width = size.width;
    texture.height = size.height;
    for (int round = 0; round < 24; ++round) {
      // From 0.2 to 1.2 texels a pixel across, less down, sometimes slanted, in perspective or not.
      const float u0 = random.Uniform(-2.0f, 2.0f), v0 = random.Uniform(-2.0f, 2.0f);
      const float uSpan = random.Uniform(0.2f, 1.2f) * kWidth / float(size.width);
      const float vSpan = random.Uniform(0.1f, 1.0f) * kHeight / float(size.height);
      const float slant = random.Chance(50) ? 0.0f : random.Uniform(-0.3f, 0.3f);
      std::vector<D3DTLVERTEX> quad(4);
      for (size_t i = 0; i < quad.size(); ++i) {
        const bool right = i % 2 == 1, bottom = i >= 2;
        quad[i].sx = right ? float(kWidth) : 0.0f;
        quad[i].sy = bottom ? float(kHeight) : 0.0f;
        quad[i].sz = 0.5f;
        quad[i].rhw = random.Uniform(0.5f, 1.5f);
        quad[i].color = 0xFFFFFFFFu;
        quad[i].tu = u0 + (right ? uSpan : 0.0f);
        quad[i].tv = v0 + (bottom ? vSpan : 0.0f) + (right ? slant : 0.0f);
      }
      const WORD indices[] = {0, 1, 2, 1, 3, 2};
      std::vector<uint8_t> reference;
      for (const SpanPath& path : {kSpanPaths[2], kSpanPaths[1], kSpanPaths[0]}) {
        Buffers buffers(kWidth, kHeight, RasterPixelFormat::Xrgb32, 0);
        RasterState rs;
        rs.cullMode = D3DCULL_NONE;
        rs.perspective = round % 2 == 0;
        rs.allowAvx2 = path.allowAvx2;
        rs.allowAvx512 = path.allowAvx512;
        rs.viewportX1 = kWidth;
        rs.viewportY1 = kHeight;
        RasterDrawTriangles(rs, buffers.target, nullptr, &texture, quad.data(), quad.size(), indices, 6, false,
                            nullptr);
        if (reference.empty()) reference = buffers.color;
        ASSERT_EQ(buffers.color, reference) << size.width << " x " << size.height << ", round " << round << path.name;
      }
    }
  }
}

}  // namespace
