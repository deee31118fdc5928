// Frame drawing: sets up and clears the device viewport, runs the scene pass over the object tree
// and draws the 256 texture buckets in order inside one scene, each with one texture and material
// switch and at most two indexed triangle-list calls: first the faces that may cross the near
// plane or a screen edge (clipped here at the near plane, the rest left to the device), then the
// faces wholly on screen (drawn with D3DDP_DONOTCLIP). Called by the saver's draw handler.
#pragma once

#include "model/sceneobject.h"
#include "render/viewcontext.h"

// KeepBackground true clears only the depth buffer; false clears the colour buffer too.
// Triangles beyond 2 * MaxFaces and near-plane vertices beyond the frame's vertex capacity are
// dropped for this frame; nothing is written past a buffer.
void RenderView(TKlvViewContext& view, TSceneObject* root, bool keepBackground);

// The view matrix T(-position) x transpose(rotation of Camera) x diag(FocalScale, FocalScale, 1, 1).
TMatrix44 BuildViewMatrix(const TKlvViewContext& view);
