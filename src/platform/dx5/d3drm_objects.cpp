// Retained-mode objects: the IDirect3DRM2 object and the device, frames, lights, viewport, mesh
// builders, meshes, textures and wraps it creates. Frames keep a rigid transform relative to their
// parent (rotation rows, then position) with a per-Move rotation; the viewport owns the
// immediate-mode viewport that draws on the device. Meshes here hold no geometry: the mesh
// builder reads no mesh file format, so Render and the wraps have no vertices to work on.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "platform/dx5/d3d_objects.h"
#include "platform/dx5/d3drm.h"
#include "platform/error.h"
#include "platform/win/bitmap.h"

namespace {

constexpr HRESULT D3DRM_OK = 0;

// A rigid transform in the row-vector convention: rows 0..2 the axes, row 3 the position.
struct Rigid {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

Rigid Multiply(const Rigid& a, const Rigid& b) {  // a acts first
  Rigid out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += double(a.m[4 * r + k]) * b.m[4 * k + c];
      out.m[4 * r + c] = static_cast<float>(sum);
    }
  return out;
}

Rigid Inverse(const Rigid& a) {  // rotation transposed, position taken back through it
  Rigid out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out.m[4 * r + c] = a.m[4 * c + r];
  for (int c = 0; c < 3; ++c) {
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) sum += double(a.m[12 + k]) * out.m[4 * k + c];
    out.m[12 + c] = static_cast<float>(-sum);
  }
  return out;
}

struct Vec3 {
  double x, y, z;
};

Vec3 Apply(const Vec3& v, const Rigid& m, bool point) {
  double w = point ? 1.0 : 0.0;
  return {v.x * m.m[0] + v.y * m.m[4] + v.z * m.m[8] + w * m.m[12],
          v.x * m.m[1] + v.y * m.m[5] + v.z * m.m[9] + w * m.m[13],
          v.x * m.m[2] + v.y * m.m[6] + v.z * m.m[10] + w * m.m[14]};
}

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool Normalize(Vec3& v) {
  double length = std::sqrt(Dot(v, v));
  if (!(length > 1e-12)) return false;
  v = {v.x / length, v.y / length, v.z / length};
  return true;
}

// Rotation by `angle` radians about the unit `axis`, as a row-vector matrix.
Rigid Rotation(const Vec3& axis, double angle) {
  double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  double x = axis.x, y = axis.y, z = axis.z;
  double col[3][3] = {{t * x * x + c, t * x * y - s * z, t * x * z + s * y},
                      {t * x * y + s * z, t * y * y + c, t * y * z - s * x},
                      {t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
  Rigid out;
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) out.m[4 * r + k] = static_cast<float>(col[k][r]);
  return out;
}

class RMFrame;

class RMLight final : public D3DRefCounted<IDirect3DRMLight> {
 public:
  RMLight(D3DRMLIGHTTYPE type, D3DCOLOR color) : type_(type), color_(color) {}
  HRESULT QueryInterface(REFIID, void** object) override { return NoInterface(object); }
  D3DRMLIGHTTYPE GetType() override { return type_; }
  D3DCOLOR GetColor() override { return color_; }
  static HRESULT NoInterface(void** object) {
    if (object != nullptr) *object = nullptr;
    return E_NOINTERFACE;
  }

 private:
  D3DRMLIGHTTYPE type_;
  D3DCOLOR color_;
};

class RMTexture final : public D3DRefCounted<IDirect3DRMTexture> {
 public:
  explicit RMTexture(std::string fileName) : fileName_(std::move(fileName)) {}
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }

 private:
  std::string fileName_;
};

class RMMesh final : public D3DRefCounted<IDirect3DRMMesh> {
 public:
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }
  unsigned GetGroupCount() override { return 0; }
};

