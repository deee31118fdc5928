// The Direct3D device component: device choice and creation with its fallback chain, z-buffer,
// render states, materials, the small retained-mode scene, restore and the ordered release.
#include "display/kalvorrm.h"

#include <algorithm>

#include "display/dxcalls.h"
#include "platform/win/messagebox.h"

TKalvorRMUnitState KalvorRMUnit;

using namespace dxcalls;

namespace {

constexpr D3DVALUE kMaterialPower = 20.0f;
constexpr D3DVALUE kLightMaterialPower = 10.0f;
constexpr DWORD kBgRampSize = 16;
constexpr DWORD kBgColorRampSize = 20;
constexpr DWORD kRMBufferCount = 2;
constexpr D3DVALUE kViewportBack = 5000.0f;
constexpr D3DVALUE kCameraDistance = -10.0f;
constexpr D3DVALUE kDirLightLevel = 0.7f;
constexpr D3DVALUE kAmbientLevel = 0.4f;
constexpr D3DVALUE kLightTurn = 0.7853982f;  // pi/4 a tick, applied for one tick
constexpr D3DVALUE kBgColorScale = 256.0f;   // 255 gives 0.99609375
constexpr DWORD kTexFormatTemplateSize = 64;

constexpr const char* kTwoComponentsText = "You Can't use Two or More KalvorRM Components.";
constexpr const char* kTwoComponentsCaption = "Warning";
constexpr const char* kFailedCaption = "Failed";
constexpr const char* kTryCaption = "Try";
constexpr const char* kCreateFailedText = "D3DDevice Initialize was Failed. I'm going to try Others.";
constexpr const char* kNoDeviceText = "No D3D Device can be used.";
constexpr const char* kAllFailedText = "All D3D Devices were Failed.";

bool IsHardware(const TD3DDeviceEntry& device) { return device.HALDesc.dcmColorModel != 0; }

// The device table RmInit chooses from: the devices of driver max(ActiveDriver, 0), or none.
const std::vector<TD3DDeviceEntry>* DeviceTable() {
  const auto& list = KalvorGUnit.DriverList;
  const int entry = std::max(KalvorGUnit.ActiveDriver, 0);
  if (!list || entry >= static_cast<int>(list->size())) return nullptr;
  return &(*list)[entry].Devices;
}

D3DMATERIAL Material(D3DCOLORVALUE diffuse, D3DCOLORVALUE ambient, D3DCOLORVALUE specular, D3DVALUE power,
                     DWORD rampSize) {
  D3DMATERIAL m{};
  m.dwSize = kD3DMaterialSize;
  m.diffuse = diffuse;
  m.ambient = ambient;
  m.specular = specular;
  m.power = power;
  m.hTexture = 0;
  m.dwRampSize = rampSize;
  return m;
}

}  // namespace

DWORD ZDepthOf(const D3DDEVICEDESC& desc) {
  const DWORD depths = desc.dwDeviceZBufferBitDepth;
  if (depths & DDBD_32) return 32;
  if (depths & DDBD_24) return 24;
  if (depths & DDBD_16) return 16;
  if (depths & DDBD_8) return 8;
  return 0;
}

void TKalvorFrame::ReleaseAll() {
  ReleaseAndClear(Frame);
  ReleaseAndClear(Mesh);
  ReleaseAndClear(MeshBuilder);
}

TKalvorRM::TKalvorRM(TComponentOwner* owner) : TKalvorG(owner) {
  KalvorRMUnit.DeviceChoice = kLastSoftwareDevice;
  KalvorRMUnit.SelectedDevice = -3;
  if (!KalvorRMUnit.RMList) KalvorRMUnit.RMList = std::make_unique<std::vector<TKalvorRM*>>();
  KalvorRMUnit.RMList->push_back(this);
}

TKalvorRM::~TKalvorRM() {
  RmRelease();
  KalvorRMUnit.RMList.reset();
}

