// The whole saver on the GL device, without a display: an EGL pbuffer stands in for the window.
// After the first frame a frame moves no pixels between memory and GPU (no texture upload, no
// read-back: the picture goes from the render target to the back buffer, is flipped and shown on
// the GPU); frames change; and every pixel of every frame is drawn (a canary colour filled into the
// render target before each frame is gone from the shown picture). A PNG of the last frame is left
// beside the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dx5/ddraw.h"
#include "platform/dx5/gl_display.h"
#include "platform/png_writer.h"
#include "shell/saver_fixture.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr DWORD kStepMs = 16;
constexpr uint32_t kCanary = 0xFF00FF;  // magenta: 0xF81F in 5-6-5, in none of the data set's colours

class GlSaverTest : public SaverTest {
 protected:
  void SetUp() override {
    SaverTest::SetUp();
    std::string error;
    auto context = CreateOffscreenWindowGlContext(kWidth, kHeight, &error);
    if (context == nullptr) GTEST_SKIP() << "no OpenGL context: " << error;
    context_ = context.get();
    SetRenderer(KlvRenderer::Gl);
    InstallGlContext(std::move(context));
  }

  void TearDown() override {
    SaverTest::TearDown();
    ReleaseGlDisplay();
    SetRenderer(KlvRenderer::Auto);
  }

  // One step of the saver: the clock moves and the draw handler runs.
  void Frame() {
    now += kStepMs;
    saver->KlvMLoop1Calc();
  }

  // The shown picture (framebuffer 0, the stand-in window) as 0x00RRGGBB rows, top row first.
  std::vector<uint32_t> Shown() {
    GlApi& gl = context_->Api();
    std::vector<uint32_t> rows(size_t(kWidth) * kHeight), picture(rows.size());
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    gl.ReadBuffer(GL_BACK);
    gl.ReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        picture[size_t(y) * kWidth + x] = rows[size_t(kHeight - 1 - y) * kWidth + x] & 0xFFFFFFu;
    return picture;
  }

  void FillRenderTarget(DWORD value) {
    DDBLTFX fx{};
    fx.dwSize = kDDBltFxSize;
    fx.dwFillColor = value;
    ASSERT_EQ(saver->KalvorRM1.BackSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  }

  GlContext* context_ = nullptr;
};

TEST_F(GlSaverTest, FramesAfterTheFirstStayOnTheGpuAndCoverThePicture) {
  Start("/s");
  ASSERT_TRUE(DisplayUp());
  ASSERT_TRUE(KalvorRMUnit.HardwareDevice);
  Frame();
  ASSERT_GE(saver->PresentCount, 1u);
  const GlCounters first = context_->Api().counters;
  ASSERT_GT(first.calls, 0u) << "the frame was not drawn through GL";
  const std::vector<uint32_t> before = Shown();

  constexpr int kFrames = 40;
  int uncovered = 0;
  for (int i = 0; i < kFrames; ++i) {
    FillRenderTarget(0xF81F);
    Frame();
    const std::vector<uint32_t> picture = Shown();
    int canaries = 0;
    for (uint32_t p : picture) canaries += p == kCanary;
    if (canaries > 0 && ++uncovered <= 3) ADD_FAILURE() << "frame " << i << ": " << canaries << " pixels not drawn";
  }
  const GlCounters& after = context_->Api().counters;
  EXPECT_EQ(after.textureUploads, first.textureUploads);
  EXPECT_EQ(after.uploadBytes, first.uploadBytes);
  EXPECT_EQ(after.readBacks, first.readBacks);
  EXPECT_GE(saver->PresentCount, uint64_t{kFrames} + 1);
  std::printf("per frame: %.1f GL calls, %.0f vertex bytes\n", double(after.calls - first.calls) / kFrames,
              double(after.vertexBytes - first.vertexBytes) / kFrames);

  const std::vector<uint32_t> last = Shown();
  EXPECT_NE(last, before) << "the picture did not change in " << kFrames << " frames";
  WritePngXrgb32(std::string(KLV_TEST_BIN_DIR) + "/gl_saver_last_frame.png",
                 reinterpret_cast<const uint8_t*>(last.data()), kWidth, kHeight, kWidth * 4);
}

// A context that goes away while the saver runs (its window destroyed, the driver gone) leaves the
// device drawing nothing on the GPU; the saver goes on and ends normally.
TEST_F(GlSaverTest, LosingTheContextMidRunEndsCleanly) {
  Start("/s");
  ASSERT_TRUE(DisplayUp());
  for (int i = 0; i < 3; ++i) Frame();
  InstallGlContext(nullptr);
  context_ = nullptr;
  const uint64_t presented = saver->PresentCount;
  for (int i = 0; i < 5; ++i) Frame();
  EXPECT_GT(saver->PresentCount, presented);
  EXPECT_EQ(DisplayGlRaster(), nullptr) << "no headless context replaces the window's";
  saver->KlvMLoop1Term();
  application->Close();
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
