// Fitting a picture into window memory: the rectangle kept in the picture's shape and centred,
// each window pixel taking the picture pixel under its centre, black bars over whatever the memory
// held, and nothing written past a row's pixels into the pitch's spare bytes.
#include "platform/win/picture_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEFu;

// Window memory of width x height words with `spare` extra words per row, all kUntouched.
struct WindowMemory {
  WindowMemory(int w, int h, int spare = 0)
      : width(w), height(h), stride(w + spare), words(static_cast<size_t>(stride) * h, kUntouched) {}
  uint32_t At(int x, int y) const { return words[static_cast<size_t>(y * stride + x)]; }
  intptr_t Pitch() const { return intptr_t{stride} * 4; }
  int width, height, stride;
  std::vector<uint32_t> words;
};

// A picture whose pixel (x, y) holds 0x00YYXX + 0x010101, never black.
std::vector<uint32_t> NumberedPicture(int width, int height) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(0x010101u + (static_cast<uint32_t>(y) << 8) + x);
  return pixels;
}

uint32_t Numbered(int x, int y) { return 0x010101u + (static_cast<uint32_t>(y) << 8) + x; }

void Fit(PictureFitter& fitter, const std::vector<uint32_t>& picture, int width, int height, WindowMemory& out) {
  fitter.Fit(picture.data(), width, height, intptr_t{width} * 4, out.words.data(), out.width, out.height, out.Pitch());
}

TEST(PictureFit, TheRectangleKeepsThePicturesShapeAndIsCentred) {
  auto expect = [](PictureRect r, int x, int y, int w, int h) {
    EXPECT_EQ(r.x, x);
    EXPECT_EQ(r.y, y);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
  };
  expect(FitPicture(640, 480, 1024, 768), 0, 0, 1024, 768);
  expect(FitPicture(640, 480, 1280, 720), 160, 0, 960, 720);  // bars left and right
  expect(FitPicture(640, 480, 1920, 1200), 160, 0, 1600, 1200);
  expect(FitPicture(1920, 1080, 640, 480), 0, 60, 640, 360);  // smaller, bars above and below
  expect(FitPicture(1, 1000, 50, 50), 24, 0, 1, 50);          // never narrower than a pixel
  expect(FitPicture(0, 480, 1024, 768), 0, 0, 0, 0);
  expect(FitPicture(640, 480, 1024, -1), 0, 0, 0, 0);
}

TEST(PictureFit, WindowPixelsTakeThePicturePixelUnderTheirCentre) {
  PictureFitter fitter;
  const std::vector<uint32_t> picture = NumberedPicture(4, 4);
  WindowMemory same(4, 4, 3);
  Fit(fitter, picture, 4, 4, same);
  WindowMemory doubled(10, 10);  // ten columns: eight to a vector and two more
  Fit(fitter, NumberedPicture(5, 5), 5, 5, doubled);
  WindowMemory halved(2, 2);
  Fit(fitter, picture, 4, 4, halved);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(same.At(x, y), Numbered(x, y)) << x << "," << y;
    for (int x = 4; x < 7; ++x) EXPECT_EQ(same.At(x, y), kUntouched) << "spare word " << x << "," << y;
  }
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(doubled.At(x, y), Numbered(x / 2, y / 2)) << x << "," << y;
  // Window pixel 0 of 2 has its centre over picture pixel 1 of 4, pixel 1 over picture pixel 3.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(halved.At(x, y), Numbered(2 * x + 1, 2 * y + 1)) << x << "," << y;
}

// Rows of eight pixels and more, picked a block of eight at a time: pictures shown larger by
// whole and by uneven factors (blocks near the right edge included), at their own width, and
// smaller, with rows shorter than a whole number of blocks and spare words after each row.
TEST(PictureFit, WideRowsTakeThePicturePixelUnderTheirCentre) {
  struct Case {
    int width, height, outWidth, outHeight;
  };
  PictureFitter fitter;  // one fitter for all, as sizes change in a window
  for (const Case& c : {Case{20, 4, 45, 9}, Case{37, 3, 100, 9}, Case{8, 2, 64, 16}, Case{9, 1, 10, 1},
                        Case{200, 10, 250, 13}, Case{30, 2, 30, 2}, Case{40, 4, 24, 3}, Case{160, 2, 17, 1}}) {
    WindowMemory out(c.outWidth, c.outHeight, 3);
    Fit(fitter, NumberedPicture(c.width, c.height), c.width, c.height, out);
    const PictureRect rect = FitPicture(c.width, c.height, c.outWidth, c.outHeight);
    for (int y = 0; y < c.outHeight; ++y) {
      for (int x = 0; x < c.outWidth; ++x) {
        const bool inside = x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
        const int pictureX = (2 * (x - rect.x) + 1) * c.width / (2 * rect.width);
        const int pictureY = (2 * (y - rect.y) + 1) * c.height / (2 * rect.height);
        ASSERT_EQ(out.At(x, y), inside ? Numbered(pictureX, pictureY) : 0u)
            << c.width << "x" << c.height << " in " << c.outWidth << "x" << c.outHeight << " at " << x << "," << y;
      }
      for (int x = c.outWidth; x < out.stride; ++x) ASSERT_EQ(out.At(x, y), kUntouched) << "spare word " << x;
    }
  }
}

