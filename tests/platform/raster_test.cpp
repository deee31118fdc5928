// Exact-pixel tests of the software rasteriser on small targets in plain memory.
#include "platform/dx5/raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr uint32_t kGuard = 0xDEADBEEFu;
constexpr int kMargin = 4;  // guard pixels around the target on every side

// A 32-bit target and a 16-bit depth buffer surrounded by guard pixels that must never change.
struct Canvas {
  int width, height;
  std::vector<uint32_t> color;  // (width + 2 margin) x (height + 2 margin)
  std::vector<uint16_t> depth;

  Canvas(int w, int h) : width(w), height(h), color(Size(), kGuard), depth(Size(), 0xBEEF) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        Pixel(x, y) = 0;
        Depth(x, y) = 0xFFFF;
      }
  }
  size_t Size() const { return size_t(width + 2 * kMargin) * (height + 2 * kMargin); }
  size_t Index(int x, int y) const { return size_t(y + kMargin) * (width + 2 * kMargin) + (x + kMargin); }
  uint32_t& Pixel(int x, int y) { return color[Index(x, y)]; }
  uint16_t& Depth(int x, int y) { return depth[Index(x, y)]; }

  RasterTarget Target() {
    RasterTarget t;
    t.bits = reinterpret_cast<uint8_t*>(&Pixel(0, 0));
    t.pitch = intptr_t(width + 2 * kMargin) * 4;
    t.width = width;
    t.height = height;
    t.format = RasterPixelFormat::Xrgb32;
    return t;
  }
  RasterDepth DepthBuffer() {
    RasterDepth d;
    d.bits = reinterpret_cast<uint8_t*>(&Depth(0, 0));
    d.pitch = intptr_t(width + 2 * kMargin) * 2;
    d.width = width;
    d.height = height;
    d.bytesPerPixel = 2;
    d.maxValue = 0xFFFF;
    return d;
  }
  bool GuardsIntact() const {
    for (int y = -kMargin; y < height + kMargin; ++y)
      for (int x = -kMargin; x < width + kMargin; ++x) {
        bool inside = x >= 0 && y >= 0 && x < width && y < height;
        size_t i = Index(x, y);
        if (!inside && (color[i] != kGuard || depth[i] != 0xBEEF)) return false;
      }
    return true;
  }
  // The covered pixels as rows of '#' and '.', for readable expectations.
  std::string Mask() {
    std::string out;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) out += Pixel(x, y) != 0 ? '#' : '.';
      out += '\n';
    }
    return out;
  }
};

std::string Filled(int w, int h, char c) {
  std::string out;
  for (int y = 0; y < h; ++y) out += std::string(size_t(w), c) + "\n";
  return out;
}

D3DTLVERTEX V(float x, float y, D3DCOLOR color = 0xFFFF0000u, float z = 0.5f, float rhw = 1.0f, float u = 0.0f,
              float v = 0.0f, D3DCOLOR specular = 0xFF000000u) {
  return D3DTLVERTEX{x, y, z, rhw, color, specular, u, v};
}

RasterState PlainState(int w, int h) {
  RasterState s;
  s.zEnable = false;
  s.cullMode = D3DCULL_NONE;
  s.specular = false;
  s.fog = false;
  s.viewportX1 = w;
  s.viewportY1 = h;
  return s;
}

void Draw(Canvas& canvas, const RasterState& state, const std::vector<D3DTLVERTEX>& vertices,
          const std::vector<WORD>& indices, bool clip = true, const RasterTexture* texture = nullptr,
          bool withDepth = false, RasterStats* stats = nullptr) {
  RasterTarget target = canvas.Target();
  RasterDepth depth = canvas.DepthBuffer();
  RasterDrawTriangles(state, target, withDepth ? &depth : nullptr, texture, vertices.data(), vertices.size(),
                      indices.data(), indices.size(), clip, stats);
}

TEST(Raster, FlatTriangleCoversCentresWithTopLeftRule) {
  Canvas canvas(6, 6);
  Draw(canvas, PlainState(6, 6), {V(0, 0), V(4, 0), V(0, 4)}, {0, 1, 2});
  // Centres on the top and left edges are in, those on the right-hand diagonal are out.
  EXPECT_EQ(canvas.Mask(),
            "####..\n"
            "###...\n"
            "##....\n"
            "#.....\n"
            "......\n"
            "......\n");
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFFFF0000u);
  EXPECT_TRUE(canvas.GuardsIntact());
}

