// The DirectDraw display component: driver enumeration, display set-up for the owner and for
// secondary components, presenting, copies, clears, restores and release.
#include "display/kalvorg.h"

#include <algorithm>
#include <array>

#include "display/dxcalls.h"
#include "display/kalvorrm.h"
#include "model/klvdib.h"

TKalvorGUnitState KalvorGUnit;

using namespace dxcalls;

namespace {

constexpr DWORD kFullScreenCooperation =
    DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT | DDSCL_NOWINDOWCHANGES | DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX;
constexpr int kStaticLow = 10;    // entries 0..9 are static colours
constexpr int kStaticHigh = 246;  // and so are 246..255

DDSURFACEDESC EmptySurfaceDesc() {
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  return desc;
}

HRESULT ModeCallback(DDSURFACEDESC* mode, void* context) {
  auto* entry = static_cast<TDDDriverEntry*>(context);
  TDisplayModeEntry m;
  m.Width = static_cast<int32_t>(mode->dwWidth);
  m.Height = static_cast<int32_t>(mode->dwHeight);
  m.RefreshRate = static_cast<int32_t>(mode->dwRefreshRate);
  m.Desc = *mode;
  entry->Modes.push_back(m);
  return DDENUMRET_OK;
}

HRESULT DeviceCallback(GUID* guid, const char* description, const char* name, D3DDEVICEDESC* hal, D3DDEVICEDESC* hel,
                       void* context) {
  auto* entry = static_cast<TDDDriverEntry*>(context);
  TD3DDeviceEntry device;
  device.Guid = *guid;
  device.Description = description ? description : "";
  device.Name = name ? name : "";
  device.HALDesc = *hal;
  device.HELDesc = *hel;
  entry->Devices.push_back(device);
  return D3DENUMRET_OK;
}

// A driver whose DirectDraw object cannot be made is not listed: nothing about it can be read.
BOOL DriverCallback(GUID* guid, const char* description, const char* name, void* context) {
  auto* list = static_cast<std::vector<TDDDriverEntry>*>(context);
  IDirectDraw* directDraw = nullptr;
  if (Store(DirectDrawCreate(guid, &directDraw, nullptr)) != DD_OK || !directDraw) return TRUE;

  TDDDriverEntry entry;
  entry.HALCaps.dwSize = kDDCapsSize;
  entry.HELCaps.dwSize = kDDCapsSize;
  Store(directDraw->GetCaps(&entry.HALCaps, &entry.HELCaps));
  if (guid) entry.Guid = *guid;
  entry.Description = description ? description : "";
  entry.Name = name ? name : "";
  entry.Has3D = (entry.HALCaps.dwCaps & DDCAPS_3D) != 0;
  entry.HasTexture = (entry.HALCaps.ddsCaps.dwCaps & DDSCAPS_TEXTURE) != 0;
  Store(directDraw->EnumDisplayModes(0, nullptr, &entry, ModeCallback));

  IDirectDraw2* directDraw2 = nullptr;
  IDirect3D2* d3d = nullptr;
  if (Store(Query(directDraw, IID_IDirectDraw2, &directDraw2)) == DD_OK &&
      Store(Query(directDraw2, IID_IDirect3D2, &d3d)) == DD_OK)
    Store(d3d->EnumDevices(DeviceCallback, &entry));
  ReleaseAndClear(d3d);
  ReleaseAndClear(directDraw2);
  ReleaseAndClear(directDraw);
  list->push_back(std::move(entry));
  return TRUE;
}

// The system palette with the 20 static colours read-only and the rest reserved for animation.
std::array<PALETTEENTRY, kPaletteSize> MainPaletteEntries() {
  std::array<PALETTEENTRY, kPaletteSize> entries = SystemPalette();
  for (int i = 0; i < kPaletteSize; ++i)
    entries[i].peFlags = (i < kStaticLow || i >= kStaticHigh) ? D3DPAL_READONLY : PC_RESERVED;
  return entries;
}

bool IsLost(IDirectDrawSurface* surface) { return surface && surface->IsLost() == DDERR_SURFACELOST; }

}  // namespace

void InitAllDisplays() {
  if (!KalvorGUnit.DisplayList) return;
  // DDInit does not change the list, but copy it so a component made meanwhile cannot upset the walk.
  std::vector<TKalvorG*> displays = *KalvorGUnit.DisplayList;
  for (TKalvorG* display : displays) display->DDInit();
}

TKalvorG::TKalvorG(TComponentOwner* owner) : TComponent(owner) {
  auto& list = KalvorGUnit.DisplayList;
  if (!list) list = std::make_unique<std::vector<TKalvorG*>>();
  if (std::find(list->begin(), list->end(), this) == list->end()) list->push_back(this);
}

