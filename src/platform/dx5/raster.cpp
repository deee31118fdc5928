// Triangle set-up and span drawing for the software rasteriser. The pipeline per triangle: fetch
// and validate the three vertices, clip (depth 0..1 and a guard band around the viewport) when
// asked, snap to 28.4 fixed point, cull by winding, then walk the rows with exact integer edge
// bounds (top-left fill rule) and draw each span with a routine chosen once per draw call. Draws
// and fills are shared among the drawing threads one call at a time, or a queue of calls at once.
#include "platform/dx5/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/dx5/raster_capture.h"
#include "platform/dx5/raster_span.h"
#include "platform/dx5/raster_textures.h"
#include "platform/dx5/raster_workers.h"

namespace {

constexpr float kSubpixel = 16.0f;  // 28.4 fixed point: 4 fractional bits
constexpr int kSubpixelShift = 4;
constexpr int64_t kSubpixelUnits = int64_t{1} << kSubpixelShift;  // one pixel in fixed point
// With clipping on, triangles are cut geometrically only where they leave this many pixels around
// the viewport; the rest of the way the scissor rectangle cuts them, which needs no new vertices.
constexpr float kGuardBand = 4096.0f;
// Without clipping, a triangle reaching beyond this many pixels from the origin draws nothing: its
// edge equations would not fit the integer set-up.
constexpr float kMaxUnclipped = 1 << 20;
// No vertex beyond this many pixels from the origin reaches set-up: its 28.4 products stay well
// inside 64 bits. Clipped vertices lie within the guard band around the target.
constexpr float kMaxSnapped = 1 << 24;
constexpr int kMaxClipVertices = 3 + 6;  // a triangle cut by six planes
// With several threads, the scissor rectangle's rows are cut into this many bands per thread, of
// at least kMinBandRows rows each; one thread draws a whole band, every triangle in order. Each
// thread draws its own share of the bands first, the same rows every draw (its cache holds them),
// then bands the others have not begun, so a thread that runs late or slowly holds no draw up.
// A draw ends when its last band does, so smaller bands end it sooner, but each band sets up every
// triangle that crosses it again (measured at 1920 x 1080 on two threads: 16 bands per thread
// draw about 8% faster than 8, and 32 slower again).
constexpr int kBandsPerThread = 16;
constexpr int kMinBandRows = 16;
// A draw on several threads measures the rows its triangles reach in at most kMaxRuns runs of
// consecutive triangles, of at least kMinRunTriangles each, before any band is drawn; each band
// then passes over the runs that miss it whole. (At 1920 x 1080 on two threads, 32 bands each
// testing every triangle of the saver's frames against their rows took 2.4% of the instructions of
// a frame; with runs, the tests and the measuring take 1.5%.)
constexpr size_t kMaxRuns = 1024;
constexpr size_t kMinRunTriangles = 8;
// Fills of fewer bytes than this run on the calling thread: waking workers would cost more.
constexpr size_t kThreadedFillBytes = size_t{256} << 10;

struct ClipVertex {
  float a[kAttributeCount];  // x, y and the interpolated attributes, indexed by Attribute
};

// std::lrint (to nearest in the current rounding mode) without the library call; the snapped
// coordinates it converts are bounded well inside 64 bits.
int64_t RoundToInteger(float value) {
#if defined(__SSE2__) && defined(__x86_64__)
  return _mm_cvtss_si64(_mm_set_ss(value));
#else
  return std::lrint(value);
#endif
}

float Channel(D3DCOLOR color, int shift) { return static_cast<float>((color >> shift) & 0xFF); }

#if defined(__SSE2__)
// A colour's red, green, blue and alpha bytes as four floats, in that order.
__m128 ChannelsRgba(D3DCOLOR color) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(color)), zero);
  const __m128 bgra = _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
  return _mm_shuffle_ps(bgra, bgra, _MM_SHUFFLE(3, 0, 1, 2));
}
#endif

bool Finite(const D3DTLVERTEX& v) {
  return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) && std::isfinite(v.rhw);
}

// The attributes of one vertex. Colours come from `colorSource` (the first vertex for flat shading);
// texture coordinates are premultiplied by rhw when they are to be interpolated in perspective.
ClipVertex MakeVertex(const D3DTLVERTEX& v, const D3DTLVERTEX& colorSource, const SpanParams& params) {
  ClipVertex out{};
  out.a[kX] = v.sx;
  out.a[kY] = v.sy;
  out.a[kZ] = v.sz * params.zScale;
  out.a[kW] = v.rhw;
  float scale = params.perspective ? v.rhw : 1.0f;
  out.a[kU] = v.tu * scale;
  out.a[kV] = v.tv * scale;
#if defined(__SSE2__)
  // Four channels per store: colour into kR..kB (and kSR, written again next), specular into
  // kSR..kSB (and kF, written last).
  static_assert(kG == kR + 1 && kB == kR + 2 && kSR == kR + 3 && kSG == kSR + 1 && kSB == kSR + 2 && kF == kSR + 3,
                "colour and specular channels are stored four at a time");
  _mm_storeu_ps(out.a + kR, ChannelsRgba(colorSource.color));
  _mm_storeu_ps(out.a + kSR, params.specular ? ChannelsRgba(colorSource.specular) : _mm_setzero_ps());
#else
  out.a[kR] = Channel(colorSource.color, 16);
  out.a[kG] = Channel(colorSource.color, 8);
  out.a[kB] = Channel(colorSource.color, 0);
  if (params.specular) {
    out.a[kSR] = Channel(colorSource.specular, 16);
    out.a[kSG] = Channel(colorSource.specular, 8);
    out.a[kSB] = Channel(colorSource.specular, 0);
  }
#endif
  out.a[kF] = params.fog ? Channel(v.specular, 24) : 255.0f;
  return out;
}

