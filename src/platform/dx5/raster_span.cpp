// Row walking and span drawing. Each span clamps its colour, fog and depth ramps at its two ends
// (the values are linear along the span, so the whole span stays in range) and then runs a loop
// with no state tests: the target format, texel format, perspective and depth mode are template
// arguments, and colour keying, specular and fog use neutral values when they are off.
#include "platform/dx5/raster_span.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
// GCC 12's AVX-512 headers start some results from an undefined register value, which its own
// uninitialised-value warnings then report inside the headers (fixed in later releases).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace {

enum class TexKind { None, Indexed8, Direct16, Xrgb32 };
enum class ZMode { None, Test16, Write16, Test32, Write32 };

constexpr uint32_t kNoKey = 0xFFFFFFFFu;  // a key low value no masked texel can reach

// Truncation toward zero that is defined for every input: NaN and values out of range give INT32_MIN.
inline int32_t Truncate(float value) {
#if defined(__SSE2__)
  return _mm_cvttss_si32(_mm_set_ss(value));
#else
  if (!(value > -2147483648.0f && value < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(value);
#endif
}

// Clamp that maps NaN to `lo`.
inline float ClampF(float value, float lo, float hi) {
  float above = value > lo ? value : lo;
  return above < hi ? above : hi;
}

// Wrap addressing, nearest texel: the index of coordinate t (1.0 = one whole texture) on an axis
// of `size` texels, always in 0..size - 1.
inline uint32_t WrapIndex(float t, float size, uint32_t maxIndex) {
  float frac = t - static_cast<float>(Truncate(t));
  frac += frac < 0.0f ? 1.0f : 0.0f;
  auto index = static_cast<uint32_t>(Truncate(frac * size));
  return std::min(index, maxIndex);
}

// The same on an axis whose size is a power of two, with maxIndex = size - 1 as the mask: the
// index is floor(t * size) & maxIndex. NaN and values beyond 32 bits give Truncate's INT32_MIN,
// left as it is, which masks to 0 (as a conversion rounding down gives it in the vector paths).
inline uint32_t WrapIndexMasked(float t, float size, uint32_t maxIndex) {
  const float scaled = t * size;
  const int32_t whole = Truncate(scaled);
  const bool down = whole != INT32_MIN && scaled < static_cast<float>(whole);
  return (static_cast<uint32_t>(whole) - (down ? 1u : 0u)) & maxIndex;
}

// Wrap addressing by whichever of the two the texture's sides allow.
inline uint32_t Wrap(bool masked, float t, float size, uint32_t maxIndex) {
  return masked ? WrapIndexMasked(t, size, maxIndex) : WrapIndex(t, size, maxIndex);
}

// A colour channel ramp in 16.16 fixed point, rounded (+0.5) and clamped at both span ends.
struct Ramp {
  int32_t value, step;
};

inline Ramp ColorRamp(float start, float dx, float last) {
  constexpr float kLo = 0.5f, kHi = 255.5f, kOne = 65536.0f;
  float s = ClampF(start + 0.5f, kLo, kHi);
  float e = ClampF(start + dx * last + 0.5f, kLo, kHi);
  float step = last > 0.0f ? (e - s) / last : 0.0f;
  return {static_cast<int32_t>(s * kOne), static_cast<int32_t>(step * kOne)};
}

inline uint32_t Modulate(uint32_t texel, uint32_t color) { return (texel * (color + (color >> 7))) >> 8; }

inline uint32_t FogBlend(uint32_t color, uint32_t fogColor, uint32_t weight) {
  return (color * weight + fogColor * (256 - weight)) >> 8;
}

// The raw value of texel (tx, ty) (what colour keying compares) and its colour as 0x00RRGGBB.
template <TexKind T>
inline uint32_t RawTexel(const SpanParams& p, uint32_t tx, uint32_t ty) {
  const uint8_t* texRow = p.texture.bits + static_cast<intptr_t>(ty) * p.texture.pitch;
  if constexpr (T == TexKind::Indexed8) return texRow[tx];
  // Copied, not dereferenced: a texture's rows need not be a whole number of texels apart.
  if constexpr (T == TexKind::Direct16) {
    uint16_t raw;
    std::memcpy(&raw, texRow + 2 * size_t{tx}, sizeof raw);
    return raw;
  }
  uint32_t raw;
  std::memcpy(&raw, texRow + 4 * size_t{tx}, sizeof raw);
  return raw & p.texelMask;
}

template <TexKind T>
inline uint32_t TexelColor(const SpanParams& p, uint32_t raw) {
  if constexpr (T == TexKind::Indexed8) return p.texture.palette[raw];
  if constexpr (T == TexKind::Direct16) {
    auto expand = [raw](const ChannelExpand& c) {
      uint32_t value = (raw >> c.shift) & c.mask;
      return ((value << c.left) | (value >> c.right)) & 0xFF;
    };
    return (expand(p.red) << 16) | (expand(p.green) << 8) | expand(p.blue);
  }
  return raw;
}

// Bytes from the first texel to the end of the last one; 0 for no texture.
inline int64_t TextureExtent(const SpanParams& p) {
  if (p.texture.bits == nullptr) return 0;
  const int64_t texelBytes = p.texture.format == RasterTexelFormat::Indexed8   ? 1
                             : p.texture.format == RasterTexelFormat::Direct16 ? 2
                                                                               : 4;
  return p.texture.pitch * int64_t{p.texture.height - 1} + texelBytes * p.texture.width;
}

// The interpolants of one span. The colour ramps are r, g, b, the specular r, g, b and the fog
// factor, stepped from pixel to pixel. z, w, u and v hold their values at pixel `first`, and pixel
// x takes value + (x - first) * step: a product and a sum, each rounded once, in every path below
// (no fused multiply-add anywhere), so all paths give the same pixels and lanes need not wait for
// one another.
enum RampIndex { kRampR, kRampG, kRampB, kRampSR, kRampSG, kRampSB, kRampF, kRampCount };

struct SpanState {
  Ramp ramps[kRampCount];
  float z, w, u, v;
  float dz, dw, du, dv;
  int first;
};

static_assert(kF - kR + 1 == kRampCount, "the ramps are the attributes kR to kF in order");

// The colour ramps of a span starting at pixel (fx, fy) whose last pixel is `last` pixels on.
inline __attribute__((always_inline)) void StartRamps(const SpanTriangle& tri, float fx, float fy, float last,
                                                      Ramp* ramps) {
#if defined(__SSE2__)
  // ColorRamp in four lanes, on attributes kR..kSR and kSR..kF (kSR twice).
  const __m128 x = _mm_set1_ps(fx), y = _mm_set1_ps(fy), n = _mm_set1_ps(last), half = _mm_set1_ps(0.5f);
  const __m128 lo = _mm_set1_ps(0.5f), hi = _mm_set1_ps(255.5f), one = _mm_set1_ps(65536.0f);
  static_assert(sizeof(Ramp) == 8 && kRampCount == 7, "ramps are stored as value and step pairs below");
  __m128i values[2], steps[2];
  for (int part = 0; part < 2; ++part) {
    const int first = part == 0 ? kR : kF - 3;
    __m128 dx = _mm_loadu_ps(tri.dx + first);
    __m128 start = _mm_add_ps(_mm_add_ps(_mm_loadu_ps(tri.origin + first), _mm_mul_ps(dx, x)),
                              _mm_mul_ps(_mm_loadu_ps(tri.dy + first), y));
    __m128 s = _mm_min_ps(_mm_max_ps(_mm_add_ps(start, half), lo), hi);
    __m128 e = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_add_ps(start, _mm_mul_ps(dx, n)), half), lo), hi);
    __m128 step = last > 0.0f ? _mm_div_ps(_mm_sub_ps(e, s), n) : _mm_setzero_ps();
    values[part] = _mm_cvttps_epi32(_mm_mul_ps(s, one));
    steps[part] = _mm_cvttps_epi32(_mm_mul_ps(step, one));
  }
  // Interleaved into (value, step) pairs: r, g, b, sr from the first part; sg, sb, f from the second.
  auto* out = reinterpret_cast<__m128i*>(ramps);
  _mm_storeu_si128(out, _mm_unpacklo_epi32(values[0], steps[0]));
  _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(values[0], steps[0]));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(ramps + kRampSG),
                   _mm_srli_si128(_mm_unpacklo_epi32(values[1], steps[1]), 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ramps + kRampSB), _mm_unpackhi_epi32(values[1], steps[1]));
#else
  for (int i = 0; i < kRampCount; ++i) {
    const int a = kR + i;
    ramps[i] = ColorRamp(tri.origin[a] + tri.dx[a] * fx + tri.dy[a] * fy, tri.dx[a], last);
  }
#endif
}

// The interpolants and colour ramps of the span of row y from pixel x0, n pixels long.
template <ZMode Z>
inline __attribute__((always_inline)) void StartSpan(const SpanParams& p, const SpanTriangle& tri, int y, int x0, int n,
                                                     SpanState& s) {
  const float fx = static_cast<float>(x0);
  const float fy = static_cast<float>(y);
  const float last = static_cast<float>(n - 1);
  auto at = [&](int i) { return tri.origin[i] + tri.dx[i] * fx + tri.dy[i] * fy; };
  StartRamps(tri, fx, fy, last, s.ramps);
  s.first = x0;
  s.z = 0.0f;
  s.dz = 0.0f;
  if constexpr (Z != ZMode::None) {
    s.z = ClampF(at(kZ), 0.0f, p.zScale);
    float zEnd = ClampF(at(kZ) + tri.dx[kZ] * last, 0.0f, p.zScale);
    s.dz = n > 1 ? (zEnd - s.z) / last : 0.0f;
  }
  s.w = at(kW);
  s.u = at(kU);
  s.v = at(kV);
  s.dw = tri.dx[kW];
  s.du = tri.dx[kU];
  s.dv = tri.dx[kV];
}

// The spans of up to kRowBatch consecutive rows: first column and pixel count (0 or less: none).
constexpr int kRowBatch = 32;
struct RowSpans {
  int first[kRowBatch];
  int count[kRowBatch];
};

// The triangle's edges sorted by the side they bound: lower column bounds, upper column bounds,
// and the horizontal edge, whose row is inside while its k is not negative. A triangle has two
// sloped edges on one side and one on the other, or one on each side and a horizontal one.
struct SidedEdges {
  EdgeBound lower[2], upper[2], level;
  int lowers = 0, uppers = 0;
  bool hasLevel = false;
};

SidedEdges SortEdges(const SpanTriangle& tri) {
  SidedEdges e;
  for (const EdgeBound& edge : tri.edges) {
    if (edge.kind > 0) e.lower[e.lowers++] = edge;
    if (edge.kind < 0) e.upper[e.uppers++] = edge;
    if (edge.kind == 0) {
      e.level = edge;
      e.hasLevel = true;
    }
  }
  return e;
}

// The spans of `rows` rows from the edges' current row, leaving the edges stepped past them.
// The edges are stepped in local copies, which stay in registers.
template <int Lowers, int Uppers, bool Level>
void RowBounds(const SpanTriangle& tri, SidedEdges& e, int rows, RowSpans& out) {
  EdgeBound lower0 = e.lower[0], lower1 = e.lower[1], upper0 = e.upper[0], upper1 = e.upper[1];
  int64_t levelK = e.level.k;
  const int64_t levelStep = e.level.kStep, columnFirst = tri.columnFirst, columnLast = tri.columnLast;
  for (int i = 0; i < rows; ++i) {
    int64_t lo = std::max(columnFirst, lower0.Ceil());
    if constexpr (Lowers == 2) lo = std::max(lo, lower1.Ceil());
    int64_t hi = std::min(columnLast, upper0.q);
    if constexpr (Uppers == 2) hi = std::min(hi, upper1.q);
    if constexpr (Level) {
      if (levelK < 0) hi = lo - 1;
      levelK += levelStep;
    }
    // A span lies within the scissor columns; a row without one has count 0 and any first column.
    out.first[i] = static_cast<int>(lo);
    out.count[i] = static_cast<int>(std::max<int64_t>(hi - lo + 1, 0));
    lower0.NextRow();
    if constexpr (Lowers == 2) lower1.NextRow();
    upper0.NextRow();
    if constexpr (Uppers == 2) upper1.NextRow();
  }
  e.lower[0] = lower0;
  e.lower[1] = lower1;
  e.upper[0] = upper0;
  e.upper[1] = upper1;
  e.level.k = levelK;
}

void RowBoundsOf(const SpanTriangle& tri, SidedEdges& e, int rows, RowSpans& out) {
  if (e.hasLevel) return RowBounds<1, 1, true>(tri, e, rows, out);
  if (e.lowers == 2) return RowBounds<2, 1, false>(tri, e, rows, out);
  RowBounds<1, 2, false>(tri, e, rows, out);
}

using RowBoundsFn = void (*)(const SpanTriangle& tri, SidedEdges& e, int rows, RowSpans& out);

// Walks the triangle's rows and has `spans` draw each row's span. The bounds of a batch of rows
// are worked out first, in a loop of their own: stepping the edges among the span routine's
// many constants would keep moving their state to and from memory.
template <RowBoundsFn Bounds = RowBoundsOf, typename SpanDrawer>
inline __attribute__((always_inline)) void WalkRows(const SpanTriangle& tri, SpanDrawer& spans) {
  SidedEdges edges = SortEdges(tri);
  if (edges.lowers == 0 || edges.uppers == 0) return;  // not a triangle's edges: nothing inside
  RowSpans batch;
  for (int y = tri.rowFirst; y <= tri.rowLast; y += kRowBatch) {
    const int rows = std::min(kRowBatch, tri.rowLast - y + 1);
    Bounds(tri, edges, rows, batch);
    for (int i = 0; i < rows; ++i)
      if (batch.count[i] > 0) spans.Draw(tri, y + i, batch.first[i], batch.count[i]);
  }
}