// Freeing the whole list (not just this entry) is what the unit does; no pointer to a destroyed
// component can stay behind either way.
TKalvorG::~TKalvorG() {
  DDrelease();
  KalvorGUnit.DisplayList.reset();
}

bool TKalvorG::FullScreen() const { return KalvorGUnit.FullScreen; }
void TKalvorG::SetFullScreen(bool value) {
  if (!KalvorGUnit.DirectDraw) KalvorGUnit.FullScreen = value;
}
bool TKalvorG::Color8bit() const { return KalvorGUnit.Color8bit; }
void TKalvorG::SetColor8bit(bool value) {
  if (!KalvorGUnit.DirectDraw) KalvorGUnit.Color8bit = value;
}

void TKalvorG::DDEnum() {
  auto& list = KalvorGUnit.DriverList;
  if (!list) list = std::make_unique<std::vector<TDDDriverEntry>>();
  Store(DirectDrawEnumerateA(DriverCallback, list.get()));
}

void TKalvorG::SelectDrawDriver(int32_t Index) { KalvorGUnit.DriverChoice = Index; }

void TKalvorG::SelectDisplayMode() {}

DWORD TKalvorG::MemoryCaps() const { return KalvorRMUnit.HardwareDevice ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY; }

void TKalvorG::DDInit() {
  if (!KalvorGUnit.DirectDraw)
    InitOwner();
  else
    InitSecondary();
}

// Creates DirectDraw by DriverChoice, falling back to the primary display driver. A choice past the
// end of the driver table counts as a failed creation instead of reading beyond the table.
void TKalvorG::CreateDirectDraw() {
  auto& u = KalvorGUnit;
  const int count = u.DriverList ? static_cast<int>(u.DriverList->size()) : 0;
  auto create = [&](int index) {
    std::optional<GUID> guid = (*u.DriverList)[index].Guid;
    Store(DirectDrawCreate(guid ? &*guid : nullptr, &u.DirectDraw, nullptr));
  };
  if (u.DriverChoice == -1) {
    Store(DirectDrawCreate(nullptr, &u.DirectDraw, nullptr));
    u.ActiveDriver = -1;
  } else if (u.DriverChoice == -2) {
    for (int i = count - 1; i >= 0 && !u.DirectDraw; --i) {
      const TDDDriverEntry& entry = (*u.DriverList)[i];
      if (!entry.Has3D || !entry.HasTexture) continue;
      create(i);
      if (u.DirectDraw) u.ActiveDriver = i;
    }
  } else if (u.DriverChoice >= 0 && u.DriverChoice < count) {
    create(u.DriverChoice);
    u.ActiveDriver = u.DriverChoice;
  }
  if (!u.DirectDraw) {
    u.ActiveDriver = -1;
    Store(DirectDrawCreate(nullptr, &u.DirectDraw, nullptr));
  }
}

void TKalvorG::InitOwner() {
  KalvorGUnit.DDOwnerIndex = ComponentIndex();
  CreateDirectDraw();
  if (!KalvorGUnit.DirectDraw) return;
  if (KalvorGUnit.FullScreen)
    InitFullScreen();
  else
    InitWindowed();
}

void TKalvorG::SetUpPalette() {
  auto& u = KalvorGUnit;
  const std::array<PALETTEENTRY, kPaletteSize> entries = MainPaletteEntries();
  if (u.DirectDraw2) Store(u.DirectDraw2->CreatePalette(DDPCAPS_8BIT, entries.data(), &u.MainPalette, nullptr));
  SetSourceKey(u.PrimarySurface);
  SetSourceKey(u.BackBuffer);
  SetPaletteOn(u.PrimarySurface, u.MainPalette);
  SetPaletteOn(u.BackBuffer, u.MainPalette);
  if (u.MainPalette) Store(u.MainPalette->SetEntries(0, 0, kPaletteSize, entries.data()));
}

void TKalvorG::InitFullScreen() {
  auto& u = KalvorGUnit;
  Width = u.ScreenWidth;
  Height = u.ScreenHeight;
  u.DisplayDepth = u.Color8bit ? 8 : 16;
  Store(u.DirectDraw->SetCooperativeLevel(OwnerWindow(), kFullScreenCooperation));
  Store(Query(u.DirectDraw, IID_IDirectDraw2, &u.DirectDraw2));
  Store(u.DirectDraw->SetDisplayMode(static_cast<DWORD>(u.ScreenWidth), static_cast<DWORD>(u.ScreenHeight),
                                     u.DisplayDepth));

  SurfDesc = EmptySurfaceDesc();
  SurfDesc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  SurfDesc.dwBackBufferCount = 1;
  SurfDesc.ddsCaps.dwCaps = MemoryCaps() | DDSCAPS_PRIMARYSURFACE | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_3DDEVICE;
  if (u.DirectDraw2) Store(u.DirectDraw2->CreateSurface(&SurfDesc, &u.PrimarySurface, nullptr));
  SurfDesc.ddsCaps.dwCaps = DDSCAPS_BACKBUFFER;
  if (u.PrimarySurface) Store(u.PrimarySurface->GetAttachedSurface(&SurfDesc.ddsCaps, &u.BackBuffer));
  BackSurface = u.BackBuffer;
  OnFlip = [this] { Flip(); };

  SetUpPalette();
  ClearRect = RECT{0, 0, u.ScreenWidth, u.ScreenHeight};
  ClearFX = DDBLTFX{};
  ClearFX.dwSize = kDDBltFxSize;
  ReadPixelMasks();
  Clear();
}

