// Small helpers the display units share around DirectX calls: keeping a result in LastResult,
// typed QueryInterface, the source colour key and palette set-up every display surface and texture
// gets, and reading the system palette.
#pragma once

#include <array>

#include "display/kalvorg.h"

namespace dxcalls {

constexpr int kPaletteSize = 256;

// Keeps `result` in LastResult and hands it on.
inline HRESULT Store(HRESULT result) {
  KalvorGUnit.LastResult = result;
  return result;
}

// QueryInterface into a typed pointer; an absent object answers DDERR_INVALIDOBJECT.
template <class T>
HRESULT Query(IUnknown* from, REFIID iid, T** out) {
  *out = nullptr;
  return from ? from->QueryInterface(iid, reinterpret_cast<void**>(out)) : DDERR_INVALIDOBJECT;
}

// Pixel value 0 is transparent as a blit source.
inline void SetSourceKey(IDirectDrawSurface* surface) {
  DDCOLORKEY key{0, 0};
  if (surface) Store(surface->SetColorKey(DDCKEY_SRCBLT, &key));
}

inline void SetPaletteOn(IDirectDrawSurface* surface, IDirectDrawPalette* palette) {
  if (surface) Store(surface->SetPalette(palette));
}

// The 256 system palette entries, read through the screen's device context.
inline std::array<PALETTEENTRY, kPaletteSize> SystemPalette() {
  std::array<PALETTEENTRY, kPaletteSize> entries{};
  HDC screen = ::GetDC(nullptr);
  GetSystemPaletteEntries(screen, 0, kPaletteSize, entries.data());
  ::ReleaseDC(nullptr, screen);
  return entries;
}

}  // namespace dxcalls