// Draws pixels x .. end - 1 one at a time and leaves `s` stepped past them.
template <TexKind T, bool Persp, ZMode Z, bool Wide>
uint64_t DrawPixels(const SpanParams& p, uint8_t* row, uint8_t* depthRow, int x, int end, SpanState& s) {
  const float texW = p.texWidth, texH = p.texHeight;
  const uint32_t maxU = static_cast<uint32_t>(p.texture.width - 1), maxV = static_cast<uint32_t>(p.texture.height - 1);
  Ramp* c = s.ramps;
  uint64_t passed = 0;
  for (; x < end; ++x) {
    const auto k = static_cast<float>(x - s.first);
    const float z = s.z + k * s.dz;
    bool draw = true;
    uint32_t zStored = 0;
    if constexpr (Z == ZMode::Test16 || Z == ZMode::Write16) {
      zStored = std::min(static_cast<uint32_t>(std::max(Truncate(z), 0)), p.depth.maxValue);
      draw = zStored <= reinterpret_cast<const uint16_t*>(depthRow)[x];
    } else if constexpr (Z == ZMode::Test32 || Z == ZMode::Write32) {
      zStored = static_cast<uint32_t>(std::clamp<int64_t>(static_cast<int64_t>(z), 0, p.depth.maxValue));
      draw = zStored <= reinterpret_cast<const uint32_t*>(depthRow)[x];
    }
    if (draw) {
      ++passed;
      uint32_t cr = static_cast<uint32_t>(c[kRampR].value) >> 16;
      uint32_t cg = static_cast<uint32_t>(c[kRampG].value) >> 16;
      uint32_t cb = static_cast<uint32_t>(c[kRampB].value) >> 16;
      if constexpr (T != TexKind::None) {
        float tu = s.u + k * s.du, tv = s.v + k * s.dv;
        if constexpr (Persp) {
          float inverse = 1.0f / (s.w + k * s.dw);
          tu *= inverse;
          tv *= inverse;
        }
        uint32_t tx = Wrap(p.wrapByMask, tu, texW, maxU);
        uint32_t ty = Wrap(p.wrapByMask, tv, texH, maxV);
        uint32_t raw = RawTexel<T>(p, tx, ty);
        uint32_t rgb = TexelColor<T>(p, raw);
        draw = raw - p.keyLow > p.keyRange;
        cr = Modulate((rgb >> 16) & 0xFF, cr);
        cg = Modulate((rgb >> 8) & 0xFF, cg);
        cb = Modulate(rgb & 0xFF, cb);
      }
      if (draw) {
        cr = std::min(cr + (static_cast<uint32_t>(c[kRampSR].value) >> 16), 255u);
        cg = std::min(cg + (static_cast<uint32_t>(c[kRampSG].value) >> 16), 255u);
        cb = std::min(cb + (static_cast<uint32_t>(c[kRampSB].value) >> 16), 255u);
        uint32_t fog = static_cast<uint32_t>(c[kRampF].value) >> 16;
        uint32_t weight = fog + (fog >> 7);
        cr = FogBlend(cr, p.fogR, weight);
        cg = FogBlend(cg, p.fogG, weight);
        cb = FogBlend(cb, p.fogB, weight);
        if constexpr (Wide) {
          reinterpret_cast<uint32_t*>(row)[x] = 0xFF000000u | (cr << 16) | (cg << 8) | cb;
        } else {
          reinterpret_cast<uint16_t*>(row)[x] =
              static_cast<uint16_t>(((cr >> 3) << p.redShift) | ((cg >> p.greenLoss) << 5) | (cb >> 3));
        }
        if constexpr (Z == ZMode::Write16) reinterpret_cast<uint16_t*>(depthRow)[x] = static_cast<uint16_t>(zStored);
        if constexpr (Z == ZMode::Write32) reinterpret_cast<uint32_t*>(depthRow)[x] = zStored;
      }
    }
    for (Ramp& ramp : s.ramps) ramp.value += ramp.step;
  }
  return passed;
}

#if defined(__SSE2__)
// Four pixels at a time with SSE2. Every step is the per-pixel arithmetic above done in four lanes,
// so the pixels are the same as DrawPixels draws. The colour arithmetic
// stays exact in 16-bit lanes: every product and sum is at most 255 * 256.

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {  // mask ? a : b
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Lanes of 0..0xFFFF (or whose low 16 bits matter) packed to 16 bits in the low half.
inline __m128i Pack16(__m128i value) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(value, 16), 16), _mm_setzero_si128());
}

// WrapIndex in four lanes: the unsigned minimum with maxIndex also catches the INT32_MIN of NaN.
inline __m128i WrapIndex4(__m128 t, __m128 size, __m128i maxIndex) {
  const __m128 zero = _mm_setzero_ps();
  __m128 frac = _mm_sub_ps(t, _mm_cvtepi32_ps(_mm_cvttps_epi32(t)));
  frac = _mm_add_ps(frac, _mm_and_ps(_mm_cmplt_ps(frac, zero), _mm_set1_ps(1.0f)));
  __m128i index = _mm_cvttps_epi32(_mm_mul_ps(frac, size));
  __m128i over = _mm_or_si128(_mm_cmpgt_epi32(index, maxIndex), _mm_cmplt_epi32(index, _mm_setzero_si128()));
  return Select(over, maxIndex, index);
}

// WrapIndexMasked in four lanes.
inline __m128i WrapIndexMasked4(__m128 t, __m128 size, __m128i maxIndex) {
  const __m128 scaled = _mm_mul_ps(t, size);
  const __m128i whole = _mm_cvttps_epi32(scaled);
  // -1 in the lanes where truncation went up (negative non-integers), to round them down instead;
  // INT32_MIN (NaN or out of range) stays.
  const __m128i below = _mm_castps_si128(_mm_cmplt_ps(scaled, _mm_cvtepi32_ps(whole)));
  const __m128i overflow = _mm_cmpeq_epi32(whole, _mm_set1_epi32(INT32_MIN));
  return _mm_and_si128(_mm_add_epi32(whole, _mm_andnot_si128(overflow, below)), maxIndex);
}

constexpr uint8_t kBitCount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

inline __m128i Gather4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  auto lane = [](uint32_t value) { return _mm_cvtsi32_si128(static_cast<int>(value)); };
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(lane(a), lane(b)), _mm_unpacklo_epi32(lane(c), lane(d)));
}

// Modulate on 16-bit lanes of 0..255.
inline __m128i Modulate8(__m128i texel, __m128i color) {
  return _mm_srli_epi16(_mm_mullo_epi16(texel, _mm_add_epi16(color, _mm_srli_epi16(color, 7))), 8);
}

// The saturating specular add and FogBlend on 16-bit lanes; weight is 0..256.
inline __m128i Finish8(__m128i color, __m128i specular, __m128i weight, __m128i fogColor) {
  color = _mm_min_epi16(_mm_add_epi16(color, specular), _mm_set1_epi16(255));
  __m128i sum = _mm_add_epi16(_mm_mullo_epi16(color, weight),
                              _mm_mullo_epi16(fogColor, _mm_sub_epi16(_mm_set1_epi16(256), weight)));
  return _mm_srli_epi16(sum, 8);
}

// The top halves of two 16.16 ramps as 16-bit lanes: a's four pixels, then b's.
inline __m128i High8(__m128i a, __m128i b) { return _mm_packs_epi32(_mm_srli_epi32(a, 16), _mm_srli_epi32(b, 16)); }

// The 32-bit depth conversion below clamps in float, which matches the integer clamp only when the
// largest stored value is a float exactly and converts without leaving 32 bits.
template <ZMode Z>
bool QuadsAllowed(const SpanParams& p) {
  if constexpr (Z == ZMode::Test32 || Z == ZMode::Write32) {
    double asFloat = static_cast<float>(p.depth.maxValue);
    return asFloat == static_cast<double>(p.depth.maxValue) && p.depth.maxValue <= 0xFFFFFF00u;
  }
  return true;
}

template <TexKind T, bool Persp, ZMode Z, bool Wide>
uint64_t DrawQuads(const SpanParams& p, uint8_t* row, uint8_t* depthRow, int& x, int end, SpanState& s) {
  const __m128i zeroI = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi32(-1);
  const __m128i sign = _mm_set1_epi32(INT32_MIN);
  const __m128 z0 = _mm_set1_ps(s.z), w0 = _mm_set1_ps(s.w), u0 = _mm_set1_ps(s.u), v0 = _mm_set1_ps(s.v);
  const __m128 dz = _mm_set1_ps(s.dz), dw = _mm_set1_ps(s.dw), du = _mm_set1_ps(s.du), dv = _mm_set1_ps(s.dv);
  __m128 k = _mm_add_ps(_mm_set1_ps(static_cast<float>(x - s.first)), _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f));
  __m128i ramp[kRampCount], ramp4[kRampCount];
  for (int i = 0; i < kRampCount; ++i) {
    auto value = static_cast<uint32_t>(s.ramps[i].value), dv = static_cast<uint32_t>(s.ramps[i].step);
    ramp[i] = _mm_setr_epi32(static_cast<int>(value), static_cast<int>(value + dv), static_cast<int>(value + 2 * dv),
                             static_cast<int>(value + 3 * dv));
    ramp4[i] = _mm_set1_epi32(static_cast<int>(4 * dv));
  }
  const __m128i maxZ16 = _mm_set1_epi32(static_cast<int>(std::min<uint32_t>(p.depth.maxValue, INT32_MAX)));
  const __m128 maxZ32 = _mm_set1_ps(p.depthMax);
  const __m128 texW = _mm_set1_ps(p.texWidth);
  const __m128 texH = _mm_set1_ps(p.texHeight);
  const __m128i maxU = _mm_set1_epi32(p.texture.width - 1), maxV = _mm_set1_epi32(p.texture.height - 1);
  const auto fogR = static_cast<int16_t>(p.fogR), fogG = static_cast<int16_t>(p.fogG);
  const __m128i fogRG = _mm_setr_epi16(fogR, fogR, fogR, fogR, fogG, fogG, fogG, fogG);
  const __m128i fogB = _mm_set1_epi16(static_cast<int16_t>(p.fogB));
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i keyLow = _mm_set1_epi32(static_cast<int>(p.keyLow));
  const __m128i keyRange = _mm_xor_si128(_mm_set1_epi32(static_cast<int>(p.keyRange)), sign);
  const __m128i redShift = _mm_cvtsi32_si128(static_cast<int>(p.redShift));
  const __m128i greenLoss = _mm_cvtsi32_si128(static_cast<int>(p.greenLoss));

  uint64_t passed = 0;
  for (; x + 4 <= end; x += 4) {
    const __m128 a0 = _mm_add_ps(z0, _mm_mul_ps(k, dz)), a1 = _mm_add_ps(w0, _mm_mul_ps(k, dw));
    const __m128 a2 = _mm_add_ps(u0, _mm_mul_ps(k, du)), a3 = _mm_add_ps(v0, _mm_mul_ps(k, dv));
    k = _mm_add_ps(k, _mm_set1_ps(4.0f));

    __m128i pass = ones, zStored = zeroI;
    if constexpr (Z == ZMode::Test16 || Z == ZMode::Write16) {
      zStored = _mm_cvttps_epi32(a0);
      zStored = _mm_and_si128(zStored, _mm_cmpgt_epi32(zStored, zeroI));
      zStored = Select(_mm_cmpgt_epi32(zStored, maxZ16), maxZ16, zStored);
      __m128i held = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(depthRow + 2 * x)), zeroI);
      pass = _mm_andnot_si128(_mm_cmpgt_epi32(zStored, held), ones);
    } else if constexpr (Z == ZMode::Test32 || Z == ZMode::Write32) {
      const __m128 half = _mm_set1_ps(2147483648.0f);
      __m128 zf = _mm_min_ps(_mm_max_ps(a0, _mm_setzero_ps()), maxZ32);
      __m128 high = _mm_cmpge_ps(zf, half);
      zStored = _mm_cvttps_epi32(_mm_sub_ps(zf, _mm_and_ps(high, half)));
      zStored = _mm_xor_si128(zStored, _mm_and_si128(_mm_castps_si128(high), sign));
      __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(depthRow + 4 * x));
      pass = _mm_andnot_si128(_mm_cmpgt_epi32(_mm_xor_si128(zStored, sign), _mm_xor_si128(held, sign)), ones);
    }
    int depthBits = _mm_movemask_ps(_mm_castsi128_ps(pass));
    if (depthBits != 0) {
      passed += kBitCount[depthBits];
      // Red and green of the four pixels share one register, blue sits in the low half of another.
      __m128i rg = High8(ramp[kRampR], ramp[kRampG]);
      __m128i bx = High8(ramp[kRampB], ramp[kRampB]);
      if constexpr (T != TexKind::None) {
        __m128 tu = a2, tv = a3;
        if constexpr (Persp) {
          __m128 inverse = _mm_div_ps(_mm_set1_ps(1.0f), a1);
          tu = _mm_mul_ps(tu, inverse);
          tv = _mm_mul_ps(tv, inverse);
        }
        alignas(16) uint32_t tx[4], ty[4];
        const bool masked = p.wrapByMask;
        _mm_store_si128(reinterpret_cast<__m128i*>(tx),
                        masked ? WrapIndexMasked4(tu, texW, maxU) : WrapIndex4(tu, texW, maxU));
        _mm_store_si128(reinterpret_cast<__m128i*>(ty),
                        masked ? WrapIndexMasked4(tv, texH, maxV) : WrapIndex4(tv, texH, maxV));
        uint32_t raw[4];
        for (int k = 0; k < 4; ++k) raw[k] = RawTexel<T>(p, tx[k], ty[k]);
        // Built in registers: four narrow stores read back as one vector would stall.
        __m128i raws = Gather4(raw[0], raw[1], raw[2], raw[3]);
        __m128i texel = raws;
        if constexpr (T != TexKind::Xrgb32)
          texel = Gather4(TexelColor<T>(p, raw[0]), TexelColor<T>(p, raw[1]), TexelColor<T>(p, raw[2]),
                          TexelColor<T>(p, raw[3]));
        __m128i keyed = _mm_cmpgt_epi32(_mm_xor_si128(_mm_sub_epi32(raws, keyLow), sign), keyRange);
        pass = _mm_and_si128(pass, keyed);
        __m128i tr = _mm_and_si128(_mm_srli_epi32(texel, 16), byte);
        __m128i tg = _mm_and_si128(_mm_srli_epi32(texel, 8), byte);
        __m128i tb = _mm_and_si128(texel, byte);
        rg = Modulate8(_mm_packs_epi32(tr, tg), rg);
        bx = Modulate8(_mm_packs_epi32(tb, tb), bx);
      }
      __m128i fog = _mm_srli_epi32(ramp[kRampF], 16);
      fog = _mm_add_epi32(fog, _mm_srli_epi32(fog, 7));
      __m128i weight = _mm_packs_epi32(fog, fog);
      rg = Finish8(rg, High8(ramp[kRampSR], ramp[kRampSG]), weight, fogRG);
      bx = Finish8(bx, High8(ramp[kRampSB], ramp[kRampSB]), weight, fogB);
      __m128i green = _mm_srli_si128(rg, 8);
      if constexpr (Wide) {
        __m128i low = _mm_or_si128(bx, _mm_slli_epi16(green, 8));
        __m128i high = _mm_or_si128(rg, _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
        __m128i color = _mm_unpacklo_epi16(low, high);
        auto* at = reinterpret_cast<__m128i*>(row + 4 * x);
        _mm_storeu_si128(at, Select(pass, color, _mm_loadu_si128(at)));
      } else {
        __m128i color =
            _mm_or_si128(_mm_sll_epi16(_mm_srli_epi16(rg, 3), redShift),
                         _mm_or_si128(_mm_slli_epi16(_mm_srl_epi16(green, greenLoss), 5), _mm_srli_epi16(bx, 3)));
        auto* at = reinterpret_cast<__m128i*>(row + 2 * x);
        _mm_storel_epi64(at, Select(Pack16(pass), color, _mm_loadl_epi64(at)));
      }
      if constexpr (Z == ZMode::Write16) {
        auto* at = reinterpret_cast<__m128i*>(depthRow + 2 * x);
        _mm_storel_epi64(at, Select(Pack16(pass), Pack16(zStored), _mm_loadl_epi64(at)));
      } else if constexpr (Z == ZMode::Write32) {
        auto* at = reinterpret_cast<__m128i*>(depthRow + 4 * x);
        _mm_storeu_si128(at, Select(pass, zStored, _mm_loadu_si128(at)));
      }
    }
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i) ramp[i] = _mm_add_epi32(ramp[i], ramp4[i]);
  }
  for (int i = 0; i < kRampCount; ++i) s.ramps[i].value = _mm_cvtsi128_si32(ramp[i]);
  return passed;
}

