// The view context: the one record the renderer keeps from frame to frame (camera, viewport size
// and projection constants, light direction, fog ramp) with the preallocated work buffers one
// frame fills (transformed-and-lit vertices, bucket nodes, 256 texture buckets, the sort list and
// the triangle indices). The saver shell creates, resizes and frees it; the scene step writes
// Camera and Zoom; TransformObjectTree and RenderView fill and drain it.
//
// Projection: a camera-space point (x, y, z) lands at sx = HalfWidth + FocalScale * Zoom * x / z,
// sy = HalfHeight + FocalScale * Zoom * y / z, sz = z / 500, rhw = Zoom / z; the near plane is
// z = 0.01. FocalScale is HalfWidth for a 4:3 view (the 640 x 480 picture's field of view) and keeps
// that picture's vertical field for wider views and its horizontal field for narrower ones.
#pragma once

#include <cstdint>

#include "model/matrix.h"
#include "model/sceneobject.h"
#include "platform/dx5/d3d.h"
#include "render/renderdevice.h"

// One bucket per texture Index.
constexpr int kBucketCount = 256;
// A 16-bit triangle index reaches this many vertices.
constexpr int32_t kMaxIndexableVertices = 65536;

constexpr uint32_t kDefaultFogColor = 0xFFDFDFEF;
constexpr float kFogStart = 0.2f;  // normalised depth where fog begins (camera depth 100)
constexpr float kFogEnd = 0.45f;   // normalised depth of full fog (camera depth 225)
constexpr float kMinFogRange = 0.00001f;
constexpr float kFlatFogScale = 10000.0f;  // FogScale when the ramp has no width

struct TKlvFaceNode {
  TMeshFace* Face;
  TKlvFaceNode* NextNode;  // next node of the same bucket, or null
};

struct TKlvViewContext {
  TMatrix44 Camera;          // rows 0..2: camera x (right), y (down), z (view) axes in world space; row 3: position
  TKlvRenderDevice* Device;  // not owned
  TVector3 LightDir;
  int32_t ViewWidth, ViewHeight;  // pixels
  uint32_t FogColor;              // ARGB
  float HalfWidth, HalfHeight;    // screen centre in pixels
  float Zoom;                     // focal length / FocalScale
  float ViewWidthF, ViewHeightF;
  float FocalScale;         // pixels per unit of x / z at Zoom 1: min(HalfWidth, HalfHeight * 4 / 3)
  TMeshFace** SortList;     // MaxFaces + 2 entries: one bucket and its two sentinels
  TKlvFaceNode* NodePool;   // MaxFaces entries
  uint16_t* TriIndices;     // 6 * MaxFaces entries: two triangles per face
  D3DTLVERTEX* TLVertices;  // MaxVertices entries
  int32_t MaxFaces;
  int32_t NodeCount;  // nodes used this frame, 0..MaxFaces
  int32_t MaxVertices;
  int32_t TLVertexCount;                // vertices used this frame, 0..min(MaxVertices, 65536)
  float FogStart, FogEnd;               // normalised depth
  float FogScale;                       // 1 / (FogEnd - FogStart)
  TKlvFaceNode* Buckets[kBucketCount];  // all empty between frames
};

// Width or height below 1 takes the device's default size. Capacities must be 0 or more
// (KlvError(Capacity) otherwise). Allocates the buffers once and applies the render states.
void CreateView(TKlvViewContext& view, TKlvRenderDevice* device, int32_t width, int32_t height, int32_t maxFaces,
                int32_t maxVertices, float zoom);
// New viewport size from the next frame on; buffers, fog and zoom stay.
void ResizeView(TKlvViewContext& view, int32_t width, int32_t height);
// Releases the buffers; may run repeatedly.
void FreeView(TKlvViewContext& view);
// Fog, specular and colour-key states, with fog, specular and dithering off and flat shading
// unless the device's colour model is RGB.
void ApplyViewStates(TKlvViewContext& view);

// The projection's scale for a width x height view (see FocalScale).
float FocalScaleFor(int32_t width, int32_t height);

// The vertices one frame may hold: MaxVertices, but never more than 16-bit indices reach.
int32_t VertexLimit(const TKlvViewContext& view);
