// Recording the software rasteriser's calls and drawing them again. A capture holds every clear and
// every triangle draw of the frames it was recording, with the render state, the vertices and
// indices, and the texture each draw sampled (texels, palette, colour key), so frames of the real
// program can be replayed without it, at any size, by benchmarks and tests. Captures are stored as
// gzip-compressed files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dx5/raster.h"

// A texture as the capture keeps it: the description with `bits` pointing into `texels`, rows of
// exactly width texels.
struct RasterCaptureTexture {
  RasterTexture texture;
  std::vector<uint8_t> texels;
};

enum class RasterCallKind : uint8_t { Triangles, FillColor, FillDepth };

struct RasterCaptureCall {
  RasterCallKind kind = RasterCallKind::Triangles;
  // Triangles:
  RasterState state;
  bool clip = true;
  bool depth = false;  // drawn with the depth buffer
  int texture = -1;    // index into RasterCapture::textures, -1 for none
  std::vector<D3DTLVERTEX> vertices;
  std::vector<WORD> indices;
  // Fills: the rectangle, the colour (FillColor) or the depth value (FillDepth).
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  D3DCOLOR color = 0;
  float depthValue = 0.0f;
};

struct RasterCaptureFrame {
  std::string name;
  std::vector<RasterCaptureCall> calls;
};

// Frames of one program drawn into one target, sharing their textures.
struct RasterCapture {
  // The target and depth buffer of the first call recorded; every call is taken to draw there.
  int width = 0, height = 0;
  RasterPixelFormat format = RasterPixelFormat::Rgb565;
  int depthBytes = 0;  // 0: no depth buffer was seen
  uint32_t depthMax = 0;
  std::vector<RasterCaptureTexture> textures;
  std::vector<RasterCaptureFrame> frames;
};

// Makes every following rasteriser call on this process append itself to the last frame of
// `capture` (a frame is added first when there is none); null stops. Recording is for
// single-threaded tools: the caller keeps `capture` alive until it stops.
void RasterRecordInto(RasterCapture* capture);
// The capture being recorded into, or null (used by the rasteriser's entry points).
RasterCapture* RasterRecording();
void RecordTriangles(RasterCapture& capture, const RasterState& state, const RasterTarget& target,
                     const RasterDepth* depth, const RasterTexture* texture, const D3DTLVERTEX* vertices,
                     size_t vertexCount, const WORD* indices, size_t indexCount, bool clip);
void RecordFillColor(RasterCapture& capture, const RasterTarget& target, int x0, int y0, int x1, int y1,
                     D3DCOLOR color);
void RecordFillDepth(RasterCapture& capture, const RasterDepth& depth, int x0, int y0, int x1, int y1, float value);

// Throws KlvError naming the file when it cannot be written, read or is not a valid capture.
void SaveRasterCapture(const RasterCapture& capture, const std::string& path);
RasterCapture LoadRasterCapture(const std::string& path);

// Scales positions, viewports and rectangles from the captured size to width x height.
void ScaleRasterCapture(RasterCapture& capture, int width, int height);
// Draws one frame's calls into `target` and `depth` (which may be null), of the capture's size:
// one by one, or through `queue` (flushed at the end) as the Direct3D device draws them.
void ReplayRasterFrame(const RasterCapture& capture, const RasterCaptureFrame& frame, const RasterTarget& target,
                       const RasterDepth* depth, RasterStats* stats = nullptr, RasterQueue* queue = nullptr);