// Eight pixels at a time with AVX2, compiled for that instruction set function by function and
// chosen at run time. It does exactly what DrawQuads does, in eight lanes, and no fused
// multiply-add is enabled, so every result is the one the SSE2 and scalar code compute. Eight-lane
// integer packs work within 128-bit halves, so each half holds the same layout as DrawQuads'
// registers (pixels 0..3, then 4..7). On 16-bit targets and depth, spans go sixteen pixels at a
// time (Octets::Pair), with the same results.
#define KLV_AVX2 __attribute__((target("avx2,popcnt")))

KLV_AVX2 inline __m256i Select8(__m256i mask, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, mask); }

// One field of four edges, in the four 64-bit lanes.
KLV_AVX2 inline __m256i EdgeLanes(EdgeBound* const lanes[4], int64_t EdgeBound::*field) {
  return _mm256_setr_epi64x(lanes[0]->*field, lanes[1]->*field, lanes[2]->*field, lanes[3]->*field);
}

// RowBounds with the four sloped-edge bounds in the four 64-bit lanes of one register, stepped
// together: lower bounds in lanes 0 and 1, upper bounds in 2 and 3, a side's single edge taken
// twice. Each lane is first clamped to the scissor columns widened by one, which leaves every
// span as it was and a row without one still without one (its first column may differ, which
// RowSpans allows); the clamped bounds fit 32 bits, where the lower two take their larger and
// the upper two their smaller.
KLV_AVX2 __attribute__((noinline)) void RowBoundsWide(const SpanTriangle& tri, SidedEdges& e, int rows, RowSpans& out) {
  EdgeBound& lower1 = e.lower[e.lowers == 2 ? 1 : 0];
  EdgeBound& upper1 = e.upper[e.uppers == 2 ? 1 : 0];
  EdgeBound* const lanes[4] = {&e.lower[0], &lower1, &e.upper[0], &upper1};
  __m256i q = EdgeLanes(lanes, &EdgeBound::q), r = EdgeLanes(lanes, &EdgeBound::r);
  const __m256i d = EdgeLanes(lanes, &EdgeBound::d), qStep = EdgeLanes(lanes, &EdgeBound::qStep),
                rStep = EdgeLanes(lanes, &EdgeBound::rStep);
  const __m256i dLess1 = _mm256_sub_epi64(d, _mm256_set1_epi64x(1));
  const __m256i ceilOne = _mm256_setr_epi64x(1, 1, 0, 0);  // lower bounds round up, upper ones down
  const int64_t first = tri.columnFirst, last = tri.columnLast;
  const __m256i low = _mm256_setr_epi64x(first, first, first - 1, first - 1);
  const __m256i high = _mm256_setr_epi64x(last + 1, last + 1, last, last);
  const __m256i lowDwords = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  int64_t levelK = e.level.k;
  const int64_t levelStep = e.level.kStep;
  const bool level = e.hasLevel;
  for (int i = 0; i < rows; ++i) {
    __m256i bound = _mm256_add_epi64(q, _mm256_andnot_si256(_mm256_cmpeq_epi64(r, _mm256_setzero_si256()), ceilOne));
    bound = _mm256_blendv_epi8(bound, low, _mm256_cmpgt_epi64(low, bound));
    bound = _mm256_blendv_epi8(bound, high, _mm256_cmpgt_epi64(bound, high));
    const __m128i b = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bound, lowDwords));
    const __m128i swapped = _mm_shuffle_epi32(b, 0xB1);  // lanes 1, 0, 3, 2
    const int lo = _mm_cvtsi128_si32(_mm_max_epi32(b, swapped));
    int hi = _mm_extract_epi32(_mm_min_epi32(b, swapped), 2);
    if (level) {
      if (levelK < 0) hi = lo - 1;
      levelK += levelStep;
    }
    out.first[i] = lo;
    out.count[i] = std::max(hi - lo + 1, 0);
    const __m256i next = _mm256_add_epi64(r, rStep);
    const __m256i carry = _mm256_cmpgt_epi64(next, dLess1);  // all ones where next >= d
    q = _mm256_sub_epi64(_mm256_add_epi64(q, qStep), carry);
    r = _mm256_sub_epi64(next, _mm256_and_si256(d, carry));
  }
  alignas(32) int64_t qs[4], rs[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(qs), q);
  _mm256_store_si256(reinterpret_cast<__m256i*>(rs), r);
  for (int k = 0; k < 4; ++k) {
    lanes[k]->q = qs[k];
    lanes[k]->r = rs[k];
  }
  e.level.k = levelK;
}

KLV_AVX2 inline __m256i WrapIndex8(__m256 t, __m256 size, __m256i maxIndex) {
  const __m256 zero = _mm256_setzero_ps();
  __m256 frac = _mm256_sub_ps(t, _mm256_cvtepi32_ps(_mm256_cvttps_epi32(t)));
  frac = _mm256_add_ps(frac, _mm256_and_ps(_mm256_cmp_ps(frac, zero, _CMP_LT_OS), _mm256_set1_ps(1.0f)));
  __m256i index = _mm256_cvttps_epi32(_mm256_mul_ps(frac, size));
  __m256i over =
      _mm256_or_si256(_mm256_cmpgt_epi32(index, maxIndex), _mm256_cmpgt_epi32(_mm256_setzero_si256(), index));
  return Select8(over, maxIndex, index);
}

// Rounding down and then truncating leaves INT32_MIN for NaN and values beyond 32 bits, as
// WrapIndexMasked does.
KLV_AVX2 inline __m256i WrapIndexMasked8(__m256 t, __m256 size, __m256i maxIndex) {
  return _mm256_and_si256(_mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(t, size))), maxIndex);
}

// Modulate on 16-bit lanes: the colour's factor (color + (color >> 7)), then the product.
KLV_AVX2 inline __m256i ModulateFactor16(__m256i color) { return _mm256_add_epi16(color, _mm256_srli_epi16(color, 7)); }

KLV_AVX2 inline __m256i ModulateBy16(__m256i texel, __m256i factor) {
  return _mm256_srli_epi16(_mm256_mullo_epi16(texel, factor), 8);
}

KLV_AVX2 inline __m256i AddSpecular16(__m256i color, __m256i specular) {
  return _mm256_min_epi16(_mm256_add_epi16(color, specular), _mm256_set1_epi16(255));
}

// FogBlend on 16-bit lanes before its final shift: color * weight + fog * (256 - weight) is at
// most 255 * 256, so it is (color - fog) * weight + fog * 256 in 16-bit arithmetic that wraps;
// fog256 holds fog * 256. The blended colour is the high byte of each lane; a 16-bit target's
// packing takes its top bits from there without shifting it down first.
KLV_AVX2 inline __m256i Fog16(__m256i color, __m256i weight, __m256i fog, __m256i fog256) {
  return _mm256_add_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(color, fog), weight), fog256);
}

KLV_AVX2 inline __m256i High16(__m256i a, __m256i b) {
  return _mm256_packs_epi32(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(b, 16));
}

// The low 64 bits of each 128-bit half joined: eight 16-bit lanes in pixel order.
KLV_AVX2 inline __m128i JoinLow(__m256i value) {
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(value, _MM_SHUFFLE(3, 1, 2, 0)));
}

// One channel of eight 16-bit texels widened to 8 bits, as TexelColor does it.
KLV_AVX2 inline __m256i Expand8(__m256i raw, const ChannelExpand& c) {
  __m256i value = _mm256_and_si256(_mm256_srl_epi32(raw, _mm_cvtsi32_si128(static_cast<int>(c.shift))),
                                   _mm256_set1_epi32(static_cast<int>(c.mask)));
  __m256i wide = _mm256_or_si256(_mm256_sll_epi32(value, _mm_cvtsi32_si128(static_cast<int>(c.left))),
                                 _mm256_srl_epi32(value, _mm_cvtsi32_si128(static_cast<int>(c.right))));
  return _mm256_and_si256(wide, _mm256_set1_epi32(0xFF));
}

// Eight 0x00RRGGBB texels widened straight into the red-green and blue layouts of High16 (red
// and green of pixels 0..3 then 4..7, blue twice).
KLV_AVX2 inline __m256i TexelRG(__m256i texel) {
  return _mm256_shuffle_epi8(texel, _mm256_setr_epi8(2, -1, 6, -1, 10, -1, 14, -1, 1, -1, 5, -1, 9, -1, 13, -1,  //
                                                     2, -1, 6, -1, 10, -1, 14, -1, 1, -1, 5, -1, 9, -1, 13, -1));
}

KLV_AVX2 inline __m256i TexelBB(__m256i texel) {
  return _mm256_shuffle_epi8(texel, _mm256_setr_epi8(0, -1, 4, -1, 8, -1, 12, -1, 0, -1, 4, -1, 8, -1, 12, -1,  //
                                                     0, -1, 4, -1, 8, -1, 12, -1, 0, -1, 4, -1, 8, -1, 12, -1));
}

// Whether DrawOctets may run: it gathers 32-bit words at texel byte offsets, which must fit a
// signed 32-bit lane, from a texture of rows going down in memory and at least one word long;
// 32-bit texels it gathers by index, from rows a whole number of words apart.
inline bool Avx2Allowed(const SpanParams& p) {
  if (p.texture.bits == nullptr) return true;
  const int64_t extent = TextureExtent(p);
  const bool words =
      p.texture.format == RasterTexelFormat::Xrgb32 || p.texture.format == RasterTexelFormat::MarkedXrgb32;
  return p.texture.pitch > 0 && extent >= 4 && extent <= INT32_MAX && (!words || p.texture.pitch % 4 == 0);
}

// The eight 32-bit words at byte offsets `offset` from `base`, in one hardware gather. The
// offsets are never negative and fit a signed lane (Avx2Allowed).
KLV_AVX2 __attribute__((always_inline)) inline __m256i Gather8(const int* base, __m256i offset) {
  return _mm256_i32gather_epi32(base, offset, 1);
}

// A draw's texture as the eight-pixel loop addresses it: its first texel, its pitch in bytes and
// (for 32-bit texels) in words, the colour-keyed bits of a 32-bit texel in every lane, and the
// offset of its last whole word.
struct TextureLanes8 {
  const int* base;
  __m256i pitch, rowWords, texelMask, lastWord;
};

KLV_AVX2 inline TextureLanes8 TextureLanesOf(const SpanParams& p) {
  return {reinterpret_cast<const int*>(p.texture.bits), _mm256_set1_epi32(static_cast<int>(p.texture.pitch)),
          _mm256_set1_epi32(static_cast<int>(p.texture.pitch / 4)), _mm256_set1_epi32(static_cast<int>(p.texelMask)),
          _mm256_set1_epi32(p.textureLastWord)};
}