TEST(Raster, FlatShadingTakesTheFirstVertexColour) {
  Canvas canvas(6, 6);
  RasterState state = PlainState(6, 6);
  state.gouraud = false;
  Draw(canvas, state, {V(0, 0, 0xFF102030u), V(6, 0, 0xFFFFFFFFu), V(0, 6, 0xFF000000u)}, {0, 1, 2});
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFF102030u);
  EXPECT_EQ(canvas.Pixel(4, 1), 0xFF102030u);
  EXPECT_EQ(canvas.Pixel(1, 4), 0xFF102030u);
}

TEST(Raster, GouraudInterpolatesBetweenVertexColours) {
  Canvas canvas(9, 2);
  RasterState state = PlainState(9, 2);
  Draw(canvas, state,
       {V(0, -1, 0xFF000000u), V(8, -1, 0xFFFF0000u), V(8, 8, 0xFFFF0000u), V(0, -1, 0xFF000000u), V(8, 8, 0xFFFF0000u),
        V(0, 8, 0xFF000000u)},
       {0, 1, 2, 3, 4, 5});
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFF000000u);
  EXPECT_EQ(canvas.Pixel(4, 0), 0xFF800000u);  // 127.5 rounds up
  EXPECT_EQ(canvas.Pixel(8, 1) & 0xFF0000u, 0u) << "column 8 lies on the right edge";
}

// Pixel centres strictly inside a convex polygon fanned into triangles are drawn exactly once;
// centres outside are never drawn.
TEST(Raster, TrianglesSharingEdgesDrawEveryPixelOnce) {
  const int size = 24;
  std::vector<D3DTLVERTEX> ring;
  ring.push_back(V(11.3f, 12.1f));  // fan centre
  const int sides = 13;
  for (int i = 0; i < sides; ++i) {
    float a = 6.2831853f * float(i) / sides;
    ring.push_back(V(11.3f + 10.37f * std::cos(a), 12.1f + 9.71f * std::sin(a)));
  }
  std::vector<int> count(size * size, 0);
  for (int i = 0; i < sides; ++i) {
    Canvas canvas(size, size);
    Draw(canvas, PlainState(size, size), ring, {0, WORD(1 + i), WORD(1 + (i + 1) % sides)});
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) count[y * size + x] += canvas.Pixel(x, y) != 0 ? 1 : 0;
  }
  // Inside test against the polygon with a small margin: the fill rule decides only on edges.
  auto insideBy = [&](float px, float py) {
    float worst = 1e9f;
    for (int i = 0; i < sides; ++i) {
      const D3DTLVERTEX& a = ring[1 + i];
      const D3DTLVERTEX& b = ring[1 + (i + 1) % sides];
      float ex = b.sx - a.sx, ey = b.sy - a.sy;
      float d = (ex * (py - a.sy) - ey * (px - a.sx)) / std::sqrt(ex * ex + ey * ey);
      worst = std::min(worst, d);
    }
    return worst;
  };
  int inside = 0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      float d = insideBy(float(x), float(y));
      int c = count[y * size + x];
      EXPECT_LE(c, 1) << x << "," << y;
      if (d > 0.1f) {
        EXPECT_EQ(c, 1) << x << "," << y;
        ++inside;
      }
      if (d < -0.1f) {
        EXPECT_EQ(c, 0) << x << "," << y;
      }
    }
  EXPECT_GT(inside, 200);
}

TEST(Raster, DepthTestKeepsTheNearerTriangleInEitherOrder) {
  std::vector<D3DTLVERTEX> near = {V(-1, -1, 0xFFFF0000u, 0.3f), V(9, -1, 0xFFFF0000u, 0.3f),
                                   V(-1, 9, 0xFFFF0000u, 0.3f)};
  std::vector<D3DTLVERTEX> far = {V(-1, -1, 0xFF00FF00u, 0.6f), V(9, -1, 0xFF00FF00u, 0.6f),
                                  V(9, 9, 0xFF00FF00u, 0.6f)};
  RasterState state = PlainState(8, 8);
  state.zEnable = true;
  for (int order = 0; order < 2; ++order) {
    Canvas canvas(8, 8);
    Draw(canvas, state, order == 0 ? near : far, {0, 1, 2}, true, nullptr, true);
    Draw(canvas, state, order == 0 ? far : near, {0, 1, 2}, true, nullptr, true);
    EXPECT_EQ(canvas.Pixel(1, 1), 0xFFFF0000u) << "overlap, order " << order;
    EXPECT_EQ(canvas.Pixel(7, 6), 0xFF00FF00u) << "far only, order " << order;
    EXPECT_EQ(canvas.Depth(1, 1), uint16_t(0.3f * 65535.0f));
    EXPECT_EQ(canvas.Depth(7, 6), uint16_t(0.6f * 65535.0f));
    EXPECT_TRUE(canvas.GuardsIntact());
  }
}