TEST(PictureFit, BarsAreBlackOverWhateverTheMemoryHeld) {
  PictureFitter fitter;
  WindowMemory wide(6, 2, 1);  // a 2 x 2 picture shows as 2 x 2 in the middle of 6 x 2
  Fit(fitter, NumberedPicture(2, 2), 2, 2, wide);
  WindowMemory tall(2, 4);  // a 2 x 1 picture shows as 2 x 1 on rows 1 and 2 of 2 x 4, scaled 1x
  Fit(fitter, NumberedPicture(2, 1), 2, 1, tall);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(wide.At(x, y), x >= 2 && x < 4 ? Numbered(x - 2, y) : 0u) << x << "," << y;
    EXPECT_EQ(wide.At(6, y), kUntouched);
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(tall.At(x, y), y == 1 ? Numbered(x, 0) : 0u) << x << "," << y;
}

TEST(PictureFit, BarsArePaintedAgainWhereTheyMayNoLongerBeBlack) {
  PictureFitter fitter;
  WindowMemory memory(6, 2);  // a 2 x 2 picture shows as 2 x 2 in the middle of 6 x 2
  auto scribble = [&memory] { std::fill(memory.words.begin(), memory.words.end(), kUntouched); };
  auto barsBlack = [&memory](int first, int last) {  // columns first..last are picture, the rest bars
    for (int y = 0; y < memory.height; ++y)
      for (int x = 0; x < memory.width; ++x)
        if (x < first || x > last) {
          EXPECT_EQ(memory.At(x, y), 0u) << x << "," << y;
        }
  };
  Fit(fitter, NumberedPicture(2, 2), 2, 2, memory);
  // The same memory and sizes again: the picture's pixels are new, the bars stay as painted.
  std::vector<uint32_t> other = NumberedPicture(2, 2);
  for (uint32_t& pixel : other) pixel ^= 0x800000u;
  Fit(fitter, other, 2, 2, memory);
  EXPECT_EQ(memory.At(2, 0), other[0]);
  EXPECT_EQ(memory.At(3, 1), other[3]);
  barsBlack(2, 3);
  // After Forget, and after a picture of another shape in the same memory, the bars are painted.
  scribble();
  fitter.Forget();
  Fit(fitter, NumberedPicture(2, 2), 2, 2, memory);
  barsBlack(2, 3);
  Fit(fitter, NumberedPicture(1, 2), 1, 2, memory);  // 1 x 2 shows as 1 x 2 at column 2
  barsBlack(2, 2);
  // The same memory taken as a window of other sizes (window memory made again at the same place).
  scribble();
  WindowMemory narrower(4, 2);
  narrower.words.swap(memory.words);  // the same words, now 4 wide
  Fit(fitter, NumberedPicture(1, 2), 1, 2, narrower);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(narrower.At(x, y), x == 1 ? Numbered(0, y) : 0u) << x << "," << y;
}

TEST(PictureFit, AFitterServesPicturesOfChangingSizes) {
  // The column map kept from one size must not leak into the next.
  PictureFitter kept;
  WindowMemory first(9, 9), second(9, 9), fresh(9, 9);
  Fit(kept, NumberedPicture(3, 3), 3, 3, first);
  Fit(kept, NumberedPicture(2, 1), 2, 1, second);  // 9 x 4 at row 2
  PictureFitter another;
  Fit(another, NumberedPicture(2, 1), 2, 1, fresh);
  EXPECT_EQ(second.words, fresh.words);
  EXPECT_EQ(first.At(8, 8), Numbered(2, 2));
  EXPECT_EQ(second.At(8, 2), Numbered(1, 0));
  EXPECT_EQ(second.At(0, 5), Numbered(0, 0));
  EXPECT_EQ(second.At(0, 1), 0u);
  EXPECT_EQ(second.At(8, 6), 0u);
}

}  // namespace
