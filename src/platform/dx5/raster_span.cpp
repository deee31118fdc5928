// Row walking and span drawing. Each span clamps its colour, fog and depth ramps at its two ends
// (the values are linear along the span, so the whole span stays in range) and then runs a loop
// with no state tests: the target format, texel format, perspective and depth mode are template
// arguments, and colour keying, specular and fog use neutral values when they are off.
#include "platform/dx5/raster_span.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
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

template <TexKind T, bool Persp, ZMode Z, bool Wide>
uint64_t DrawSpan(const SpanParams& p, const SpanTriangle& tri, int y, int x0, int n) {
  const float fx = static_cast<float>(x0);
  const float fy = static_cast<float>(y);
  const float last = static_cast<float>(n - 1);
  auto at = [&](int i) { return tri.origin[i] + tri.dx[i] * fx + tri.dy[i] * fy; };

  Ramp r = ColorRamp(at(kR), tri.dx[kR], last);
  Ramp g = ColorRamp(at(kG), tri.dx[kG], last);
  Ramp b = ColorRamp(at(kB), tri.dx[kB], last);
  Ramp sr = ColorRamp(at(kSR), tri.dx[kSR], last);
  Ramp sg = ColorRamp(at(kSG), tri.dx[kSG], last);
  Ramp sb = ColorRamp(at(kSB), tri.dx[kSB], last);
  Ramp f = ColorRamp(at(kF), tri.dx[kF], last);

  float z = 0.0f, dz = 0.0f;
  if constexpr (Z != ZMode::None) {
    z = ClampF(at(kZ), 0.0f, p.zScale);
    float zEnd = ClampF(at(kZ) + tri.dx[kZ] * last, 0.0f, p.zScale);
    dz = n > 1 ? (zEnd - z) / last : 0.0f;
  }
  float w = at(kW), u = at(kU), v = at(kV);
  const float dw = tri.dx[kW], du = tri.dx[kU], dv = tri.dx[kV];
  const float texW = static_cast<float>(p.texture.width), texH = static_cast<float>(p.texture.height);
  const uint32_t maxU = static_cast<uint32_t>(p.texture.width - 1), maxV = static_cast<uint32_t>(p.texture.height - 1);

  uint8_t* row = p.target.bits + y * p.target.pitch;
  uint8_t* depthRow = Z != ZMode::None ? p.depth.bits + y * p.depth.pitch : nullptr;
  uint64_t passed = 0;
  for (int x = x0; x < x0 + n; ++x) {
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
      uint32_t cr = static_cast<uint32_t>(r.value) >> 16;
      uint32_t cg = static_cast<uint32_t>(g.value) >> 16;
      uint32_t cb = static_cast<uint32_t>(b.value) >> 16;
      if constexpr (T != TexKind::None) {
        float tu = u, tv = v;
        if constexpr (Persp) {
          float inverse = 1.0f / w;
          tu *= inverse;
          tv *= inverse;
        }
        uint32_t tx = WrapIndex(tu, texW, maxU);
        uint32_t ty = WrapIndex(tv, texH, maxV);
        const uint8_t* texRow = p.texture.bits + static_cast<intptr_t>(ty) * p.texture.pitch;
        uint32_t raw, rgb;
        if constexpr (T == TexKind::Indexed8) {
          raw = texRow[tx];
          rgb = p.texture.palette[raw];
        } else if constexpr (T == TexKind::Direct16) {
          raw = reinterpret_cast<const uint16_t*>(texRow)[tx];
          auto expand = [raw](const ChannelExpand& c) {
            uint32_t value = (raw >> c.shift) & c.mask;
            return ((value << c.left) | (value >> c.right)) & 0xFF;
          };
          rgb = (expand(p.red) << 16) | (expand(p.green) << 8) | expand(p.blue);
        } else {
          raw = reinterpret_cast<const uint32_t*>(texRow)[tx] & 0x00FFFFFFu;
          rgb = raw;
        }
        draw = raw - p.keyLow > p.keyRange;
        cr = Modulate((rgb >> 16) & 0xFF, cr);
        cg = Modulate((rgb >> 8) & 0xFF, cg);
        cb = Modulate(rgb & 0xFF, cb);
      }
      if (draw) {
        cr = std::min(cr + (static_cast<uint32_t>(sr.value) >> 16), 255u);
        cg = std::min(cg + (static_cast<uint32_t>(sg.value) >> 16), 255u);
        cb = std::min(cb + (static_cast<uint32_t>(sb.value) >> 16), 255u);
        uint32_t fog = static_cast<uint32_t>(f.value) >> 16;
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
    r.value += r.step;
    g.value += g.step;
    b.value += b.step;
    sr.value += sr.step;
    sg.value += sg.step;
    sb.value += sb.step;
    f.value += f.step;
    z += dz;
    w += dw;
    u += du;
    v += dv;
  }
  return passed;
}

template <TexKind T, bool Persp, ZMode Z, bool Wide>
uint64_t DrawRows(const SpanParams& p, const SpanTriangle& tri) {
  EdgeBound edges[3] = {tri.edges[0], tri.edges[1], tri.edges[2]};
  uint64_t passed = 0;
  for (int y = tri.rowFirst; y <= tri.rowLast; ++y) {
    int64_t lo = tri.columnFirst;
    int64_t hi = tri.columnLast;
    for (const EdgeBound& edge : edges) {
      if (edge.kind > 0) lo = std::max(lo, edge.Ceil());
      if (edge.kind < 0) hi = std::min(hi, edge.q);
      if (edge.kind == 0 && edge.k < 0) hi = lo - 1;
    }
    if (lo <= hi) passed += DrawSpan<T, Persp, Z, Wide>(p, tri, y, static_cast<int>(lo), static_cast<int>(hi - lo + 1));
    for (EdgeBound& edge : edges) edge.NextRow();
  }
  return passed;
}

template <TexKind T, bool Persp, bool Wide>
SpanTriangleFn PickDepth(ZMode z) {
  switch (z) {
    case ZMode::Test16: return &DrawRows<T, Persp, ZMode::Test16, Wide>;
    case ZMode::Write16: return &DrawRows<T, Persp, ZMode::Write16, Wide>;
    case ZMode::Test32: return &DrawRows<T, Persp, ZMode::Test32, Wide>;
    case ZMode::Write32: return &DrawRows<T, Persp, ZMode::Write32, Wide>;
    case ZMode::None: break;
  }
  return &DrawRows<T, Persp, ZMode::None, Wide>;
}

template <bool Wide>
SpanTriangleFn PickTexture(TexKind t, bool persp, ZMode z) {
  switch (t) {
    case TexKind::Indexed8:
      return persp ? PickDepth<TexKind::Indexed8, true, Wide>(z) : PickDepth<TexKind::Indexed8, false, Wide>(z);
    case TexKind::Direct16:
      return persp ? PickDepth<TexKind::Direct16, true, Wide>(z) : PickDepth<TexKind::Direct16, false, Wide>(z);
    case TexKind::Xrgb32:
      return persp ? PickDepth<TexKind::Xrgb32, true, Wide>(z) : PickDepth<TexKind::Xrgb32, false, Wide>(z);
    case TexKind::None: break;
  }
  return PickDepth<TexKind::None, false, Wide>(z);
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
  p.cullMode = state.cullMode;
  p.zScale = depth != nullptr ? static_cast<float>(depth->maxValue) : 1.0f;
  D3DCOLOR fogColor = state.fog ? state.fogColor : 0;
  p.fogR = (fogColor >> 16) & 0xFF;
  p.fogG = (fogColor >> 8) & 0xFF;
  p.fogB = fogColor & 0xFF;
  bool keyed = texture != nullptr && state.colorKey && texture->hasColorKey;
  p.keyLow = keyed ? texture->keyLow : kNoKey;
  p.keyRange = keyed ? texture->keyHigh - texture->keyLow : 0;
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
      case RasterTexelFormat::Xrgb32: t = TexKind::Xrgb32; break;
    }
  }
  bool wide = p.target.format == RasterPixelFormat::Xrgb32;
  return wide ? PickTexture<true>(t, p.perspective, z) : PickTexture<false>(t, p.perspective, z);
}
