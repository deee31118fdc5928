#include "platform/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

#include "model/klvloader_test_support.h"
#include "platform/error.h"

namespace {

TEST(PngWriterTest, WritesXrgbRowsAsRgbAndHonoursThePitch) {
  TempFolder dir;
  const int width = 3, height = 2;
  const intptr_t pitch = 5 * 4;  // two unused words after each row
  std::vector<uint32_t> words(5 * height, 0xDEADBEEF);
  const uint32_t picture[2][3] = {{0x00FF0000, 0x0000FF00, 0x000000FF}, {0x00123456, 0xFF000000, 0x00FFFFFF}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) words[5 * y + x] = picture[y][x];
  const std::string file = dir.Prefix() + "p.png";
  WritePngXrgb32(file, reinterpret_cast<const uint8_t*>(words.data()), width, height, pitch);

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str()));
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u);
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[3 * (y * width + x)];
      EXPECT_EQ(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2], picture[y][x] & 0xFFFFFF) << x << "," << y;
    }
}

TEST(PngWriterTest, UnwritableFileAndBadSizesAreRefused) {
  const uint32_t pixel = 0;
  try {
    WritePngXrgb32("/nonexistent-folder/p.png", reinterpret_cast<const uint8_t*>(&pixel), 1, 1, 4);
    FAIL() << "wrote into a missing folder";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
  }
  EXPECT_THROW(WritePngXrgb32("x.png", reinterpret_cast<const uint8_t*>(&pixel), 0, 1, 4), KlvError);
  EXPECT_THROW(WritePngXrgb32("x.png", reinterpret_cast<const uint8_t*>(&pixel), 2, 1, 4), KlvError);
}

}  // namespace
