// Frame drawing: viewport set-up, the scene pass, the bucket procedure (partition into the clip
// and no-clip sets, near-plane clipping, draw calls) and the near-plane clipping of fan triangles.
#include "render/framedraw.h"

#include <utility>

#include "render/scenerender.h"

namespace {

constexpr int32_t kSentinelLow = -1;                                                // ClipCode below every real one
constexpr int32_t kSentinelHigh = 256;                                              // ClipCode above every real one
constexpr int32_t kPartitionPivot = 1;                                              // between kClipMaybe and kClipNone
constexpr float kNearNormalisedDepth = static_cast<float>(double{kNearZ} / kFarZ);  // 0.00002, bits 0x37A7C5AC

// The state one frame's bucket procedure shares: the running triangle count g and its limit.
struct FrameTriangles {
  int32_t count = 0;
  int32_t limit = 0;
};

// One 8-bit channel a fraction t of the way from `from` to `to`, truncated. Written as
// from + (to - from) * t so that a channel both ends share (an opaque alpha) stays exact.
uint32_t LerpByte(uint32_t from, uint32_t to, int shift, double t) {
  const double start = from >> shift & 0xFF;
  const double value = start + (double(to >> shift & 0xFF) - start) * t;
  if (!(value > 0)) return 0;
  return (value < 255 ? static_cast<uint32_t>(value) : 255) << shift;
}

uint32_t LerpColor(uint32_t from, uint32_t to, double t) {
  return LerpByte(from, to, 24, t) | LerpByte(from, to, 16, t) | LerpByte(from, to, 8, t) | LerpByte(from, to, 0, t);
}

// Writes the vertex where the edge from k to m crosses the near plane; false when the frame's
// vertex buffer is full.
bool AddCrossing(TKlvViewContext& view, const TVector3& pk, const TVector3& pm, const D3DTLVERTEX& tk,
                 const D3DTLVERTEX& tm, uint16_t& index) {
  if (view.TLVertexCount >= VertexLimit(view)) return false;
  const double t = (double{pk.z} - kNearZ) / (double{pk.z} - pm.z);
  const float x = static_cast<float>(pk.x - (double{pk.x} - pm.x) * t);
  const float y = static_cast<float>(pk.y - (double{pk.y} - pm.y) * t);
  const float rhw = static_cast<float>(view.Zoom / double{kNearZ});
  D3DTLVERTEX& out = view.TLVertices[view.TLVertexCount];
  out.sx = static_cast<float>(double{x} * rhw + view.HalfWidth);
  out.sy = static_cast<float>(double{y} * rhw + view.HalfHeight);
  out.sz = kNearNormalisedDepth;
  out.rhw = rhw;
  out.tu = static_cast<float>(tk.tu - (double{tk.tu} - tm.tu) * t);
  out.tv = static_cast<float>(tk.tv - (double{tk.tv} - tm.tv) * t);
  out.color = LerpColor(tk.color, tm.color, t);
  out.specular = LerpColor(tk.specular, tm.specular, t);
  index = static_cast<uint16_t>(view.TLVertexCount++);
  return true;
}

// Clips the fan triangle (0, w + 1, w + 2) of a face at the near plane and writes the zero, one or
// two triangles that remain. A triangle that does not fit the frame's buffers is dropped.
void ClipFanTriangle(TKlvViewContext& view, const TMeshFace& face, int32_t w, FrameTriangles& tris) {
  const TSceneObject& obj = *face.Owner;
  const int32_t base = obj.VertexBase;
  const uint16_t number[3] = {face.Indices[0], face.Indices[w + 1], face.Indices[w + 2]};
  TVector3 p[3];
  for (int k = 0; k < 3; ++k) {
    const TMeshVertex& v = obj.Vertices[number[k]];
    p[k] = TransformPoint({v.X, v.Y, v.Z}, obj.World);
  }
  uint16_t out[4];
  int n = 0;
  for (int k = 0; k < 3; ++k) {
    const int m = (k + 1) % 3;
    const D3DTLVERTEX& tk = view.TLVertices[base + number[k]];
    const D3DTLVERTEX& tm = view.TLVertices[base + number[m]];
    if (p[k].z > kNearZ) {
      out[n++] = static_cast<uint16_t>(base + number[k]);
      if (p[m].z < kNearZ && !AddCrossing(view, p[k], p[m], tk, tm, out[n++])) return;
    } else if (p[m].z > kNearZ) {
      if (!AddCrossing(view, p[k], p[m], tk, tm, out[n++])) return;
    }
  }
  const int triangles = n - 2;  // a plane cuts a triangle into at most four corners
  if (triangles < 1 || tris.count + triangles > tris.limit) return;
  for (int t = 0; t < triangles; ++t) {
    uint16_t* tri = view.TriIndices + 3 * tris.count++;
    tri[0] = out[0];
    tri[1] = out[t + 1];
    tri[2] = out[t + 2];
  }
}

void AddFanTriangles(TKlvViewContext& view, const TMeshFace& face, FrameTriangles& tris) {
  const int32_t base = face.Owner->VertexBase;
  for (int32_t w = 0; w + 2 < face.IndexCount && tris.count < tris.limit; ++w) {
    uint16_t* tri = view.TriIndices + 3 * tris.count++;
    tri[0] = static_cast<uint16_t>(base + face.Indices[0]);
    tri[1] = static_cast<uint16_t>(base + face.Indices[w + 1]);
    tri[2] = static_cast<uint16_t>(base + face.Indices[w + 2]);
  }
}

bool Drawable(const TMeshFace* face) { return face->PrimType == kPrimTriangleFan && face->IndexCount >= 3; }

void DrawTriangles(TKlvViewContext& view, int32_t& start, int32_t end, DWORD flags) {
  if (end <= start) return;
  view.Device->Direct3DDevice()->DrawIndexedPrimitive(
      D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, view.TLVertices, static_cast<DWORD>(view.TLVertexCount),
      view.TriIndices + 3 * start, static_cast<DWORD>(3 * (end - start)), flags);
  start = end;
}

// Sorts one bucket into the clip set (entries 1..j, ClipCode 0) and the no-clip set (entries
// i..n, ClipCode 2) and draws both. SortList[0] and [n + 1] hold the sentinels.
void DrawBucket(TKlvViewContext& view, int bucket, TMeshFace* low, TMeshFace* high, FrameTriangles& tris) {
  TMeshFace** list = view.SortList;
  int32_t n = 0;
  for (TKlvFaceNode* node = view.Buckets[bucket]; node != nullptr; node = node->NextNode) list[++n] = node->Face;
  list[0] = low;
  list[n + 1] = high;
  view.Buckets[bucket] = nullptr;

  int32_t i = 0;
  int32_t j = n;
  while (i <= j) {
    while (list[i]->ClipCode < kPartitionPivot) ++i;
    while (list[j]->ClipCode > kPartitionPivot) --j;
    if (i <= j) {
      std::swap(list[i], list[j]);
      ++i;
      --j;
    }
  }

  int32_t start = tris.count;
  for (int32_t e = 1; e <= j; ++e)
    if (Drawable(list[e]))
      for (int32_t w = 0; w + 2 < list[e]->IndexCount; ++w) ClipFanTriangle(view, *list[e], w, tris);
  IDirect3DDevice2* device = view.Device->Direct3DDevice();
  device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, list[1]->Texture->Handle);
  device->SetLightState(D3DLIGHTSTATE_MATERIAL, list[1]->Texture->MaterialHandle);
  DrawTriangles(view, start, tris.count, D3DDP_WAIT);
  for (int32_t e = i; e <= n; ++e)
    if (Drawable(list[e])) AddFanTriangles(view, *list[e], tris);
  DrawTriangles(view, start, tris.count, D3DDP_WAIT | D3DDP_DONOTCLIP);
}