void TKalvorG::InitWindowed() {
  auto& u = KalvorGUnit;
  Store(Query(u.DirectDraw, IID_IDirectDraw2, &u.DirectDraw2));
  Store(u.DirectDraw->SetCooperativeLevel(OwnerWindow(), DDSCL_NORMAL));
  if (!u.DirectDraw2) return;

  SurfDesc = EmptySurfaceDesc();
  SurfDesc.dwFlags = DDSD_CAPS;
  SurfDesc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  Store(u.DirectDraw2->CreateSurface(&SurfDesc, &u.PrimarySurface, nullptr));
  SurfDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  SurfDesc.dwWidth = static_cast<DWORD>(Width);
  SurfDesc.dwHeight = static_cast<DWORD>(Height);
  SurfDesc.ddsCaps.dwCaps = MemoryCaps() | DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
  Store(u.DirectDraw2->CreateSurface(&SurfDesc, &u.BackBuffer, nullptr));

  SetUpPalette();
  BackSurface = u.BackBuffer;
  OnFlip = [this] { MainCopy(); };
  ClearRect = RECT{0, 0, Width, Height};
  ClearFX = DDBLTFX{};
  ClearFX.dwSize = kDDBltFxSize;

  Store(u.DirectDraw2->CreateClipper(0, &Clipper, nullptr));
  if (Clipper) Store(Clipper->SetHWnd(0, OwnerWindow()));
  if (u.PrimarySurface) Store(u.PrimarySurface->SetClipper(Clipper));
  ReadPixelMasks();
  Clear();
}

// A second DDInit on a component first lets go of the surface and clipper of the first one, so
// nothing is lost; the owner's BackSurface is the BackBuffer and holds no reference of its own.
void TKalvorG::InitSecondary() {
  auto& u = KalvorGUnit;
  if (BackSurface == u.BackBuffer)
    BackSurface = nullptr;
  else
    ReleaseAndClear(BackSurface);
  ReleaseAndClear(Clipper);
  if (!u.DirectDraw2) return;

  SurfDesc = EmptySurfaceDesc();
  SurfDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  SurfDesc.dwWidth = static_cast<DWORD>(Width);
  SurfDesc.dwHeight = static_cast<DWORD>(Height);
  SurfDesc.ddsCaps.dwCaps = MemoryCaps() | DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
  Store(u.DirectDraw2->CreateSurface(&SurfDesc, &BackSurface, nullptr));
  SetPaletteOn(BackSurface, u.MainPalette);
  SetSourceKey(BackSurface);
  ClearRect = RECT{0, 0, Width, Height};
  ClearFX = DDBLTFX{};
  ClearFX.dwSize = kDDBltFxSize;
  if (!u.FullScreen) {
    OnFlip = [this] { MainCopy(); };
    Store(u.DirectDraw2->CreateClipper(0, &Clipper, nullptr));
    if (Clipper) Store(Clipper->SetHWnd(0, OwnerWindow()));
  }
  ReadPixelMasks();
}

void TKalvorG::ReadPixelMasks() {
  if (!BackSurface) return;
  DDSURFACEDESC desc = EmptySurfaceDesc();
  if (Store(BackSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr)) != DD_OK) return;
  BackSurface->Unlock(nullptr);
  const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
  if (format.dwRGBBitCount == 16) {
    DWORD* lows[] = {&RLow, &GLow, &BLow};
    const DWORD masks[] = {format.dwRBitMask, format.dwGBitMask, format.dwBBitMask};
    for (int c = 0; c < 3; ++c) {
      if (masks[c] == 0) return;
      DWORD bit = 1;
      while ((masks[c] & bit) == 0) bit <<= 1;
      *lows[c] = bit;
    }
  }
  SurfDesc.ddpfPixelFormat = format;
}

void TKalvorG::Flip() {
  if (KalvorGUnit.PrimarySurface) Store(KalvorGUnit.PrimarySurface->Flip(nullptr, DDFLIP_WAIT));
}

