// The process's one virtual display (see virtual_display.h). Its state is process-wide because the
// display is: every DirectDraw object and the window backend see the same screen.
#include "platform/dx5/virtual_display.h"

#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/ddraw_objects.h"
#include "platform/win/gdi_pixels.h"
#include "platform/win/row565.h"

namespace {

struct DisplayState {
  DisplayMode mode = kDesktopDisplayMode;
  DisplaySize native;
  RECT clientArea{0, 0, 640, 480};
  const DDrawSurface* primary = nullptr;
  uint64_t presentedFrames = 0;
};

DisplayState& State() {
  static DisplayState state;
  return state;
}

}  // namespace

DisplayMode CurrentDisplayMode() { return State().mode; }
void SetCurrentDisplayMode(const DisplayMode& mode) { State().mode = mode; }

DisplaySize NativeDisplaySize() { return State().native; }
void SetNativeDisplaySize(const DisplaySize& size) { State().native = size; }

RECT WindowClientArea() { return State().clientArea; }
void SetWindowClientArea(const RECT& area) { State().clientArea = area; }

DisplayView FrontBufferView() {
  DisplayView view;
  const DDrawSurface* primary = State().primary;
  if (primary == nullptr) return view;
  primary->Owner()->DrawQueued();  // draws a software device still holds are made first
  GlBringToMemory(*primary);       // a picture drawn on the GPU is read back first
  const PixelBlock block = primary->Block();
  view.pixels = block.bits;
  view.width = block.width;
  view.height = block.height;
  view.pitch = block.pitch;
  view.format = GdiFormatOf(block.format).value_or(GdiFormat::Rgb565);
  view.palette =
      view.format == GdiFormat::Indexed8 && block.palette == nullptr ? SystemPaletteEntries() : block.palette;
  return view;
}

uint64_t PresentedFrameCount() { return State().presentedFrames; }

void ViewToXrgb(const DisplayView& view, uint32_t* pixels, intptr_t pitch) {
  const RowSimd simd = BestRowSimd();
  for (int y = 0; y < view.height; ++y) {
    const uint8_t* from = view.pixels + y * view.pitch;
    auto* to = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pixels) + y * pitch);
    if (view.format == GdiFormat::Rgb565)
      Row565ToXrgb(from, view.width, to, simd);
    else
      RowToXrgb(view.format, from, view.width, view.palette, to);
  }
}

bool FrontBufferToXrgb(std::vector<uint32_t>& pixels, int& width, int& height) {
  const DisplayView view = FrontBufferView();
  if (view.pixels == nullptr) return false;
  width = view.width;
  height = view.height;
  pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  ViewToXrgb(view, pixels.data(), intptr_t{width} * static_cast<intptr_t>(sizeof(uint32_t)));
  return true;
}

void ShowPrimarySurface(const DDrawSurface* primary) { State().primary = primary; }

void ForgetPrimarySurface(const DDrawSurface* primary) {
  if (State().primary == primary) State().primary = nullptr;
}

bool IsShownPrimarySurface(const DDrawSurface* surface) { return surface != nullptr && State().primary == surface; }

const DDrawSurface* ShownPrimarySurface() { return State().primary; }

void CountPresentedFrame() { ++State().presentedFrames; }
