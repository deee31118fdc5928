// The rasteriser's inner loops: the per-draw parameters, one set-up triangle (attribute planes and
// integer edge bounds), and the row-and-span routines, one instantiation per combination of target
// format, texel format, perspective and depth mode, picked once per draw call. Used by raster.cpp.
#pragma once

#include <cstdint>

#include "platform/dx5/raster.h"

// Vertex attributes: the position kX, kY, then those interpolated across the triangle, from kW on.
// Colours are 0..255; kF is the fog factor (255 clear, 0 fog); kZ is depth already scaled to the
// depth buffer's stored range; kU and kV are premultiplied by kW (rhw) when texturing in
// perspective. kZ and the colours kR..kF are adjacent, eight values that span set-up handles in
// the eight lanes of one register.
enum Attribute { kX, kY, kW, kU, kV, kZ, kR, kG, kB, kSR, kSG, kSB, kF, kAttributeCount };

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}

// floor(N / D) for a numerator that moves by a fixed step per row, kept as quotient and
// remainder so that stepping needs no division: N = q * D + r with 0 <= r < D.
struct EdgeBound {
  int kind = 0;  // +1: lower column bound ceil(N / D); -1: upper bound floor(N / D); 0: horizontal edge
  int64_t q = 0, r = 0, d = 1, qStep = 0, rStep = 0;
  int64_t k = 0, kStep = 0;  // horizontal edge: the row is inside while k >= 0

  void Start(int64_t n, int64_t denominator, int64_t step) {
    d = denominator;
    q = FloorDiv(n, d);
    r = n - q * d;
    qStep = FloorDiv(step, d);
    rStep = step - qStep * d;
  }
  // Steps a sloped edge's bound to the next row (a horizontal edge steps k instead). Without a
  // branch: whether the remainder carries changes from row to row with no pattern.
  void NextRow() {
    const int64_t next = r + rStep;
    const int64_t carry = next >= d ? 1 : 0;
    q += qStep + carry;
    r = next - (d & -carry);
  }
  int64_t Ceil() const { return q + (r != 0 ? 1 : 0); }
};

// How to widen one channel of a 16-bit texel to 8 bits: ((raw >> shift) & mask), then
// (c << left) | (c >> right) repeats the top bits into the low ones.
struct ChannelExpand {
  uint32_t shift = 0, mask = 0, left = 0, right = 0;
};

struct SpanParams {
  RasterTarget target;
  RasterDepth depth;      // bits null: no depth test
  RasterTexture texture;  // bits null: untextured
  bool zWrite, perspective, gouraud, specular, fog, allowAvx2, allowAvx512;
  DWORD cullMode;
  float zScale;  // stored depth of 1.0
  // Converted once per draw for the span loops: depth.maxValue and the texture size as floats, and
  // the byte offset of the texture's last whole 32-bit word (0 when it has none).
  float depthMax, texWidth, texHeight;
  int32_t textureLastWord;
  bool wrapByMask;     // both sides of the texture are powers of two, so wrapping is a mask
  uint32_t texelMask;  // 32-bit textures: the bits of a texel that colour keying compares
  uint32_t fogR, fogG, fogB;
  uint32_t keyLow, keyRange;       // texels with (raw - keyLow) <= keyRange are transparent
  uint32_t redShift, greenLoss;    // 16-bit targets: 565 (11, 2) or 555 (10, 3)
  ChannelExpand red, green, blue;  // 16-bit textures
};

struct SpanTriangle {
  float origin[kAttributeCount];  // attribute values at pixel (0, 0)
  float dx[kAttributeCount];      // change per pixel to the right
  float dy[kAttributeCount];      // change per row down
  EdgeBound edges[3];             // set up for row rowFirst
  int rowFirst, rowLast;          // rows to visit, inside the scissor rectangle
  int columnFirst, columnLast;    // scissor columns
};

// Draws the triangle's rows; returns the number of pixels that passed the depth test.
using SpanTriangleFn = uint64_t (*)(const SpanParams& params, const SpanTriangle& tri);

SpanParams MakeSpanParams(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                          const RasterTexture* texture);
SpanTriangleFn ChooseSpanRoutine(const SpanParams& params);
uint32_t PackPixel(RasterPixelFormat format, uint32_t r, uint32_t g, uint32_t b);