void TKalvorRM::WMClose() { RmRelease(); }
void TKalvorRM::WMDestroy() { RmRelease(); }

// Applies DeviceChoice to the device table. False when there is nothing to choose from or the
// chosen index lies outside the table.
namespace {

// Selects the first device of `table` (the last one when `fromEnd`) that is hardware or software as
// `hardware` says, with the z depth of its matching description; false when there is none (a
// hardware device whose description names no depth counts as none).
bool PickDevice(const std::vector<TD3DDeviceEntry>& table, bool hardware, bool fromEnd, DWORD& zDepth) {
  const int count = static_cast<int>(table.size());
  for (int n = 0; n < count; ++n) {
    const int i = fromEnd ? count - 1 - n : n;
    if (IsHardware(table[i]) != hardware) continue;
    KalvorRMUnit.HardwareDevice = hardware;
    KalvorRMUnit.SelectedDevice = i;
    zDepth = ZDepthOf(hardware ? table[i].HALDesc : table[i].HELDesc);
    return zDepth != 0 || !hardware;
  }
  return false;
}

}  // namespace

bool TKalvorRM::ChooseDevice(DWORD& zDepth) {
  auto& u = KalvorRMUnit;
  zDepth = 0;
  Store(Query(KalvorGUnit.DirectDraw2, IID_IDirect3D2, &u.D3D));
  const std::vector<TD3DDeviceEntry>* table = DeviceTable();
  if (!table || table->empty()) return false;
  const int count = static_cast<int>(table->size());

  if (u.DeviceChoice == kFirstSoftwareDevice) {
    PickDevice(*table, false, false, zDepth);
  } else if (u.DeviceChoice == kFirstHardwareDevice) {
    if (!PickDevice(*table, true, false, zDepth)) {
      u.SelectedDevice = 0;
      u.HardwareDevice = IsHardware((*table)[0]);
      zDepth = ZDepthOf((*table)[0].HELDesc);
    }
  } else if (u.DeviceChoice == kLastSoftwareDevice) {
    PickDevice(*table, false, true, zDepth);
  } else if (u.DeviceChoice >= 0) {
    u.SelectedDevice = u.DeviceChoice;
    if (u.SelectedDevice < count) {
      const TD3DDeviceEntry& device = (*table)[u.SelectedDevice];
      zDepth = ZDepthOf(IsHardware(device) ? device.HALDesc : device.HELDesc);
    }
  }
  return u.SelectedDevice >= 0 && u.SelectedDevice < count;
}

void TKalvorRM::CreateZBuffer(DWORD zDepth) {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_ZBUFFERBITDEPTH;
  desc.dwWidth = static_cast<DWORD>(Width);
  desc.dwHeight = static_cast<DWORD>(Height);
  desc.dwZBufferBitDepth = zDepth;
  desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | (KalvorRMUnit.HardwareDevice ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
  Store(KalvorGUnit.DirectDraw2->CreateSurface(&desc, &ZBuffer, nullptr));
  if (ZBuffer) Store(BackSurface->AddAttachedSurface(ZBuffer));
}

// The chosen device first; when that fails, HAL, MMX, RGB and Ramp in turn, each announced.
bool TKalvorRM::CreateDevice() {
  IDirect3D2* d3d = KalvorRMUnit.D3D;
  const GUID& chosen = (*DeviceTable())[KalvorRMUnit.SelectedDevice].Guid;
  if (Store(d3d->CreateDevice(chosen, BackSurface, &D3DDevice)) == DD_OK) return true;
  MessageBoxA(OwnerWindow(), kCreateFailedText, kFailedCaption, MB_OK);
  struct Fallback {
    const char* text;
    const GUID* guid;
  };
  const Fallback chain[] = {{"I try HAL.", &IID_IDirect3DHALDevice},
                            {"I try MMX.", &IID_IDirect3DMMXDevice},
                            {"I try RGB.", &IID_IDirect3DRGBDevice},
                            {"I try Ramp.", &IID_IDirect3DRampDevice}};
  for (const Fallback& step : chain) {
    MessageBoxA(OwnerWindow(), step.text, kTryCaption, MB_OK);
    ReleaseAndClear(D3DDevice);
    if (Store(d3d->CreateDevice(*step.guid, BackSurface, &D3DDevice)) == DD_OK) return true;
  }
  ReleaseAndClear(D3DDevice);
  return false;
}

void TKalvorRM::SetRenderStates() {
  D3DDevice->SetRenderState(D3DRENDERSTATE_ZENABLE, 1);
  D3DDevice->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, 1);
  D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
  D3DDevice->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
  D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
}

