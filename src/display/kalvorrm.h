// TKalvorRM, the Direct3D device component, with the process-wide Direct3D state of its unit
// (KalvorRMUnit): the IDirect3D2 and retained-mode objects, the device policy, the hardware flag,
// the colour model picked in the device dialog, and the texture list with its counter. It builds
// the 3D layer on its back surface (RmInit), makes and fills textures for the scene and the model
// loader (it is their TextureSource), restores lost surfaces and releases everything it made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/kalvorg.h"
#include "model/texdata.h"
#include "model/texture_source.h"
#include "platform/dx5/d3d.h"
#include "platform/dx5/d3drm.h"

class TBitmap;
class TKalvorRM;

// Device policies of DeviceChoice (the device dialog stores them as these numbers).
constexpr int32_t kFirstSoftwareDevice = -1;
constexpr int32_t kFirstHardwareDevice = -2;
constexpr int32_t kLastSoftwareDevice = -3;

// The most textures one run may hold: the renderer has this many buckets, one per Index.
constexpr int32_t kMaxTextures = 256;

// One texture: its surfaces, palette, material and the record faces point at.
class TKalvorTexture {
 public:
  TKalvorTexture() = default;
  TKalvorTexture(const TKalvorTexture&) = delete;
  TKalvorTexture& operator=(const TKalvorTexture&) = delete;
  ~TKalvorTexture() { ReleaseAll(); }
  // Releases every interface present, in the order RmRelease uses.
  void ReleaseAll();

  IDirect3DTexture2* SrcTexture = nullptr;
  IDirect3DTexture2* DevTexture = nullptr;  // software device: same object as SrcTexture
  DDSURFACEDESC Desc{};
  IDirectDrawSurface* SrcSurface = nullptr;  // system memory; SetTexture draws here
  IDirectDrawSurface* DevSurface = nullptr;  // software device: same object as SrcSurface
  IDirectDrawPalette* Palette = nullptr;
  D3DMATERIAL MatDesc{};
  IDirect3DMaterial2* Material = nullptr;
  TKlvTexdata Data;
};

// The retained-mode objects of one loaded mesh.
class TKalvorFrame {
 public:
  TKalvorFrame() = default;
  TKalvorFrame(const TKalvorFrame&) = delete;
  TKalvorFrame& operator=(const TKalvorFrame&) = delete;
  ~TKalvorFrame() { ReleaseAll(); }
  void ReleaseAll();

  IDirect3DRMFrame2* Frame = nullptr;
  IDirect3DRMMesh* Mesh = nullptr;
  IDirect3DRMMeshBuilder2* MeshBuilder = nullptr;
};

// Process-wide state of the Direct3D unit; interface pointers are counted references, null = absent.
struct TKalvorRMUnitState {
  IDirect3D2* D3D = nullptr;  // present = a TKalvorRM has been initialised
  IDirect3DRM* D3DRM = nullptr;
  IDirect3DRM2* D3DRM2 = nullptr;
  std::unique_ptr<std::vector<TKalvorRM*>> RMList;  // construction order
  std::unique_ptr<std::vector<std::unique_ptr<TKalvorFrame>>> FrameList;
  int32_t DeviceChoice = kLastSoftwareDevice;  // a policy below, or >= 0: that device's index
  int32_t SelectedDevice = -3;                 // index of the device RmInit used
  bool HardwareDevice = false;                 // video memory for z-buffer, textures and display surfaces
  int32_t RMOwnerIndex = 0;                    // component index of the component that last ran RmInit
  int32_t ColorModel = 0;                      // colour model picked in the device dialog (2 = RGB)
  std::unique_ptr<std::vector<std::unique_ptr<TKalvorTexture>>> TextureList;  // creation order
  int32_t TextureCounter = 0;                                                 // next texture Index
};
extern TKalvorRMUnitState KalvorRMUnit;

// Z-buffer depth named by a device description: the first of 32, 24, 16, 8 bits set, else 0.
DWORD ZDepthOf(const D3DDEVICEDESC& desc);

// EnumTextureFormats callbacks: `context` is the DDSURFACEDESC template whose pixel format they set.
HRESULT PickPaletteFormat(DDSURFACEDESC* candidate, void* context);
HRESULT PickRGBFormat(DDSURFACEDESC* candidate, void* context);
// Copies the system-memory surface to the device surface (hardware devices only).
void ReloadTexture(TKalvorTexture* Tex);

class TKalvorRM : public TKalvorG, public TextureSource {
 public:
  explicit TKalvorRM(TComponentOwner* owner);
  ~TKalvorRM() override;

  // Builds the 3D layer. False, after a message box, when no device could be made (an empty
  // device table, no device matching the policy, a device index out of range, every creation
  // attempt failed); the 3D objects made on the way are released again.
  bool RmInit();
  void RmRelease();
  // Loads a mesh file into a new frame under SceneFrame; `Replace` (may be null) is replaced.
  void MakeFramefromFile(TKalvorFrame** Replace, const std::string& FileName);
  void Render();
  void RMClear();
  void RmRestore();
  void SetWrap(TKalvorFrame* Frame, const std::string& TextureFile, int WrapType, float ox, float oy, float oz,
               float dx, float dy, float dz, float ux, float uy, float uz, float ou, float ov, float su, float sv);
  // Creates an empty texture, appends it to TextureList and gives it the next Index. Throws
  // KlvError (Capacity) for a 257th texture and (Unsupported) before RmInit; nothing is created then.
  void MakeTexture(TKalvorTexture*& Tex, int Width, int Height, int BitDepth);
  // Copies Desc.dwWidth x Desc.dwHeight pixels of the bitmap's canvas into the texture, builds its
  // material, names it and uploads it.
  void SetTexture(TKalvorTexture* Tex, TBitmap& Bitmap, const std::string& Name);
  void SetBGColor(uint8_t R, uint8_t G, uint8_t B);

  void WMClose() override;
  void WMDestroy() override;

  // TextureSource, for the model loader.
  TKlvTexdata* FindTexture(const std::string& name) override;
  TKlvTexdata* MakeTextureFromBitmap(TBitmap& bitmap, const std::string& name) override;

  IDirect3DDevice2* D3DDevice = nullptr;
  IDirect3DRMDevice2* RMDevice = nullptr;
  IDirect3DRMFrame2* SceneFrame = nullptr;
  IDirect3DRMFrame2* LightFrame = nullptr;
  IDirect3DRMFrame2* CameraFrame = nullptr;
  IDirect3DRMViewport* RMViewport = nullptr;
  IDirect3DRMLight* DirLight = nullptr;
  IDirect3DRMLight* AmbientLight = nullptr;
  IDirectDrawSurface* ZBuffer = nullptr;
  IDirectDrawPalette* SavedPalette = nullptr;
  D3DMATERIALHANDLE LightMaterialHandle = 0;
  IDirect3DMaterial2* LightMaterial = nullptr;
  IDirect3DMaterial2* BgMaterial = nullptr;
  D3DMATERIALHANDLE BgMaterialHandle = 0;
  DDSURFACEDESC TexFormatDesc{};

 private:
  void ReleaseLayer();
  // This component's 3D objects and the unit's Direct3D objects; the texture and frame lists stay.
  void ReleaseDeviceObjects();
  bool ChooseDevice(DWORD& zDepth);
  void CreateZBuffer(DWORD zDepth);
  bool CreateDevice();
  void SetRenderStates();
  void CreateMaterials();
  void BuildScene();
  void InitTextureFormat();
  void MakeSoftwareTexture(TKalvorTexture* tex);
  void MakeHardwareTexture(TKalvorTexture* tex);
};