// Raw texels and their 0x00RRGGBB colours for eight texel positions. A 32-bit texel is one
// gathered word; a narrower one is taken from the word at its offset, or, for the last few bytes
// of the texture, from the last whole word, so no read leaves the texture.
template <TexKind T>
KLV_AVX2 __attribute__((always_inline)) inline void Fetch8(const SpanParams& p, const TextureLanes8& lanes, __m256i tx,
                                                           __m256i ty, __m256i& raws, __m256i& texel) {
  const int* base = lanes.base;
  if constexpr (T == TexKind::Xrgb32) {
    const __m256i index = _mm256_add_epi32(_mm256_mullo_epi32(ty, lanes.rowWords), tx);
    raws = _mm256_and_si256(_mm256_i32gather_epi32(base, index, 4), lanes.texelMask);
    texel = raws;
  } else {
    constexpr int kTexelShift = T == TexKind::Indexed8 ? 0 : 1;
    __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(ty, lanes.pitch), _mm256_slli_epi32(tx, kTexelShift));
    __m256i start = _mm256_min_epi32(offset, lanes.lastWord);
    __m256i word = Gather8(base, start);
    __m256i shifted = _mm256_srlv_epi32(word, _mm256_slli_epi32(_mm256_sub_epi32(offset, start), 3));
    raws = _mm256_and_si256(shifted, _mm256_set1_epi32(T == TexKind::Indexed8 ? 0xFF : 0xFFFF));
    if constexpr (T == TexKind::Indexed8) {
      texel = Gather8(reinterpret_cast<const int*>(p.texture.palette), _mm256_slli_epi32(raws, 2));
    } else {
      texel = _mm256_or_si256(
          _mm256_or_si256(_mm256_slli_epi32(Expand8(raws, p.red), 16), _mm256_slli_epi32(Expand8(raws, p.green), 8)),
          Expand8(raws, p.blue));
    }
  }
}

// A span's depth (lane 0) and colour ramps (lanes 1..7) at its first pixel, clamped to low .. high
// after adding low (0.5 rounds the ramps), with their step from pixel to pixel; and whether its loop
// needs the specular add and the fog blend. A span whose specular colour rounds to 0 throughout
// adds nothing, and one whose fog factor is 255 throughout blends nothing (weight 256 keeps the
// colour exactly): those steps, and their ramps, are left out of its loop. The eight- and
// sixteen-pixel routines set their spans up here, as StartSpan does for the narrower ones.
//
// The ramps are stepped in 16.16 fixed point: `values` and `steps` are lanes 1..7 of first and step
// so converted. A ramp's pixel j takes values + j * steps, a straight line of integers well inside
// 0 .. 2^31, so when its whole part is the same at both ends it is the same at every pixel. A span
// whose diffuse colour (and specular colour, where it adds one) is so is `flat`: its loop takes
// those colours as constants, computed once, instead of stepping them; the pixels are the same.
struct SpanEnds {
  __m256 first, step;
  __m256i values, steps;
  bool specular, fog, flat;
};

KLV_AVX2 __attribute__((always_inline)) inline SpanEnds SpanEndsOf(const SpanTriangle& tri, float fx, float fy, int n,
                                                                   __m256 low, __m256 high) {
  const auto last = static_cast<float>(n - 1);
  const __m256 dx = _mm256_loadu_ps(tri.dx + kZ);
  const __m256 start =
      _mm256_add_ps(_mm256_add_ps(_mm256_loadu_ps(tri.origin + kZ), _mm256_mul_ps(dx, _mm256_set1_ps(fx))),
                    _mm256_mul_ps(_mm256_loadu_ps(tri.dy + kZ), _mm256_set1_ps(fy)));
  const __m256 end = _mm256_add_ps(start, _mm256_mul_ps(dx, _mm256_set1_ps(last)));
  const __m256 first = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(start, low), low), high);
  const __m256 final = _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(end, low), low), high);
  const __m256 step = n > 1 ? _mm256_div_ps(_mm256_sub_ps(final, first), _mm256_set1_ps(last)) : _mm256_setzero_ps();
  // Both ends are within low .. high, so both are at a bound when the one nearer the other bound is.
  const int atZero = _mm256_movemask_ps(_mm256_cmp_ps(_mm256_max_ps(first, final), low, _CMP_EQ_OQ));
  const int atTop = _mm256_movemask_ps(_mm256_cmp_ps(_mm256_min_ps(first, final), high, _CMP_EQ_OQ));
  constexpr int kSpecularLanes = (1 << (kSR - kZ)) | (1 << (kSG - kZ)) | (1 << (kSB - kZ)), kFogLane = 1 << (kF - kZ);
  constexpr int kDiffuseLanes = (1 << (kR - kZ)) | (1 << (kG - kZ)) | (1 << (kB - kZ));
  const bool specular = (atZero & kSpecularLanes) != kSpecularLanes;
  const __m256 one = _mm256_set1_ps(65536.0f);
  const __m256i values = _mm256_cvttps_epi32(_mm256_mul_ps(first, one));
  const __m256i steps = _mm256_cvttps_epi32(_mm256_mul_ps(step, one));
  const __m256i ends = _mm256_add_epi32(values, _mm256_mullo_epi32(steps, _mm256_set1_epi32(n - 1)));
  const int kept = _mm256_movemask_ps(
      _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_srli_epi32(values, 16), _mm256_srli_epi32(ends, 16))));
  const int flatLanes = specular ? kDiffuseLanes | kSpecularLanes : kDiffuseLanes;
  return {first, step, values, steps, specular, (atTop & kFogLane) == 0, (kept & flatLanes) == flatLanes};
}

// A flat span's colours as its loop takes them, from its ramps' fixed-point values (ramp i in
// lane i + 1): High16's layout of constant ramps, that is in each 128-bit block red four times
// and green four times (`rg`), blue eight times (`bx`), and the same for the specular colour.
// Textured, rg and bx hold the diffuse colour's modulation factors instead.
struct FlatColors8 {
  __m256i rg, bx, srg, sbx;
};

// Byte shuffles that spread whole parts over each 128-bit block: a ramp's whole part is the high
// 16 bits of its 32-bit lane, bytes 4j + 2 and 4j + 3 of lane j. They are applied to the block of
// lanes 0..3 (depth, r, g, b) and to that of lanes 4..7 (sr, sg, sb, fog), repeated in every
// block; each table holds one block's shuffle four times, for 512-bit registers.
struct SpreadBytes {
  alignas(64) int8_t bytes[64];
};

constexpr SpreadBytes SpreadOf(int a, int b) {  // words 0..3 take lane a's whole part, 4..7 lane b's
  SpreadBytes spread{};
  for (int i = 0; i < 64; ++i) {
    const int word = (i % 16) / 2, lane = word < 4 ? a : b;
    spread.bytes[i] = static_cast<int8_t>(4 * lane + 2 + i % 2);
  }
  return spread;
}

constexpr SpreadBytes kSpreadRG = SpreadOf(1, 2), kSpreadB = SpreadOf(3, 3);
constexpr SpreadBytes kSpreadSRG = SpreadOf(0, 1), kSpreadSB = SpreadOf(2, 2);

// Words 0..3 and again 4..7 take the whole parts of lanes 0..3: what packing a block's lanes
// shifted down by 16 with themselves gives, for lanes of 0 .. 2^31.
constexpr SpreadBytes WholeParts() {
  SpreadBytes spread{};
  for (int i = 0; i < 64; ++i) spread.bytes[i] = static_cast<int8_t>(4 * ((i % 16) / 2 % 4) + 2 + i % 2);
  return spread;
}
constexpr SpreadBytes kWholeParts = WholeParts();

KLV_AVX2 inline __m256i Spread8(__m256i block, const SpreadBytes& spread) {
  return _mm256_shuffle_epi8(block, _mm256_load_si256(reinterpret_cast<const __m256i*>(spread.bytes)));
}

KLV_AVX2 inline FlatColors8 FlatColorsOf(__m256i values, bool textured) {
  static_assert(kRampR == 0 && kRampSB == 5, "ramps r, g, b, sr, sg and sb are in lanes 1..6");
  const __m256i diffuse = _mm256_permute2x128_si256(values, values, 0x00);
  const __m256i specular = _mm256_permute2x128_si256(values, values, 0x11);
  FlatColors8 flat = {Spread8(diffuse, kSpreadRG), Spread8(diffuse, kSpreadB), Spread8(specular, kSpreadSRG),
                      Spread8(specular, kSpreadSB)};
  if (textured) {
    flat.rg = ModulateFactor16(flat.rg);
    flat.bx = ModulateFactor16(flat.bx);
  }
  return flat;
}

// Whether a span's loop with or without the specular add and fog blend, and with flat colours or
// not, steps colour ramp i.
template <bool Specular, bool Fog, bool Flat>
constexpr bool UsesRamp(int i) {
  return i == kRampF ? Fog : !Flat && (i < kRampSR || Specular);
}

// A triangle's spans drawn eight pixels at a time: the constants of the draw, set up once, and the
// colour ramps and float interpolants of the current span. ByMask: the texture wraps by masking
// (both sides powers of two), as every texture of the saver's own data does; the other wrap is
// a routine of its own, so the loop tests neither.
template <TexKind T, bool Persp, ZMode Z, bool Wide, bool ByMask>
class Octets {
 public:
  static constexpr bool kDepth32 = Z == ZMode::Test32 || Z == ZMode::Write32;
  static constexpr int kColorBytes = Wide ? 4 : 2, kDepthBytes = kDepth32 ? 4 : 2;
  // Whether spans may go sixteen pixels at a time (see Pair): 16-bit targets on 16-bit depth or
  // none, with 32-bit texels or none, as the saver draws.
  static constexpr bool kPairs = !Wide && !kDepth32 && (T == TexKind::None || T == TexKind::Xrgb32);

  // The draw's constants and the triangle's steps of w, u and v from pixel to pixel.
  KLV_AVX2 Octets(const SpanParams& p, const SpanTriangle& tri)
      : p_(p),
        dw_(_mm256_set1_ps(tri.dx[kW])),
        du_(_mm256_set1_ps(tri.dx[kU])),
        dv_(_mm256_set1_ps(tri.dx[kV])),
        maxZ16_(_mm256_set1_epi32(static_cast<int>(std::min<uint32_t>(p.depth.maxValue, INT32_MAX)))),
        maxZ32_(_mm256_set1_ps(p.depthMax)),
        texW_(_mm256_set1_ps(p.texWidth)),
        texH_(_mm256_set1_ps(p.texHeight)),
        maxU_(_mm256_set1_epi32(p.texture.width - 1)),
        maxV_(_mm256_set1_epi32(p.texture.height - 1)),
        keyLow_(_mm256_set1_epi32(static_cast<int>(p.keyLow ^ 0x80000000u))),
        keyRange_(_mm256_set1_epi32(static_cast<int>(p.keyRange ^ 0x80000000u))),
        texture_(TextureLanesOf(p)),
        redScale_(_mm256_set1_epi16(static_cast<int16_t>(1u << p.redShift))),
        greenScale_(_mm256_set1_epi16(static_cast<int16_t>(1u << (16 - p.greenLoss)))),
        greenScaleFogged_(_mm256_set1_epi16(static_cast<int16_t>(1u << (8 - p.greenLoss)))),
        low_(_mm256_setr_ps(0.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f)),
        high_(_mm256_setr_ps(p.zScale, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f)),
        rowEnd_(Z != ZMode::None ? std::min(p.target.width, p.depth.width) : p.target.width),
        pairs_(kPairs && (Z == ZMode::None || p.depth.maxValue == UINT16_MAX)) {
    const auto fogR = static_cast<int16_t>(p.fogR), fogG = static_cast<int16_t>(p.fogG);
    fogRG_ = _mm256_setr_epi16(fogR, fogR, fogR, fogR, fogG, fogG, fogG, fogG, fogR, fogR, fogR, fogR, fogG, fogG, fogG,
                               fogG);
    fogB_ = _mm256_set1_epi16(static_cast<int16_t>(p.fogB));
    fogRG256_ = _mm256_slli_epi16(fogRG_, 8);
    fogB256_ = _mm256_slli_epi16(fogB_, 8);
  }

  // Draws one row's span of the triangle, pixels x0 .. x0 + n - 1 of row y. The span is set up as
  // StartSpan sets it up, the same operations lane by lane, with depth and the seven colour ramps
  // in the eight lanes of one register, so the values are the same.
  KLV_AVX2 void Draw(const SpanTriangle& tri, int y, int x0, int n) {
    const auto fx = static_cast<float>(x0), fy = static_cast<float>(y);
    const SpanEnds ends = SpanEndsOf(tri, fx, fy, n, low_, high_);
    const __m128 wuv =
        _mm_add_ps(_mm_add_ps(_mm_loadu_ps(tri.origin + kW), _mm_mul_ps(_mm_loadu_ps(tri.dx + kW), _mm_set1_ps(fx))),
                   _mm_mul_ps(_mm_loadu_ps(tri.dy + kW), _mm_set1_ps(fy)));
    static_assert(kU == kW + 1 && kV == kW + 2, "w, u and v are read as the first three of four lanes");
    w0_ = _mm256_broadcastss_ps(wuv);
    u0_ = _mm256_broadcastss_ps(_mm_shuffle_ps(wuv, wuv, 1));
    v0_ = _mm256_broadcastss_ps(_mm_shuffle_ps(wuv, wuv, 2));
    uint8_t* row = p_.target.bits + y * p_.target.pitch;
    uint8_t* depthRow = Z != ZMode::None ? p_.depth.bits + y * p_.depth.pitch : nullptr;
    if (ends.specular && ends.fog) return SpanOf<true, true>(ends, row, depthRow, x0, x0 + n);
    if (ends.specular) return SpanOf<true, false>(ends, row, depthRow, x0, x0 + n);
    if (ends.fog) return SpanOf<false, true>(ends, row, depthRow, x0, x0 + n);
    SpanOf<false, false>(ends, row, depthRow, x0, x0 + n);
  }

  // The pixels that have passed the depth test so far.
  KLV_AVX2 uint64_t Passed() const { return passed_; }

 private:
  // What a span's loop changes from group to group: the pixels of the next group, counted from
  // the span's first, with the span's depth at its first pixel and its step, and the colour ramps
  // with their steps over a group, or a flat span's colours (see BeginWalk). It is a local of the
  // loop, apart from the object: the loop's stores through byte pointers could alias the object,
  // whose members would then go back to memory after every group.
  struct Walk {
    __m256 k, z0, dz;
    __m256i ramp[kRampCount], step[kRampCount];
    FlatColors8 flat;
  };