void TKalvorRM::CreateMaterials() {
  IDirect3D2* d3d = KalvorRMUnit.D3D;
  const D3DCOLORVALUE zero{0, 0, 0, 0};
  const D3DCOLORVALUE white{1, 1, 1, 0};
  if (Store(d3d->CreateMaterial(&BgMaterial, nullptr)) == DD_OK && BgMaterial) {
    D3DMATERIAL bg = Material(zero, zero, zero, kMaterialPower, kBgRampSize);
    Store(BgMaterial->SetMaterial(&bg));
    Store(BgMaterial->GetHandle(D3DDevice, &BgMaterialHandle));
  }
  if (Store(d3d->CreateMaterial(&LightMaterial, nullptr)) == DD_OK && LightMaterial) {
    D3DMATERIAL light = Material(white, white, white, kLightMaterialPower, 1);
    Store(LightMaterial->SetMaterial(&light));
    Store(LightMaterial->GetHandle(D3DDevice, &LightMaterialHandle));
    Store(D3DDevice->SetLightState(D3DLIGHTSTATE_MATERIAL, LightMaterialHandle));
  }
}

void TKalvorRM::BuildScene() {
  IDirect3DRM2* rm = KalvorRMUnit.D3DRM2;
  if (!rm) return;
  Store(rm->CreateDeviceFromD3D(KalvorRMUnit.D3D, D3DDevice, &RMDevice));
  if (RMDevice) Store(RMDevice->SetBufferCount(kRMBufferCount));
  Store(rm->CreateFrame(nullptr, &SceneFrame));
  Store(rm->CreateFrame(SceneFrame, &LightFrame));
  Store(rm->CreateFrame(SceneFrame, &CameraFrame));
  Store(rm->CreateViewport(RMDevice, CameraFrame, 0, 0, static_cast<DWORD>(Width), static_cast<DWORD>(Height),
                           &RMViewport));
  if (RMViewport) Store(RMViewport->SetBack(kViewportBack));
  if (CameraFrame) {
    Store(CameraFrame->SetPosition(SceneFrame, 0, 0, kCameraDistance));
    Store(CameraFrame->SetOrientation(SceneFrame, 0, 0, 1, 0, 1, 0));
  }
  Store(rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, kDirLightLevel, kDirLightLevel, kDirLightLevel, &DirLight));
  Store(rm->CreateLightRGB(D3DRMLIGHT_AMBIENT, kAmbientLevel, kAmbientLevel, kAmbientLevel, &AmbientLight));
  if (LightFrame) {
    Store(LightFrame->AddLight(DirLight));
    Store(LightFrame->AddLight(AmbientLight));
    Store(LightFrame->SetRotation(SceneFrame, 1, 1, 0, kLightTurn));
    Store(LightFrame->Move(1));
    Store(LightFrame->SetRotation(SceneFrame, 1, 1, 0, 0));
  }
}

void TKalvorRM::InitTextureFormat() {
  TexFormatDesc = DDSURFACEDESC{};
  TexFormatDesc.dwSize = kDDSurfaceDescSize;
  TexFormatDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  TexFormatDesc.dwWidth = kTexFormatTemplateSize;
  TexFormatDesc.dwHeight = kTexFormatTemplateSize;
  Store(D3DDevice->EnumTextureFormats(PickPaletteFormat, &TexFormatDesc));
}

