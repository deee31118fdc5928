// The GL device's drawing: the rasteriser's operations (indexed D3DTLVERTEX triangles with the
// decoded render state, rectangle fills of colour and depth) done by OpenGL 3.3 core into
// framebuffer objects, with the software rasteriser's conventions: pixel centres on integer
// coordinates, texture row 0 at the top, flat shading from the first vertex, modulate, specular
// add, per-vertex fog, colour key by texel value, nearest sampling with wrap, z less-or-equal.
// Targets keep the picture's top row in GL row 0, so a read-back gives rows in memory order and
// showing a target on a window flips it once. Needs its context current on every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/dx5/gl_api.h"
#include "platform/dx5/raster.h"

// A colour target (RGBA8 texture) with an optional depth buffer (32-bit float renderbuffer, as
// precise as the software device's 32-bit z) on the GPU.
struct GlTarget {
  GLuint framebuffer = 0, color = 0, depth = 0;
  int width = 0, height = 0;
};

// A texture on the GPU, expanded to RGBA8; alpha 0 marks texels inside the colour key range.
struct GlTexture {
  GLuint name = 0;
  int width = 0, height = 0;
  bool bilinear = false;  // sampled with linear filtering instead of the nearest texel
};

class GlRaster {
 public:
  // Compiles the program and makes the vertex buffers; Ready() tells whether that worked.
  explicit GlRaster(GlApi& gl);
  ~GlRaster();
  GlRaster(const GlRaster&) = delete;
  GlRaster& operator=(const GlRaster&) = delete;

  bool Ready() const { return program_ != 0; }
  GlApi& Api() { return gl_; }

  // A target of this size, with depth when asked; false (and nothing made) when GL refuses it.
  bool CreateTarget(int width, int height, bool withDepth, GlTarget* target);
  void DestroyTarget(GlTarget* target);
  // Adds or removes the depth buffer of an existing target.
  bool SetTargetDepth(GlTarget* target, bool withDepth);

  // (Re)uploads `source` into `texture`, making it on first use: 8-bit texels through the palette,
  // 16-bit ones by their channel masks; a texel whose raw value lies in the colour key range gets
  // alpha 0. `bilinear` picks linear filtering instead of nearest.
  bool UploadTexture(const RasterTexture& source, bool bilinear, GlTexture* texture);
  void DestroyTexture(GlTexture* texture);

  // As RasterDrawTriangles, into `target` and its depth buffer; `texture` may be null.
  void DrawTriangles(const RasterState& state, const GlTarget& target, const GlTexture* texture,
                     const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t indexCount,
                     bool clip);
  // As RasterFillColor and RasterFillDepth, on the target's colour and depth.
  void FillColor(const GlTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color);
  void FillDepth(const GlTarget& target, int x0, int y0, int x1, int y1, float value);

  // Copies the target's colour into memory of any rasteriser format (truncating to 16 bits as the
  // software rasteriser does), and memory into the target's colour.
  void ReadColor(const GlTarget& target, const RasterTarget& out);
  void WriteColor(const GlTarget& target, const RasterTarget& source);
  // Copies a rectangle from one target's colour to another's on the GPU; sizes equal, no scaling.
  void CopyColor(const GlTarget& source, int sx, int sy, const GlTarget& dest, int dx, int dy, int width, int height);
  // Shows a target on framebuffer 0 of the given size, flipped upright and scaled: stretched over
  // the whole of it when `fill`, else as large as its shape allows, centred, black around it.
  void PresentToWindow(const GlTarget& source, int windowWidth, int windowHeight, bool fill);

 private:
  // Sets only the uniforms whose value changed since the last draw.
  void SetUniforms(const RasterState& state, const GlTarget& target, const GlTexture* texture);
  bool ScissorTo(const GlTarget& target, int x0, int y0, int x1, int y1);
  // The indices of the triangles that may be drawn: all of `indices`, or (when some index is out of
  // range or some vertex it reaches not finite) a filtered copy in scratch_; with the smallest and
  // largest index among them.
  const WORD* UsableIndices(const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t* count,
                            WORD* low, WORD* high);
  // When a vertex of vertices[low..high] lies beyond the guard band around the viewport: cuts the
  // triangles to it into clippedVertices_ and clippedIndices_ and returns true; false otherwise.
  bool ClipToGuardBand(const RasterState& state, const D3DTLVERTEX* vertices, WORD low, WORD high, const WORD* indices,
                       size_t count);

  GlApi& gl_;
  GLuint program_ = 0, vertexArray_ = 0, vertexBuffer_ = 0, indexBuffer_ = 0;
  GLint flagsAt_ = -1, sizeAt_ = -1, fogAt_ = -1;
  int flags_ = -1;
  float size_[2] = {-1.0f, -1.0f};
  D3DCOLOR fog_ = 0xFFFFFFFFu;
  bool fogSet_ = false;
  std::vector<WORD> scratch_;
  std::vector<D3DTLVERTEX> clippedVertices_;
  std::vector<WORD> clippedIndices_;
  std::vector<uint32_t> texels_;
};
