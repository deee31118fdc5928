// The virtual display: the one screen of the process. It holds the display mode that
// IDirectDraw::SetDisplayMode sets (nothing touches the real monitor), the window's client area in
// screen coordinates, and which primary surface is on show. After SetDisplayMode(640, 480, 16) and a
// primary flipping chain, the window backend shows the chain's front buffer; in a window
// (DDSCL_NORMAL) the primary is the window's client area. The window backend and the PNG writer
// read it through FrontBufferView and ViewToXrgb or FrontBufferToXrgb, and redraw when
// PresentedFrameCount moves. All calls belong to the main thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/gdi.h"
#include "platform/win/wintypes.h"

struct DisplayMode {
  DWORD width;
  DWORD height;
  DWORD bitsPerPixel;
};

// The mode the display has before any SetDisplayMode and after the mode is restored.
constexpr DisplayMode kDesktopDisplayMode{640, 480, 16};

DisplayMode CurrentDisplayMode();
void SetCurrentDisplayMode(const DisplayMode& mode);

// The monitor's own size, which the driver lists as a display mode at every depth it has besides
// its fixed modes; 0 x 0 (none) until the saver names it.
struct DisplaySize {
  DWORD width = 0;
  DWORD height = 0;
};
DisplaySize NativeDisplaySize();
void SetNativeDisplaySize(const DisplaySize& size);

// The window's client area in screen coordinates (0, 0, 640, 480 unless the window backend says
// otherwise). A windowed primary surface made afterwards has its size.
RECT WindowClientArea();
void SetWindowClientArea(const RECT& area);

// The front buffer on show, read-only; `pixels` is null when no primary surface exists. Valid until
// the next DirectDraw call.
struct DisplayView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  intptr_t pitch = 0;
  GdiFormat format = GdiFormat::Rgb565;
  const PALETTEENTRY* palette = nullptr;  // 256 entries for 8-bit displays (the system palette if none is set)
};
DisplayView FrontBufferView();

// Frames shown so far: each Flip of the primary chain and each blit onto the primary surface.
uint64_t PresentedFrameCount();

// Writes the picture of `view` as rows of 0x00RRGGBB words to `pixels`, top row first, `pitch`
// bytes from one row's start to the next (at least 4 * width; the bytes between rows are left as
// they are).
void ViewToXrgb(const DisplayView& view, uint32_t* pixels, intptr_t pitch);

// The front buffer as rows of 0x00RRGGBB words, top row first, `width` words per row; false (and
// nothing written) when no primary surface exists.
bool FrontBufferToXrgb(std::vector<uint32_t>& pixels, int& width, int& height);

// Kept by the DirectDraw objects: the primary surface on show (the latest one made), its end, and
// each presentation.
class DDrawSurface;
void ShowPrimarySurface(const DDrawSurface* primary);
void ForgetPrimarySurface(const DDrawSurface* primary);
bool IsShownPrimarySurface(const DDrawSurface* surface);
// The primary surface on show, or null (the GL device presents its GPU copy).
const DDrawSurface* ShownPrimarySurface();
void CountPresentedFrame();