// Signed distance of a vertex inside one clip plane (inside when >= 0).
struct ClipPlane {
  int attribute;
  float sign;  // +1: attribute >= bound; -1: attribute <= bound
  float bound;
  float Distance(const ClipVertex& v) const { return sign * (v.a[attribute] - bound); }
};

// The point where the edge from `inside` to `outside` crosses the plane. Computed from the inside
// vertex in both directions of travel, so two triangles sharing the edge get the same point.
// Differences of coordinates near the float limit overflow to infinity and the point would hold
// NaN; such an edge is cut again in double, where they cannot.
ClipVertex Crossing(const ClipVertex& inside, const ClipVertex& outside, const ClipPlane& plane) {
  const float din = plane.Distance(inside);
  const float dout = plane.Distance(outside);
  const float t = din / (din - dout);
  ClipVertex out;
  bool finite = std::isfinite(t);
  for (int i = 0; i < kAttributeCount; ++i) {
    out.a[i] = inside.a[i] + (outside.a[i] - inside.a[i]) * t;
    finite &= std::isfinite(out.a[i]);
  }
  if (!finite) {
    const double dinWide = double{plane.sign} * (double{inside.a[plane.attribute]} - double{plane.bound});
    const double doutWide = double{plane.sign} * (double{outside.a[plane.attribute]} - double{plane.bound});
    const double tWide = dinWide / (dinWide - doutWide);
    for (int i = 0; i < kAttributeCount; ++i)
      out.a[i] = static_cast<float>(double{inside.a[i]} + (double{outside.a[i]} - double{inside.a[i]}) * tWide);
  }
  out.a[plane.attribute] = plane.bound;
  return out;
}

// Sutherland-Hodgman against one plane; returns the new vertex count.
int ClipPolygon(const ClipVertex* in, int count, ClipVertex* out, const ClipPlane& plane) {
  int written = 0;
  for (int i = 0; i < count; ++i) {
    const ClipVertex& a = in[i];
    const ClipVertex& b = in[(i + 1) % count];
    bool aIn = plane.Distance(a) >= 0.0f;
    bool bIn = plane.Distance(b) >= 0.0f;
    if (aIn) out[written++] = a;
    if (aIn != bIn) out[written++] = aIn ? Crossing(a, b, plane) : Crossing(b, a, plane);
  }
  return written;
}

// Sets up one edge a -> b of a clockwise triangle (y down) for rows starting at py.
// Pixel centres sit on integer coordinates. The edge function E = (xb - xa)(y - ya) - (yb - ya)(x - xa)
// is positive inside; a centre exactly on the edge belongs to the triangle only for a top edge
// (horizontal, running right) or a left edge (running up), so shared edges draw each pixel once.
EdgeBound MakeEdge(int64_t xa, int64_t ya, int64_t xb, int64_t yb, int py) {
  int64_t a = ya - yb;
  int64_t bx = xb - xa;
  bool topLeft = a > 0 || (a == 0 && bx > 0);
  int64_t bias = topLeft ? 0 : 1;
  int64_t k = bx * ((int64_t{py} << kSubpixelShift) - ya) - a * xa - bias;  // E - bias = 16 a x + k
  int64_t kStep = bx << kSubpixelShift;
  EdgeBound edge;
  if (a > 0) {
    edge.kind = 1;
    edge.Start(-k, a << kSubpixelShift, -kStep);
  } else if (a < 0) {
    edge.kind = -1;
    edge.Start(k, (-a) << kSubpixelShift, kStep);
  } else {
    edge.k = k;
    edge.kStep = kStep;
  }
  return edge;
}

struct DrawContext {
  const SpanParams* params;
  SpanTriangleFn drawRows;
  int scissorX0, scissorY0, scissorX1, scissorY1;
  int bandY0, bandY1;  // the band being drawn: rows bandY0..bandY1-1 of the scissor rectangle
  RasterStats* stats;
};

// Whether a vertex lies where the fixed-point set-up holds it (false for NaN too). Clipped vertices
// always do; this keeps anything the clipper could still make of extreme input off the target.
bool Snappable(const ClipVertex& v) { return std::fabs(v.a[kX]) <= kMaxSnapped && std::fabs(v.a[kY]) <= kMaxSnapped; }

void AddStats(RasterStats& total, const RasterStats& part) {
  total.triangles += part.triangles;
  total.depthPassed += part.depthPassed;
}

