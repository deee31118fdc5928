// The concrete DirectDraw objects behind the ddraw.h interfaces: the DirectDraw object, surfaces,
// palettes and clippers. Each is reference counted and deletes itself when its count reaches 0.
// Ownership: a surface holds a reference to its DirectDraw object, to its palette, clipper and
// attached z-buffer, and the front buffer of a flipping chain holds its back buffers; nothing
// refers back, so there are no cycles. Only this folder sees these classes.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dx5/ddraw.h"
#include "platform/dx5/ddraw_blit.h"
#include "platform/dx5/ddraw_format.h"

template <typename Interface>
class RefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ~RefCounted() override = default;

 private:
  ULONG refs_ = 1;
};

class DDrawSurface;
class GlSurface;
class RasterQueue;

class DDrawObject final : public RefCounted<IDirectDraw2> {
 public:
  DDrawObject() = default;

  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) override;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate, DWORD flags) override;
  HRESULT RestoreDisplayMode() override;
  HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) override;
  HRESULT EnumDisplayModes(DWORD flags, DDSURFACEDESC* templ, void* context, LPDDENUMMODESCALLBACK callback) override;
  HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** surface, IUnknown* outer) override;
  HRESULT CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** palette,
                        IUnknown* outer) override;
  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) override;
  HRESULT GetAvailableVidMem(DDSCAPS* caps, DWORD* total, DWORD* free) override;

  bool Exclusive() const { return (level_ & DDSCL_EXCLUSIVE) != 0; }
  // Surfaces register themselves for the whole of their life.
  void AddSurface(DDrawSurface* surface);
  void RemoveSurface(DDrawSurface* surface);
  // Marks every surface in video memory or in a primary chain lost, as a mode switch by another
  // program would.
  void LoseSurfaces();
  // The draw queues of the software devices drawing into this object's surfaces, registered for
  // the whole of the devices' lives. Whatever reads or writes a surface's memory other than the
  // queues (a lock, a blit, a flip, a DC, a restore, the surface's end) first draws what they hold.
  void AddDrawQueue(RasterQueue* queue);
  void RemoveDrawQueue(RasterQueue* queue);
  void DrawQueued();
  // A device locking surfaces to add to its own queue marks it in use meanwhile, so that its own
  // locks leave it queued (null: none).
  void SetQueueInUse(RasterQueue* queue) { queueInUse_ = queue; }

 private:
  ~DDrawObject() override;
  HRESULT CreatePrimary(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface);
  HRESULT CreateDepth(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface);
  HRESULT CreatePlain(const DDSURFACEDESC& desc, DWORD caps, IDirectDrawSurface** surface);

  DWORD level_ = 0;
  HWND window_ = nullptr;
  bool changedMode_ = false;
  std::vector<DDrawSurface*> surfaces_;
  std::vector<RasterQueue*> drawQueues_;
  RasterQueue* queueInUse_ = nullptr;
};

class DDrawPalette final : public RefCounted<IDirectDrawPalette> {
 public:
  DDrawPalette(DWORD caps, int size, const PALETTEENTRY* entries);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetCaps(DWORD* caps) override;
  HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) override;
  HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override;

  // 256 entries; a 16-colour palette has zeros past its 16.
  const PALETTEENTRY* Entries() const { return entries_.data(); }

 private:
  ~DDrawPalette() override = default;

  DWORD caps_;
  int size_;
  std::array<PALETTEENTRY, 256> entries_{};
};

class DDrawClipper final : public RefCounted<IDirectDrawClipper> {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT SetHWnd(DWORD flags, HWND window) override;
  HRESULT GetHWnd(HWND* window) override;

 private:
  ~DDrawClipper() override = default;

  HWND window_ = nullptr;
};

// What a new surface is: its capabilities, layout and size.
struct SurfaceSetup {
  DWORD caps = 0;
  SurfaceFormat format = SurfaceFormat::Rgb565;
  int width = 0;
  int height = 0;
  bool windowedPrimary = false;  // destination rectangles are in screen coordinates
};

class DDrawSurface final : public RefCounted<IDirectDrawSurface> {
 public:
  // A new surface with one reference, or null when its memory cannot be had.
  static DDrawSurface* Create(DDrawObject* owner, const SurfaceSetup& setup);

  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT AddAttachedSurface(IDirectDrawSurface* surface) override;
  HRESULT GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** surface) override;
  HRESULT Blt(RECT* destRect, IDirectDrawSurface* src, RECT* srcRect, DWORD flags, DDBLTFX* fx) override;
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface* src, RECT* srcRect, DWORD trans) override;
  HRESULT Flip(IDirectDrawSurface* targetOverride, DWORD flags) override;
  HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE event) override;
  HRESULT Unlock(void* surfaceData) override;
  HRESULT GetSurfaceDesc(DDSURFACEDESC* desc) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT IsLost() override;
  HRESULT Restore() override;
  HRESULT SetPalette(IDirectDrawPalette* palette) override;
  HRESULT GetPalette(IDirectDrawPalette** palette) override;
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT SetClipper(IDirectDrawClipper* clipper) override;
  HRESULT GetClipper(IDirectDrawClipper** clipper) override;

  DWORD Caps() const { return caps_; }
  SurfaceFormat Format() const { return format_; }
  DDrawObject* Owner() const { return owner_; }
  // The memory as the blits see it (the palette's entries for 8-bit surfaces, if one is set).
  PixelBlock Block() const;
  // Takes over `backBuffers` (one reference each) as this front buffer's flipping chain.
  void AttachFlipChain(std::vector<DDrawSurface*> backBuffers);
  void MarkLost() { lost_ = true; }
  // The GPU copy on the GL device (ddraw_gl.cpp), or null.
  GlSurface* Gpu() const { return gpu_.get(); }
  void SetGpu(std::unique_ptr<GlSurface> gpu);

 private:
  enum class Access { None, Locked, Dc };

  DDrawSurface(DDrawObject* owner, const SurfaceSetup& setup);
  ~DDrawSurface() override;
  void Describe(DDSURFACEDESC* desc) const;
  HRESULT CheckUsable() const;
  // The destination rectangle of a Blt in surface coordinates.
  WideRect DestinationRect(const RECT* destRect) const;
  HRESULT CopyFrom(const RECT& dstRect, DDrawSurface* src, const RECT& srcRect, bool keyed);
  void NotePresented() const;
  // Draws what the software devices have queued, into this surface or `source` (may be null).
  void DrawQueued(IDirectDrawSurface* source) const;

  DDrawObject* owner_;
  DWORD caps_;
  SurfaceFormat format_;
  int width_;
  int height_;
  LONG pitch_;
  bool windowedPrimary_;
  std::vector<uint8_t> memory_;
  bool lost_ = false;
  Access access_ = Access::None;
  HDC__ dc_{};
  DDrawPalette* palette_ = nullptr;
  DDrawClipper* clipper_ = nullptr;
  DDrawSurface* zBuffer_ = nullptr;
  std::vector<DDrawSurface*> flipChain_;
  std::optional<DDCOLORKEY> srcKey_;
  std::optional<DDCOLORKEY> destKey_;
  std::unique_ptr<GlSurface> gpu_;
  DWORD lockFlags_ = 0;
};