  template <bool Specular, bool Fog>
  KLV_AVX2 __attribute__((always_inline)) void SpanOf(const SpanEnds& ends, uint8_t* row, uint8_t* depthRow, int x,
                                                      int end) {
    if (ends.flat) return Span<Specular, Fog, true>(ends, row, depthRow, x, end);
    Span<Specular, Fog, false>(ends, row, depthRow, x, end);
  }

  // The walk of a span from its first group. The colour ramps come from the span's fixed-point
  // first values and steps (lanes 1..7 of each; lane 0 is depth): lane k of a ramp starts at
  // value + k * step, wrapping like stepping would. Flat colours are taken once, in the layouts
  // the loop uses (see Group).
  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX2 __attribute__((always_inline)) void BeginWalk(const SpanEnds& ends, Walk& walk) {
    walk.k = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
    walk.z0 = _mm256_permutevar8x32_ps(ends.first, _mm256_setzero_si256());
    walk.dz = _mm256_permutevar8x32_ps(ends.step, _mm256_setzero_si256());
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    static_assert(kR == kZ + 1, "ramp i is in lane i + 1");
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i) {
      if (!UsesRamp<Specular, Fog, Flat>(i)) continue;
      const __m256i pick = _mm256_set1_epi32(i + 1);
      const __m256i dv = _mm256_permutevar8x32_epi32(ends.steps, pick);
      walk.ramp[i] = _mm256_add_epi32(_mm256_permutevar8x32_epi32(ends.values, pick), _mm256_mullo_epi32(dv, lane));
      walk.step[i] = _mm256_slli_epi32(dv, 3);
    }
    if constexpr (Flat) walk.flat = FlatColorsOf(ends.values, T != TexKind::None);
  }

  // Draws pixels x .. end - 1. The last one to seven go through the same eight-lane code with the
  // lanes past the end masked off; where those lanes would fall beyond the row, on a copy of the
  // span's last colour and depth values, so nothing outside the row is read or written.
  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX2 __attribute__((always_inline)) void Span(const SpanEnds& ends, uint8_t* row, uint8_t* depthRow, int x,
                                                    int end) {
    Walk walk;
    BeginWalk<Specular, Fog, Flat>(ends, walk);
    uint8_t* colorAt = row + kColorBytes * x;
    uint8_t* depthAt = DepthAt(depthRow, x);
    // Pairs of groups while more than sixteen pixels are left, then groups; every group but the
    // last stepping pointers, the loops ending on the colour pointer. The last nine to sixteen
    // pixels are one pair with the lanes past the end masked off, where it stays in the row.
    if constexpr (kPairs) {
      if (pairs_) {
        const __m256i all = _mm256_set1_epi16(-1);
        const int pairs = (end - x - 1) / 16;
        const uint8_t* pairsLast = colorAt + 16 * kColorBytes * pairs;
        for (; colorAt != pairsLast; colorAt += 16 * kColorBytes) {
          Pair<Specular, Fog, Flat>(walk, colorAt, depthAt, all);
          if constexpr (Z != ZMode::None) depthAt += 16 * kDepthBytes;
        }
        x += 16 * pairs;
        const int left = end - x;
        if (left > 8 && x + 16 <= rowEnd_) {
          const __m256i live =
              _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(left)),
                                 _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
          return Pair<Specular, Fog, Flat>(walk, colorAt, depthAt, live);
        }
      }
    }
    const __m256i all = _mm256_set1_epi32(-1);
    const int groups = (end - x - 1) / 8;
    const uint8_t* colorLast = colorAt + 8 * kColorBytes * groups;
    for (; colorAt != colorLast; colorAt += 8 * kColorBytes) {
      Group<Specular, Fog, Flat>(walk, colorAt, depthAt, all);
      if constexpr (Z != ZMode::None) depthAt += 8 * kDepthBytes;
    }
    x += 8 * groups;
    const int left = end - x;
    const __m256i live = _mm256_cmpgt_epi32(_mm256_set1_epi32(left), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    if (x + 8 <= rowEnd_) return Group<Specular, Fog, Flat>(walk, colorAt, depthAt, live);
    alignas(32) uint8_t color[32] = {}, depth[32] = {};
    const auto colorBytes = static_cast<size_t>(kColorBytes * left),
               depthBytes = static_cast<size_t>(kDepthBytes * left);
    std::memcpy(color, colorAt, colorBytes);
    if constexpr (Z != ZMode::None) std::memcpy(depth, depthAt, depthBytes);
    Group<Specular, Fog, Flat>(walk, color, depth, live);
    std::memcpy(colorAt, color, colorBytes);
    if constexpr (Z == ZMode::Write16 || Z == ZMode::Write32) std::memcpy(depthAt, depth, depthBytes);
  }

  static uint8_t* DepthAt(uint8_t* depthRow, int x) { return Z != ZMode::None ? depthRow + kDepthBytes * x : nullptr; }

  // The raw texels and their colours for the eight pixels k (counted from the span's first).
  KLV_AVX2 __attribute__((always_inline)) void Texels(__m256 k, __m256i& raws, __m256i& texel) {
    __m256 w = _mm256_add_ps(w0_, _mm256_mul_ps(k, dw_));
    __m256 tu = _mm256_add_ps(u0_, _mm256_mul_ps(k, du_));
    __m256 tv = _mm256_add_ps(v0_, _mm256_mul_ps(k, dv_));
    if constexpr (Persp) {
      __m256 inverse = _mm256_div_ps(_mm256_set1_ps(1.0f), w);
      tu = _mm256_mul_ps(tu, inverse);
      tv = _mm256_mul_ps(tv, inverse);
    }
    if constexpr (ByMask)
      Fetch8<T>(p_, texture_, WrapIndexMasked8(tu, texW_, maxU_), WrapIndexMasked8(tv, texH_, maxV_), raws, texel);
    else
      Fetch8<T>(p_, texture_, WrapIndex8(tu, texW_, maxU_), WrapIndex8(tv, texH_, maxV_), raws, texel);
  }

  // Draws the next eight pixels, whose colour and depth values start at colorAt and depthAt; only
  // the lanes set in `live` may be drawn. Texels are fetched only when a lane passes the depth
  // test. Each lane counts the pixels of it that pass the depth test. The colours are 16-bit lanes,
  // red and green of pixels 0..3 then 4..7 in `rg`, blue twice in `bx` (the layout of High16).
  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX2 __attribute__((always_inline)) void Group(Walk& walk, uint8_t* colorAt, uint8_t* depthAt, __m256i live) {
    const __m256 k = walk.k;  // stepped with the ramps, after its last use
    const __m256 z = _mm256_add_ps(walk.z0, _mm256_mul_ps(k, walk.dz));

    __m256i pass = live, zStored = _mm256_setzero_si256();
    if constexpr (Z == ZMode::Test16 || Z == ZMode::Write16) {
      zStored = _mm256_cvttps_epi32(z);
      zStored = _mm256_and_si256(zStored, _mm256_cmpgt_epi32(zStored, _mm256_setzero_si256()));
      zStored = _mm256_min_epi32(zStored, maxZ16_);
      __m256i held = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(depthAt)));
      pass = _mm256_andnot_si256(_mm256_cmpgt_epi32(zStored, held), live);
    } else if constexpr (kDepth32) {
      // Unsigned conversion from two signed ones: a value from 2^31 up converts to INT32_MIN, that
      // is 2^31, to which the second adds the rest; a smaller one converts exactly, plus 0.
      const __m256 zf = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), maxZ32_);
      const __m256 above = _mm256_max_ps(_mm256_sub_ps(zf, _mm256_set1_ps(2147483648.0f)), _mm256_setzero_ps());
      zStored = _mm256_add_epi32(_mm256_cvttps_epi32(zf), _mm256_cvttps_epi32(above));
      __m256i held = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depthAt));
      // zStored <= held, unsigned: the smaller of the two is zStored.
      pass = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(zStored, held), zStored), live);
    }
    const int passBits = _mm256_movemask_ps(_mm256_castsi256_ps(pass));
    if (passBits != 0) {
      passed_ += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(passBits)));
      __m256i rg, bx;  // the diffuse colour; textured, its modulation factor
      if constexpr (Flat) {
        rg = walk.flat.rg;
        bx = walk.flat.bx;
      } else {
        rg = High16(walk.ramp[kRampR], walk.ramp[kRampG]);
        bx = High16(walk.ramp[kRampB], walk.ramp[kRampB]);
        if constexpr (T != TexKind::None) {
          rg = ModulateFactor16(rg);
          bx = ModulateFactor16(bx);
        }
      }
      if constexpr (T != TexKind::None) {
        __m256i texel, keyed;
        Keyed(k, texel, keyed);
        pass = _mm256_and_si256(pass, keyed);
        rg = ModulateBy16(TexelRG(texel), rg);
        bx = ModulateBy16(TexelBB(texel), bx);
      }
      if constexpr (Specular && Flat) {
        rg = AddSpecular16(rg, walk.flat.srg);
        bx = AddSpecular16(bx, walk.flat.sbx);
      } else if constexpr (Specular) {
        rg = AddSpecular16(rg, High16(walk.ramp[kRampSR], walk.ramp[kRampSG]));
        bx = AddSpecular16(bx, High16(walk.ramp[kRampSB], walk.ramp[kRampSB]));
      }
      if constexpr (Fog) {
        const __m256i fog = Spread8(walk.ramp[kRampF], kWholeParts);
        const __m256i weight = _mm256_add_epi16(fog, _mm256_srli_epi16(fog, 7));
        rg = Fog16(rg, weight, fogRG_, fogRG256_);
        bx = Fog16(bx, weight, fogB_, fogB256_);
        if constexpr (Wide) {
          rg = _mm256_srli_epi16(rg, 8);
          bx = _mm256_srli_epi16(bx, 8);
        }
      }
      __m256i green = _mm256_srli_si256(rg, 8);
      if constexpr (Wide) {
        __m256i low = _mm256_or_si256(bx, _mm256_slli_epi16(green, 8));
        __m256i high = _mm256_or_si256(rg, _mm256_set1_epi16(static_cast<int16_t>(0xFF00)));
        __m256i color = _mm256_unpacklo_epi16(low, high);
        auto* at = reinterpret_cast<__m256i*>(colorAt);
        _mm256_storeu_si256(at, Select8(pass, color, _mm256_loadu_si256(at)));
      } else {
        const __m256i color = Pack16<Fog>(rg, green, bx);
        auto* at = reinterpret_cast<__m128i*>(colorAt);
        __m128i mask = JoinLow(_mm256_packs_epi32(pass, pass));
        _mm_storeu_si128(at, _mm_blendv_epi8(_mm_loadu_si128(at), JoinLow(color), mask));
      }
      if constexpr (Z == ZMode::Write16) {
        auto* at = reinterpret_cast<__m128i*>(depthAt);
        __m128i mask = JoinLow(_mm256_packs_epi32(pass, pass));
        _mm_storeu_si128(at,
                         _mm_blendv_epi8(_mm_loadu_si128(at), JoinLow(_mm256_packus_epi32(zStored, zStored)), mask));
      } else if constexpr (Z == ZMode::Write32) {
        auto* at = reinterpret_cast<__m256i*>(depthAt);
        _mm256_storeu_si256(at, Select8(pass, zStored, _mm256_loadu_si256(at)));
      }
    }
    walk.k = _mm256_add_ps(walk.k, _mm256_set1_ps(8.0f));
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i)
      if (UsesRamp<Specular, Fog, Flat>(i)) walk.ramp[i] = _mm256_add_epi32(walk.ramp[i], walk.step[i]);
  }

  // Draws the next sixteen pixels, whose colour and depth values start at colorAt and depthAt; only
  // the lanes set in `live` (sixteen 16-bit lanes, in pixel order) may be drawn. Each pixel takes
  // the values Group gives it when the sixteen are drawn as two groups (low: pixels 0..7, high:
  // 8..15), but what Group does in 16-bit lanes for eight pixels is done here once for sixteen:
  // the depth test and write, the blue channel, the packing and the stores. The colours are in
  // sixteen 16-bit lanes holding pixels 0..3, 8..11 in the first 128-bit block and 4..7, 12..15 in
  // the second (the two groups' High16 layouts joined a half block at a time), and one quadword
  // permute puts them in pixel order, the order of the depth values and the pass mask.
  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX2 __attribute__((always_inline)) void Pair(Walk& walk, uint8_t* colorAt, uint8_t* depthAt, __m256i live) {
    const __m256 kLow = walk.k, kHigh = _mm256_add_ps(walk.k, _mm256_set1_ps(8.0f));
    __m256i rampHigh[kRampCount];
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i)
      if (UsesRamp<Specular, Fog, Flat>(i)) rampHigh[i] = _mm256_add_epi32(walk.ramp[i], walk.step[i]);

    __m256i pass = live, zStored = _mm256_setzero_si256(), held = zStored;
    if constexpr (Z != ZMode::None) {
      const __m256i zLow = _mm256_cvttps_epi32(_mm256_add_ps(walk.z0, _mm256_mul_ps(kLow, walk.dz)));
      const __m256i zHigh = _mm256_cvttps_epi32(_mm256_add_ps(walk.z0, _mm256_mul_ps(kHigh, walk.dz)));
      // Packing with unsigned saturation takes a negative value (and NaN's INT32_MIN) to 0 and
      // clamps at 65535, the depth maximum here (pairs_), as Group clamps.
      zStored = _mm256_permute4x64_epi64(_mm256_packus_epi32(zLow, zHigh), 0xD8);
      held = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depthAt));
      pass = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(zStored, held), zStored), live);
    }
    const auto passBits = static_cast<unsigned>(_mm256_movemask_epi8(pass));  // two bits a pixel
    if (passBits != 0) {
      passed_ += static_cast<unsigned>(__builtin_popcount(passBits)) / 2;
      __m256i rgLow, rgHigh, bb;  // the diffuse colour; textured, its modulation factor
      if constexpr (Flat) {
        rgLow = rgHigh = walk.flat.rg;
        bb = walk.flat.bx;
      } else {
        rgLow = High16(walk.ramp[kRampR], walk.ramp[kRampG]);
        rgHigh = High16(rampHigh[kRampR], rampHigh[kRampG]);
        bb = High16(walk.ramp[kRampB], rampHigh[kRampB]);
        if constexpr (T != TexKind::None) {
          rgLow = ModulateFactor16(rgLow);
          rgHigh = ModulateFactor16(rgHigh);
          bb = ModulateFactor16(bb);
        }
      }
      if constexpr (T != TexKind::None) {
        // A group none of whose pixels passed fetches nothing; its lanes stay masked off.
        __m256i texelLow = _mm256_setzero_si256(), texelHigh = texelLow, keyedLow = texelLow, keyedHigh = texelLow;
        if ((passBits & 0xFFFFu) != 0) Keyed(kLow, texelLow, keyedLow);
        if ((passBits >> 16) != 0) Keyed(kHigh, texelHigh, keyedHigh);
        pass = _mm256_and_si256(pass, _mm256_permute4x64_epi64(_mm256_packs_epi32(keyedLow, keyedHigh), 0xD8));
        rgLow = ModulateBy16(TexelRG(texelLow), rgLow);
        rgHigh = ModulateBy16(TexelRG(texelHigh), rgHigh);
        bb = ModulateBy16(_mm256_unpacklo_epi64(TexelBB(texelLow), TexelBB(texelHigh)), bb);
      }
      if constexpr (Specular && Flat) {
        rgLow = AddSpecular16(rgLow, walk.flat.srg);
        rgHigh = AddSpecular16(rgHigh, walk.flat.srg);
        bb = AddSpecular16(bb, walk.flat.sbx);
      } else if constexpr (Specular) {
        rgLow = AddSpecular16(rgLow, High16(walk.ramp[kRampSR], walk.ramp[kRampSG]));
        rgHigh = AddSpecular16(rgHigh, High16(rampHigh[kRampSR], rampHigh[kRampSG]));
        bb = AddSpecular16(bb, High16(walk.ramp[kRampSB], rampHigh[kRampSB]));
      }
      if constexpr (Fog) {
        const __m256i fogLow = Spread8(walk.ramp[kRampF], kWholeParts);
        const __m256i fogHigh = Spread8(rampHigh[kRampF], kWholeParts);
        const __m256i weightLow = _mm256_add_epi16(fogLow, _mm256_srli_epi16(fogLow, 7));
        const __m256i weightHigh = _mm256_add_epi16(fogHigh, _mm256_srli_epi16(fogHigh, 7));
        rgLow = Fog16(rgLow, weightLow, fogRG_, fogRG256_);
        rgHigh = Fog16(rgHigh, weightHigh, fogRG_, fogRG256_);
        bb = Fog16(bb, _mm256_unpacklo_epi64(weightLow, weightHigh), fogB_, fogB256_);
      }
      // Packed as Group packs, from reds and greens gathered from both groups.
      const __m256i red = _mm256_unpacklo_epi64(rgLow, rgHigh), green = _mm256_unpackhi_epi64(rgLow, rgHigh);
      const __m256i color = _mm256_permute4x64_epi64(Pack16<Fog>(red, green, bb), 0xD8);
      auto* at = reinterpret_cast<__m256i*>(colorAt);
      _mm256_storeu_si256(at, _mm256_blendv_epi8(_mm256_loadu_si256(at), color, pass));
      if constexpr (Z == ZMode::Write16)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(depthAt), _mm256_blendv_epi8(held, zStored, pass));
    }
    walk.k = _mm256_add_ps(kHigh, _mm256_set1_ps(8.0f));
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i)
      if (UsesRamp<Specular, Fog, Flat>(i)) walk.ramp[i] = _mm256_add_epi32(rampHigh[i], walk.step[i]);
  }

  // 16-bit lanes of red, green and blue packed to 5-6-5 or 5-5-5 pixels. The shifts are products
  // (the low and the high 16 bits), which take their factors straight from memory where shifts by
  // a count would load it into a register first. After the fog blend the colours still hold 8 bits
  // below them, shifted out here too.
  template <bool Fog>
  KLV_AVX2 __attribute__((always_inline)) __m256i Pack16(__m256i red, __m256i green, __m256i blue) const {
    constexpr int kBelow = Fog ? 8 : 0;
    const __m256i greenScale = Fog ? greenScaleFogged_ : greenScale_;
    return _mm256_or_si256(_mm256_mullo_epi16(_mm256_srli_epi16(red, 3 + kBelow), redScale_),
                           _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epu16(green, greenScale), 5),
                                           _mm256_srli_epi16(blue, 3 + kBelow)));
  }

  // The colours of the eight texels of pixels k, and the lanes whose texels are not colour-keyed:
  // unsigned (raw - keyLow) > keyRange as a signed comparison, both sides offset by 2^31 (keyLow_
  // holds keyLow - 2^31, so the difference comes out offset already).
  KLV_AVX2 __attribute__((always_inline)) void Keyed(__m256 k, __m256i& texel, __m256i& keyed) {
    __m256i raws;
    Texels(k, raws, texel);
    keyed = _mm256_cmpgt_epi32(_mm256_sub_epi32(raws, keyLow_), keyRange_);
  }

  const SpanParams& p_;
  __m256 w0_, u0_, v0_, dw_, du_, dv_;  // w, u and v at the span's first pixel; the triangle's steps
  __m256i maxZ16_;
  __m256 maxZ32_, texW_, texH_;
  __m256i maxU_, maxV_, keyLow_, keyRange_, fogRG_, fogB_, fogRG256_, fogB256_;
  TextureLanes8 texture_;
  // 16-bit targets: x * redScale_ is red << redShift, and the high half of x * greenScale_ is
  // green >> greenLoss, or of x * greenScaleFogged_ for a fog blend's green, 256 times larger.
  __m256i redScale_, greenScale_, greenScaleFogged_;
  // Span set-up bounds for depth (lane 0) and the colour ramps: each lane is offset by its lower
  // bound (0.5 rounds the ramps) and clamped to lower .. upper.
  __m256 low_, high_;
  int rowEnd_;           // columns a whole group may touch: the target's, and the depth buffer's
  bool pairs_;           // spans go by pairs: kPairs, and depth takes the whole 16-bit range
  uint64_t passed_ = 0;  // pixels that passed the depth test
};