// Snaps, culls and rasterises one triangle of clipped vertices.
void SetupTriangle(const DrawContext& ctx, const ClipVertex* v0, const ClipVertex* v1, const ClipVertex* v2) {
  if (!Snappable(*v0) || !Snappable(*v1) || !Snappable(*v2)) return;
  int64_t x0 = RoundToInteger(v0->a[kX] * kSubpixel), y0 = RoundToInteger(v0->a[kY] * kSubpixel);
  int64_t x1 = RoundToInteger(v1->a[kX] * kSubpixel), y1 = RoundToInteger(v1->a[kY] * kSubpixel);
  int64_t x2 = RoundToInteger(v2->a[kX] * kSubpixel), y2 = RoundToInteger(v2->a[kY] * kSubpixel);
  int64_t area = (x1 - x0) * (y2 - y0) - (y1 - y0) * (x2 - x0);  // > 0: clockwise on screen
  if (area == 0) return;
  // Direct3D culls the winding it names: D3DCULL_CCW drops counter-clockwise triangles.
  if (ctx.params->cullMode == D3DCULL_CCW && area < 0) return;
  if (ctx.params->cullMode == D3DCULL_CW && area > 0) return;
  if (area < 0) {
    std::swap(v1, v2);
    std::swap(x1, x2);
    std::swap(y1, y2);
    area = -area;
  }

  int64_t minY = std::min({y0, y1, y2});
  int64_t maxY = std::max({y0, y1, y2});
  int rowFirst = static_cast<int>(std::max<int64_t>(ctx.scissorY0, -FloorDiv(-minY, kSubpixelUnits)));
  int rowLast = static_cast<int>(std::min<int64_t>(ctx.scissorY1 - 1, FloorDiv(maxY, kSubpixelUnits)));
  if (rowFirst > rowLast) return;
  // Counted once, by the band that holds the triangle's first row.
  const bool counted = rowFirst >= ctx.bandY0 && rowFirst < ctx.bandY1;
  rowFirst = std::max(rowFirst, ctx.bandY0);
  rowLast = std::min(rowLast, ctx.bandY1 - 1);
  if (rowFirst > rowLast) return;
  // The same for columns: a triangle in the guard band beside the scissor rectangle has rows but
  // no pixel in them, and need not be walked.
  int64_t minX = std::min({x0, x1, x2});
  int64_t maxX = std::max({x0, x1, x2});
  int columnFirst = static_cast<int>(std::max<int64_t>(ctx.scissorX0, -FloorDiv(-minX, kSubpixelUnits)));
  int columnLast = static_cast<int>(std::min<int64_t>(ctx.scissorX1 - 1, FloorDiv(maxX, kSubpixelUnits)));
  if (columnFirst > columnLast) return;

  SpanTriangle tri;
  // Plane equations of every attribute from the snapped positions.
  float fx0 = static_cast<float>(x0) / kSubpixel, fy0 = static_cast<float>(y0) / kSubpixel;
  float dx1 = static_cast<float>(x1 - x0) / kSubpixel, dy1 = static_cast<float>(y1 - y0) / kSubpixel;
  float dx2 = static_cast<float>(x2 - x0) / kSubpixel, dy2 = static_cast<float>(y2 - y0) / kSubpixel;
  float det = static_cast<float>(area) / (kSubpixel * kSubpixel);
  for (int i = kW; i < kAttributeCount; ++i) {
    float da1 = v1->a[i] - v0->a[i];
    float da2 = v2->a[i] - v0->a[i];
    float ddx = (da1 * dy2 - da2 * dy1) / det;
    float ddy = (da2 * dx1 - da1 * dx2) / det;
    tri.dx[i] = ddx;
    tri.dy[i] = ddy;
    tri.origin[i] = v0->a[i] - ddx * fx0 - ddy * fy0;  // the value at pixel (0, 0)
  }
  tri.rowFirst = rowFirst;
  tri.rowLast = rowLast;
  tri.columnFirst = columnFirst;
  tri.columnLast = columnLast;
  tri.edges[0] = MakeEdge(x0, y0, x1, y1, rowFirst);
  tri.edges[1] = MakeEdge(x1, y1, x2, y2, rowFirst);
  tri.edges[2] = MakeEdge(x2, y2, x0, y0, rowFirst);
  const uint64_t passed = ctx.drawRows(*ctx.params, tri);
  if (ctx.stats != nullptr) {
    ctx.stats->triangles += counted ? 1 : 0;
    ctx.stats->depthPassed += passed;
  }
}

#if defined(__x86_64__)
// The 128-byte blocks of a fill in 32-byte stores; returns the bytes left over.
__attribute__((target("avx2"))) size_t FillBlocksAvx2(uint8_t*& at, size_t bytes, uint32_t pattern) {
  const __m256i wide = _mm256_set1_epi32(static_cast<int>(pattern));
  for (; bytes >= 128; bytes -= 128, at += 128) {
    auto* block = reinterpret_cast<__m256i*>(at);
    _mm256_storeu_si256(block, wide);
    _mm256_storeu_si256(block + 1, wide);
    _mm256_storeu_si256(block + 2, wide);
    _mm256_storeu_si256(block + 3, wide);
  }
  return bytes;
}
#endif