TEST(Raster, EqualDepthPassesAndZWriteOffKeepsTheBuffer) {
  Canvas canvas(4, 4);
  RasterState state = PlainState(4, 4);
  state.zEnable = true;
  std::vector<WORD> tri = {0, 1, 2};
  Draw(canvas, state, {V(-1, -1, 0xFF0000FFu), V(9, -1, 0xFF0000FFu), V(-1, 9, 0xFF0000FFu)}, tri, true, nullptr, true);
  state.zWrite = false;
  Draw(canvas, state, {V(-1, -1, 0xFF00FF00u, 0.5f), V(9, -1, 0xFF00FF00u, 0.5f), V(-1, 9, 0xFF00FF00u, 0.1f)}, tri,
       true, nullptr, true);
  EXPECT_EQ(canvas.Pixel(1, 1), 0xFF00FF00u) << "nearer or equal depth passes";
  EXPECT_EQ(canvas.Depth(1, 1), uint16_t(0.5f * 65535.0f)) << "no depth write";
}

TEST(Raster, CullModesDropTheWindingTheyName) {
  // On screen (y down) 0 -> 1 -> 2 runs clockwise; the reversed order runs counter-clockwise.
  std::vector<D3DTLVERTEX> v = {V(0, 0), V(4, 0), V(0, 4)};
  std::vector<WORD> clockwise = {0, 1, 2}, counter = {0, 2, 1};
  struct Case {
    DWORD mode;
    bool drawsClockwise, drawsCounter;
  } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}};
  for (const Case& c : cases) {
    RasterState state = PlainState(6, 6);
    state.cullMode = c.mode;
    Canvas a(6, 6), b(6, 6);
    Draw(a, state, v, clockwise);
    Draw(b, state, v, counter);
    EXPECT_EQ(a.Pixel(1, 1) != 0, c.drawsClockwise) << c.mode;
    EXPECT_EQ(b.Pixel(1, 1) != 0, c.drawsCounter) << c.mode;
  }
}

// A 2 x 2 palettised texture: index 0 (transparent with the key) top-left, then 1, 2, 3.
struct Texture2x2 {
  uint8_t texels[4] = {0, 1, 2, 3};
  RasterTexture texture;
  Texture2x2() {
    texture.bits = texels;
    texture.pitch = 2;
    texture.width = 2;
    texture.height = 2;
    texture.format = RasterTexelFormat::Indexed8;
    texture.palette[0] = 0x000000FF;
    texture.palette[1] = 0x00FF0000;
    texture.palette[2] = 0x0000FF00;
    texture.palette[3] = 0x00FFFFFF;
    texture.hasColorKey = true;
  }
};

// Two triangles covering the 4 x 4 target with the texture once: each texel covers 2 x 2 pixels.
std::vector<D3DTLVERTEX> TexturedQuad(float z = 0.5f, D3DCOLOR color = 0xFFFFFFFFu, D3DCOLOR specular = 0xFF000000u) {
  return {V(0, 0, color, z, 1, 0, 0, specular), V(4, 0, color, z, 1, 1, 0, specular),
          V(4, 4, color, z, 1, 1, 1, specular), V(0, 4, color, z, 1, 0, 1, specular)};
}
const std::vector<WORD> kQuad = {0, 1, 2, 0, 2, 3};

TEST(Raster, ColourKeyedTexelsDrawNeitherColourNorDepth) {
  Texture2x2 tex;
  RasterState state = PlainState(4, 4);
  state.zEnable = true;
  state.colorKey = true;
  Canvas canvas(4, 4);
  Draw(canvas, state, TexturedQuad(), kQuad, true, &tex.texture, true);
  EXPECT_EQ(canvas.Mask(),
            "..##\n"
            "..##\n"
            "####\n"
            "####\n");
  EXPECT_EQ(canvas.Depth(0, 0), 0xFFFF);
  EXPECT_EQ(canvas.Pixel(2, 0), 0xFFFF0000u);
  EXPECT_EQ(canvas.Pixel(0, 2), 0xFF00FF00u);
  EXPECT_EQ(canvas.Pixel(3, 3), 0xFFFFFFFFu);

  state.colorKey = false;
  Canvas unkeyed(4, 4);
  Draw(unkeyed, state, TexturedQuad(), kQuad, true, &tex.texture, true);
  EXPECT_EQ(unkeyed.Pixel(0, 0), 0xFF0000FFu);
}