// Draws the triangle's rows eight pixels at a time. The row walk and span set-up are compiled
// here for AVX2 too, and the draw's constants are set up once for all rows. Every call the walk
// makes but the row bounds' is inlined (flatten): a call per span would save and restore
// registers and reload the draw's constants, for every span.
template <TexKind T, bool Persp, ZMode Z, bool Wide, bool ByMask>
KLV_AVX2 __attribute__((flatten)) uint64_t DrawRowsOctetsWrapped(const SpanParams& p, const SpanTriangle& tri) {
  Octets<T, Persp, Z, Wide, ByMask> octets(p, tri);
  WalkRows<RowBoundsWide>(tri, octets);
  return octets.Passed();
}

// The same with the draw's wrap; an untextured draw fetches nothing and takes the masked routine.
template <TexKind T, bool Persp, ZMode Z, bool Wide>
KLV_AVX2 uint64_t DrawRowsOctets(const SpanParams& p, const SpanTriangle& tri) {
  if constexpr (T != TexKind::None) {
    if (!p.wrapByMask) return DrawRowsOctetsWrapped<T, Persp, Z, Wide, false>(p, tri);
  }
  return DrawRowsOctetsWrapped<T, Persp, Z, Wide, true>(p, tri);
}
#undef KLV_AVX2

// Sixteen pixels at a time with AVX-512 (F, BW and VL), chosen at run time like the AVX2 path and
// doing exactly what it does, lane for lane: the 16-bit colour arithmetic keeps its layout in each
// 128-bit block (pixels 0..3, 4..7, 8..11, 12..15), depth converts with the unsigned conversion the
// AVX2 path builds from two signed ones, and masked loads and stores take the place of blends, so
// a span's last group needs no copy and touches nothing past its last pixel.
#define KLV_AVX512 __attribute__((target("avx2,popcnt,avx512f,avx512bw,avx512vl")))

KLV_AVX512 inline __m512i ModulateFactor32(__m512i color) {
  return _mm512_add_epi16(color, _mm512_srli_epi16(color, 7));
}

KLV_AVX512 inline __m512i ModulateBy32(__m512i texel, __m512i factor) {
  return _mm512_srli_epi16(_mm512_mullo_epi16(texel, factor), 8);
}

KLV_AVX512 inline __m512i AddSpecular32(__m512i color, __m512i specular) {
  return _mm512_min_epi16(_mm512_add_epi16(color, specular), _mm512_set1_epi16(255));
}

KLV_AVX512 inline __m512i Fog32(__m512i color, __m512i weight, __m512i fog, __m512i fog256) {
  return _mm512_add_epi16(_mm512_mullo_epi16(_mm512_sub_epi16(color, fog), weight), fog256);
}

KLV_AVX512 inline __m512i High32(__m512i a, __m512i b) {
  return _mm512_packs_epi32(_mm512_srli_epi32(a, 16), _mm512_srli_epi32(b, 16));
}

KLV_AVX512 inline __m512i Spread32(__m512i blocks, const SpreadBytes& spread) {
  return _mm512_shuffle_epi8(blocks, _mm512_load_si512(spread.bytes));
}

// WrapIndex8 and WrapIndexMasked8 in sixteen lanes.
KLV_AVX512 inline __m512i WrapIndex16(__m512 t, __m512 size, __m512i maxIndex) {
  __m512 frac = _mm512_sub_ps(t, _mm512_cvtepi32_ps(_mm512_cvttps_epi32(t)));
  frac =
      _mm512_mask_add_ps(frac, _mm512_cmp_ps_mask(frac, _mm512_setzero_ps(), _CMP_LT_OS), frac, _mm512_set1_ps(1.0f));
  const __m512i index = _mm512_cvttps_epi32(_mm512_mul_ps(frac, size));
  const __mmask16 over =
      _mm512_cmpgt_epi32_mask(index, maxIndex) | _mm512_cmplt_epi32_mask(index, _mm512_setzero_si512());
  return _mm512_mask_mov_epi32(index, over, maxIndex);
}

