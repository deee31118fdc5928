// The process's one virtual display (see virtual_display.h). Its state is process-wide because the
// display is: every DirectDraw object and the window backend see the same screen.
#include "platform/dx5/virtual_display.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/ddraw_objects.h"
#include "platform/win/gdi_pixels.h"

namespace {

#if defined(__SSE2__)
// Sixteen pixels per step with AVX2, where the processor has it; the same arithmetic as below.
__attribute__((target("avx2"))) int Row565ToXrgbAvx2(const uint8_t* src, int count, uint32_t* out) {
  const __m256i low5 = _mm256_set1_epi16(0x1F), low6 = _mm256_set1_epi16(0x3F);
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i));
    const __m256i r = _mm256_srli_epi16(p, 11);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi16(p, 5), low6);
    const __m256i b = _mm256_and_si256(p, low5);
    const __m256i r8 = _mm256_or_si256(_mm256_slli_epi16(r, 3), _mm256_srli_epi16(r, 2));
    const __m256i g8 = _mm256_or_si256(_mm256_slli_epi16(g, 2), _mm256_srli_epi16(g, 4));
    const __m256i b8 = _mm256_or_si256(_mm256_slli_epi16(b, 3), _mm256_srli_epi16(b, 2));
    const __m256i gb = _mm256_or_si256(_mm256_slli_epi16(g8, 8), b8);
    // Unpacking works within 128-bit halves: pixels 0-3 and 8-11, then 4-7 and 12-15.
    const __m256i low = _mm256_unpacklo_epi16(gb, r8), high = _mm256_unpackhi_epi16(gb, r8);
    auto* at = reinterpret_cast<__m256i*>(out + i);
    _mm256_storeu_si256(at, _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(at + 1, _mm256_permute2x128_si256(low, high, 0x31));
  }
  return i;
}
#endif

// One row of 5-6-5 pixels as 0x00RRGGBB words, widened as RowToXrgb widens them (the top bits
// repeated into the low ones), eight or sixteen pixels per step where SSE2 or AVX2 is there.
void Row565ToXrgb(const uint8_t* src, int count, uint32_t* out, bool avx2) {
  int i = 0;
#if defined(__SSE2__)
  if (avx2) i = Row565ToXrgbAvx2(src, count, out);
  const __m128i low5 = _mm_set1_epi16(0x1F), low6 = _mm_set1_epi16(0x3F);
  for (; i + 8 <= count; i += 8) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
    const __m128i r = _mm_srli_epi16(p, 11);
    const __m128i g = _mm_and_si128(_mm_srli_epi16(p, 5), low6);
    const __m128i b = _mm_and_si128(p, low5);
    const __m128i r8 = _mm_or_si128(_mm_slli_epi16(r, 3), _mm_srli_epi16(r, 2));
    const __m128i g8 = _mm_or_si128(_mm_slli_epi16(g, 2), _mm_srli_epi16(g, 4));
    const __m128i b8 = _mm_or_si128(_mm_slli_epi16(b, 3), _mm_srli_epi16(b, 2));
    const __m128i gb = _mm_or_si128(_mm_slli_epi16(g8, 8), b8);
    auto* at = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(at, _mm_unpacklo_epi16(gb, r8));
    _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(gb, r8));
  }
#else
  (void)avx2;
#endif
  if (i < count) RowToXrgb(GdiFormat::Rgb565, src + 2 * i, count - i, nullptr, out + i);
}

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
  GlBringToMemory(*primary);  // a picture drawn on the GPU is read back first
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

bool FrontBufferToXrgb(std::vector<uint32_t>& pixels, int& width, int& height) {
  const DisplayView view = FrontBufferView();
  if (view.pixels == nullptr) return false;
  width = view.width;
  height = view.height;
  pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
#if defined(__SSE2__)
  const bool avx2 = __builtin_cpu_supports("avx2");
#else
  const bool avx2 = false;
#endif
  for (int y = 0; y < height; ++y) {
    uint32_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    if (view.format == GdiFormat::Rgb565)
      Row565ToXrgb(view.pixels + y * view.pitch, width, row, avx2);
    else
      RowToXrgb(view.format, view.pixels + y * view.pitch, width, view.palette, row);
  }
  return true;
}

void ShowPrimarySurface(const DDrawSurface* primary) { State().primary = primary; }

void ForgetPrimarySurface(const DDrawSurface* primary) {
  if (State().primary == primary) State().primary = nullptr;
}

bool IsShownPrimarySurface(const DDrawSurface* surface) { return surface != nullptr && State().primary == surface; }

const DDrawSurface* ShownPrimarySurface() { return State().primary; }

void CountPresentedFrame() { ++State().presentedFrames; }