bool TKalvorRM::RmInit() {
  auto& u = KalvorRMUnit;
  u.RMOwnerIndex = ComponentIndex();
  if (u.D3D) MessageBoxA(OwnerWindow(), kTwoComponentsText, kTwoComponentsCaption, MB_OK);
  // A re-initialisation replaces the unit's objects and this component's: let go of the old ones.
  // The texture and frame lists stay: faces of loaded models point at those textures.
  ReleaseDeviceObjects();
  if (!u.FrameList) u.FrameList = std::make_unique<std::vector<std::unique_ptr<TKalvorFrame>>>();
  if (!u.TextureList) u.TextureList = std::make_unique<std::vector<std::unique_ptr<TKalvorTexture>>>();

  DWORD zDepth = 0;
  if (!KalvorGUnit.DirectDraw2 || !BackSurface || !ChooseDevice(zDepth) || !u.D3D) {
    MessageBoxA(OwnerWindow(), kNoDeviceText, kFailedCaption, MB_OK);
    ReleaseDeviceObjects();
    return false;
  }
  if (zDepth == 0) zDepth = 16;
  CreateZBuffer(zDepth);
  Store(Direct3DRMCreate(&u.D3DRM));
  Store(Query(u.D3DRM, IID_IDirect3DRM2, &u.D3DRM2));
  if (!CreateDevice()) {
    MessageBoxA(OwnerWindow(), kAllFailedText, kFailedCaption, MB_OK);
    ReleaseDeviceObjects();
    return false;
  }
  SetRenderStates();
  CreateMaterials();
  BuildScene();
  if (KalvorGUnit.PrimarySurface) Store(KalvorGUnit.PrimarySurface->GetPalette(&SavedPalette));
  InitTextureFormat();
  return true;
}

void TKalvorRM::SetBGColor(uint8_t R, uint8_t G, uint8_t B) {
  if (!BgMaterial) return;
  const D3DCOLORVALUE c{R / kBgColorScale, G / kBgColorScale, B / kBgColorScale, 0};
  D3DMATERIAL m = Material(c, c, c, kMaterialPower, kBgColorRampSize);
  m.emissive = c;
  Store(BgMaterial->SetMaterial(&m));
}

void TKalvorRM::RmRestore() {
  auto& u = KalvorRMUnit;
  if (!ZBuffer || !u.TextureList) return;
  DDRestore();
  for (const auto& tex : *u.TextureList)
    if (tex->DevSurface && tex->DevSurface->IsLost() == DDERR_SURFACELOST) ReloadTexture(tex.get());
  if (ZBuffer->IsLost() == DDERR_SURFACELOST) Store(ZBuffer->Restore());
  if (KalvorGUnit.PrimarySurface) Store(KalvorGUnit.PrimarySurface->SetPalette(SavedPalette));
  if (KalvorGUnit.BackBuffer) Store(KalvorGUnit.BackBuffer->SetPalette(SavedPalette));
}

// Frames, textures, this component's 3D objects and the unit's Direct3D objects, in that order.
void TKalvorRM::ReleaseLayer() {
  KalvorRMUnit.FrameList.reset();
  KalvorRMUnit.TextureList.reset();
  ReleaseDeviceObjects();
}

void TKalvorRM::ReleaseDeviceObjects() {
  auto& u = KalvorRMUnit;
  ReleaseAndClear(DirLight);
  ReleaseAndClear(AmbientLight);
  ReleaseAndClear(RMViewport);
  ReleaseAndClear(LightFrame);
  ReleaseAndClear(CameraFrame);
  ReleaseAndClear(SceneFrame);
  ReleaseAndClear(RMDevice);
  ReleaseAndClear(LightMaterial);
  ReleaseAndClear(BgMaterial);
  ReleaseAndClear(D3DDevice);
  ReleaseAndClear(ZBuffer);
  ReleaseAndClear(SavedPalette);
  ReleaseAndClear(u.D3DRM2);
  ReleaseAndClear(u.D3DRM);
  ReleaseAndClear(u.D3D);
}