bool HasAvx2() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// Fills `bytes` bytes from `at` with the 32-bit `pattern` (a 16-bit value given twice), in the
// widest stores the processor has; `at` and `bytes` are multiples of 2 and the pattern's halves are
// equal when either is not a multiple of 4.
void FillBytes(uint8_t* at, size_t bytes, uint32_t pattern, bool avx2) {
#if defined(__x86_64__)
  if (avx2) bytes = FillBlocksAvx2(at, bytes, pattern);
#else
  (void)avx2;
#endif
#if defined(__SSE2__)
  const __m128i wide = _mm_set1_epi32(static_cast<int>(pattern));
  for (; bytes >= 16; bytes -= 16, at += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(at), wide);
#endif
  for (; bytes >= 4; bytes -= 4, at += 4) std::memcpy(at, &pattern, 4);
  if (bytes >= 2) std::memcpy(at, &pattern, 2);
}

// A fill's rectangle, cut to its buffer: rows y0..y1-1, rowBytes bytes each from `first` (the
// first byte of row y0), filled with a 32-bit pattern.
struct FillRect {
  uint8_t* first = nullptr;
  intptr_t pitch = 0;
  size_t rowBytes = 0;
  int columns = 0;
  int y0 = 0, y1 = 0;
  uint32_t pattern = 0;
};

// The rectangle [x0, x1) x [y0, y1) of a buffer of `bytes` (2 or 4) per pixel, cut to its size,
// filled with `value`; false when nothing is left of it.
bool CutFill(uint8_t* bits, intptr_t pitch, int width, int height, size_t bytes, int x0, int y0, int x1, int y1,
             uint32_t value, FillRect& rect) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width);
  y1 = std::min(y1, height);
  if (bits == nullptr || x0 >= x1 || y0 >= y1) return false;
  rect.first = bits + y0 * pitch + static_cast<size_t>(x0) * bytes;
  rect.pitch = pitch;
  rect.rowBytes = static_cast<size_t>(x1 - x0) * bytes;
  rect.columns = x1 - x0;
  rect.y0 = y0;
  rect.y1 = y1;
  rect.pattern = bytes == 4 ? value : (value & 0xFFFFu) * 0x10001u;
  return true;
}

