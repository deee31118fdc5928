// Textures of the Direct3D device component: the texture-format pickers, making an empty texture
// (software or hardware form), filling it from a bitmap with its own material, reloading it, and
// the texture-source face the model loader uses.
#include <array>
#include <string>

#include "display/dxcalls.h"
#include "display/kalvorrm.h"
#include "platform/error.h"
#include "platform/win/bitmap.h"

using namespace dxcalls;

namespace {

constexpr DWORD kTextureFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
constexpr DWORD kSoftwareTextureCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
constexpr DWORD kHardwareTextureCaps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY | DDSCAPS_ALLOCONLOAD;
constexpr int kPaletteBitDepth = 8;
constexpr DWORD kRGBThreshold = 16;
constexpr D3DVALUE kTexturePower = 20.0f;

bool HasAlpha(const DDPIXELFORMAT& format) { return (format.dwFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) != 0; }

}  // namespace

HRESULT PickPaletteFormat(DDSURFACEDESC* candidate, void* context) {
  auto* templ = static_cast<DDSURFACEDESC*>(context);
  const DDPIXELFORMAT& format = candidate->ddpfPixelFormat;
  if (HasAlpha(format)) return D3DENUMRET_OK;
  const int64_t bits = format.dwRGBBitCount;
  if (bits <= 8 && (format.dwFlags & (DDPF_PALETTEINDEXED8 | DDPF_PALETTEINDEXED4)) == 0) return D3DENUMRET_OK;
  if (bits > 8 && (format.dwFlags & DDPF_RGB) == 0) return D3DENUMRET_OK;
  if (bits < 8) return D3DENUMRET_OK;
  const int64_t current = templ->ddpfPixelFormat.dwRGBBitCount;
  if (current == 0 || bits - 8 < current - 8) templ->ddpfPixelFormat = format;
  return D3DENUMRET_OK;
}

HRESULT PickRGBFormat(DDSURFACEDESC* candidate, void* context) {
  auto* templ = static_cast<DDSURFACEDESC*>(context);
  const DDPIXELFORMAT& format = candidate->ddpfPixelFormat;
  if (HasAlpha(format)) return D3DENUMRET_OK;
  if (format.dwRGBBitCount <= 8 || (format.dwFlags & DDPF_RGB) == 0) return D3DENUMRET_OK;
  if (templ->ddpfPixelFormat.dwRGBBitCount == kRGBThreshold || format.dwRGBBitCount >= kRGBThreshold)
    templ->ddpfPixelFormat = format;
  return D3DENUMRET_OK;
}

void TKalvorTexture::ReleaseAll() {
  ReleaseAndClear(SrcTexture);
  ReleaseAndClear(DevTexture);
  ReleaseAndClear(Material);
  ReleaseAndClear(SrcSurface);
  ReleaseAndClear(DevSurface);
  ReleaseAndClear(Palette);
}

void ReloadTexture(TKalvorTexture* Tex) {
  if (!Tex->DevSurface || !Tex->SrcSurface || Tex->DevSurface == Tex->SrcSurface) return;
  Store(Tex->DevSurface->Restore());
  if (Tex->DevTexture) Store(Tex->DevTexture->Load(Tex->SrcTexture));
}

void TKalvorRM::MakeSoftwareTexture(TKalvorTexture* tex) {
  IDirectDraw2* dd = KalvorGUnit.DirectDraw2;
  Store(dd->CreateSurface(&tex->Desc, &tex->SrcSurface, nullptr));
  if (!tex->SrcSurface) return;
  tex->DevSurface = tex->SrcSurface;
  tex->DevSurface->AddRef();
  const auto entries = SystemPalette();
  Store(dd->CreatePalette(DDPCAPS_8BIT, entries.data(), &tex->Palette, nullptr));
  SetPaletteOn(tex->SrcSurface, tex->Palette);
  SetSourceKey(tex->SrcSurface);
  Store(Query(tex->SrcSurface, IID_IDirect3DTexture2, &tex->SrcTexture));
  if (tex->SrcTexture) {
    Store(tex->SrcTexture->GetHandle(D3DDevice, &tex->Data.Handle));
    tex->DevTexture = tex->SrcTexture;
    tex->DevTexture->AddRef();
  }
}

void TKalvorRM::MakeHardwareTexture(TKalvorTexture* tex) {
  IDirectDraw2* dd = KalvorGUnit.DirectDraw2;
  Store(dd->CreateSurface(&tex->Desc, &tex->SrcSurface, nullptr));
  if (!tex->SrcSurface) return;
  tex->Desc.ddsCaps.dwCaps = kHardwareTextureCaps;
  Store(dd->CreateSurface(&tex->Desc, &tex->DevSurface, nullptr));
  const auto entries = SystemPalette();
  Store(dd->CreatePalette(DDPCAPS_8BIT, entries.data(), &tex->Palette, nullptr));
  SetPaletteOn(tex->SrcSurface, tex->Palette);
  SetPaletteOn(tex->DevSurface, tex->Palette);
  SetSourceKey(tex->SrcSurface);
  SetSourceKey(tex->DevSurface);
  Store(Query(tex->SrcSurface, IID_IDirect3DTexture2, &tex->SrcTexture));
  Store(Query(tex->DevSurface, IID_IDirect3DTexture2, &tex->DevTexture));
  if (tex->DevTexture) Store(tex->DevTexture->GetHandle(D3DDevice, &tex->Data.Handle));
}