// Palette textures are drawn from a 32-bit copy the rasteriser keeps; changing a texel, the palette
// or the key in place (same memory) must show in the next draw.
TEST(Raster, PaletteTexturesChangedInPlaceDrawTheirNewTexels) {
  Texture2x2 tex;
  RasterState state = PlainState(4, 4);
  state.colorKey = true;
  auto drawn = [&] {
    Canvas canvas(4, 4);
    Draw(canvas, state, TexturedQuad(), kQuad, true, &tex.texture);
    return std::vector<uint32_t>{canvas.Pixel(0, 0), canvas.Pixel(2, 0), canvas.Pixel(0, 2)};
  };
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{0, 0xFFFF0000u, 0xFF00FF00u}));
  tex.texels[1] = 2;  // a texel
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{0, 0xFF00FF00u, 0xFF00FF00u}));
  tex.texture.palette[2] = 0x00123456;  // the palette
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{0, 0xFF123456u, 0xFF123456u}));
  tex.texture.keyLow = tex.texture.keyHigh = 2;  // the key
  EXPECT_EQ(drawn(), (std::vector<uint32_t>{0xFF0000FFu, 0, 0}));
}

TEST(Raster, TextureModulatesDiffuseAndWraps) {
  Texture2x2 tex;
  RasterState state = PlainState(4, 4);
  Canvas canvas(4, 4);
  // Coordinates 1..2 wrap onto the same texels as 0..1.
  std::vector<D3DTLVERTEX> v = {V(0, 0, 0xFF808080u, 0.5f, 1, 1, 1), V(4, 0, 0xFF808080u, 0.5f, 1, 2, 1),
                                V(4, 4, 0xFF808080u, 0.5f, 1, 2, 2), V(0, 4, 0xFF808080u, 0.5f, 1, 1, 2)};
  Draw(canvas, state, v, kQuad, true, &tex.texture);
  EXPECT_EQ(canvas.Pixel(2, 0), 0xFF800000u);
  EXPECT_EQ(canvas.Pixel(3, 3), 0xFF808080u);
  EXPECT_EQ(canvas.Pixel(0, 0), 0xFF000080u);
}

// 32-bit texels are fetched by row and column; rows that are not a whole number of 32-bit words
// apart must still give each pixel its own texel, whichever span routine draws them.
TEST(Raster, ThirtyTwoBitTexelsDrawTheSameAtAnyRowPitch) {
  constexpr int kSide = 8, kPixels = 32;
  auto drawWithPitch = [&](int pitch) {
    std::vector<uint8_t> bits(size_t(pitch) * kSide + 4);
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const uint32_t texel = 0x00102030u + uint32_t(y) * 0x00200000u + uint32_t(x) * 0x00001010u;
        std::memcpy(&bits[size_t(y) * pitch + size_t(x) * 4], &texel, 4);
      }
    RasterTexture texture;
    texture.bits = bits.data();
    texture.pitch = pitch;
    texture.width = kSide;
    texture.height = kSide;
    texture.format = RasterTexelFormat::Xrgb32;
    Canvas canvas(kPixels, kPixels);
    const auto side = static_cast<float>(kPixels);
    std::vector<D3DTLVERTEX> v = {V(0, 0, 0xFFFFFFFFu, 0.5f, 1, 0, 0), V(side, 0, 0xFFFFFFFFu, 0.5f, 1, 1, 0),
                                  V(side, side, 0xFFFFFFFFu, 0.5f, 1, 1, 1), V(0, side, 0xFFFFFFFFu, 0.5f, 1, 0, 1)};
    Draw(canvas, PlainState(kPixels, kPixels), v, kQuad, true, &texture);
    return canvas.color;
  };
  const std::vector<uint32_t> aligned = drawWithPitch(kSide * 4), offset = drawWithPitch(kSide * 4 + 2);
  EXPECT_EQ(aligned, offset);
  Canvas expected(kPixels, kPixels);
  expected.color = aligned;
  EXPECT_EQ(expected.Pixel(5 * 4 + 1, 3 * 4 + 2), 0xFF000000u | (0x00102030u + 3 * 0x00200000u + 5 * 0x00001010u));
}

