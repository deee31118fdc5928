// The software Direct3D device: render and light states, viewports, handle tables, scenes, clears
// and DrawIndexedPrimitive, which locks the render target, its attached z-buffer and the current
// texture and hands them to the rasteriser as plain records.
#include <algorithm>
#include <bit>
#include <optional>

#include "platform/dx5/d3d_objects.h"
#include "platform/dx5/ddraw_objects.h"

namespace {

// Marks a device's queue in use while the device locks surfaces to add to it, so that its own
// locks leave it queued.
class QueueInUse {
 public:
  QueueInUse(DDrawObject* surfaces, RasterQueue* queue) : surfaces_(surfaces) {
    if (surfaces_ != nullptr) surfaces_->SetQueueInUse(queue);
  }
  ~QueueInUse() {
    if (surfaces_ != nullptr) surfaces_->SetQueueInUse(nullptr);
  }
  QueueInUse(const QueueInUse&) = delete;
  QueueInUse& operator=(const QueueInUse&) = delete;

 private:
  DDrawObject* surfaces_;
};

constexpr DWORD kLightStateCount = 8;  // light states are numbered below this
constexpr DWORD R2_COPYPEN = 13;
constexpr DWORD D3DBLEND_ZERO = 1;
constexpr DWORD D3DBLEND_ONE = 2;
constexpr float kOne = 1.0f;

// Surface formats the device reads and writes, in the rasteriser's terms.
bool TargetFormat(const DDPIXELFORMAT& format, RasterPixelFormat* out) {
  if ((format.dwFlags & DDPF_RGB) == 0) return false;
  if (format.dwRGBBitCount == 32) {
    *out = RasterPixelFormat::Xrgb32;
    return true;
  }
  if (format.dwRGBBitCount != 16) return false;
  *out = format.dwGBitMask == 0x03E0 ? RasterPixelFormat::Rgb555 : RasterPixelFormat::Rgb565;
  return true;
}

RasterChannel ChannelOf(DWORD mask) {
  if (mask == 0) return {};
  auto shift = static_cast<uint32_t>(std::countr_zero(mask));
  auto bits = static_cast<uint32_t>(std::popcount(mask));
  return {shift, std::clamp<uint32_t>(bits, 1, 8)};
}

uint32_t PaletteColor(const PALETTEENTRY& entry) {
  return (uint32_t{entry.peRed} << 16) | (uint32_t{entry.peGreen} << 8) | entry.peBlue;
}

void ReadPalette(IDirectDrawSurface* surface, RasterTexture& texture) {
  IDirectDrawPalette* palette = nullptr;
  if (FAILED(surface->GetPalette(&palette)) || palette == nullptr) return;
  PALETTEENTRY entries[256] = {};
  if (SUCCEEDED(palette->GetEntries(0, 0, 256, entries)))
    for (int i = 0; i < 256; ++i) texture.palette[i] = PaletteColor(entries[i]);
  palette->Release();
}

// Fills `texture` from a locked texture surface; false when the format is not one we sample.
bool DescribeTexture(IDirectDrawSurface* surface, const DDSURFACEDESC& desc, RasterTexture& texture) {
  const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
  if (desc.dwWidth == 0 || desc.dwHeight == 0) return false;
  texture.bits = static_cast<const uint8_t*>(desc.lpSurface);
  texture.pitch = desc.lPitch;
  texture.width = static_cast<int>(desc.dwWidth);
  texture.height = static_cast<int>(desc.dwHeight);
  if ((format.dwFlags & DDPF_PALETTEINDEXED8) != 0) {
    texture.format = RasterTexelFormat::Indexed8;
    ReadPalette(surface, texture);
  } else if ((format.dwFlags & DDPF_RGB) != 0 && format.dwRGBBitCount == 16) {
    texture.format = RasterTexelFormat::Direct16;
    texture.red = ChannelOf(format.dwRBitMask);
    texture.green = ChannelOf(format.dwGBitMask);
    texture.blue = ChannelOf(format.dwBBitMask);
  } else if ((format.dwFlags & DDPF_RGB) != 0 && format.dwRGBBitCount == 32) {
    texture.format = RasterTexelFormat::Xrgb32;
  } else {
    return false;
  }
  DDCOLORKEY key{};
  if (SUCCEEDED(surface->GetColorKey(DDCKEY_SRCBLT, &key))) {
    texture.hasColorKey = true;
    texture.keyLow = key.dwColorSpaceLowValue;
    texture.keyHigh = std::max(key.dwColorSpaceLowValue, key.dwColorSpaceHighValue);
  }
  return true;
}

// Depth bits of a z-buffer surface, from whichever field its description fills.
DWORD DepthBits(const DDSURFACEDESC& desc) {
  if ((desc.ddpfPixelFormat.dwFlags & DDPF_ZBUFFER) != 0 && desc.ddpfPixelFormat.dwZBufferBitDepth != 0)
    return desc.ddpfPixelFormat.dwZBufferBitDepth;
  return desc.dwZBufferBitDepth;
}

// Fills `depth` from a locked z-buffer; false when its depth or layout is not one we handle.
bool DescribeDepth(const DDSURFACEDESC& desc, RasterDepth& depth) {
  DWORD bits = DepthBits(desc);
  int bytes = bits == 16 ? 2 : (bits == 24 || bits == 32) ? 4 : 0;
  if (bytes == 0 || desc.lPitch < static_cast<LONG>(desc.dwWidth) * bytes) return false;
  depth.bits = static_cast<uint8_t*>(desc.lpSurface);
  depth.pitch = desc.lPitch;
  depth.width = static_cast<int>(desc.dwWidth);
  depth.height = static_cast<int>(desc.dwHeight);
  depth.bytesPerPixel = bytes;
  depth.maxValue = bits == 16 ? 0xFFFFu : bits == 24 ? 0xFFFFFFu : 0xFFFFFF00u;
  return true;
}

bool DescribeTarget(const DDSURFACEDESC& desc, RasterTarget& target) {
  if (!TargetFormat(desc.ddpfPixelFormat, &target.format)) return false;
  int bytes = target.format == RasterPixelFormat::Xrgb32 ? 4 : 2;
  if (desc.lPitch < static_cast<LONG>(desc.dwWidth) * bytes) return false;
  target.bits = static_cast<uint8_t*>(desc.lpSurface);
  target.pitch = desc.lPitch;
  target.width = static_cast<int>(desc.dwWidth);
  target.height = static_cast<int>(desc.dwHeight);
  return true;
}

// The z-buffer attached to `surface` (one reference), or null.
IDirectDrawSurface* AttachedDepth(IDirectDrawSurface* surface) {
  DDSCAPS caps{DDSCAPS_ZBUFFER};
  IDirectDrawSurface* depth = nullptr;
  if (FAILED(surface->GetAttachedSurface(&caps, &depth))) return nullptr;
  return depth;
}

uint8_t ColorByte(float value) { return static_cast<uint8_t>(std::clamp(value, 0.0f, 1.0f) * 255.0f + 0.5f); }

// The texture formats the device samples, in the order EnumTextureFormats reports them.
struct TextureFormat {
  DWORD flags, bits, red, green, blue, alpha;
};
constexpr TextureFormat kTextureFormats[] = {
    {DDPF_PALETTEINDEXED8 | DDPF_RGB, 8, 0, 0, 0, 0},
    {DDPF_RGB, 16, 0xF800, 0x07E0, 0x001F, 0},
    {DDPF_RGB, 16, 0x7C00, 0x03E0, 0x001F, 0},
    {DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x7C00, 0x03E0, 0x001F, 0x8000},
    {DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
    {DDPF_RGB, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0},
};

}  // namespace

D3DDevice::D3DDevice(IDirectDrawSurface* target) : target_(target) {
  target_->AddRef();
  IDirectDrawSurface* depth = AttachedDepth(target_);
  renderStates_[D3DRENDERSTATE_TEXTUREADDRESS] = D3DTADDRESS_WRAP;
  renderStates_[D3DRENDERSTATE_ZENABLE] = depth != nullptr ? TRUE : FALSE;
  renderStates_[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
  renderStates_[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
  renderStates_[D3DRENDERSTATE_ROP2] = R2_COPYPEN;
  renderStates_[D3DRENDERSTATE_PLANEMASK] = 0xFFFFFFFFu;
  renderStates_[D3DRENDERSTATE_ZWRITEENABLE] = TRUE;
  renderStates_[D3DRENDERSTATE_LASTPIXEL] = TRUE;
  renderStates_[D3DRENDERSTATE_TEXTUREMAG] = D3DFILTER_NEAREST;
  renderStates_[D3DRENDERSTATE_TEXTUREMIN] = D3DFILTER_NEAREST;
  renderStates_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  renderStates_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  renderStates_[D3DRENDERSTATE_TEXTUREMAPBLEND] = D3DTBLEND_MODULATE;
  renderStates_[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
  renderStates_[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
  renderStates_[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
  renderStates_[D3DRENDERSTATE_FOGTABLEMODE] = D3DFOG_NONE;
  renderStates_[D3DRENDERSTATE_FOGTABLEDENSITY] = std::bit_cast<DWORD>(kOne);
  renderStates_[D3DRENDERSTATE_TEXTUREADDRESSU] = D3DTADDRESS_WRAP;
  renderStates_[D3DRENDERSTATE_TEXTUREADDRESSV] = D3DTADDRESS_WRAP;
  lightStates_[D3DLIGHTSTATE_COLORMODEL] = D3DCOLOR_RGB;
  lightStates_[D3DLIGHTSTATE_FOGDENSITY] = std::bit_cast<DWORD>(kOne);
  if (depth != nullptr) depth->Release();
  if (const auto* surface = dynamic_cast<DDrawSurface*>(target_); surface != nullptr) {
    surfaces_ = surface->Owner();
    surfaces_->AddDrawQueue(&queue_);
  }
}

D3DDevice::~D3DDevice() {
  if (surfaces_ != nullptr) {
    queue_.Flush();
    surfaces_->RemoveDrawQueue(&queue_);
  }
  for (D3DViewport* viewport : viewports_) {
    viewport->AttachTo(nullptr);
    viewport->Release();
  }
  for (D3DMaterial* material : materials_) material->Release();
  for (D3DTexture* texture : textures_) texture->Release();
  target_->Release();
}

HRESULT D3DDevice::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (!(riid == IID_IDirect3DDevice2)) return E_NOINTERFACE;
  AddRef();
  *object = static_cast<IDirect3DDevice2*>(this);
  return S_OK;
}

HRESULT D3DDevice::AddViewport(IDirect3DViewport2* viewport) {
  auto* ours = dynamic_cast<D3DViewport*>(viewport);
  if (ours == nullptr) return E_INVALIDARG;
  if (std::find(viewports_.begin(), viewports_.end(), ours) != viewports_.end()) return D3D_OK;
  if (ours->Device() != nullptr) ours->Device()->ForgetViewport(ours);
  viewports_.push_back(ours);
  ours->AddRef();
  ours->AttachTo(this);
  return D3D_OK;
}

HRESULT D3DDevice::DeleteViewport(IDirect3DViewport2* viewport) {
  auto* ours = dynamic_cast<D3DViewport*>(viewport);
  if (ours == nullptr || ours->Device() != this) return E_INVALIDARG;
  ForgetViewport(ours);
  return D3D_OK;
}

void D3DDevice::ForgetViewport(D3DViewport* viewport) {
  auto found = std::find(viewports_.begin(), viewports_.end(), viewport);
  if (found == viewports_.end()) return;
  viewports_.erase(found);
  if (current_ == viewport) current_ = nullptr;
  viewport->AttachTo(nullptr);
  viewport->Release();
}

// A viewport not yet added to this device is added first, so the current viewport always belongs here.
HRESULT D3DDevice::SetCurrentViewport(IDirect3DViewport2* viewport) {
  auto* ours = dynamic_cast<D3DViewport*>(viewport);
  if (ours == nullptr) return E_INVALIDARG;
  if (ours->Device() != this) {
    HRESULT added = AddViewport(ours);
    if (FAILED(added)) return added;
  }
  current_ = ours;
  return D3D_OK;
}

HRESULT D3DDevice::GetCurrentViewport(IDirect3DViewport2** viewport) {
  if (viewport == nullptr) return E_INVALIDARG;
  *viewport = current_;
  if (current_ == nullptr) return D3DERR_VIEWPORTHASNODEVICE;
  current_->AddRef();
  return D3D_OK;
}

HRESULT D3DDevice::BeginScene() {
  if (inScene_) return D3DERR_SCENE_IN_SCENE;
  inScene_ = true;
  return D3D_OK;
}

HRESULT D3DDevice::EndScene() {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  inScene_ = false;
  queue_.Flush();
  return D3D_OK;
}

HRESULT D3DDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  if (state == 0 || state >= kD3DRenderStateCount) return E_INVALIDARG;
  renderStates_[state] = value;
  return D3D_OK;
}

HRESULT D3DDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  if (value == nullptr || state == 0 || state >= kD3DRenderStateCount) return E_INVALIDARG;
  *value = renderStates_[state];
  return D3D_OK;
}

HRESULT D3DDevice::SetLightState(D3DLIGHTSTATETYPE state, DWORD value) {
  if (state == 0 || state >= kLightStateCount) return E_INVALIDARG;
  if (state == D3DLIGHTSTATE_MATERIAL && value > materials_.size()) return E_INVALIDARG;
  lightStates_[state] = value;
  return D3D_OK;
}

HRESULT D3DDevice::GetLightState(D3DLIGHTSTATETYPE state, DWORD* value) {
  if (value == nullptr || state == 0 || state >= kLightStateCount) return E_INVALIDARG;
  *value = lightStates_[state];
  return D3D_OK;
}

HRESULT D3DDevice::EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, void* context) {
  if (callback == nullptr) return E_INVALIDARG;
  for (const TextureFormat& format : kTextureFormats) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_PIXELFORMAT;
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = format.flags;
    desc.ddpfPixelFormat.dwRGBBitCount = format.bits;
    desc.ddpfPixelFormat.dwRBitMask = format.red;
    desc.ddpfPixelFormat.dwGBitMask = format.green;
    desc.ddpfPixelFormat.dwBBitMask = format.blue;
    desc.ddpfPixelFormat.dwRGBAlphaBitMask = format.alpha;
    if (callback(&desc, context) == D3DENUMRET_CANCEL) break;
  }
  return D3D_OK;
}

HRESULT D3DDevice::GetRenderTarget(IDirectDrawSurface** surface) {
  if (surface == nullptr) return E_INVALIDARG;
  target_->AddRef();
  *surface = target_;
  return D3D_OK;
}

D3DMATERIALHANDLE D3DDevice::MaterialHandle(D3DMaterial* material) {
  auto found = std::find(materials_.begin(), materials_.end(), material);
  if (found != materials_.end()) return static_cast<D3DMATERIALHANDLE>(found - materials_.begin() + 1);
  materials_.push_back(material);
  material->AddRef();
  return static_cast<D3DMATERIALHANDLE>(materials_.size());
}

D3DTEXTUREHANDLE D3DDevice::TextureHandle(D3DTexture* texture) {
  auto found = std::find(textures_.begin(), textures_.end(), texture);
  if (found != textures_.end()) return static_cast<D3DTEXTUREHANDLE>(found - textures_.begin() + 1);
  textures_.push_back(texture);
  texture->AddRef();
  return static_cast<D3DTEXTUREHANDLE>(textures_.size());
}

RasterState D3DDevice::DecodeState(const D3DVIEWPORT2& viewport) const {
  RasterState state;
  state.zEnable = renderStates_[D3DRENDERSTATE_ZENABLE] != 0;
  state.zWrite = renderStates_[D3DRENDERSTATE_ZWRITEENABLE] != 0;
  state.perspective = renderStates_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] != 0;
  state.gouraud = renderStates_[D3DRENDERSTATE_SHADEMODE] != D3DSHADE_FLAT;
  state.cullMode = renderStates_[D3DRENDERSTATE_CULLMODE];
  state.specular = renderStates_[D3DRENDERSTATE_SPECULARENABLE] != 0;
  // Vertex fog: the table modes would fog by depth instead, which this device does not do.
  state.fog = renderStates_[D3DRENDERSTATE_FOGENABLE] != 0 && renderStates_[D3DRENDERSTATE_FOGTABLEMODE] == D3DFOG_NONE;
  state.fogColor = renderStates_[D3DRENDERSTATE_FOGCOLOR];
  state.colorKey = renderStates_[D3DRENDERSTATE_COLORKEYENABLE] != 0;
  state.viewportX0 = static_cast<int>(std::min<DWORD>(viewport.dwX, 1u << 30));
  state.viewportY0 = static_cast<int>(std::min<DWORD>(viewport.dwY, 1u << 30));
  state.viewportX1 = static_cast<int>(std::min<uint64_t>(uint64_t{viewport.dwX} + viewport.dwWidth, 1u << 30));
  state.viewportY1 = static_cast<int>(std::min<uint64_t>(uint64_t{viewport.dwY} + viewport.dwHeight, 1u << 30));
  return state;
}