// Sets the viewport rectangle and depth range, makes it current, sets the background and clears.
void PrepareViewport(TKlvViewContext& view, IDirect3DViewport2* viewport, bool keepBackground) {
  D3DVIEWPORT2 rect{};
  rect.dwSize = kD3DViewport2Size;
  rect.dwWidth = static_cast<DWORD>(view.ViewWidth);
  rect.dwHeight = static_cast<DWORD>(view.ViewHeight);
  rect.dvClipWidth = view.ViewWidthF;
  rect.dvClipHeight = view.ViewHeightF;
  rect.dvMinZ = 0.0f;
  rect.dvMaxZ = 1.0f;
  viewport->SetViewport2(&rect);
  view.Device->Direct3DDevice()->SetCurrentViewport(viewport);
  viewport->SetBackground(view.Device->BackgroundMaterial());
  D3DRECT area{0, 0, view.ViewWidth, view.ViewHeight};
  viewport->Clear(1, &area, keepBackground ? D3DCLEAR_ZBUFFER : D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
}

}  // namespace

TMatrix44 BuildViewMatrix(const TKlvViewContext& view) {
  TMatrix44 translate = MatrixIdentity;
  for (int c = 0; c < 3; ++c) translate(3, c) = -view.Camera(3, c);
  TMatrix44 rotate = MatrixIdentity;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rotate(r, c) = view.Camera(c, r);
  TMatrix44 scale = MatrixIdentity;
  scale(0, 0) = view.FocalScale;
  scale(1, 1) = view.FocalScale;
  TMatrix44 result;
  MatrixMultiply(translate, rotate, result);
  MatrixMultiply(result, scale, result);
  return result;
}

void RenderView(TKlvViewContext& view, TSceneObject* root, bool keepBackground) {
  view.TLVertexCount = 0;
  view.NodeCount = 0;
  IDirect3DViewport2* viewport = view.Device->AcquireViewport();
  if (viewport != nullptr) PrepareViewport(view, viewport, keepBackground);

  TransformObjectTree(view, BuildViewMatrix(view), MatrixIdentity, root);

  TMeshFace low{};
  low.ClipCode = kSentinelLow;
  TMeshFace high{};
  high.ClipCode = kSentinelHigh;
  FrameTriangles tris;
  tris.limit = 2 * view.MaxFaces;
  IDirect3DDevice2* device = view.Device->Direct3DDevice();
  device->BeginScene();
  for (int bucket = 0; bucket < kBucketCount; ++bucket)
    if (view.Buckets[bucket] != nullptr) DrawBucket(view, bucket, &low, &high, tris);
  device->EndScene();

  if (viewport != nullptr) viewport->Release();
}