TEST(Raster, FogBlendsTowardTheFogColourBySpecularAlpha) {
  RasterState state = PlainState(4, 4);
  state.fog = true;
  state.fogColor = 0xFF0000FFu;
  struct Case {
    uint32_t alpha, expected;
  } cases[] = {{255, 0xFFFF0000u}, {128, 0xFF80007Eu}, {0, 0xFF0000FFu}};
  for (const Case& c : cases) {
    Canvas canvas(4, 4);
    Draw(canvas, state, TexturedQuad(0.5f, 0xFFFF0000u, c.alpha << 24), kQuad);
    EXPECT_EQ(canvas.Pixel(1, 1), c.expected) << c.alpha;
  }
  state.fog = false;
  Canvas clear(4, 4);
  Draw(clear, state, TexturedQuad(0.5f, 0xFFFF0000u, 0), kQuad);
  EXPECT_EQ(clear.Pixel(1, 1), 0xFFFF0000u) << "fog off ignores the alpha";
}

TEST(Raster, SpecularAddsAndSaturates) {
  RasterState state = PlainState(4, 4);
  state.specular = true;
  Canvas canvas(4, 4);
  Draw(canvas, state, TexturedQuad(0.5f, 0xFFC83210u, 0xFF643C10u), kQuad);
  EXPECT_EQ(canvas.Pixel(1, 1), 0xFFFF6E20u);  // 200 + 100 saturates, 50 + 60, 16 + 16
  state.specular = false;
  Canvas off(4, 4);
  Draw(off, state, TexturedQuad(0.5f, 0xFFC83210u, 0xFF643C10u), kQuad);
  EXPECT_EQ(off.Pixel(1, 1), 0xFFC83210u);
}

// A quad whose right side is four times as far away as its left side, textured with one black
// and one white texel across u. Affine mapping switches texel halfway; perspective-correct mapping
// switches where u = 0.5 in the plane of the quad, 80% of the way across the screen.
TEST(Raster, PerspectiveAndAffineDifferOnASlantedQuad) {
  uint32_t texels[2] = {0x000000, 0xFFFFFF};
  RasterTexture texture;
  texture.bits = reinterpret_cast<const uint8_t*>(texels);
  texture.pitch = 8;
  texture.width = 2;
  texture.height = 1;
  texture.format = RasterTexelFormat::Xrgb32;
  auto firstWhite = [&](bool perspective) {
    RasterState state = PlainState(20, 2);
    state.perspective = perspective;
    // u runs 0 .. 1 across the quad.
    std::vector<D3DTLVERTEX> v = {V(0, 0, 0xFFFFFFFFu, 0.5f, 1.0f, 0, 0), V(20, 0, 0xFFFFFFFFu, 0.5f, 0.25f, 1, 0),
                                  V(20, 2, 0xFFFFFFFFu, 0.5f, 0.25f, 1, 0), V(0, 2, 0xFFFFFFFFu, 0.5f, 1.0f, 0, 0)};
    Canvas canvas(20, 2);
    Draw(canvas, state, v, kQuad, true, &texture);
    for (int x = 0; x < 20; ++x)
      if (canvas.Pixel(x, 0) == 0xFFFFFFFFu) return x;
    return -1;
  };
  EXPECT_EQ(firstWhite(false), 10);
  EXPECT_EQ(firstWhite(true), 16);
}

TEST(Raster, ClippingCutsAtEveryViewportEdge) {
  RasterState state = PlainState(8, 8);
  state.viewportX0 = 2;
  state.viewportY0 = 1;
  state.viewportX1 = 6;
  state.viewportY1 = 7;
  std::vector<D3DTLVERTEX> big = {V(-30, -30), V(60, -30), V(-30, 60)};
  Canvas clipped(8, 8);
  Draw(clipped, state, big, {0, 1, 2}, true);
  EXPECT_EQ(clipped.Mask(),
            "........\n"
            "..####..\n"
            "..####..\n"
            "..####..\n"
            "..####..\n"
            "..####..\n"
            "..####..\n"
            "........\n");
  Canvas unclipped(8, 8);
  Draw(unclipped, state, big, {0, 1, 2}, false);
  EXPECT_EQ(unclipped.Mask(), Filled(8, 8, '#'));
  EXPECT_TRUE(unclipped.GuardsIntact());
}