KLV_AVX512 inline __m512i WrapIndexMasked16(__m512 t, __m512 size, __m512i maxIndex) {
  const __m512i whole = _mm512_cvt_roundps_epi32(_mm512_mul_ps(t, size), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  return _mm512_and_si512(whole, maxIndex);
}

// The smaller of lanes 0 and 15, half by half (the low 16 bits of each, and the high 16 bits of
// each), in every lane. Texel columns and rows change monotonically along a span (unless they
// wrap), so for a group of a span these two lanes usually bound all sixteen; a texel window taken
// from them is checked against every lane all the same.
KLV_AVX512 inline __m512i SmallerOfEnds16(__m512i value) {
  return _mm512_min_epu16(_mm512_broadcastd_epi32(_mm512_castsi512_si128(value)),
                          _mm512_permutexvar_epi32(_mm512_set1_epi32(15), value));
}

// Whether a draw may take the sixteen-pixel path: 32-bit texels or none (the narrower texel
// formats stay on the AVX2 path), and the AVX2 path's own conditions.
inline bool Avx512Fits(const SpanParams& p) {
  return p.texture.bits == nullptr || p.texture.format == RasterTexelFormat::Xrgb32 ||
         p.texture.format == RasterTexelFormat::MarkedXrgb32;
}

// A triangle's spans drawn sixteen pixels at a time, as Octets draws them eight at a time.
template <TexKind T, bool Persp, ZMode Z, bool Wide, bool ByMask>
class Sixteens {
 public:
  static_assert(T == TexKind::None || T == TexKind::Xrgb32, "narrower texels take the AVX2 path");
  static constexpr bool kDepth32 = Z == ZMode::Test32 || Z == ZMode::Write32;
  static constexpr int kColorBytes = Wide ? 4 : 2, kDepthBytes = kDepth32 ? 4 : 2;
  // A texel window (see Texels): each of its rows is one register of sixteen texels.
  static constexpr int kWindowColumns = 16, kWindowRows = 2;
  // A texel's column and row are taken as the low and high halves of one 32-bit lane, so windows
  // need textures and rows of at most this many texels. A lane is inside a window when its
  // offsets from the window's start, half by half, have no bit of kOutsideWindow set.
  static constexpr int kMostWindowTexels = INT16_MAX;
  static constexpr uint32_t kOutsideWindow = ~((uint32_t{kWindowRows - 1} << 16) | (kWindowColumns - 1));
  static_assert((kWindowColumns & (kWindowColumns - 1)) == 0 && (kWindowRows & (kWindowRows - 1)) == 0,
                "window sides are powers of two");

  KLV_AVX512 Sixteens(const SpanParams& p, const SpanTriangle& tri)
      : p_(p),
        dw_(_mm512_set1_ps(tri.dx[kW])),
        du_(_mm512_set1_ps(tri.dx[kU])),
        dv_(_mm512_set1_ps(tri.dx[kV])),
        maxZ16_(_mm512_set1_epi32(static_cast<int>(std::min<uint32_t>(p.depth.maxValue, INT32_MAX)))),
        maxZ32_(_mm512_set1_ps(p.depthMax)),
        texW_(_mm512_set1_ps(p.texWidth)),
        texH_(_mm512_set1_ps(p.texHeight)),
        maxU_(_mm512_set1_epi32(p.texture.width - 1)),
        maxV_(_mm512_set1_epi32(p.texture.height - 1)),
        keyLow_(_mm512_set1_epi32(static_cast<int>(p.keyLow))),
        keyRange_(_mm512_set1_epi32(static_cast<int>(p.keyRange))),
        rowWords_(_mm512_set1_epi32(static_cast<int>(p.texture.pitch / 4))),
        texelMask_(_mm512_set1_epi32(static_cast<int>(p.texelMask))),
        texels_(p.texture.bits),
        windowAt_(_mm512_set1_epi32(static_cast<int>(1u | static_cast<uint32_t>(p.texture.pitch / 4) << 16))),
        windowLast_(_mm512_set1_epi32(static_cast<int>(static_cast<uint32_t>(p.texture.width - kWindowColumns) |
                                                       static_cast<uint32_t>(p.texture.height - kWindowRows) << 16))),
        rowBytes_(p.texture.pitch),
        noWindow_(Windowed(p) ? 0 : 0xFFFF),
        redScale_(_mm512_set1_epi16(static_cast<int16_t>(1u << p.redShift))),
        greenScale_(_mm512_set1_epi16(static_cast<int16_t>(1u << (16 - p.greenLoss)))),
        greenScaleFogged_(_mm512_set1_epi16(static_cast<int16_t>(1u << (8 - p.greenLoss)))),
        low_(_mm256_setr_ps(0.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f)),
        high_(_mm256_setr_ps(p.zScale, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f, 255.5f)) {
    const auto fogR = static_cast<int16_t>(p.fogR), fogG = static_cast<int16_t>(p.fogG);
    fogRG_ = _mm512_broadcast_i32x4(_mm_setr_epi16(fogR, fogR, fogR, fogR, fogG, fogG, fogG, fogG));
    fogB_ = _mm512_set1_epi16(static_cast<int16_t>(p.fogB));
    fogRG256_ = _mm512_slli_epi16(fogRG_, 8);
    fogB256_ = _mm512_slli_epi16(fogB_, 8);
  }

  // Draws pixels x0 .. x0 + n - 1 of row y, set up as Octets::Draw sets a span up.
  KLV_AVX512 void Draw(const SpanTriangle& tri, int y, int x0, int n) {
    const auto fx = static_cast<float>(x0), fy = static_cast<float>(y);
    const SpanEnds ends = SpanEndsOf(tri, fx, fy, n, low_, high_);
    const __m128 wuv =
        _mm_add_ps(_mm_add_ps(_mm_loadu_ps(tri.origin + kW), _mm_mul_ps(_mm_loadu_ps(tri.dx + kW), _mm_set1_ps(fx))),
                   _mm_mul_ps(_mm_loadu_ps(tri.dy + kW), _mm_set1_ps(fy)));
    _mm_store_ps(wuv_, wuv);
    uint8_t* row = p_.target.bits + y * p_.target.pitch;
    uint8_t* depthRow = Z != ZMode::None ? p_.depth.bits + y * p_.depth.pitch : nullptr;
    if (ends.specular && ends.fog) return SpanOf<true, true>(ends, row, depthRow, x0, x0 + n);
    if (ends.specular) return SpanOf<true, false>(ends, row, depthRow, x0, x0 + n);
    if (ends.fog) return SpanOf<false, true>(ends, row, depthRow, x0, x0 + n);
    SpanOf<false, false>(ends, row, depthRow, x0, x0 + n);
  }

  KLV_AVX512 uint64_t Passed() const { return static_cast<uint32_t>(_mm512_reduce_add_epi32(passed_)); }

 private:
  // Whether the draw's texture takes texel windows: it is at least a window wide and high, and
  // its sides and rows fit the halves of a lane.
  static bool Windowed(const SpanParams& p) {
    return p.texture.bits != nullptr && p.texture.width >= kWindowColumns && p.texture.height >= kWindowRows &&
           p.texture.width <= kMostWindowTexels && p.texture.height <= kMostWindowTexels &&
           p.texture.pitch / 4 <= kMostWindowTexels;
  }

  // A span's walk, as in Octets.
  struct Walk {
    __m512 k, z0, dz;
    __m512i ramp[kRampCount], step[kRampCount];
    __m512i flatRG, flatBX, flatSRG, flatSBX;
    // Constants of the draw copied here, where the loop's stores cannot reach them: read from the
    // object, a group would load them again every time.
    __m512i maxZ16, maxU, maxV;
    __m512 maxZ32, texW, texH;
    const uint8_t* texels;
    __mmask16 noWindow;
    // The span's pixels that have passed the depth test, lane by lane: one masked add a group.
    __m512i passed, one;
  };

  template <bool Specular, bool Fog>
  KLV_AVX512 __attribute__((always_inline)) void SpanOf(const SpanEnds& ends, uint8_t* row, uint8_t* depthRow, int x,
                                                        int end) {
    if (ends.flat) return Span<Specular, Fog, true>(ends, row, depthRow, x, end);
    Span<Specular, Fog, false>(ends, row, depthRow, x, end);
  }

  // The walk of a span from its first group: lane k of ramp i starts at value + k * step of the
  // span's attribute kR + i; flat colours are taken once, as Octets takes them.
  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX512 __attribute__((always_inline)) void BeginWalk(const SpanEnds& ends, Walk& walk) {
    walk.k = _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    walk.z0 = _mm512_set1_ps(_mm256_cvtss_f32(ends.first));
    walk.dz = _mm512_set1_ps(_mm256_cvtss_f32(ends.step));
    walk.maxZ16 = maxZ16_;
    walk.maxZ32 = maxZ32_;
    walk.texW = texW_;
    walk.texH = texH_;
    walk.maxU = maxU_;
    walk.maxV = maxV_;
    walk.texels = texels_;
    walk.noWindow = noWindow_;
    walk.passed = _mm512_setzero_si512();
    walk.one = _mm512_set1_epi32(1);
    const __m512i values = _mm512_castsi256_si512(ends.values);
    const __m512i steps = _mm512_castsi256_si512(ends.steps);
    const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i) {
      if (!UsesRamp<Specular, Fog, Flat>(i)) continue;
      const __m512i pick = _mm512_set1_epi32(i + 1);
      const __m512i dv = _mm512_permutexvar_epi32(pick, steps);
      walk.ramp[i] = _mm512_add_epi32(_mm512_permutexvar_epi32(pick, values), _mm512_mullo_epi32(dv, lane));
      walk.step[i] = _mm512_slli_epi32(dv, 4);
    }
    if constexpr (Flat) {  // every 128-bit block as in the eight-pixel loop (see FlatColorsOf)
      const __m512i diffuse = _mm512_broadcast_i32x4(_mm256_castsi256_si128(ends.values));
      const __m512i specular = _mm512_broadcast_i32x4(_mm256_extracti128_si256(ends.values, 1));
      walk.flatRG = Spread32(diffuse, kSpreadRG);
      walk.flatBX = Spread32(diffuse, kSpreadB);
      walk.flatSRG = Spread32(specular, kSpreadSRG);
      walk.flatSBX = Spread32(specular, kSpreadSB);
      if constexpr (T != TexKind::None) {
        walk.flatRG = ModulateFactor32(walk.flatRG);
        walk.flatBX = ModulateFactor32(walk.flatBX);
      }
    }
  }

  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX512 __attribute__((always_inline)) void Span(const SpanEnds& ends, uint8_t* row, uint8_t* depthRow, int x,
                                                      int end) {
    Walk walk;
    BeginWalk<Specular, Fog, Flat>(ends, walk);
    uint8_t* colorAt = row + kColorBytes * x;
    uint8_t* depthAt = DepthAt(depthRow, x);
    const int groups = (end - x - 1) / 16;
    const uint8_t* colorLast = colorAt + 16 * kColorBytes * groups;
    for (; colorAt != colorLast; colorAt += 16 * kColorBytes) {
      Group<Specular, Fog, Flat>(walk, colorAt, depthAt, 0xFFFF);
      if constexpr (Z != ZMode::None) depthAt += 16 * kDepthBytes;
    }
    const auto live = static_cast<__mmask16>((1u << (end - x - 16 * groups)) - 1);
    Group<Specular, Fog, Flat>(walk, colorAt, depthAt, live);
    passed_ = _mm512_add_epi32(passed_, walk.passed);
  }

  static uint8_t* DepthAt(uint8_t* depthRow, int x) { return Z != ZMode::None ? depthRow + kDepthBytes * x : nullptr; }

  // Raw texels of the pixels in `fetch` (the others read as 0) for the sixteen pixels k. Where
  // those texels lie in a window of the texture 16 columns wide and 2 rows high, as they mostly do
  // on a texture drawn larger than its size, the window's two rows are loaded and the texels
  // picked from them in registers, which costs far less than a gather. A window that would reach
  // past the texture's last column or row starts that much earlier, so its loads stay inside the
  // texture.
  KLV_AVX512 __attribute__((always_inline)) __m512i Texels(const Walk& walk, __m512 k, __mmask16 fetch) {
    __m512 w = _mm512_add_ps(_mm512_set1_ps(wuv_[0]), _mm512_mul_ps(k, dw_));
    __m512 tu = _mm512_add_ps(_mm512_set1_ps(wuv_[1]), _mm512_mul_ps(k, du_));
    __m512 tv = _mm512_add_ps(_mm512_set1_ps(wuv_[2]), _mm512_mul_ps(k, dv_));
    if constexpr (Persp) {
      __m512 inverse = _mm512_div_ps(_mm512_set1_ps(1.0f), w);
      tu = _mm512_mul_ps(tu, inverse);
      tv = _mm512_mul_ps(tv, inverse);
    }
    __m512i tx, ty;
    if constexpr (ByMask) {
      tx = WrapIndexMasked16(tu, walk.texW, walk.maxU);
      ty = WrapIndexMasked16(tv, walk.texH, walk.maxV);
    } else {
      tx = WrapIndex16(tu, walk.texW, walk.maxU);
      ty = WrapIndex16(tv, walk.texH, walk.maxV);
    }
    // Each lane's column and row as the two halves of one lane. The window starts at the smaller
    // column and the smaller row of the two ends, moved back where the window would pass the
    // texture's last column or row.
    const __m512i at = _mm512_or_si512(tx, _mm512_slli_epi32(ty, 16));
    const __m512i start = _mm512_min_epu16(SmallerOfEnds16(at), windowLast_);
    const __m512i offset = _mm512_sub_epi16(at, start);
    const __mmask16 outside =
        _mm512_mask_test_epi32_mask(fetch, offset, _mm512_set1_epi32(static_cast<int>(kOutsideWindow)));
    __m512i words;
    if (_kortestz_mask16_u8(outside, walk.noWindow) != 0) {  // no lane outside, and windows allowed
      // The start's texel number (column + row * row words) in one multiply-add of the halves.
      const auto first =
          static_cast<uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(_mm512_madd_epi16(start, windowAt_))));
      const uint8_t* top = walk.texels + 4 * size_t{first};
      // Texel (dx, dy) of the window is register entry dx + 16 * dy of the two rows; the permute
      // reads only the low five bits of each entry, where offset + (offset >> 12) has them.
      const __m512i pick = _mm512_add_epi32(offset, _mm512_srli_epi32(offset, 12));
      words =
          _mm512_maskz_permutex2var_epi32(fetch, _mm512_loadu_si512(top), pick, _mm512_loadu_si512(top + rowBytes_));
    } else {
      const __m512i index = _mm512_add_epi32(_mm512_mullo_epi32(ty, rowWords_), tx);
      words = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), fetch, index, walk.texels, 4);
    }
    return _mm512_and_si512(words, texelMask_);
  }

  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX512 __attribute__((always_inline)) void Group(Walk& walk, uint8_t* colorAt, uint8_t* depthAt, __mmask16 live) {
    const __m512 k = walk.k;  // stepped with the ramps, after its last use
    const __m512 z = _mm512_add_ps(walk.z0, _mm512_mul_ps(k, walk.dz));

    __mmask16 pass = live;
    __m512i zStored = _mm512_setzero_si512();
    if constexpr (Z == ZMode::Test16 || Z == ZMode::Write16) {
      zStored = _mm512_cvttps_epi32(z);
      zStored = _mm512_min_epi32(_mm512_max_epi32(zStored, _mm512_setzero_si512()), walk.maxZ16);
      const __m512i held = _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(live, depthAt));
      pass = _mm512_mask_cmple_epi32_mask(live, zStored, held);
    } else if constexpr (kDepth32) {
      const __m512 zf = _mm512_min_ps(_mm512_max_ps(z, _mm512_setzero_ps()), walk.maxZ32);
      zStored = _mm512_cvttps_epu32(zf);
      pass = _mm512_mask_cmple_epu32_mask(live, zStored, _mm512_maskz_loadu_epi32(live, depthAt));
    }
    if (pass == 0) return StepRamps<Specular, Fog, Flat>(walk);
    walk.passed = _mm512_mask_add_epi32(walk.passed, pass, walk.passed, walk.one);
    __m512i rg, bx;  // the diffuse colour; textured, its modulation factor
    if constexpr (Flat) {
      rg = walk.flatRG;
      bx = walk.flatBX;
    } else {
      rg = High32(walk.ramp[kRampR], walk.ramp[kRampG]);
      bx = High32(walk.ramp[kRampB], walk.ramp[kRampB]);
      if constexpr (T != TexKind::None) {
        rg = ModulateFactor32(rg);
        bx = ModulateFactor32(bx);
      }
    }
    if constexpr (T != TexKind::None) {
      const __m512i raws = Texels(walk, k, pass);
      pass = _mm512_mask_cmpgt_epu32_mask(pass, _mm512_sub_epi32(raws, keyLow_), keyRange_);
      const __m512i toRG =
          _mm512_broadcast_i32x4(_mm_setr_epi8(2, -1, 6, -1, 10, -1, 14, -1, 1, -1, 5, -1, 9, -1, 13, -1));
      const __m512i toBB =
          _mm512_broadcast_i32x4(_mm_setr_epi8(0, -1, 4, -1, 8, -1, 12, -1, 0, -1, 4, -1, 8, -1, 12, -1));
      rg = ModulateBy32(_mm512_shuffle_epi8(raws, toRG), rg);
      bx = ModulateBy32(_mm512_shuffle_epi8(raws, toBB), bx);
    }
    if constexpr (Specular && Flat) {
      rg = AddSpecular32(rg, walk.flatSRG);
      bx = AddSpecular32(bx, walk.flatSBX);
    } else if constexpr (Specular) {
      rg = AddSpecular32(rg, High32(walk.ramp[kRampSR], walk.ramp[kRampSG]));
      bx = AddSpecular32(bx, High32(walk.ramp[kRampSB], walk.ramp[kRampSB]));
    }
    if constexpr (Fog) {
      const __m512i fog = Spread32(walk.ramp[kRampF], kWholeParts);
      const __m512i weight = _mm512_add_epi16(fog, _mm512_srli_epi16(fog, 7));
      rg = Fog32(rg, weight, fogRG_, fogRG256_);
      bx = Fog32(bx, weight, fogB_, fogB256_);
      if constexpr (Wide) {
        rg = _mm512_srli_epi16(rg, 8);
        bx = _mm512_srli_epi16(bx, 8);
      }
    }
    const __m512i green = _mm512_bsrli_epi128(rg, 8);
    if constexpr (Wide) {
      const __m512i low = _mm512_or_si512(bx, _mm512_slli_epi16(green, 8));
      const __m512i high = _mm512_or_si512(rg, _mm512_set1_epi16(static_cast<int16_t>(0xFF00)));
      _mm512_mask_storeu_epi32(colorAt, pass, _mm512_unpacklo_epi16(low, high));
    } else {
      // The shifts as products, as in Octets: their factors come straight from memory.
      constexpr int kBelow = Fog ? 8 : 0;  // bits below the colours a fog blend leaves (see Fog16)
      const __m512i color = _mm512_or_si512(
          _mm512_mullo_epi16(_mm512_srli_epi16(rg, 3 + kBelow), redScale_),
          _mm512_or_si512(_mm512_slli_epi16(_mm512_mulhi_epu16(green, Fog ? greenScaleFogged_ : greenScale_), 5),
                          _mm512_srli_epi16(bx, 3 + kBelow)));
      _mm256_mask_storeu_epi16(colorAt, pass, JoinLow(color));
    }
    if constexpr (Z == ZMode::Write16) _mm256_mask_storeu_epi16(depthAt, pass, _mm512_cvtepi32_epi16(zStored));
    if constexpr (Z == ZMode::Write32) _mm512_mask_storeu_epi32(depthAt, pass, zStored);
    StepRamps<Specular, Fog, Flat>(walk);
  }

  // The low 64 bits of each 128-bit block joined: sixteen 16-bit lanes in pixel order.
  KLV_AVX512 static __m256i JoinLow(__m512i value) {
    return _mm512_castsi512_si256(_mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 0, 2, 4, 6), value));
  }

  template <bool Specular, bool Fog, bool Flat>
  KLV_AVX512 __attribute__((always_inline)) static void StepRamps(Walk& walk) {
    walk.k = _mm512_add_ps(walk.k, _mm512_set1_ps(16.0f));
#pragma GCC unroll 8
    for (int i = 0; i < kRampCount; ++i)
      if (UsesRamp<Specular, Fog, Flat>(i)) walk.ramp[i] = _mm512_add_epi32(walk.ramp[i], walk.step[i]);
  }

  const SpanParams& p_;
  // w, u and v at the span's first pixel (and one spare lane): a group takes each straight from
  // here in the instruction that adds it, broadcast.
  alignas(16) float wuv_[4] = {};
  __m512 dw_, du_, dv_;
  __m512i maxZ16_;
  __m512 maxZ32_, texW_, texH_;
  __m512i maxU_, maxV_, keyLow_, keyRange_, rowWords_, texelMask_, fogRG_, fogB_, fogRG256_, fogB256_;
  const uint8_t* texels_;
  // Texel windows: 1 | row words << 16, for the multiply-add that numbers a window's first texel;
  // the last column | row << 16 a window may start at; the bytes from one texture row to the next;
  // and all lanes set where the texture takes no windows.
  __m512i windowAt_, windowLast_;
  ptrdiff_t rowBytes_;
  __mmask16 noWindow_;
  __m512i redScale_, greenScale_, greenScaleFogged_;  // 16-bit targets' shifts as factors (see Octets)
  __m256 low_, high_;
  __m512i passed_ = _mm512_setzero_si512();  // the spans' passed counts, lane by lane (see Walk)
};