class RMMeshBuilder final : public D3DRefCounted<IDirect3DRMMeshBuilder2> {
 public:
  ~RMMeshBuilder() override {
    if (texture_ != nullptr) texture_->Release();
  }
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }
  // No mesh file format is read: a missing file is reported as such, any other is refused.
  HRESULT Load(void* source, void*, DWORD options, void*, void*) override {
    if (source == nullptr || options != D3DRMLOAD_FROMFILE) return D3DRMERR_BADVALUE;
    std::FILE* file = std::fopen(static_cast<const char*>(source), "rb");
    if (file == nullptr) return D3DRMERR_FILENOTFOUND;
    std::fclose(file);
    return D3DRMERR_BADFILE;
  }
  HRESULT CreateMesh(IDirect3DRMMesh** mesh) override {
    if (mesh == nullptr) return D3DRMERR_BADVALUE;
    *mesh = new (std::nothrow) RMMesh();
    return *mesh != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
  HRESULT SetPerspective(BOOL perspective) override {
    perspective_ = perspective != FALSE;
    return D3DRM_OK;
  }
  HRESULT SetTexture(IDirect3DRMTexture* texture) override {
    if (texture != nullptr) texture->AddRef();
    if (texture_ != nullptr) texture_->Release();
    texture_ = texture;
    return D3DRM_OK;
  }

 private:
  IDirect3DRMTexture* texture_ = nullptr;  // one reference held
  bool perspective_ = false;
};

// Wraps map texture coordinates onto vertices; meshes here have none, so applying one to a mesh
// or mesh builder succeeds with nothing to change, and anything else is refused.
class RMWrap final : public D3DRefCounted<IDirect3DRMWrap> {
 public:
  explicit RMWrap(D3DRMWRAPTYPE type) : type_(type) {}
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }
  HRESULT Apply(IDirect3DRMObject* object) override { return Wrappable(object) ? D3DRM_OK : D3DRMERR_BADOBJECT; }
  HRESULT ApplyRelative(IDirect3DRMFrame* frame, IDirect3DRMObject* object) override {
    if (frame == nullptr) return D3DRMERR_BADOBJECT;
    return Apply(object);
  }

 private:
  static bool Wrappable(IDirect3DRMObject* object) {
    return dynamic_cast<RMMesh*>(object) != nullptr || dynamic_cast<RMMeshBuilder*>(object) != nullptr;
  }
  D3DRMWRAPTYPE type_;
};