// Triangles beside the viewport (on the target, or out in the guard band) have rows but no pixel
// inside it: they draw nothing and are not counted. Without clipping the scissor is the target,
// and the two on it draw their own columns there.
TEST(Raster, TrianglesBesideTheViewportDrawNothing) {
  RasterState state = PlainState(8, 8);
  state.viewportX0 = 2;
  state.viewportX1 = 6;
  std::vector<D3DTLVERTEX> v = {V(0, 0),    V(1.9f, 0), V(0, 8),     // left of the viewport
                                V(6.1f, 0), V(8, 0),    V(8, 8),     // right of it
                                V(100, 0),  V(300, 0),  V(100, 8)};  // in the guard band
  const std::vector<WORD> indices = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  Canvas clipped(8, 8);
  RasterStats clippedStats;
  Draw(clipped, state, v, indices, true, nullptr, false, &clippedStats);
  EXPECT_EQ(clipped.Mask(), Filled(8, 8, '.'));
  EXPECT_EQ(clippedStats.triangles, 0u);
  Canvas unclipped(8, 8);
  RasterStats unclippedStats;
  Draw(unclipped, state, v, indices, false, nullptr, false, &unclippedStats);
  EXPECT_EQ(unclipped.Mask(),
            "##.....#\n"
            "##.....#\n"
            "##.....#\n"
            "##.....#\n"
            "#.......\n"
            "#.......\n"
            "#.......\n"
            "#.......\n");
  EXPECT_EQ(unclippedStats.triangles, 2u);
  EXPECT_TRUE(unclipped.GuardsIntact());
}

TEST(Raster, ClippingCutsAtDepthZeroAndOne) {
  // Depth runs linearly from -0.5 at x = 0 to 1.5 at x = 8: only x in [2, 6] lies in 0..1.
  RasterState state = PlainState(8, 2);
  std::vector<D3DTLVERTEX> v = {V(0, 0, 0xFFFF0000u, -0.5f), V(8, 0, 0xFFFF0000u, 1.5f), V(8, 2, 0xFFFF0000u, 1.5f),
                                V(0, 2, 0xFFFF0000u, -0.5f)};
  Canvas clipped(8, 2);
  Draw(clipped, state, v, kQuad, true);
  EXPECT_EQ(clipped.Mask(), "..####..\n..####..\n");
  Canvas unclipped(8, 2);
  Draw(unclipped, state, v, kQuad, false);
  EXPECT_EQ(unclipped.Mask(), "########\n########\n");
}

TEST(Raster, BadCoordinatesDrawNothingAndStayInsideTheTarget) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  RasterState state = PlainState(8, 8);
  state.zEnable = true;
  std::vector<std::vector<D3DTLVERTEX>> bad = {
      {V(nan, 0), V(8, 0), V(0, 8)},
      {V(0, 0), V(inf, 0), V(0, 8)},
      {V(0, 0), V(8, -inf), V(0, 8)},
      {V(0, 0, 0xFFFF0000u, nan), V(8, 0), V(0, 8)},
      {V(0, 0, 0xFFFF0000u, 0.5f, nan), V(8, 0), V(0, 8)},
  };
  for (bool clip : {true, false})
    for (const auto& v : bad) {
      Canvas canvas(8, 8);
      Draw(canvas, state, v, {0, 1, 2}, clip, nullptr, true);
      EXPECT_EQ(canvas.Mask(), Filled(8, 8, '.'));
      EXPECT_TRUE(canvas.GuardsIntact());
    }
  // Huge but finite: without clipping nothing is drawn; with clipping the part on screen is.
  std::vector<D3DTLVERTEX> huge = {V(-1e30f, -1e30f), V(3e30f, -1e30f), V(-1e30f, 3e30f)};
  Canvas noClip(8, 8);
  Draw(noClip, state, huge, {0, 1, 2}, false, nullptr, true);
  EXPECT_EQ(noClip.Pixel(3, 3), 0u);
  EXPECT_TRUE(noClip.GuardsIntact());
  Canvas clip(8, 8);
  Draw(clip, state, {V(-1e7f, -1e7f), V(3e7f, -1e7f), V(-1e7f, 3e7f)}, {0, 1, 2}, true, nullptr, true);
  EXPECT_EQ(clip.Pixel(3, 3), 0xFFFF0000u);
  EXPECT_TRUE(clip.GuardsIntact());
}

// Coordinates near the float limit overflow the clipper's differences to infinity; whatever the
// clipper makes of them, nothing may land outside the viewport (nor overflow the integer set-up).
TEST(Raster, CoordinatesNearTheFloatLimitStayInsideTheViewport) {
  RasterState state = PlainState(22, 35);
  state.viewportX0 = 17;
  state.viewportY0 = 26;
  state.viewportX1 = 21;
  state.viewportY1 = 30;
  const std::vector<std::vector<D3DTLVERTEX>> cases = {
      {V(-3, -3e38f), V(44, 3e38f), V(21.8f, 32.7f)},
      {V(6.96428f, 17.3444f), V(-2.15004e38f, 8.54641e37f), V(28.5672f, -3.23434e38f)},
      {V(-1.95474e38f, 1.82901e38f), V(6.29757e37f, 26.6202f), V(23.5391f, -2.86909e38f)},
      {V(-3.4e38f, -3.4e38f), V(3.4e38f, -3.4e38f), V(-3.4e38f, 3.4e38f)},
  };
  for (const auto& v : cases) {
    Canvas canvas(22, 35);
    Draw(canvas, state, v, {0, 1, 2}, true);
    int outside = 0;
    for (int y = 0; y < 35; ++y)
      for (int x = 0; x < 22; ++x) outside += (x < 17 || x >= 21 || y < 26 || y >= 30) && canvas.Pixel(x, y) != 0;
    EXPECT_EQ(outside, 0) << canvas.Mask();
    EXPECT_TRUE(canvas.GuardsIntact());
  }
}

