// Showing a picture of 0x00RRGGBB words in a window of another size the way the GPU renderers
// show it: the largest rectangle of the picture's shape that fits, centred, with black bars
// around it, each window pixel taking the picture pixel under its centre (nearest, no blending).
// The SDL window uses it where it writes pictures into the window's own memory.
#pragma once

#include <cstdint>
#include <vector>

// Where a picture goes in a window: its rectangle in window pixels.
struct PictureRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The largest rectangle of a width x height picture's shape that fits an outWidth x outHeight
// window, centred (all 0 when either size is below 1).
PictureRect FitPicture(int width, int height, int outWidth, int outHeight);

// Fits pictures into window memory. It keeps, from one picture to the next of the same sizes,
// which picture column each window column shows, so a frame allocates nothing, and where it last
// painted the bars: window memory keeps what is written to it, so bars painted once stay black
// while pictures of the same sizes follow in the same memory, and only the picture's rows are
// written again.
class PictureFitter {
 public:
  PictureFitter();

  // Writes the width x height picture at `pixels` (pitch bytes from row to row) fitted into the
  // outWidth x outHeight window memory at `out` (outPitch bytes from row to row), with the bars
  // unless the last call painted them in the same memory for the same sizes.
  void Fit(const uint32_t* pixels, int width, int height, intptr_t pitch, uint32_t* out, int outWidth, int outHeight,
           intptr_t outPitch);

  // Paints the bars again at the next Fit: the window memory was made again, or something other
  // than this fitter has written to it.
  void Forget() { barsIn_ = {}; }

 private:
  // Window memory and the picture rectangle in it.
  struct Layout {
    const uint32_t* out = nullptr;
    int outWidth = 0, outHeight = 0;
    intptr_t outPitch = 0;
    PictureRect rect;
    bool operator==(const Layout& other) const {
      return out == other.out && outWidth == other.outWidth && outHeight == other.outHeight &&
             outPitch == other.outPitch && rect.x == other.rect.x && rect.y == other.rect.y &&
             rect.width == other.rect.width && rect.height == other.rect.height;
    }
  };

  void MapColumns(int width, int shownWidth);

  static constexpr int kBlock = 8;  // shown columns picked at once

  std::vector<int> columns_;  // the picture column of each shown column
  int mappedWidth_ = 0;       // the picture width columns_ was made for
  // Where every block of kBlock shown columns (the last few columns are in none) takes its pixels
  // from, when byBlocks_: from kBlock picture columns starting at blockStarts_[block], shown column
  // x taking column offsets_[x] of them.
  std::vector<int> blockStarts_, offsets_;
  bool byBlocks_ = false;
  bool avx2_ = false;  // the processor gathers and permutes eight words at once
  Layout barsIn_;      // where the bars were last painted; out is null when nowhere
};
