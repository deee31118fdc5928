// The software rasteriser behind the Direct3D device: plain records describing a colour target, a
// depth buffer, a texture and the render state, free functions that clear rectangles and draw
// indexed lists of D3DTLVERTEX triangles into them, and a queue that keeps such calls and draws
// them together on the drawing threads. It knows nothing of surfaces or interfaces, so
// it runs (and is tested) on plain memory. Whatever the vertices hold, it writes only inside the
// target and depth records it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/dx5/d3d.h"

enum class RasterPixelFormat {
  Rgb565,  // 16 bits: red 11..15, green 5..10, blue 0..4
  Rgb555,  // 16 bits: red 10..14, green 5..9, blue 0..4
  Xrgb32,  // 32 bits: 0x00RRGGBB (the top byte is written as 0xFF)
};

struct RasterTarget {
  uint8_t* bits = nullptr;  // row 0, the top row
  intptr_t pitch = 0;       // bytes from one row to the next
  int width = 0;
  int height = 0;
  RasterPixelFormat format = RasterPixelFormat::Rgb565;
};

// A depth buffer of `bytesPerPixel` 2 (16-bit depth) or 4 (24- or 32-bit depth); `maxValue` is the
// stored value of depth 1.0 (far), 0 is depth 0.0 (near).
struct RasterDepth {
  uint8_t* bits = nullptr;
  intptr_t pitch = 0;
  int width = 0;
  int height = 0;
  int bytesPerPixel = 2;
  uint32_t maxValue = 0xFFFF;
};

enum class RasterTexelFormat {
  Indexed8,  // one byte, an index into `palette`
  Direct16,  // 16 bits with the channel layout in `red`, `green`, `blue`
  Xrgb32,    // 0x??RRGGBB
  // 0x0KRRGGBB, K = 1 for a transparent texel: the rasteriser's own 32-bit copy of an Indexed8
  // texture, whose colour key (0x01000000 to 0x01FFFFFF) stands for the palette index range's.
  MarkedXrgb32,
};

// Where one colour channel sits in a 16-bit texel: `bits` wide (4 to 8), starting at bit `shift`.
struct RasterChannel {
  uint32_t shift = 0;
  uint32_t bits = 0;
};

struct RasterTexture {
  const uint8_t* bits = nullptr;  // row 0, the top row
  intptr_t pitch = 0;
  int width = 0;   // 1 or more
  int height = 0;  // 1 or more
  RasterTexelFormat format = RasterTexelFormat::Xrgb32;
  uint32_t palette[256] = {};      // 0x00RRGGBB per index, for Indexed8
  RasterChannel red, green, blue;  // for Direct16
  // Raw texel values from keyLow to keyHigh (inclusive) are transparent when colour keying is on.
  bool hasColorKey = false;
  uint32_t keyLow = 0;
  uint32_t keyHigh = 0;
};

// The render states the rasteriser honours, already decoded from Direct3D's values.
struct RasterState {
  bool zEnable = true;
  bool zWrite = true;
  bool perspective = true;  // texture coordinates interpolated through rhw
  bool gouraud = true;      // false: every pixel takes the first vertex's colour and specular
  DWORD cullMode = D3DCULL_CCW;
  bool specular = true;  // add the vertex specular colour, saturating
  bool fog = false;      // blend toward fogColor by the specular alpha (255 clear, 0 fog)
  D3DCOLOR fogColor = 0;
  bool colorKey = false;  // honour the texture's colour key
  // Spans may use the eight-pixel AVX2 routines where the processor has them. Every path draws the
  // same pixels; turning this off lets a test compare the four-pixel and scalar ones against them.
  bool allowAvx2 = true;
  // With allowAvx2, spans may also use the sixteen-pixel AVX-512 routines where the processor has
  // them (32-bit texels or none); off, a test can compare the eight-pixel ones against them.
  bool allowAvx512 = true;
  // Pixels drawn when clipping is on: columns x0..x1-1, rows y0..y1-1 (clipped again to the target).
  int viewportX0 = 0, viewportY0 = 0, viewportX1 = 0, viewportY1 = 0;
};

// Counters a caller may ask a draw to add to.
struct RasterStats {
  uint64_t triangles = 0;    // triangles that reached set-up (after culling and clipping)
  uint64_t depthPassed = 0;  // pixels that passed the depth test (all covered pixels when z is off)
};

// Draws indexedCount / 3 triangles. Triangles with an index at or beyond vertexCount, or with a
// NaN or infinite coordinate, draw nothing. With `clip` the triangles are clipped to depth 0..1
// and to the viewport; without it they are only cut to the target, and those with coordinates
// beyond what the fixed-point set-up holds draw nothing. `depth` and `texture` may be null.
void RasterDrawTriangles(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                         const RasterTexture* texture, const D3DTLVERTEX* vertices, size_t vertexCount,
                         const WORD* indices, size_t indexCount, bool clip, RasterStats* stats);

// Drawing threads. A draw is shared among up to RasterThreadsFor(its target's pixels) threads: its
// rows are cut into bands, and each band is drawn, every triangle in order, by one thread; the
// pixels are the same for every thread count. The limit is process-wide: 1 draws on the calling
// thread only, N > 1 on N threads; 0 (the default) draws as many threads as the picture needs, one
// per 1024 x 768 pixels, up to one per core: a picture that size draws in a few milliseconds, and
// sharing it would cost more processor time than it saves.
void RasterSetThreadLimit(int limit);
// The most threads any draw uses: the limit, or one per core.
int RasterThreadCount();
// The threads a draw into a target of `pixels` pixels uses.
int RasterThreadsFor(int64_t pixels);

// Fills the rectangle [x0, x1) x [y0, y1), cut to the target, with the colour (0x??RRGGBB). Large
// fills, like draws, are shared among the drawing threads.
void RasterFillColor(const RasterTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color);
// Fills the rectangle, cut to the buffer, with the depth value `value` (0.0 near to 1.0 far).
void RasterFillDepth(const RasterDepth& depth, int x0, int y0, int x1, int y1, float value);

// A frame's clears and draws into one target, kept in order until Flush draws them. Where a draw
// into the target would take one thread, each call is drawn at once by the functions above. Where
// it would take several, Flush cuts the rows into bands, and each band is drawn by one thread
// through every call in order: the threads wait for each other once a flush instead of at the end
// of every call, where the last bands of a draw leave one of them idle (measured on the saver's
// frames at 1920 x 1080 on two threads: 1.18x as fast as sharing each call by itself). The pixels
// are the same.
// Vertices and indices are copied, and the texture's description (palette and colour key with
// it); the memory of the target, the depth buffer and every texture's texels must stay as it is
// until Flush. A call into another target or depth buffer draws what was queued first.
class RasterQueue {
 public:
  RasterQueue();
  ~RasterQueue();  // drops what is queued: its memory may be gone
  RasterQueue(const RasterQueue&) = delete;
  RasterQueue& operator=(const RasterQueue&) = delete;

  // As RasterDrawTriangles, RasterFillColor and RasterFillDepth.
  void DrawTriangles(const RasterState& state, const RasterTarget& target, const RasterDepth* depth,
                     const RasterTexture* texture, const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices,
                     size_t indexCount, bool clip);
  void FillColor(const RasterTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color);
  void FillDepth(const RasterDepth& depth, int x0, int y0, int x1, int y1, float value);
  // Draws everything queued; `stats` (if not null) is added to as the calls would have.
  void Flush(RasterStats* stats = nullptr);

 private:
  struct Queued;
  std::unique_ptr<Queued> queued_;
};