HRESULT D3DDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE primitive, D3DVERTEXTYPE vertexType, void* vertices,
                                        DWORD vertexCount, WORD* indices, DWORD indexCount, DWORD flags) {
  if (primitive != D3DPT_TRIANGLELIST) return D3DERR_INVALIDPRIMITIVETYPE;
  if (vertexType != D3DVT_TLVERTEX) return D3DERR_INVALIDVERTEXTYPE;
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  if ((vertices == nullptr && vertexCount > 0) || (indices == nullptr && indexCount > 0)) return E_INVALIDARG;
  if (indexCount < 3) return D3D_OK;
  if (gl_ != nullptr) {
    DWORD handle = renderStates_[D3DRENDERSTATE_TEXTUREHANDLE];
    D3DTexture* texture = handle >= 1 && handle <= textures_.size() ? textures_[handle - 1] : nullptr;
    return gl_->Draw(DecodeState(current_ != nullptr ? current_->Rect() : gl_->WholeTarget()), handle != 0,
                     texture != nullptr ? texture->Surface() : nullptr, static_cast<const D3DTLVERTEX*>(vertices),
                     vertexCount, indices, indexCount, (flags & D3DDP_DONOTCLIP) == 0);
  }

  const QueueInUse queueing(surfaces_, &queue_);
  SurfaceLock targetLock(target_, 0);
  if (!targetLock.ok()) return DDERR_SURFACELOST;
  RasterTarget target;
  if (!DescribeTarget(targetLock.desc(), target)) return DDERR_INVALIDPIXELFORMAT;

  D3DVIEWPORT2 whole{sizeof(D3DVIEWPORT2),
                     0,
                     0,
                     static_cast<DWORD>(target.width),
                     static_cast<DWORD>(target.height),
                     0.0f,
                     0.0f,
                     0.0f,
                     0.0f,
                     0.0f,
                     1.0f};
  RasterState state = DecodeState(current_ != nullptr ? current_->Rect() : whole);

  IDirectDrawSurface* depthSurface = state.zEnable ? AttachedDepth(target_) : nullptr;
  RasterDepth depth;
  bool haveDepth = false;
  HRESULT result = D3D_OK;
  {
    // The locks end before the depth surface's reference is dropped.
    std::optional<SurfaceLock> depthLock;
    if (depthSurface != nullptr) depthLock.emplace(depthSurface, 0);
    if (depthLock && depthLock->ok()) haveDepth = DescribeDepth(depthLock->desc(), depth);

    DWORD handle = renderStates_[D3DRENDERSTATE_TEXTUREHANDLE];
    D3DTexture* texture = handle >= 1 && handle <= textures_.size() ? textures_[handle - 1] : nullptr;
    std::optional<SurfaceLock> textureLock;
    RasterTexture sampled;
    bool haveTexture = false;
    if (texture != nullptr && texture->Surface() != target_) {
      textureLock.emplace(texture->Surface(), DDLOCK_READONLY);
      if (textureLock->ok()) haveTexture = DescribeTexture(texture->Surface(), textureLock->desc(), sampled);
      if (!haveTexture) result = DDERR_INVALIDPIXELFORMAT;
    }
    if (handle == 0 || haveTexture)
      queue_.DrawTriangles(state, target, haveDepth ? &depth : nullptr, haveTexture ? &sampled : nullptr,
                           static_cast<const D3DTLVERTEX*>(vertices), vertexCount, indices, indexCount,
                           (flags & D3DDP_DONOTCLIP) == 0);
  }
  if (depthSurface != nullptr) depthSurface->Release();
  return result;
}

