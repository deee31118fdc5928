// DirectDraw palettes and clippers (see ddraw_objects.h).
#include <algorithm>

#include "platform/dx5/ddraw_objects.h"

namespace {

template <typename Interface>
HRESULT AnswerOwnInterface(Interface* self, REFIID wanted, REFIID riid, void** object) {
  if (object == nullptr) return DDERR_INVALIDPARAMS;
  if (!(riid == wanted)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  self->AddRef();
  *object = self;
  return DD_OK;
}

}  // namespace

DDrawPalette::DDrawPalette(DWORD caps, int size, const PALETTEENTRY* entries) : caps_(caps), size_(size) {
  std::copy_n(entries, size, entries_.begin());
}

HRESULT DDrawPalette::QueryInterface(REFIID riid, void** object) {
  return AnswerOwnInterface<IDirectDrawPalette>(this, IID_IDirectDrawPalette, riid, object);
}

HRESULT DDrawPalette::GetCaps(DWORD* caps) {
  if (caps == nullptr) return DDERR_INVALIDPARAMS;
  *caps = caps_;
  return DD_OK;
}

HRESULT DDrawPalette::GetEntries(DWORD, DWORD base, DWORD count, PALETTEENTRY* entries) {
  if (entries == nullptr || base >= static_cast<DWORD>(size_) || count > static_cast<DWORD>(size_) - base)
    return DDERR_INVALIDPARAMS;
  std::copy_n(entries_.begin() + base, count, entries);
  return DD_OK;
}

HRESULT DDrawPalette::SetEntries(DWORD, DWORD start, DWORD count, const PALETTEENTRY* entries) {
  if (entries == nullptr || start >= static_cast<DWORD>(size_) || count > static_cast<DWORD>(size_) - start)
    return DDERR_INVALIDPARAMS;
  std::copy_n(entries, count, entries_.begin() + start);
  return DD_OK;
}

HRESULT DDrawClipper::QueryInterface(REFIID riid, void** object) {
  return AnswerOwnInterface<IDirectDrawClipper>(this, IID_IDirectDrawClipper, riid, object);
}

HRESULT DDrawClipper::SetHWnd(DWORD, HWND window) {
  window_ = window;
  return DD_OK;
}

HRESULT DDrawClipper::GetHWnd(HWND* window) {
  if (window == nullptr) return DDERR_INVALIDPARAMS;
  *window = window_;
  return DD_OK;
}
