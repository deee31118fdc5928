// TKalvorG, the DirectDraw display component, and the process-wide DirectDraw state of its unit
// (KalvorGUnit): the driver table, the one DirectDraw object, the primary chain, the palette and
// the list of display components. It enumerates drivers, sets up the display (the first component
// initialised becomes the owner), presents frames, copies and clears surfaces, restores lost
// surfaces and runs the software pixel operations on 16-bit surfaces. TKalvorRM derives from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/component.h"
#include "platform/dx5/d3d.h"
#include "platform/dx5/ddraw.h"

class TKalvorG;

struct TDisplayModeEntry {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t RefreshRate = 0;
  DDSURFACEDESC Desc{};
};

// One Direct3D device of a driver. A hardware device has HALDesc.dcmColorModel != 0.
struct TD3DDeviceEntry {
  GUID Guid{};
  std::string Description;
  std::string Name;
  D3DDEVICEDESC HALDesc{};
  D3DDEVICEDESC HELDesc{};
};

// One enumerated DirectDraw driver. Guid is absent for the primary display driver.
struct TDDDriverEntry {
  std::optional<GUID> Guid;
  std::string Description;
  std::string Name;
  bool Has3D = false;       // hardware caps include DDCAPS_3D
  bool HasTexture = false;  // hardware ddsCaps include DDSCAPS_TEXTURE
  DDCAPS HALCaps{};
  DDCAPS HELCaps{};
  std::vector<TDisplayModeEntry> Modes;
  std::vector<TD3DDeviceEntry> Devices;
};

// Process-wide state of the display unit; interface pointers are counted references, null = absent.
struct TKalvorGUnitState {
  std::unique_ptr<std::vector<TDDDriverEntry>> DriverList;
  IDirectDraw* DirectDraw = nullptr;  // present = the display is set up
  IDirectDraw2* DirectDraw2 = nullptr;
  IDirectDrawPalette* MainPalette = nullptr;
  IDirectDrawSurface* PrimarySurface = nullptr;
  IDirectDrawSurface* BackBuffer = nullptr;
  HRESULT LastResult = DD_OK;
  DWORD DisplayDepth = 16;                              // 8 with Color8bit, else 16
  int32_t DriverChoice = -1;                            // -1 primary driver, -2 last 3D+texture driver, >= 0 an entry
  int32_t ActiveDriver = -1;                            // entry in use, -1 for the primary display driver
  int32_t DDOwnerIndex = 0;                             // component index of the owner
  std::unique_ptr<std::vector<TKalvorG*>> DisplayList;  // construction order, each once
  bool FullScreen = false;
  bool Color8bit = false;
  // The full-screen display mode's size: 640 x 480, or the picture size the saver asks for.
  int32_t ScreenWidth = 640;
  int32_t ScreenHeight = 480;
};
extern TKalvorGUnitState KalvorGUnit;

// DDInit on every component of DisplayList, in list order.
void InitAllDisplays();

// Releases an interface when present and clears the pointer.
template <class T>
void ReleaseAndClear(T*& object) {
  if (object) {
    object->Release();
    object = nullptr;
  }
}

class TKalvorG : public TComponent {
 public:
  explicit TKalvorG(TComponentOwner* owner);
  ~TKalvorG() override;

  void DDEnum();
  void DDInit();
  void SelectDrawDriver(int32_t Index);
  void SelectDisplayMode();
  void DDrelease();
  // Copies Width x Height pixels from (0, 0) of `Canvas` into BackSurface.
  void CopyFromCanvas(HDC Canvas);
  // Copies an 8-bit bitmap file's pixel indices into BackSurface (8-bit mode only). Throws the
  // reader's KlvError for a bad file, after unlocking the surface.
  void CopyFromFile(const std::string& FileName);
  void Flip();
  void MainCopy();
  void Copy(int32_t X, int32_t Y, IDirectDrawSurface* Src, RECT SrcRect, bool Transparent);
  void Clear();
  void DDRestore();
  // Software pixel operations on 16-bit surfaces.
  void ADDBlt(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H);
  void ADDBlt2(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H);
  void Dark(float Amount);

  // Window messages: WM_CLOSE and WM_DESTROY release the display layer.
  virtual void WMClose();
  virtual void WMDestroy();

  // Shared by all components; writes count only while DirectDraw is absent.
  bool FullScreen() const;
  void SetFullScreen(bool value);
  bool Color8bit() const;
  void SetColor8bit(bool value);

  // The control's place on its form and its size.
  int Left = 0;
  int Top = 0;
  int Width = 640;
  int Height = 480;

  IDirectDrawSurface* BackSurface = nullptr;
  IDirectDrawClipper* Clipper = nullptr;
  DDSURFACEDESC SurfDesc{};
  DDBLTFX ClearFX{};
  RECT ClearRect{0, 0, 0, 0};
  DWORD RLow = 0, GLow = 0, BLow = 0;  // lowest bit of each 16-bit channel mask
  // Presents the frame: Flip (full-screen owner) or MainCopy (windowed); unset for a
  // full-screen secondary component.
  std::function<void()> OnFlip;

 protected:
  void ReadPixelMasks();

 private:
  void InitOwner();
  void InitSecondary();
  void CreateDirectDraw();
  void InitFullScreen();
  void InitWindowed();
  void SetUpPalette();
  DWORD MemoryCaps() const;
  // ADDBlt and ADDBlt2: reads both descriptions, clips the rectangle, blends each channel in place.
  template <class Blend>
  void BlendBlt(int32_t X, int32_t Y, IDirectDrawSurface* Src, int32_t SrcX, int32_t SrcY, int32_t W, int32_t H,
                Blend blend);
};