bool ColorFill(const RasterTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color, FillRect& rect) {
  const uint32_t pixel = PackPixel(target.format, (color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
  const size_t bytes = target.format == RasterPixelFormat::Xrgb32 ? 4 : 2;
  return CutFill(target.bits, target.pitch, target.width, target.height, bytes, x0, y0, x1, y1, pixel, rect);
}

bool DepthFill(const RasterDepth& depth, int x0, int y0, int x1, int y1, float value, FillRect& rect) {
  const float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
  const auto stored = static_cast<uint32_t>(static_cast<double>(clamped) * depth.maxValue);
  const size_t bytes = depth.bytesPerPixel == 4 ? 4 : 2;
  return CutFill(depth.bits, depth.pitch, depth.width, depth.height, bytes, x0, y0, x1, y1, stored, rect);
}

// Fills rows y0..y1-1 of the rectangle (cut to its own rows).
void FillRectRows(const FillRect& rect, int y0, int y1, bool avx2) {
  for (int y = std::max(y0, rect.y0); y < std::min(y1, rect.y1); ++y)
    FillBytes(rect.first + (y - rect.y0) * rect.pitch, rect.rowBytes, rect.pattern, avx2);
}

// A fill shared out among threads in bands of whole rows.
struct FillJob {
  FillRect rect;
  int bands;
  bool avx2;  // the processor has AVX2
};

void FillBand(void* context, int band) {
  const FillJob& job = *static_cast<const FillJob*>(context);
  const int64_t rows = job.rect.y1 - job.rect.y0;
  FillRectRows(job.rect, job.rect.y0 + static_cast<int>(rows * band / job.bands),
               job.rect.y0 + static_cast<int>(rows * (band + 1) / job.bands), job.avx2);
}

// Fills the rectangle; a large one is filled by the drawing threads at once (clearing a big
// picture is a fair part of a frame).
void FillRows(const FillRect& rect) {
  const int rows = rect.y1 - rect.y0;
  FillJob job{rect, 1, HasAvx2()};
  if (rect.rowBytes * static_cast<size_t>(rows) >= kThreadedFillBytes)
    job.bands = std::min(RasterThreadsFor(int64_t{rows} * rect.columns), rows);
  if (job.bands <= 1) return FillBand(&job, 0);
  RunOnRasterWorkers(job.bands, job.bands, &FillBand, &job);
}

// The region inside a set of planes, each bounding x, y or z from one side, as a box: a vertex is
// inside every plane exactly when lo <= value <= hi on each of the three, which takes six
// comparisons and no lookups. Sides no plane bounds are infinite.
class ClipBox {
 public:
  template <size_t N>
  explicit ClipBox(const ClipPlane (&planes)[N]) {
    for (const ClipPlane& plane : planes) {
      const int axis = plane.attribute == kX ? 0 : plane.attribute == kY ? 1 : 2;
      (plane.sign > 0.0f ? lo_ : hi_)[axis] = plane.bound;
    }
  }

  bool Contains(const ClipVertex& v) const {
    return (v.a[kX] >= lo_[0]) & (v.a[kX] <= hi_[0]) & (v.a[kY] >= lo_[1]) & (v.a[kY] <= hi_[1]) & (v.a[kZ] >= lo_[2]) &
           (v.a[kZ] <= hi_[2]);
  }
  bool ContainsAll(const ClipVertex* v) const { return Contains(v[0]) & Contains(v[1]) & Contains(v[2]); }

 private:
  static constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float lo_[3] = {-kInfinity, -kInfinity, -kInfinity};
  float hi_[3] = {kInfinity, kInfinity, kInfinity};
};

// The rows a run of consecutive triangles reaches: the smallest and largest sy of the corners of
// its drawable triangles (top > bottom when it has none). NaN corners are left out: a triangle
// with one draws nothing.
struct RunRows {
  float top, bottom;
};

// One draw call's triangles and how to draw them, shared by the threads drawing it.
struct DrawList {
  DrawContext ctx;  // the band and stats are set per band
  const D3DTLVERTEX* vertices;
  size_t vertexCount;
  const WORD* indices;
  size_t indexCount;
  bool clip;
  RasterStats stats[kMaxRasterParts];  // per band, when there are several
  int bands = 1;
  // With several bands, the triangles in runs of runTriangles, each with the rows it reaches, so
  // that a band passes over a run that misses it without looking at its triangles one by one.
  const RunRows* runs = nullptr;
  size_t runTriangles = 0;  // 0: one run of every triangle, reaching every row
};

// The rows each run of the list's triangles reaches, into `runs` (kMaxRuns of them). Triangles of
// a draw mostly follow one another across the picture (the terrain row by row), so a run covers a
// few bands at most.
void MeasureRuns(DrawList& list, RunRows* runs) {
  const size_t triangles = list.indexCount / 3;
  list.runTriangles = std::max(kMinRunTriangles, (triangles + kMaxRuns - 1) / kMaxRuns);
  for (size_t run = 0; run * list.runTriangles < triangles; ++run) {
    float top = std::numeric_limits<float>::infinity(), bottom = -top;
    const size_t end = std::min(triangles, (run + 1) * list.runTriangles);
    for (size_t t = run * list.runTriangles; t < end; ++t) {
      const WORD* corner = list.indices + 3 * t;
      if (corner[0] >= list.vertexCount || corner[1] >= list.vertexCount || corner[2] >= list.vertexCount) continue;
      for (int k = 0; k < 3; ++k) {
        const float y = list.vertices[corner[k]].sy;
        top = y < top ? y : top;
        bottom = y > bottom ? y : bottom;
      }
    }
    runs[run] = {top, bottom};
  }
  list.runs = runs;
}

// Clips, sets up and draws every triangle of the list into rows y0..y1-1 (cut to the scissor
// rectangle), counting into `stats` (if not null).
void DrawRows(const DrawList& list, int y0, int y1, RasterStats* stats) {
  DrawContext ctx = list.ctx;
  ctx.bandY0 = y0;
  ctx.bandY1 = y1;
  ctx.stats = stats;
  const SpanParams& params = *ctx.params;
  const D3DTLVERTEX* vertices = list.vertices;
  const size_t vertexCount = list.vertexCount;
  const WORD* indices = list.indices;
  const size_t indexCount = list.indexCount;
  const bool clip = list.clip;
  // The guard band surrounds the scissor rectangle (the viewport cut to the target), so a viewport
  // reaching far past the target cannot carry vertices out of the set-up's range.
  const float guardX0 = static_cast<float>(ctx.scissorX0) - kGuardBand;
  const float guardY0 = static_cast<float>(ctx.scissorY0) - kGuardBand;
  const float guardX1 = static_cast<float>(ctx.scissorX1) + kGuardBand;
  const float guardY1 = static_cast<float>(ctx.scissorY1) + kGuardBand;
  const ClipPlane planes[] = {
      {kZ, 1.0f, 0.0f},     {kZ, -1.0f, params.zScale}, {kX, 1.0f, guardX0},
      {kX, -1.0f, guardX1}, {kY, 1.0f, guardY0},        {kY, -1.0f, guardY1},
  };
  const ClipPlane unclipped[] = {
      {kX, 1.0f, -kMaxUnclipped},
      {kX, -1.0f, kMaxUnclipped},
      {kY, 1.0f, -kMaxUnclipped},
      {kY, -1.0f, kMaxUnclipped},
  };
  const ClipBox clipBox(planes), unclippedBox(unclipped);
  const float bandTop = static_cast<float>(ctx.bandY0 - 1), bandBottom = static_cast<float>(ctx.bandY1);

  const size_t triangles = indexCount / 3;
  const size_t runTriangles = list.runTriangles != 0 ? list.runTriangles : triangles;
  for (size_t first = 0, run = 0; first < triangles; first += runTriangles, ++run) {
    if (list.runTriangles != 0 && (list.runs[run].bottom < bandTop || list.runs[run].top > bandBottom)) continue;
    const size_t end = std::min(triangles, first + runTriangles);
    for (size_t i = 3 * first; i < 3 * end; i += 3) {
      WORD i0 = indices[i], i1 = indices[i + 1], i2 = indices[i + 2];
      if (i0 >= vertexCount || i1 >= vertexCount || i2 >= vertexCount) continue;
      const D3DTLVERTEX& a = vertices[i0];
      const D3DTLVERTEX& b = vertices[i1];
      const D3DTLVERTEX& c = vertices[i2];
      // A triangle whose corners all lie above or all below the band draws nothing in it: clipping
      // only cuts a triangle down, and snapping moves a corner by less than a pixel.
      if (std::max({a.sy, b.sy, c.sy}) < bandTop || std::min({a.sy, b.sy, c.sy}) > bandBottom) continue;
      if (!Finite(a) || !Finite(b) || !Finite(c)) continue;
      ClipVertex poly[kMaxClipVertices];
      poly[0] = MakeVertex(a, a, params);
      poly[1] = MakeVertex(b, params.gouraud ? b : a, params);
      poly[2] = MakeVertex(c, params.gouraud ? c : a, params);
      if (!clip) {
        if (unclippedBox.ContainsAll(poly)) SetupTriangle(ctx, &poly[0], &poly[1], &poly[2]);
        continue;
      }
      int count = 3;
      if (!clipBox.ContainsAll(poly)) {
        ClipVertex scratch[kMaxClipVertices];
        for (const ClipPlane& plane : planes) {
          count = ClipPolygon(poly, count, scratch, plane);
          std::copy(scratch, scratch + count, poly);
          if (count < 3) break;
        }
      }
      for (int k = 1; k + 1 < count; ++k) SetupTriangle(ctx, &poly[0], &poly[k], &poly[k + 1]);
    }
  }
}

// Draws the list into band `band` of list.bands, equal shares of the scissor rectangle's rows.
void DrawBand(void* context, int band) {
  DrawList& list = *static_cast<DrawList*>(context);
  const DrawContext& ctx = list.ctx;
  const int64_t rows = ctx.scissorY1 - ctx.scissorY0;
  const int y0 = ctx.scissorY0 + static_cast<int>(rows * band / list.bands);
  const int y1 = ctx.scissorY0 + static_cast<int>(rows * (band + 1) / list.bands);
  DrawRows(list, y0, y1, list.bands > 1 && ctx.stats != nullptr ? &list.stats[band] : ctx.stats);
}

// The texture a draw samples: null for none or one without texels.
const RasterTexture* SampledTexture(const RasterTexture* texture) {
  if (texture != nullptr && (texture->bits == nullptr || texture->width <= 0 || texture->height <= 0)) return nullptr;
  return texture;
}

// Sets up the span parameters and the scissor rectangle of a draw whose palette texture is already
// widened; false when it draws nothing. ctx.params points to `params`.
bool PrepareDraw(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                 const RasterTexture* texture, bool clip, SpanParams& params, DrawContext& ctx) {
  if (target.bits == nullptr || target.width <= 0 || target.height <= 0) return false;
  if (depth != nullptr && (depth->bits == nullptr || !state.zEnable)) depth = nullptr;
  params = MakeSpanParams(state, target, depth, texture);
  ctx.params = &params;
  ctx.drawRows = ChooseSpanRoutine(params);
  ctx.stats = nullptr;
  ctx.scissorX0 = 0;
  ctx.scissorY0 = 0;
  ctx.scissorX1 = target.width;
  ctx.scissorY1 = target.height;
  if (depth != nullptr) {
    ctx.scissorX1 = std::min(ctx.scissorX1, depth->width);
    ctx.scissorY1 = std::min(ctx.scissorY1, depth->height);
  }
  if (clip) {
    ctx.scissorX0 = std::max(ctx.scissorX0, state.viewportX0);
    ctx.scissorY0 = std::max(ctx.scissorY0, state.viewportY0);
    ctx.scissorX1 = std::min(ctx.scissorX1, state.viewportX1);
    ctx.scissorY1 = std::min(ctx.scissorY1, state.viewportY1);
  }
  return ctx.scissorX0 < ctx.scissorX1 && ctx.scissorY0 < ctx.scissorY1;
}

}  // namespace

void RasterDrawTriangles(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                         const RasterTexture* texture, const D3DTLVERTEX* vertices, size_t vertexCount,
                         const WORD* indices, size_t indexCount, bool clip, RasterStats* stats) {
  if (RasterCapture* capture = RasterRecording())
    RecordTriangles(*capture, state, target, depth, texture, vertices, vertexCount, indices, indexCount, clip);
  texture = SampledTexture(texture);
  std::unique_lock<std::mutex> widenedHold;
  if (texture != nullptr) texture = WidenPaletteTexture(*texture, widenedHold);
  SpanParams params;
  DrawList list{};
  if (!PrepareDraw(state, target, depth, texture, clip, params, list.ctx)) return;
  list.ctx.stats = stats;
  list.vertices = vertices;
  list.vertexCount = vertexCount;
  list.indices = indices;
  list.indexCount = indexCount;
  list.clip = clip;
  const int threads = RasterThreadsFor(int64_t{target.width} * target.height);
  list.bands = std::clamp(std::min(threads * kBandsPerThread, (list.ctx.scissorY1 - list.ctx.scissorY0) / kMinBandRows),
                          1, kMaxRasterParts);
  if (threads <= 1 || list.bands == 1) {
    list.bands = 1;
    DrawBand(&list, 0);
    return;
  }
  RunRows runs[kMaxRuns];  // left unset: MeasureRuns writes every run there is
  MeasureRuns(list, runs);
  RunOnRasterWorkers(threads, list.bands, &DrawBand, &list);
  if (stats != nullptr)
    for (int k = 0; k < list.bands; ++k) AddStats(*stats, list.stats[k]);
}

void RasterFillColor(const RasterTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color) {
  if (RasterCapture* capture = RasterRecording()) RecordFillColor(*capture, target, x0, y0, x1, y1, color);
  FillRect rect;
  if (ColorFill(target, x0, y0, x1, y1, color, rect)) FillRows(rect);
}

void RasterFillDepth(const RasterDepth& depth, int x0, int y0, int x1, int y1, float value) {
  if (RasterCapture* capture = RasterRecording()) RecordFillDepth(*capture, depth, x0, y0, x1, y1, value);
  FillRect rect;
  if (DepthFill(depth, x0, y0, x1, y1, value, rect)) FillRows(rect);
}

namespace {

// One queued call: a draw or a fill.
struct QueuedCall {
  bool fill = false;
  // A draw:
  RasterState state;
  bool clip = true;
  bool depth = false;  // drawn with the queue's depth buffer
  bool textured = false;
  RasterTexture texture;  // when textured: the description, with its palette and key
  size_t firstVertex = 0, vertexCount = 0, firstIndex = 0, indexCount = 0;
  FillRect rect;  // a fill's
};

bool SameTarget(const RasterTarget& a, const RasterTarget& b) {
  return a.bits == b.bits && a.pitch == b.pitch && a.width == b.width && a.height == b.height && a.format == b.format;
}

bool SameDepth(const RasterDepth& a, const RasterDepth& b) {
  return a.bits == b.bits && a.pitch == b.pitch && a.width == b.width && a.height == b.height &&
         a.bytesPerPixel == b.bytesPerPixel && a.maxValue == b.maxValue;
}

}  // namespace

struct RasterQueue::Queued {
  RasterTarget target;
  RasterDepth depth;
  bool hasTarget = false, hasDepth = false;
  int threads = 1;
  std::vector<QueuedCall> calls;
  std::vector<D3DTLVERTEX> vertices;
  std::vector<WORD> indices;
  RasterStats counted;  // by the calls drawn since the last Flush
  // What drawing a run of the calls needs, kept from one flush to the next so that a frame
  // allocates nothing: per call its span parameters, its list (valid when `drawn`) and kMaxRuns
  // runs; the calls begin..end-1 being drawn, and the bands they are drawn in.
  std::vector<SpanParams> params;
  std::vector<DrawList> lists;
  std::vector<uint8_t> drawn;
  std::vector<RunRows> runs;
  size_t begin = 0, end = 0;
  int rows = 0, bands = 1;
  bool avx2 = false;
  RasterStats bandStats[kMaxRasterParts];

  // Whether a call into `to` and `into` (either may be null) can join those queued.
  bool Joins(const RasterTarget* to, const RasterDepth* into) const {
    if (calls.empty()) return true;
    if (to != nullptr && hasTarget && !SameTarget(*to, target)) return false;
    return into == nullptr || !hasDepth || SameDepth(*into, depth);
  }

  // Readies the queue for a call into `to` and `into` of `pixels` pixels, drawing what it holds
  // first if the call cannot join it; returns the threads the call takes (1: draw it at once).
  int Open(const RasterTarget* to, const RasterDepth* into, int64_t pixels) {
    const int count = RasterThreadsFor(pixels);
    if (!Joins(to, into) || count != threads) Draw();
    threads = count;
    return count;
  }

  // Takes the buffers of a call that joins the queue.
  void Bind(const RasterTarget* to, const RasterDepth* into) {
    if (to != nullptr) {
      target = *to;
      hasTarget = true;
    }
    if (into != nullptr) {
      depth = *into;
      hasDepth = true;
    }
  }

  void AddFill(const FillRect& rect, const RasterTarget* to, const RasterDepth* into) {
    Bind(to, into);
    QueuedCall& call = calls.emplace_back();
    call.fill = true;
    call.rect = rect;
  }

  // Gives the calls from `first` on their span parameters and lists, up to the first whose palette
  // copy the copies handed out leave no room for; returns the end of the run.
  size_t Prepare(size_t first, PaletteCopies& copies) {
    size_t i = first;
    for (; i < calls.size(); ++i) {
      const QueuedCall& call = calls[i];
      drawn[i] = 0;
      if (call.fill) continue;
      const RasterTexture* texture = call.textured ? SampledTexture(&call.texture) : nullptr;
      if (texture != nullptr && (texture = copies.Widen(*texture)) == nullptr) break;
      DrawList& list = lists[i];
      if (!PrepareDraw(call.state, target, call.depth ? &depth : nullptr, texture, call.clip, params[i], list.ctx))
        continue;
      list.vertices = vertices.data() + call.firstVertex;
      list.vertexCount = call.vertexCount;
      list.indices = indices.data() + call.firstIndex;
      list.indexCount = call.indexCount;
      list.clip = call.clip;
      MeasureRuns(list, runs.data() + i * kMaxRuns);
      drawn[i] = 1;
    }
    return i;
  }

  // Draws every queued call, in runs that the palette copies allow.
  void Draw() {
    if (calls.empty()) return;
    rows = std::max(hasTarget ? target.height : 0, hasDepth ? depth.height : 0);
    bands = std::clamp(std::min(threads * kBandsPerThread, rows / kMinBandRows), 1, kMaxRasterParts);
    avx2 = HasAvx2();
    params.resize(calls.size());
    lists.resize(calls.size());
    drawn.resize(calls.size());
    runs.resize(calls.size() * kMaxRuns);
    std::fill(std::begin(bandStats), std::end(bandStats), RasterStats{});
    PaletteCopies copies;
    for (begin = 0; begin < calls.size(); begin = end) {
      end = Prepare(begin, copies);
      RunOnRasterWorkers(threads, bands, &DrawBandOfQueue, this);
      copies.Release();
    }
    for (const RasterStats& band : bandStats) AddStats(counted, band);
    calls.clear();
    vertices.clear();
    indices.clear();
    hasTarget = hasDepth = false;
  }

  // Draws calls begin..end-1 into band `band` of the queue's rows.
  static void DrawBandOfQueue(void* context, int band) {
    Queued& q = *static_cast<Queued*>(context);
    const int y0 = static_cast<int>(int64_t{q.rows} * band / q.bands);
    const int y1 = static_cast<int>(int64_t{q.rows} * (band + 1) / q.bands);
    for (size_t i = q.begin; i < q.end; ++i) {
      const QueuedCall& call = q.calls[i];
      if (!call.fill) {
        if (q.drawn[i] != 0) DrawRows(q.lists[i], y0, y1, &q.bandStats[band]);
        continue;
      }
      FillRectRows(call.rect, y0, y1, q.avx2);
    }
  }
};

RasterQueue::RasterQueue() : queued_(std::make_unique<Queued>()) {}

RasterQueue::~RasterQueue() = default;

void RasterQueue::DrawTriangles(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                                const RasterTexture* texture, const D3DTLVERTEX* vertices, size_t vertexCount,
                                const WORD* indices, size_t indexCount, bool clip) {
  Queued& q = *queued_;
  if (q.Open(&target, depth, int64_t{target.width} * target.height) <= 1)
    return RasterDrawTriangles(state, target, depth, texture, vertices, vertexCount, indices, indexCount, clip,
                               &q.counted);
  if (RasterCapture* capture = RasterRecording())
    RecordTriangles(*capture, state, target, depth, texture, vertices, vertexCount, indices, indexCount, clip);
  q.Bind(&target, depth);
  QueuedCall& call = q.calls.emplace_back();
  call.state = state;
  call.clip = clip;
  call.depth = depth != nullptr;
  call.textured = texture != nullptr;
  if (texture != nullptr) call.texture = *texture;
  call.firstVertex = q.vertices.size();
  call.vertexCount = vertices != nullptr ? vertexCount : 0;
  call.firstIndex = q.indices.size();
  call.indexCount = indices != nullptr ? indexCount : 0;
  q.vertices.insert(q.vertices.end(), vertices, vertices + call.vertexCount);
  q.indices.insert(q.indices.end(), indices, indices + call.indexCount);
}

void RasterQueue::FillColor(const RasterTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color) {
  Queued& q = *queued_;
  if (q.Open(&target, nullptr, int64_t{target.width} * target.height) <= 1)
    return RasterFillColor(target, x0, y0, x1, y1, color);
  if (RasterCapture* capture = RasterRecording()) RecordFillColor(*capture, target, x0, y0, x1, y1, color);
  FillRect rect;
  if (ColorFill(target, x0, y0, x1, y1, color, rect)) q.AddFill(rect, &target, nullptr);
}

void RasterQueue::FillDepth(const RasterDepth& depth, int x0, int y0, int x1, int y1, float value) {
  Queued& q = *queued_;
  if (q.Open(nullptr, &depth, int64_t{depth.width} * depth.height) <= 1)
    return RasterFillDepth(depth, x0, y0, x1, y1, value);
  if (RasterCapture* capture = RasterRecording()) RecordFillDepth(*capture, depth, x0, y0, x1, y1, value);
  FillRect rect;
  if (DepthFill(depth, x0, y0, x1, y1, value, rect)) q.AddFill(rect, nullptr, &depth);
}

void RasterQueue::Flush(RasterStats* stats) {
  Queued& q = *queued_;
  q.Draw();
  if (stats != nullptr) AddStats(*stats, q.counted);
  q.counted = {};
}
