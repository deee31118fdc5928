// Fitting pictures into window memory: rectangle, column map, rows.
#include "platform/win/picture_fit.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

uint32_t* RowAt(uint32_t* first, intptr_t pitch, int y) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(first) + y * pitch);
}

const uint32_t* RowAt(const uint32_t* first, intptr_t pitch, int y) {
  return reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(first) + y * pitch);
}

// The picture index (of `size`) under the centre of shown pixel `at` (of `shown`).
int SourceIndex(int at, int size, int shown) {
  return static_cast<int>((int64_t{2} * at + 1) * size / (int64_t{2} * shown));
}

void FillBlack(uint32_t* row, int count) {
  if (count > 0) std::memset(row, 0, static_cast<size_t>(count) * sizeof(uint32_t));
}

// Shown pixel x of a row takes picture pixel columns[x] of `in`.
void PickColumns(const uint32_t* in, const int* columns, int count, uint32_t* out) {
  for (int x = 0; x < count; ++x) out[x] = in[columns[x]];
}

#if defined(__x86_64__)
// The same, eight pixels to a hardware gather.
__attribute__((target("avx2"))) void PickColumnsAvx2(const uint32_t* in, const int* columns, int count, uint32_t* out) {
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_i32gather_epi32(reinterpret_cast<const int*>(in), index, 4));
  }
  PickColumns(in, columns + x, count - x, out + x);
}

// The same where each block of eight shown pixels takes its pixels from eight consecutive picture
// pixels, from starts[block] on: shown pixel x takes pixel offsets[x] of those, so a block is one
// load and one permute, which costs far less than a gather.
__attribute__((target("avx2"))) void PickBlocksAvx2(const uint32_t* in, const int* columns, const int* starts,
                                                    const int* offsets, int count, uint32_t* out) {
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + starts[x / 8]));
    const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permutevar8x32_epi32(block, pick));
  }
  PickColumns(in, columns + x, count - x, out + x);
}
#endif

}  // namespace

PictureRect FitPicture(int width, int height, int outWidth, int outHeight) {
  if (width <= 0 || height <= 0 || outWidth <= 0 || outHeight <= 0) return {};
  const double scale = std::min(static_cast<double>(outWidth) / width, static_cast<double>(outHeight) / height);
  PictureRect rect;
  rect.width = std::clamp(static_cast<int>(width * scale), 1, outWidth);
  rect.height = std::clamp(static_cast<int>(height * scale), 1, outHeight);
  rect.x = (outWidth - rect.width) / 2;
  rect.y = (outHeight - rect.height) / 2;
  return rect;
}

PictureFitter::PictureFitter() {
#if defined(__x86_64__)
  avx2_ = __builtin_cpu_supports("avx2");
#endif
}

void PictureFitter::MapColumns(int width, int shownWidth) {
  if (mappedWidth_ == width && static_cast<int>(columns_.size()) == shownWidth) return;
  columns_.resize(static_cast<size_t>(shownWidth));
  for (int x = 0; x < shownWidth; ++x) columns_[static_cast<size_t>(x)] = SourceIndex(x, width, shownWidth);
  mappedWidth_ = width;
  // Blocks of eight shown columns, each from the eight picture columns starting at its first one
  // (or, near the right edge, at the last eight), which holds wherever the picture is shown at
  // least at its size: the columns of a block then lie less than eight apart.
  blockStarts_.assign(static_cast<size_t>(shownWidth / kBlock), 0);
  offsets_.assign(static_cast<size_t>(shownWidth / kBlock * kBlock), 0);
  byBlocks_ = width >= kBlock;
  for (size_t block = 0; block < blockStarts_.size(); ++block) {
    const int start = std::min(columns_[block * kBlock], width - kBlock);
    blockStarts_[block] = start;
    for (size_t x = block * kBlock; x < (block + 1) * kBlock; ++x) {
      offsets_[x] = columns_[x] - start;
      byBlocks_ = byBlocks_ && offsets_[x] >= 0 && offsets_[x] < kBlock;
    }
  }
}

void PictureFitter::Fit(const uint32_t* pixels, int width, int height, intptr_t pitch, uint32_t* out, int outWidth,
                        int outHeight, intptr_t outPitch) {
  const PictureRect rect = FitPicture(width, height, outWidth, outHeight);
  if (rect.width == 0) return;
  MapColumns(width, rect.width);
  const Layout layout{out, outWidth, outHeight, outPitch, rect};
  const bool bars = !(layout == barsIn_);
  barsIn_ = layout;
  const size_t shownBytes = static_cast<size_t>(rect.width) * sizeof(uint32_t);
  int lastSource = -1;
  for (int y = 0; y < outHeight; ++y) {
    uint32_t* row = RowAt(out, outPitch, y);
    if (y < rect.y || y >= rect.y + rect.height) {
      if (bars) FillBlack(row, outWidth);
      continue;
    }
    if (bars) {
      FillBlack(row, rect.x);
      FillBlack(row + rect.x + rect.width, outWidth - rect.x - rect.width);
    }
    uint32_t* shown = row + rect.x;
    const int source = SourceIndex(y - rect.y, height, rect.height);
    if (source == lastSource) {  // a row shown twice is copied from the one just written
      std::memcpy(shown, RowAt(out, outPitch, y - 1) + rect.x, shownBytes);
      continue;
    }
    lastSource = source;
    const uint32_t* in = RowAt(pixels, pitch, source);
    if (rect.width == width) {
      std::memcpy(shown, in, shownBytes);
      continue;
    }
#if defined(__x86_64__)
    if (avx2_ && byBlocks_) {
      PickBlocksAvx2(in, columns_.data(), blockStarts_.data(), offsets_.data(), rect.width, shown);
      continue;
    }
    if (avx2_) {
      PickColumnsAvx2(in, columns_.data(), rect.width, shown);
      continue;
    }
#endif
    PickColumns(in, columns_.data(), rect.width, shown);
  }
}