template <TexKind T, bool Persp, ZMode Z, bool Wide, bool ByMask>
KLV_AVX512 uint64_t DrawRowsSixteensWrapped(const SpanParams& p, const SpanTriangle& tri) {
  Sixteens<T, Persp, Z, Wide, ByMask> sixteens(p, tri);
  WalkRows<RowBoundsWide>(tri, sixteens);
  return sixteens.Passed();
}

template <TexKind T, bool Persp, ZMode Z, bool Wide>
KLV_AVX512 uint64_t DrawRowsSixteens(const SpanParams& p, const SpanTriangle& tri) {
  if constexpr (T != TexKind::None) {
    if (!p.wrapByMask) return DrawRowsSixteensWrapped<T, Persp, Z, Wide, false>(p, tri);
  }
  return DrawRowsSixteensWrapped<T, Persp, Z, Wide, true>(p, tri);
}
#undef KLV_AVX512
#endif

// The span routines' widths: four pixels at a time (SSE2, then one by one), eight (AVX2) or
// sixteen (AVX-512).
enum class Lanes { Four, Eight, Sixteen };

// The widest routines the processor has and the draw fits.
Lanes ChooseLanes(const SpanParams& p) {
#if defined(__SSE2__)
  if (!p.allowAvx2 || !__builtin_cpu_supports("avx2") || !Avx2Allowed(p)) return Lanes::Four;
  const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  return p.allowAvx512 && avx512 && Avx512Fits(p) ? Lanes::Sixteen : Lanes::Eight;
#else
  (void)p;
  return Lanes::Four;
#endif
}

template <TexKind T, bool Persp, ZMode Z, bool Wide>
uint64_t DrawSpan(const SpanParams& p, const SpanTriangle& tri, int y, int x0, int n) {
  SpanState s;
  StartSpan<Z>(p, tri, y, x0, n, s);
  uint8_t* row = p.target.bits + y * p.target.pitch;
  uint8_t* depthRow = Z != ZMode::None ? p.depth.bits + y * p.depth.pitch : nullptr;
  int x = x0;
  uint64_t passed = 0;
#if defined(__SSE2__)
  if (n >= 4 && QuadsAllowed<Z>(p)) passed += DrawQuads<T, Persp, Z, Wide>(p, row, depthRow, x, x0 + n, s);
#endif
  return passed + DrawPixels<T, Persp, Z, Wide>(p, row, depthRow, x, x0 + n, s);
}

// Draws spans one at a time with DrawSpan.
template <TexKind T, bool Persp, ZMode Z, bool Wide>
struct Spans {
  const SpanParams& p;
  uint64_t passed = 0;
  void Draw(const SpanTriangle& tri, int y, int x0, int n) { passed += DrawSpan<T, Persp, Z, Wide>(p, tri, y, x0, n); }
};

template <TexKind T, bool Persp, ZMode Z, bool Wide, Lanes L>
uint64_t DrawRows(const SpanParams& p, const SpanTriangle& tri) {
#if defined(__SSE2__)
  if constexpr (L == Lanes::Sixteen) {
    if (QuadsAllowed<Z>(p)) return DrawRowsSixteens<T, Persp, Z, Wide>(p, tri);
  }
  if constexpr (L == Lanes::Eight) {
    if (QuadsAllowed<Z>(p)) return DrawRowsOctets<T, Persp, Z, Wide>(p, tri);
  }
#endif
  Spans<T, Persp, Z, Wide> spans{p};
  WalkRows(tri, spans);
  return spans.passed;
}

template <TexKind T, bool Persp, bool Wide, Lanes L>
SpanTriangleFn PickDepth(ZMode z) {
  switch (z) {
    case ZMode::Test16: return &DrawRows<T, Persp, ZMode::Test16, Wide, L>;
    case ZMode::Write16: return &DrawRows<T, Persp, ZMode::Write16, Wide, L>;
    case ZMode::Test32: return &DrawRows<T, Persp, ZMode::Test32, Wide, L>;
    case ZMode::Write32: return &DrawRows<T, Persp, ZMode::Write32, Wide, L>;
    case ZMode::None: break;
  }
  return &DrawRows<T, Persp, ZMode::None, Wide, L>;
}

// Narrower texels than 32 bits have no sixteen-pixel routines: they take the eight-pixel ones.
template <bool Wide, Lanes L>
SpanTriangleFn PickTexture(TexKind t, bool persp, ZMode z) {
  constexpr Lanes kNarrow = L == Lanes::Sixteen ? Lanes::Eight : L;
  switch (t) {
    case TexKind::Indexed8:
      return persp ? PickDepth<TexKind::Indexed8, true, Wide, kNarrow>(z)
                   : PickDepth<TexKind::Indexed8, false, Wide, kNarrow>(z);
    case TexKind::Direct16:
      return persp ? PickDepth<TexKind::Direct16, true, Wide, kNarrow>(z)
                   : PickDepth<TexKind::Direct16, false, Wide, kNarrow>(z);
    case TexKind::Xrgb32:
      return persp ? PickDepth<TexKind::Xrgb32, true, Wide, L>(z) : PickDepth<TexKind::Xrgb32, false, Wide, L>(z);
    case TexKind::None: break;
  }
  return PickDepth<TexKind::None, false, Wide, L>(z);
}

ChannelExpand Expand(const RasterChannel& channel) {
  uint32_t bits = std::clamp<uint32_t>(channel.bits, 1, 8);
  ChannelExpand out;
  out.shift = std::min<uint32_t>(channel.shift, 15);
  out.mask = (1u << bits) - 1;
  out.left = 8 - bits;
  out.right = 2 * bits > 8 ? 2 * bits - 8 : 0;
  return out;
}

}  // namespace

uint32_t PackPixel(RasterPixelFormat format, uint32_t r, uint32_t g, uint32_t b) {
  switch (format) {
    case RasterPixelFormat::Rgb565: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case RasterPixelFormat::Rgb555: return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case RasterPixelFormat::Xrgb32: break;
  }
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

SpanParams MakeSpanParams(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                          const RasterTexture* texture) {
  SpanParams p{};
  p.target = target;
  if (depth != nullptr) p.depth = *depth;
  if (texture != nullptr) p.texture = *texture;
  p.zWrite = state.zWrite;
  p.perspective = state.perspective;
  p.gouraud = state.gouraud;
  p.specular = state.specular;
  p.fog = state.fog;
  p.allowAvx2 = state.allowAvx2;
  p.allowAvx512 = state.allowAvx512;
  p.cullMode = state.cullMode;
  p.zScale = depth != nullptr ? static_cast<float>(depth->maxValue) : 1.0f;
  D3DCOLOR fogColor = state.fog ? state.fogColor : 0;
  p.fogR = (fogColor >> 16) & 0xFF;
  p.fogG = (fogColor >> 8) & 0xFF;
  p.fogB = fogColor & 0xFF;
  bool keyed = texture != nullptr && state.colorKey && texture->hasColorKey;
  p.keyLow = keyed ? texture->keyLow : kNoKey;
  p.keyRange = keyed ? texture->keyHigh - texture->keyLow : 0;
  p.depthMax = static_cast<float>(p.depth.maxValue);
  p.texWidth = static_cast<float>(p.texture.width);
  p.texHeight = static_cast<float>(p.texture.height);
  auto powerOfTwo = [](int size) { return size > 0 && (size & (size - 1)) == 0; };
  p.wrapByMask = powerOfTwo(p.texture.width) && powerOfTwo(p.texture.height);
  p.texelMask = p.texture.format == RasterTexelFormat::MarkedXrgb32 ? 0x01FFFFFFu : 0x00FFFFFFu;
  const int64_t extent = TextureExtent(p);
  p.textureLastWord = extent >= 4 && extent <= INT32_MAX ? static_cast<int32_t>(extent - 4) : 0;
  p.redShift = target.format == RasterPixelFormat::Rgb555 ? 10 : 11;
  p.greenLoss = target.format == RasterPixelFormat::Rgb555 ? 3 : 2;
  if (texture != nullptr) {
    p.red = Expand(texture->red);
    p.green = Expand(texture->green);
    p.blue = Expand(texture->blue);
  }
  return p;
}

SpanTriangleFn ChooseSpanRoutine(const SpanParams& p) {
  ZMode z = ZMode::None;
  if (p.depth.bits != nullptr)
    z = p.depth.bytesPerPixel == 4 ? (p.zWrite ? ZMode::Write32 : ZMode::Test32)
                                   : (p.zWrite ? ZMode::Write16 : ZMode::Test16);
  TexKind t = TexKind::None;
  if (p.texture.bits != nullptr) {
    switch (p.texture.format) {
      case RasterTexelFormat::Indexed8: t = TexKind::Indexed8; break;
      case RasterTexelFormat::Direct16: t = TexKind::Direct16; break;
      case RasterTexelFormat::Xrgb32:
      case RasterTexelFormat::MarkedXrgb32: t = TexKind::Xrgb32; break;
    }
  }
  const bool wide = p.target.format == RasterPixelFormat::Xrgb32;
  switch (ChooseLanes(p)) {
    case Lanes::Sixteen:
      return wide ? PickTexture<true, Lanes::Sixteen>(t, p.perspective, z)
                  : PickTexture<false, Lanes::Sixteen>(t, p.perspective, z);
    case Lanes::Eight:
      return wide ? PickTexture<true, Lanes::Eight>(t, p.perspective, z)
                  : PickTexture<false, Lanes::Eight>(t, p.perspective, z);
    case Lanes::Four: break;
  }
  return wide ? PickTexture<true, Lanes::Four>(t, p.perspective, z)
              : PickTexture<false, Lanes::Four>(t, p.perspective, z);
}
