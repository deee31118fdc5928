// View context creation, resizing, release and the render states it applies once.
#include "render/viewcontext.h"

#include <algorithm>
#include <bit>
#include <new>

#include "platform/error.h"

namespace {

// The shape whose fields of view every picture keeps: 640 x 480.
constexpr double kReferenceAspect = 4.0 / 3.0;

void SetViewSize(TKlvViewContext& view, int32_t width, int32_t height) {
  view.ViewWidth = width;
  view.ViewHeight = height;
  view.ViewWidthF = static_cast<float>(width);
  view.ViewHeightF = static_cast<float>(height);
  view.HalfWidth = static_cast<float>(width / 2.0);
  view.HalfHeight = static_cast<float>(height / 2.0);
  view.FocalScale = FocalScaleFor(width, height);
}

template <class T>
T* AllocateBuffer(int64_t count) {
  return new T[static_cast<size_t>(count)];
}

}  // namespace

void CreateView(TKlvViewContext& view, TKlvRenderDevice* device, int32_t width, int32_t height, int32_t maxFaces,
                int32_t maxVertices, float zoom) {
  if (maxFaces < 0 || maxVertices < 0) throw KlvError(KlvErrorKind::Capacity, "", "negative view capacity");
  view.Camera = MatrixIdentity;
  view.Device = device;
  SetViewSize(view, width >= 1 ? width : device->DefaultWidth(), height >= 1 ? height : device->DefaultHeight());
  view.MaxFaces = maxFaces;
  view.MaxVertices = maxVertices;
  view.Zoom = zoom;
  view.NodeCount = 0;
  view.TLVertexCount = 0;
  // The sort list holds a whole bucket plus its two sentinels.
  view.SortList = AllocateBuffer<TMeshFace*>(int64_t{maxFaces} + 2);
  view.NodePool = AllocateBuffer<TKlvFaceNode>(maxFaces);
  view.TriIndices = AllocateBuffer<uint16_t>(int64_t{maxFaces} * 6);
  view.TLVertices = AllocateBuffer<D3DTLVERTEX>(maxVertices);
  std::fill(std::begin(view.Buckets), std::end(view.Buckets), nullptr);
  view.LightDir = {0, 0, 1};
  view.FogColor = kDefaultFogColor;
  ApplyViewStates(view);
}

void ResizeView(TKlvViewContext& view, int32_t width, int32_t height) { SetViewSize(view, width, height); }

void FreeView(TKlvViewContext& view) {
  delete[] view.SortList;
  delete[] view.NodePool;
  delete[] view.TriIndices;
  delete[] view.TLVertices;
  view.SortList = nullptr;
  view.NodePool = nullptr;
  view.TriIndices = nullptr;
  view.TLVertices = nullptr;
  view.MaxFaces = 0;
  view.MaxVertices = 0;
  view.NodeCount = 0;
  view.TLVertexCount = 0;
}

void ApplyViewStates(TKlvViewContext& view) {
  IDirect3DDevice2* device = view.Device->Direct3DDevice();
  view.LightDir = {0, 0, 1};
  device->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_FOGENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_NONE);
  device->SetRenderState(D3DRENDERSTATE_FOGCOLOR, view.FogColor);
  if (!view.Device->ColorModelIsRgb()) {
    device->SetRenderState(D3DRENDERSTATE_FOGENABLE, FALSE);
    device->SetRenderState(D3DRENDERSTATE_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, FALSE);
    device->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
  }
  view.FogStart = kFogStart;
  view.FogEnd = kFogEnd;
  const float range = static_cast<float>(double{view.FogEnd} - view.FogStart);
  view.FogScale = range < kMinFogRange ? kFlatFogScale : static_cast<float>(1.0 / range);
  device->SetRenderState(D3DRENDERSTATE_FOGTABLESTART, std::bit_cast<DWORD>(view.FogStart));
  device->SetRenderState(D3DRENDERSTATE_FOGTABLEEND, std::bit_cast<DWORD>(view.FogEnd));
  device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
}

float FocalScaleFor(int32_t width, int32_t height) {
  return static_cast<float>(std::min(width / 2.0, height / 2.0 * kReferenceAspect));
}

int32_t VertexLimit(const TKlvViewContext& view) { return std::min(view.MaxVertices, kMaxIndexableVertices); }