class RMFrame final : public D3DRefCounted<IDirect3DRMFrame2> {
 public:
  ~RMFrame() override {
    for (RMFrame* child : children_) {
      child->parent_ = nullptr;
      child->Release();
    }
    for (IDirect3DRMLight* light : lights_) light->Release();
    for (IDirect3DRMVisual* visual : visuals_) visual->Release();
  }
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }

  HRESULT AddChild(IDirect3DRMFrame* child) override {
    auto* frame = dynamic_cast<RMFrame*>(child);
    if (frame == nullptr || frame == this || IsAncestor(frame)) return D3DRMERR_BADOBJECT;
    frame->AddRef();
    if (frame->parent_ != nullptr) frame->parent_->Detach(frame);
    frame->parent_ = this;
    children_.push_back(frame);
    return D3DRM_OK;
  }
  HRESULT AddLight(IDirect3DRMLight* light) override {
    if (light == nullptr) return D3DRMERR_BADOBJECT;
    light->AddRef();
    lights_.push_back(light);
    return D3DRM_OK;
  }
  HRESULT AddVisual(IDirect3DRMVisual* visual) override {
    if (visual == nullptr) return D3DRMERR_BADOBJECT;
    visual->AddRef();
    visuals_.push_back(visual);
    return D3DRM_OK;
  }
  HRESULT DeleteVisual(IDirect3DRMVisual* visual) override {
    auto found = std::find(visuals_.begin(), visuals_.end(), visual);
    if (found == visuals_.end()) return D3DRMERR_NOTFOUND;
    visuals_.erase(found);
    visual->Release();
    return D3DRM_OK;
  }
  // A null reference means the scene's root coordinates.
  HRESULT SetPosition(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
    Vec3 world = Apply({x, y, z}, WorldOf(reference), true);
    Vec3 local = Apply(world, Inverse(ParentWorld()), true);
    local_.m[12] = static_cast<float>(local.x);
    local_.m[13] = static_cast<float>(local.y);
    local_.m[14] = static_cast<float>(local.z);
    return D3DRM_OK;
  }
  HRESULT GetPosition(IDirect3DRMFrame* reference, D3DVALUE* xyz) override {
    if (xyz == nullptr) return D3DRMERR_BADVALUE;
    Vec3 here = Apply({0, 0, 0}, World(), true);
    Vec3 seen = Apply(here, Inverse(WorldOf(reference)), true);
    xyz[0] = static_cast<float>(seen.x);
    xyz[1] = static_cast<float>(seen.y);
    xyz[2] = static_cast<float>(seen.z);
    return D3DRM_OK;
  }
  // The frame's z axis points along the direction and its y axis toward `up`.
  HRESULT SetOrientation(IDirect3DRMFrame* reference, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux, D3DVALUE uy,
                         D3DVALUE uz) override {
    Rigid toParent = Multiply(WorldOf(reference), Inverse(ParentWorld()));
    Vec3 z = Apply({dx, dy, dz}, toParent, false);
    Vec3 up = Apply({ux, uy, uz}, toParent, false);
    if (!Normalize(z)) return D3DRMERR_BADVALUE;
    double along = Dot(up, z);
    Vec3 y{up.x - along * z.x, up.y - along * z.y, up.z - along * z.z};
    if (!Normalize(y)) return D3DRMERR_BADVALUE;
    Vec3 x = Cross(y, z);
    const Vec3 axes[3] = {x, y, z};
    for (int r = 0; r < 3; ++r) {
      local_.m[4 * r + 0] = static_cast<float>(axes[r].x);
      local_.m[4 * r + 1] = static_cast<float>(axes[r].y);
      local_.m[4 * r + 2] = static_cast<float>(axes[r].z);
    }
    return D3DRM_OK;
  }
  HRESULT GetTransform(D3DVALUE matrix[16]) override {
    if (matrix == nullptr) return D3DRMERR_BADVALUE;
    std::copy(local_.m, local_.m + 16, matrix);
    return D3DRM_OK;
  }
  // Each Move turns the frame by theta x delta about the axis (given in the reference's coordinates).
  HRESULT SetRotation(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z, D3DVALUE theta) override {
    Vec3 axis = Apply({x, y, z}, Multiply(WorldOf(reference), Inverse(ParentWorld())), false);
    if (!Normalize(axis)) {
      if (theta != 0.0f) return D3DRMERR_BADVALUE;
      axis = {0, 0, 1};
    }
    axis_ = axis;
    theta_ = theta;
    return D3DRM_OK;
  }
  HRESULT Move(D3DVALUE delta) override {
    if (theta_ != 0.0f) {
      Rigid turned = Multiply(local_, Rotation(axis_, double(theta_) * delta));
      std::copy(turned.m, turned.m + 12, local_.m);  // the position stays where it is
    }
    for (RMFrame* child : children_) child->Move(delta);
    return D3DRM_OK;
  }

  Rigid World() const { return parent_ != nullptr ? Multiply(local_, parent_->World()) : local_; }
  const std::vector<RMFrame*>& Children() const { return children_; }

 private:
  static Rigid WorldOf(IDirect3DRMFrame* reference) {
    auto* frame = dynamic_cast<RMFrame*>(reference);
    return frame != nullptr ? frame->World() : Rigid{};
  }
  Rigid ParentWorld() const { return parent_ != nullptr ? parent_->World() : Rigid{}; }
  bool IsAncestor(const RMFrame* frame) const {
    for (const RMFrame* p = parent_; p != nullptr; p = p->parent_)
      if (p == frame) return true;
    return false;
  }
  void Detach(RMFrame* child) {
    auto found = std::find(children_.begin(), children_.end(), child);
    if (found == children_.end()) return;
    children_.erase(found);
    child->parent_ = nullptr;
    child->Release();
  }

  RMFrame* parent_ = nullptr;       // the parent holds a reference to this frame, not the reverse
  std::vector<RMFrame*> children_;  // one reference each
  std::vector<IDirect3DRMLight*> lights_;
  std::vector<IDirect3DRMVisual*> visuals_;
  Rigid local_;
  Vec3 axis_{0, 0, 1};
  D3DVALUE theta_ = 0.0f;
};