D3DCOLOR D3DDevice::BackgroundColor(D3DMATERIALHANDLE background) const {
  if (background < 1 || background > materials_.size()) return 0;
  const D3DCOLORVALUE& diffuse = materials_[background - 1]->Description().diffuse;
  return (uint32_t{ColorByte(diffuse.r)} << 16) | (uint32_t{ColorByte(diffuse.g)} << 8) | ColorByte(diffuse.b);
}

HRESULT D3DDevice::ClearViewport(const D3DViewport& viewport, D3DMATERIALHANDLE background, DWORD count,
                                 const D3DRECT* rects, DWORD flags) {
  if (gl_ != nullptr) return gl_->Clear(DecodeState(viewport.Rect()), rects, count, flags, BackgroundColor(background));
  const QueueInUse queueing(surfaces_, &queue_);
  SurfaceLock targetLock(target_, 0);
  if (!targetLock.ok()) return DDERR_SURFACELOST;
  RasterTarget target;
  if (!DescribeTarget(targetLock.desc(), target)) return DDERR_INVALIDPIXELFORMAT;
  RasterState state = DecodeState(viewport.Rect());
  const D3DCOLOR color = BackgroundColor(background);
  IDirectDrawSurface* depthSurface = (flags & D3DCLEAR_ZBUFFER) != 0 ? AttachedDepth(target_) : nullptr;
  HRESULT result = D3D_OK;
  {
    RasterDepth depth;
    bool haveDepth = false;
    std::optional<SurfaceLock> depthLock;
    if (depthSurface != nullptr) depthLock.emplace(depthSurface, 0);
    if (depthLock && depthLock->ok()) haveDepth = DescribeDepth(depthLock->desc(), depth);
    if ((flags & D3DCLEAR_ZBUFFER) != 0 && !haveDepth) result = D3DERR_INITFAILED;
    for (DWORD i = 0; i < count; ++i) {
      int x0 = std::max(rects[i].x1, static_cast<LONG>(state.viewportX0));
      int y0 = std::max(rects[i].y1, static_cast<LONG>(state.viewportY0));
      int x1 = std::min(rects[i].x2, static_cast<LONG>(state.viewportX1));
      int y1 = std::min(rects[i].y2, static_cast<LONG>(state.viewportY1));
      if ((flags & D3DCLEAR_TARGET) != 0) queue_.FillColor(target, x0, y0, x1, y1, color);
      if (haveDepth) queue_.FillDepth(depth, x0, y0, x1, y1, 1.0f);
    }
  }
  if (depthSurface != nullptr) depthSurface->Release();
  return result;
}