// The texture is only listed and numbered once its system-memory surface exists, so a refused
// texture leaves the list, the counter and the caller's variable as they were.
void TKalvorRM::MakeTexture(TKalvorTexture*& Tex, int Width, int Height, int BitDepth) {
  auto& u = KalvorRMUnit;
  if (!u.TextureList || !D3DDevice || !KalvorGUnit.DirectDraw2)
    throw KlvError(KlvErrorKind::Unsupported, "", "textures need an initialised Direct3D device");
  if (u.TextureCounter >= kMaxTextures)
    throw KlvError(KlvErrorKind::Capacity, "", "more than " + std::to_string(kMaxTextures) + " textures");
  Store(
      D3DDevice->EnumTextureFormats(BitDepth == kPaletteBitDepth ? PickPaletteFormat : PickRGBFormat, &TexFormatDesc));

  auto tex = std::make_unique<TKalvorTexture>();
  tex->Desc.dwSize = kDDSurfaceDescSize;
  tex->Desc.dwFlags = kTextureFlags;
  tex->Desc.dwWidth = static_cast<DWORD>(Width);
  tex->Desc.dwHeight = static_cast<DWORD>(Height);
  tex->Desc.ddpfPixelFormat = TexFormatDesc.ddpfPixelFormat;
  tex->Desc.ddsCaps.dwCaps = kSoftwareTextureCaps;
  if (u.HardwareDevice)
    MakeHardwareTexture(tex.get());
  else
    MakeSoftwareTexture(tex.get());
  if (!tex->SrcSurface)
    throw KlvError(KlvErrorKind::Unsupported, "",
                   "a " + std::to_string(Width) + " x " + std::to_string(Height) + " texture cannot be created");

  tex->Data.Index = u.TextureCounter++;
  Tex = tex.get();
  u.TextureList->push_back(std::move(tex));
}

void TKalvorRM::SetTexture(TKalvorTexture* Tex, TBitmap& Bitmap, const std::string& Name) {
  if (Tex->Palette) Store(Tex->Palette->SetEntries(0, 0, kPaletteSize, Bitmap.Palette().data()));

  HDC dc = nullptr;
  if (Tex->SrcSurface && Store(Tex->SrcSurface->GetDC(&dc)) == DD_OK) {
    BitBlt(dc, 0, 0, static_cast<int>(Tex->Desc.dwWidth), static_cast<int>(Tex->Desc.dwHeight), Bitmap.Canvas(), 0, 0,
           SRCCOPY);
    Store(Tex->SrcSurface->ReleaseDC(dc));
  }

  // A texture filled again gets a new material; the old one is let go instead of leaked.
  ReleaseAndClear(Tex->Material);
  if (KalvorRMUnit.D3D && Store(KalvorRMUnit.D3D->CreateMaterial(&Tex->Material, nullptr)) == DD_OK && Tex->Material) {
    Tex->MatDesc = D3DMATERIAL{};
    Tex->MatDesc.dwSize = kD3DMaterialSize;
    Tex->MatDesc.diffuse = D3DCOLORVALUE{1, 1, 1, 0};
    Tex->MatDesc.ambient = D3DCOLORVALUE{1, 1, 1, 0};
    Tex->MatDesc.specular = D3DCOLORVALUE{1, 1, 1, 1};
    Tex->MatDesc.power = kTexturePower;
    Tex->MatDesc.hTexture = Tex->Data.Handle;
    Tex->MatDesc.dwRampSize = 1;
    Store(Tex->Material->SetMaterial(&Tex->MatDesc));
    Store(Tex->Material->GetHandle(D3DDevice, &Tex->Data.MaterialHandle));
  }

  if (Tex->SrcTexture) Store(Tex->SrcTexture->PaletteChanged(0, kPaletteSize));
  if (Tex->DevTexture) Store(Tex->DevTexture->PaletteChanged(0, kPaletteSize));
  Tex->Data.Name = Name;
  ReloadTexture(Tex);
}

TKlvTexdata* TKalvorRM::FindTexture(const std::string& name) {
  if (!KalvorRMUnit.TextureList) return nullptr;
  for (const auto& tex : *KalvorRMUnit.TextureList)
    if (tex->Data.Name == name) return &tex->Data;
  return nullptr;
}

TKlvTexdata* TKalvorRM::MakeTextureFromBitmap(TBitmap& bitmap, const std::string& name) {
  TKalvorTexture* tex = nullptr;
  MakeTexture(tex, bitmap.Width(), bitmap.Height(), bitmap.Is8Bit() ? kPaletteBitDepth : 24);
  SetTexture(tex, bitmap, name);
  return &tex->Data;
}