TEST(Raster, IndicesBeyondTheVertexCountAreSkipped) {
  Canvas canvas(6, 6);
  RasterStats stats;
  Draw(canvas, PlainState(6, 6), {V(0, 0), V(4, 0), V(0, 4)}, {0, 1, 3, 0, 1, 2}, true, nullptr, false, &stats);
  EXPECT_EQ(stats.triangles, 1u);
  EXPECT_EQ(stats.depthPassed, 10u);
}

TEST(Raster, SixteenBitTargetsPackTheirChannels) {
  for (RasterPixelFormat format : {RasterPixelFormat::Rgb565, RasterPixelFormat::Rgb555}) {
    std::vector<uint16_t> pixels(16, 0);
    RasterTarget target{reinterpret_cast<uint8_t*>(pixels.data()), 8, 4, 4, format};
    std::vector<D3DTLVERTEX> v = TexturedQuad(0.5f, 0xFFFF8040u);
    RasterDrawTriangles(PlainState(4, 4), target, nullptr, nullptr, v.data(), v.size(), kQuad.data(), kQuad.size(),
                        true, nullptr);
    uint16_t expected = format == RasterPixelFormat::Rgb565 ? uint16_t((31 << 11) | (32 << 5) | 8)
                                                            : uint16_t((31 << 10) | (16 << 5) | 8);
    EXPECT_EQ(pixels[5], expected);
    RasterFillColor(target, 1, 1, 3, 3, 0x00FFFFFFu);
    EXPECT_EQ(pixels[5], format == RasterPixelFormat::Rgb565 ? 0xFFFF : 0x7FFF);
    EXPECT_EQ(pixels[0], expected);
  }
}

TEST(Raster, SixteenBitTexturesExpandTheirChannels) {
  uint16_t texel[1] = {uint16_t((31 << 11) | (0 << 5) | 16)};  // 5-6-5
  RasterTexture texture;
  texture.bits = reinterpret_cast<const uint8_t*>(texel);
  texture.pitch = 2;
  texture.width = 1;
  texture.height = 1;
  texture.format = RasterTexelFormat::Direct16;
  texture.red = {11, 5};
  texture.green = {5, 6};
  texture.blue = {0, 5};
  Canvas canvas(4, 4);
  Draw(canvas, PlainState(4, 4), TexturedQuad(), kQuad, true, &texture);
  EXPECT_EQ(canvas.Pixel(1, 1), 0xFFFF0084u);
}

TEST(Raster, FillDepthWritesTheScaledValueInsideTheBuffer) {
  Canvas canvas(4, 4);
  RasterDepth depth = canvas.DepthBuffer();
  RasterFillDepth(depth, -5, -5, 50, 50, 0.25f);
  EXPECT_EQ(canvas.Depth(3, 3), uint16_t(0.25 * 65535));
  EXPECT_TRUE(canvas.GuardsIntact());
}