void TKalvorRM::RmRelease() {
  if (ComponentIndex() == KalvorRMUnit.RMOwnerIndex) ReleaseLayer();
  DDrelease();
}

void TKalvorRM::MakeFramefromFile(TKalvorFrame** Replace, const std::string& FileName) {
  auto& u = KalvorRMUnit;
  if (!u.D3DRM2 || !u.FrameList) return;
  auto frame = std::make_unique<TKalvorFrame>();
  Store(u.D3DRM2->CreateFrame(SceneFrame, &frame->Frame));
  Store(u.D3DRM2->CreateMeshBuilder(&frame->MeshBuilder));
  if (frame->MeshBuilder) {
    Store(frame->MeshBuilder->Load(const_cast<char*>(FileName.c_str()), nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr));
    Store(frame->MeshBuilder->CreateMesh(&frame->Mesh));
    if (frame->Frame && frame->Mesh) Store(frame->Frame->AddVisual(frame->Mesh));
    Store(frame->MeshBuilder->SetPerspective(TRUE));
  }
  if (Replace && *Replace) {
    TKalvorFrame* old = *Replace;
    if (old->Frame && old->Mesh) Store(old->Frame->DeleteVisual(old->Mesh));
    auto& list = *u.FrameList;
    auto it = std::find_if(list.begin(), list.end(), [old](const auto& slot) { return slot.get() == old; });
    if (it != list.end())
      list.erase(it);
    else
      old->ReleaseAll();
  }
  if (Replace) *Replace = frame.get();
  u.FrameList->push_back(std::move(frame));
}

void TKalvorRM::SetWrap(TKalvorFrame* Frame, const std::string& TextureFile, int WrapType, float ox, float oy, float oz,
                        float dx, float dy, float dz, float ux, float uy, float uz, float ou, float ov, float su,
                        float sv) {
  IDirect3DRM2* rm = KalvorRMUnit.D3DRM2;
  if (!rm || !Frame || !Frame->Frame || !Frame->MeshBuilder) return;
  IDirect3DRMTexture* texture = nullptr;
  Store(rm->LoadTexture(TextureFile.c_str(), &texture));
  Store(Frame->MeshBuilder->SetTexture(texture));
  IDirect3DRMWrap* wrap = nullptr;
  const bool chrome = WrapType == static_cast<int>(D3DRMWRAP_CHROME);
  if (WrapType >= static_cast<int>(D3DRMWRAP_FLAT) && WrapType <= static_cast<int>(D3DRMWRAP_CHROME))
    Store(rm->CreateWrap(static_cast<D3DRMWRAPTYPE>(WrapType), chrome ? CameraFrame : nullptr, ox, oy, oz, dx, dy, dz,
                         ux, uy, uz, ou, ov, su, sv, &wrap));
  if (Frame->Mesh) Store(Frame->Frame->DeleteVisual(Frame->Mesh));
  ReleaseAndClear(Frame->Mesh);
  auto apply = [&](IDirect3DRMObject* object) {
    if (!wrap || !object) return;
    Store(chrome ? wrap->ApplyRelative(Frame->Frame, object) : wrap->Apply(object));
  };
  apply(Frame->MeshBuilder);
  Store(Frame->MeshBuilder->SetPerspective(TRUE));
  Store(Frame->MeshBuilder->CreateMesh(&Frame->Mesh));
  apply(Frame->Mesh);
  ReleaseAndClear(texture);
  ReleaseAndClear(wrap);
  if (Frame->Mesh) Store(Frame->Frame->AddVisual(Frame->Mesh));
}

void TKalvorRM::Render() {
  if (!SceneFrame || !RMViewport || !RMDevice) return;
  Store(SceneFrame->Move(1));
  Store(RMViewport->Render(SceneFrame));
  Store(RMDevice->Update());
}

void TKalvorRM::RMClear() {
  if (RMViewport) Store(RMViewport->Clear());
}