void TKalvorG::MainCopy() {
  auto& u = KalvorGUnit;
  if (!u.PrimarySurface || !BackSurface) return;
  const POINT origin = Owner() ? Owner()->ClientOrigin : POINT{0, 0};
  RECT destination{origin.x + Left, origin.y + Top, origin.x + Left + Width, origin.y + Top + Height};
  RECT source{0, 0, Width, Height};
  Store(u.PrimarySurface->SetClipper(Clipper));
  Store(u.PrimarySurface->Blt(&destination, BackSurface, &source, DDBLT_WAIT, nullptr));
}

void TKalvorG::Copy(int32_t X, int32_t Y, IDirectDrawSurface* Src, RECT SrcRect, bool Transparent) {
  if (!BackSurface) return;
  RECT r = SrcRect;
  if (X < 0) {
    r.left -= X;
    X = 0;
  }
  if (Y < 0) {
    r.top -= Y;
    Y = 0;
  }
  if (r.right - r.left + X > Width) r.right -= r.right - r.left + X - Width;
  if (r.bottom - r.top + Y > Height) r.bottom -= r.bottom - r.top + Y - Height;
  const DWORD flags = Transparent ? (DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT) : DDBLTFAST_WAIT;
  BackSurface->BltFast(static_cast<DWORD>(X), static_cast<DWORD>(Y), Src, &r, flags);
}

void TKalvorG::Clear() {
  if (BackSurface) Store(BackSurface->Blt(&ClearRect, nullptr, &ClearRect, DDBLT_COLORFILL | DDBLT_WAIT, &ClearFX));
}

void TKalvorG::DDRestore() {
  auto& u = KalvorGUnit;
  if (!u.PrimarySurface) return;
  for (IDirectDrawSurface* surface : {BackSurface, u.PrimarySurface, u.BackBuffer})
    if (IsLost(surface)) Store(surface->Restore());
}

void TKalvorG::CopyFromCanvas(HDC Canvas) {
  if (!BackSurface) return;
  HDC dc = nullptr;
  if (Store(BackSurface->GetDC(&dc)) != DD_OK) return;
  BitBlt(dc, 0, 0, Width, Height, Canvas, 0, 0, SRCCOPY);
  Store(BackSurface->ReleaseDC(dc));
}

namespace {

// Copies the reader's pixel bytes row by row into locked surface memory, top row first; the rows of
// a bottom-up file (positive height) are taken from the last stored one back.
void CopyRows(const TKlvDIB& dib, const DDSURFACEDESC& desc) {
  const int imageRows = dib.Header.biHeight < 0 ? -dib.Header.biHeight : dib.Header.biHeight;
  const int imageColumns = dib.Header.biWidth < 0 ? -dib.Header.biWidth : dib.Header.biWidth;
  const int rows = std::min(imageRows, static_cast<int>(desc.dwHeight));
  const int columns = std::min({imageColumns, static_cast<int>(desc.dwWidth), dib.RowBytes});
  const bool bottomUp = dib.Header.biHeight > 0;
  auto* surface = static_cast<uint8_t*>(desc.lpSurface);
  for (int y = 0; y < rows; ++y) {
    const int stored = bottomUp ? imageRows - 1 - y : y;
    std::copy_n(dib.Bits.data() + static_cast<size_t>(stored) * dib.RowBytes, columns,
                surface + static_cast<ptrdiff_t>(y) * desc.lPitch);
  }
}

}  // namespace

void TKalvorG::CopyFromFile(const std::string& FileName) {
  if (!BackSurface) return;
  DDSURFACEDESC desc = EmptySurfaceDesc();
  const bool locked = Store(BackSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr)) == DD_OK;
  TKlvDIB dib;
  try {
    dib.LoadFromFile(FileName);
  } catch (...) {
    if (locked) BackSurface->Unlock(nullptr);
    throw;
  }
  if (locked && KalvorGUnit.Color8bit && desc.ddpfPixelFormat.dwRGBBitCount == 8) CopyRows(dib, desc);
  if (locked) BackSurface->Unlock(nullptr);
}

void TKalvorG::DDrelease() {
  auto& u = KalvorGUnit;
  if (ComponentIndex() != u.DDOwnerIndex) {
    ReleaseAndClear(Clipper);
    ReleaseAndClear(BackSurface);
    return;
  }
  u.DriverList.reset();
  if (u.DirectDraw) Store(u.DirectDraw->SetCooperativeLevel(OwnerWindow(), DDSCL_NORMAL));
  if (BackSurface == u.BackBuffer)
    BackSurface = nullptr;
  else
    ReleaseAndClear(BackSurface);
  ReleaseAndClear(Clipper);
  ReleaseAndClear(u.BackBuffer);
  ReleaseAndClear(u.PrimarySurface);
  ReleaseAndClear(u.MainPalette);
  ReleaseAndClear(u.DirectDraw2);
  ReleaseAndClear(u.DirectDraw);
}

void TKalvorG::WMClose() { DDrelease(); }
void TKalvorG::WMDestroy() { DDrelease(); }