// A draw on several threads cuts the target into bands, and each band passes over runs of
// consecutive triangles that miss it. Triangles in order down the target and scattered, with bad
// indices, NaN and infinite corners among them, and more of them than there are runs (so a run
// holds several), draw on 3 and 4 threads what they draw on one.
TEST(Raster, ThreadedBandsDrawWhatOneThreadDraws) {
  constexpr int kWidth = 48, kHeight = 320, kTriangles = 12000;
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  uint32_t seed = 12345;
  auto below = [&seed](int range) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<float>((seed >> 8) % static_cast<uint32_t>(range));
  };
  std::vector<D3DTLVERTEX> vertices;
  std::vector<WORD> indices;
  for (int t = 0; t < kTriangles; ++t) {
    const float y = t < kTriangles / 2 ? static_cast<float>(t) * kHeight / (kTriangles / 2) : below(kHeight);
    const float x = below(kWidth), z = 0.05f + below(90) / 100.0f;
    const D3DCOLOR colour = 0xFF000000u | ((static_cast<uint32_t>(t) * 2654435761u) >> 8);
    const auto first = static_cast<WORD>(vertices.size());
    vertices.push_back(V(x, y, colour, z));
    vertices.push_back(V(x + 2 + below(9), y + below(12), 0xFF00FF00u, z));
    vertices.push_back(V(x - below(5), y + 1 + below(9), 0xFF0000FFu, z));
    if (t % 89 == 0) vertices.back().sy = t % 178 == 0 ? nan : inf;
    const WORD last = t % 97 != 0 ? static_cast<WORD>(first + 2) : WORD{0xFFFF};  // beyond the vertices
    indices.insert(indices.end(), {first, static_cast<WORD>(first + 1), last});
  }
  RasterState state = PlainState(kWidth, kHeight);
  state.zEnable = true;
  auto drawOn = [&](int threads, Canvas& canvas, RasterStats& stats) {
    RasterSetThreadLimit(threads);
    Draw(canvas, state, vertices, indices, true, nullptr, true, &stats);
    RasterSetThreadLimit(0);
  };
  Canvas single(kWidth, kHeight);
  RasterStats singleStats;
  drawOn(1, single, singleStats);
  EXPECT_GT(singleStats.triangles, uint64_t{kTriangles * 9 / 10});
  for (int threads : {3, 4}) {
    Canvas shared(kWidth, kHeight);
    RasterStats sharedStats;
    drawOn(threads, shared, sharedStats);
    EXPECT_TRUE(shared.color == single.color && shared.depth == single.depth) << threads << " threads";
    EXPECT_EQ(sharedStats.triangles, singleStats.triangles);
    EXPECT_EQ(sharedStats.depthPassed, singleStats.depthPassed);
    EXPECT_TRUE(shared.GuardsIntact());
  }
}

// A queue keeps every palette copy its draws use until they are drawn: with more palette textures
// than copies are kept, and one texture's texels under two palettes, its pixels are those of the
// calls drawn one by one.
TEST(Raster, QueuedPaletteTexturesDrawAsOneByOne) {
  constexpr int kTextures = 40;  // more than the copies kept
  std::vector<uint8_t> texels(kTextures, 1);
  std::vector<RasterTexture> textures(kTextures);
  for (int i = 0; i < kTextures; ++i) {
    textures[size_t(i)].bits = &texels[size_t(i)];
    textures[size_t(i)].pitch = 1;
    textures[size_t(i)].width = textures[size_t(i)].height = 1;
    textures[size_t(i)].format = RasterTexelFormat::Indexed8;
    textures[size_t(i)].palette[1] = 0x010203u * uint32_t(i + 1);
  }
  RasterTexture repainted = textures[0];
  repainted.palette[1] = 0x00FF00FFu;
  const RasterState state = PlainState(kTextures + 1, 2);
  const std::vector<WORD> quad = {0, 1, 2, 0, 2, 3};
  auto column = [](float x) {
    constexpr D3DCOLOR kWhite = 0xFFFFFFFFu;
    return std::vector<D3DTLVERTEX>{V(x, 0, kWhite), V(x + 1, 0, kWhite), V(x + 1, 2, kWhite), V(x, 2, kWhite)};
  };
  auto drawAll = [&](Canvas& canvas, RasterQueue* queue) {
    const RasterTarget target = canvas.Target();
    for (int i = 0; i <= kTextures; ++i) {
      const RasterTexture& texture = i < kTextures ? textures[size_t(i)] : repainted;
      const std::vector<D3DTLVERTEX> v = column(float(i));
      if (queue != nullptr)
        queue->DrawTriangles(state, target, nullptr, &texture, v.data(), v.size(), quad.data(), quad.size(), true);
      else
        RasterDrawTriangles(state, target, nullptr, &texture, v.data(), v.size(), quad.data(), quad.size(), true,
                            nullptr);
    }
    if (queue != nullptr) queue->Flush();
  };
  Canvas single(kTextures + 1, 2), queued(kTextures + 1, 2);
  RasterSetThreadLimit(1);
  drawAll(single, nullptr);
  RasterSetThreadLimit(2);
  RasterQueue queue;
  drawAll(queued, &queue);
  RasterSetThreadLimit(0);
  EXPECT_EQ(single.Pixel(kTextures - 1, 1) & 0xFFFFFFu, 0x010203u * kTextures);
  EXPECT_EQ(single.Pixel(kTextures, 1) & 0xFFFFFFu, 0xFF00FFu);
  EXPECT_TRUE(queued.color == single.color);
}

}  // namespace
