// The frames-per-second overlay: a counter and a 3 x 5 block font.
#include "shell/fps_overlay.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr int kGlyphWidth = 3, kGlyphHeight = 5;
constexpr int kMargin = 1;  // in glyph cells, around the text
// One cell is this many pixels per 240 rows of picture (at least 1).
constexpr int kRowsPerCellPixel = 240;
constexpr uint32_t kInk = 0x00FFFFFF, kPaper = 0x00000000;

// Rows of three bits, the leftmost column in bit 2.
struct Glyph {
  char letter;
  std::array<uint8_t, kGlyphHeight> rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'.', {0, 0, 0, 0, 2}}, {' ', {0, 0, 0, 0, 0}},
    {'F', {7, 4, 6, 4, 4}}, {'P', {7, 5, 7, 4, 4}}, {'S', {7, 4, 7, 1, 7}},
};

const Glyph* FindGlyph(char letter) {
  for (const Glyph& glyph : kGlyphs)
    if (glyph.letter == letter) return &glyph;
  return nullptr;
}

void FillCell(uint32_t* pixels, int width, int height, int pitch, int x0, int y0, int cell, uint32_t colour) {
  for (int y = y0; y < std::min(y0 + cell, height); ++y)
    for (int x = x0; x < std::min(x0 + cell, width); ++x) pixels[static_cast<size_t>(y) * pitch + x] = colour;
}

}  // namespace

void TFpsCounter::Frame(Clock::time_point now) {
  if (!started_) {
    started_ = true;
    since_ = now;
    frames_ = 0;
    return;
  }
  ++frames_;
  const double seconds = std::chrono::duration<double>(now - since_).count();
  if (seconds < 1.0) return;
  framesPerSecond_ = frames_ / seconds;
  frames_ = 0;
  since_ = now;
}

std::string FpsText(double framesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f FPS", std::clamp(framesPerSecond, 0.0, 9999.9));
  return text;
}

void DrawOverlayText(uint32_t* pixels, int width, int height, int pitch, const std::string& text) {
  const int cell = std::max(1, height / kRowsPerCellPixel);
  const int columns = static_cast<int>(text.size()) * (kGlyphWidth + 1) - 1 + 2 * kMargin;
  const int rows = kGlyphHeight + 2 * kMargin;
  for (int row = 0; row < rows; ++row)
    for (int column = 0; column < columns; ++column)
      FillCell(pixels, width, height, pitch, column * cell, row * cell, cell, kPaper);
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph* glyph = FindGlyph(text[i]);
    if (glyph == nullptr) continue;
    const int left = kMargin + static_cast<int>(i) * (kGlyphWidth + 1);
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int column = 0; column < kGlyphWidth; ++column)
        if (glyph->rows[row] >> (kGlyphWidth - 1 - column) & 1)
          FillCell(pixels, width, height, pitch, (left + column) * cell, (kMargin + row) * cell, cell, kInk);
  }
}