class RMDevice final : public D3DRefCounted<IDirect3DRMDevice2> {
 public:
  RMDevice(IDirect3D2* d3d, IDirect3DDevice2* device) : d3d_(d3d), device_(device) {
    d3d_->AddRef();
    device_->AddRef();
  }
  ~RMDevice() override {
    device_->Release();
    d3d_->Release();
  }
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }
  HRESULT SetBufferCount(DWORD count) override {
    if (count == 0) return D3DRMERR_BADVALUE;
    bufferCount_ = count;
    return D3DRM_OK;
  }
  DWORD GetBufferCount() override { return bufferCount_; }
  // The immediate-mode device draws straight into its surface; there is nothing left to flush.
  HRESULT Update() override { return D3DRM_OK; }

  IDirect3D2* D3D() const { return d3d_; }
  IDirect3DDevice2* Device() const { return device_; }

 private:
  IDirect3D2* d3d_;
  IDirect3DDevice2* device_;
  DWORD bufferCount_ = 1;
};

class RMViewport final : public D3DRefCounted<IDirect3DRMViewport> {
 public:
  RMViewport(RMDevice* device, IDirect3DRMFrame* camera, IDirect3DViewport2* viewport, const D3DRECT& rect)
      : device_(device), camera_(camera), viewport_(viewport), rect_(rect) {
    device_->AddRef();
    if (camera_ != nullptr) camera_->AddRef();
  }
  ~RMViewport() override {
    device_->Device()->DeleteViewport(viewport_);
    viewport_->Release();
    if (camera_ != nullptr) camera_->Release();
    device_->Release();
  }
  HRESULT QueryInterface(REFIID, void** object) override { return RMLight::NoInterface(object); }
  HRESULT SetBack(D3DVALUE back) override {
    if (!(back > front_)) return D3DRMERR_BADVALUE;
    back_ = back;
    return D3DRM_OK;
  }
  D3DVALUE GetBack() override { return back_; }
  HRESULT Clear() override {
    D3DRECT rect = rect_;
    return viewport_->Clear(1, &rect, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  }
  // Walks the scene; its meshes carry no geometry, so nothing reaches the device.
  HRESULT Render(IDirect3DRMFrame* scene) override {
    return dynamic_cast<RMFrame*>(scene) != nullptr ? D3DRM_OK : D3DRMERR_BADOBJECT;
  }
  HRESULT GetDirect3DViewport(IDirect3DViewport** viewport) override {
    if (viewport == nullptr) return D3DRMERR_BADVALUE;
    viewport_->AddRef();
    *viewport = viewport_;
    return D3DRM_OK;
  }

 private:
  RMDevice* device_;
  IDirect3DRMFrame* camera_;
  IDirect3DViewport2* viewport_;
  D3DRECT rect_;
  D3DVALUE front_ = 1.0f;
  D3DVALUE back_ = 100.0f;
};

uint8_t LightByte(D3DVALUE value) {
  float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
  return static_cast<uint8_t>(clamped * 255.0f + 0.5f);
}

class RMObject final : public D3DRefCounted<IDirect3DRM2> {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (!(riid == IID_IDirect3DRM) && !(riid == IID_IDirect3DRM2)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirect3DRM2*>(this);
    return S_OK;
  }
  HRESULT CreateDeviceFromD3D(IDirect3D2* d3d, IDirect3DDevice2* device, IDirect3DRMDevice2** rmDevice) override {
    if (d3d == nullptr || device == nullptr || rmDevice == nullptr) return D3DRMERR_BADVALUE;
    *rmDevice = new (std::nothrow) RMDevice(d3d, device);
    return *rmDevice != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
  HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame2** frame) override {
    if (frame == nullptr) return D3DRMERR_BADVALUE;
    *frame = nullptr;
    auto* created = new (std::nothrow) RMFrame();
    if (created == nullptr) return E_OUTOFMEMORY;
    if (parent != nullptr) {
      HRESULT added = parent->AddChild(created);
      if (FAILED(added)) {
        created->Release();
        return added;
      }
    }
    *frame = created;
    return D3DRM_OK;
  }
  HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y, DWORD width,
                         DWORD height, IDirect3DRMViewport** viewport) override {
    if (viewport == nullptr) return D3DRMERR_BADVALUE;
    *viewport = nullptr;
    auto* rmDevice = dynamic_cast<RMDevice*>(device);
    if (rmDevice == nullptr) return D3DRMERR_BADOBJECT;
    IDirect3DViewport2* immediate = nullptr;
    HRESULT result = rmDevice->D3D()->CreateViewport(&immediate, nullptr);
    if (FAILED(result)) return result;
    D3DVIEWPORT2 rect{sizeof(D3DVIEWPORT2),
                      x,
                      y,
                      width,
                      height,
                      static_cast<float>(x),
                      static_cast<float>(y),
                      static_cast<float>(width),
                      static_cast<float>(height),
                      0.0f,
                      1.0f};
    result = rmDevice->Device()->AddViewport(immediate);
    if (SUCCEEDED(result)) result = immediate->SetViewport2(&rect);
    if (FAILED(result)) {
      immediate->Release();
      return result;
    }
    D3DRECT area{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + width),
                 static_cast<LONG>(y + height)};
    *viewport = new (std::nothrow) RMViewport(rmDevice, camera, immediate, area);
    if (*viewport == nullptr) {
      immediate->Release();
      return E_OUTOFMEMORY;
    }
    return D3DRM_OK;
  }
  HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE red, D3DVALUE green, D3DVALUE blue,
                         IDirect3DRMLight** light) override {
    if (light == nullptr || type > D3DRMLIGHT_PARALLELPOINT) return D3DRMERR_BADVALUE;
    D3DCOLOR color =
        0xFF000000u | (uint32_t{LightByte(red)} << 16) | (uint32_t{LightByte(green)} << 8) | LightByte(blue);
    *light = new (std::nothrow) RMLight(type, color);
    return *light != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
  HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder2** builder) override {
    if (builder == nullptr) return D3DRMERR_BADVALUE;
    *builder = new (std::nothrow) RMMeshBuilder();
    return *builder != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
  // Textures are read from bitmap files.
  HRESULT LoadTexture(const char* fileName, IDirect3DRMTexture** texture) override {
    if (fileName == nullptr || texture == nullptr) return D3DRMERR_BADVALUE;
    *texture = nullptr;
    try {
      TBitmap bitmap;
      bitmap.LoadFromFile(fileName);
    } catch (const KlvError& error) {
      return error.kind() == KlvErrorKind::FileOpen ? D3DRMERR_FILENOTFOUND : D3DRMERR_BADFILE;
    }
    *texture = new (std::nothrow) RMTexture(fileName);
    return *texture != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
  HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame*, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE,
                     D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE, D3DVALUE,
                     IDirect3DRMWrap** wrap) override {
    if (wrap == nullptr || type > D3DRMWRAP_CHROME) return D3DRMERR_BADVALUE;
    *wrap = new (std::nothrow) RMWrap(type);
    return *wrap != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
  }
};

}  // namespace

HRESULT Direct3DRMCreate(IDirect3DRM** d3drm) {
  if (d3drm == nullptr) return D3DRMERR_BADVALUE;
  *d3drm = new (std::nothrow) RMObject();
  return *d3drm != nullptr ? D3DRM_OK : E_OUTOFMEMORY;
}
