// The per-frame scene pass: walks an object tree depth-first, composes each object's matrices with
// its parent's, classifies it by its bounding box as wholly inside the view, partly inside or
// outside, and for objects not outside transforms, projects, lights and fogs every vertex into the
// view's D3DTLVERTEX buffer and queues its faces into the bucket of their texture. Calls no device.
// Used by RenderView.
#pragma once

#include "model/matrix.h"
#include "model/sceneobject.h"
#include "render/viewcontext.h"

// Values shared with the frame drawing.
constexpr float kNearZ = 0.01f;    // near threshold in camera depth
constexpr float kFarZ = 500.0f;    // camera depth of normalised depth 1
constexpr int32_t kClipNone = 2;   // ClipCode of a face the device may draw unclipped
constexpr int32_t kClipMaybe = 0;  // ClipCode of a face that may cross the near plane or an edge
constexpr uint8_t kPrimTriangleFan = 6;
// Deepest object nesting the walk follows; subtrees below it are not drawn.
constexpr int kMaxTreeDepth = 128;

// Preconditions: TLVertexCount and NodeCount are 0 and all buckets empty when the root call
// begins (RenderView does this). `parent` and `parentLight` are the matrices of the object's
// parent (the view matrix and MatrixIdentity for the root); the object's later siblings are
// walked with the same matrices.
//
// Capacities are guarded: an object whose vertices do not all fit in the frame's vertex buffer
// (VertexLimit) is not drawn this frame, a face beyond MaxFaces, with fewer than three indices,
// without a texture or with a texture Index outside 0..255 is not queued.
void TransformObjectTree(TKlvViewContext& view, const TMatrix44& parent, const TMatrix44& parentLight,
                         TSceneObject* obj);
