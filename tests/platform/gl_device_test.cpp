// The hardware Direct3D device on the GPU and the video-memory surfaces it uses: a draw lands in
// the GPU copy and a Lock reads it back (once); Unlock leaves the memory to be uploaded before the
// next GPU use; fills and plain blits between GPU surfaces stay on the GPU; a keyed blit runs on
// memory after reading both back; system-memory targets and Renderer=software keep the software
// rasteriser. Skipped where no GL context can be made.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ddraw_test_util.h"
#include "platform/dx5/d3d.h"
#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/gl_context.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/gl_raster.h"

namespace {

constexpr int kWidth = 32, kHeight = 24;
constexpr uint32_t kRed565 = 0xF800, kBlue565 = 0x001F, kGreen565 = 0x07E0;

class GlDeviceTest : public DDrawTest {
 protected:
  void SetUp() override {
    SetRenderer(KlvRenderer::Gl);
    if (DisplayGlRaster() == nullptr) GTEST_SKIP() << "no OpenGL context";
    DDrawTest::SetUp();
    ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d_)), DD_OK);
  }
  void TearDown() override {
    if (d3d_ != nullptr) d3d_->Release();
    DDrawTest::TearDown();
    SetRenderer(KlvRenderer::Auto);
  }

  IDirectDrawSurface* VideoSurface(DWORD extraCaps = DDSCAPS_3DDEVICE) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = kWidth;
    desc.dwHeight = kHeight;
    desc.ddpfPixelFormat = PixelFormatOf(SurfaceFormat::Rgb565);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY | extraCaps;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
  }

  // A full-target triangle pair of one colour, drawn by a hardware device on `target`.
  void DrawQuad(IDirectDrawSurface* target, D3DCOLOR color) {
    IDirect3DDevice2* device = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(IID_IDirect3DHALDevice, target, &device), D3D_OK);
    D3DTLVERTEX v[4] = {};
    const float xs[4] = {0, kWidth, kWidth, 0}, ys[4] = {0, 0, kHeight, kHeight};
    for (int i = 0; i < 4; ++i) {
      v[i].sx = xs[i];
      v[i].sy = ys[i];
      v[i].sz = 0.5f;
      v[i].rhw = 1.0f;
      v[i].color = color;
      v[i].specular = 0xFF000000u;
    }
    WORD indices[6] = {0, 1, 2, 0, 2, 3};
    device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, v, 4, indices, 6, 0), D3D_OK);
    device->EndScene();
    device->Release();
  }

  const GlCounters& Counters() { return DisplayGlRaster()->Api().counters; }

  IDirect3D2* d3d_ = nullptr;
};

TEST_F(GlDeviceTest, DrawingStaysOnTheGpuUntilALockReadsItBack) {
  IDirectDrawSurface* target = VideoSurface();
  DrawQuad(target, 0xFFFF0000u);
  EXPECT_TRUE(GlSurfaceOnGpu(target));
  const uint64_t readBacks = Counters().readBacks;
  EXPECT_EQ(ReadPixel(target, 5, 5), kRed565);
  EXPECT_EQ(Counters().readBacks, readBacks + 1);
  EXPECT_EQ(ReadPixel(target, 20, 20), kRed565);
  EXPECT_EQ(Counters().readBacks, readBacks + 1) << "the memory was up to date: no second read-back";

  // Written memory goes up before the next GPU operation: a GPU fill of half keeps the other half.
  const uint64_t uploads = Counters().textureUploads;
  WritePixel(target, 30, 2, kGreen565);
  RECT left{0, 0, kWidth / 2, kHeight};
  ASSERT_EQ(Fill(target, &left, kBlue565), DD_OK);
  EXPECT_EQ(Counters().textureUploads, uploads + 1);
  EXPECT_EQ(ReadPixel(target, 2, 2), kBlue565);
  EXPECT_EQ(ReadPixel(target, 30, 2), kGreen565);
  EXPECT_EQ(ReadPixel(target, 20, 20), kRed565);
  target->Release();
}

TEST_F(GlDeviceTest, BlitsBetweenGpuSurfacesStayOnTheGpuUnlessKeyed) {
  IDirectDrawSurface* source = VideoSurface();
  IDirectDrawSurface* dest = VideoSurface(0);
  DrawQuad(source, 0xFF0000FFu);
  const GlCounters before = Counters();
  ASSERT_EQ(dest->BltFast(0, 0, source, nullptr, DDBLTFAST_WAIT), DD_OK);
  EXPECT_TRUE(GlSurfaceOnGpu(dest));
  EXPECT_EQ(Counters().readBacks, before.readBacks);
  EXPECT_EQ(Counters().textureUploads, before.textureUploads);
  EXPECT_EQ(ReadPixel(dest, 3, 3), kBlue565);

  // A colour-keyed copy runs on memory: key blue, so nothing of the source lands.
  ASSERT_EQ(Fill(dest, nullptr, kGreen565), DD_OK);
  DDCOLORKEY key{kBlue565, kBlue565};
  ASSERT_EQ(source->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  ASSERT_EQ(dest->BltFast(0, 0, source, nullptr, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT), DD_OK);
  EXPECT_EQ(ReadPixel(dest, 3, 3), kGreen565);
  source->Release();
  dest->Release();
}

TEST_F(GlDeviceTest, SystemMemoryAndTheSoftwareRendererDrawInSoftware) {
  IDirectDrawSurface* system = MakeSurface(kWidth, kHeight, SurfaceFormat::Rgb565, DDSCAPS_3DDEVICE);
  DrawQuad(system, 0xFFFF0000u);
  EXPECT_FALSE(GlSurfaceOnGpu(system));
  EXPECT_EQ(ReadPixel(system, 5, 5), kRed565);
  system->Release();

  SetRenderer(KlvRenderer::Software);
  IDirectDrawSurface* video = VideoSurface();
  DrawQuad(video, 0xFFFF0000u);
  EXPECT_FALSE(GlSurfaceOnGpu(video));
  EXPECT_EQ(ReadPixel(video, 5, 5), kRed565);
  video->Release();
}

// Auto takes GL only where it runs on a GPU: a software OpenGL (llvmpipe here) would cost more CPU
// than the software rasteriser, so a window's context of that kind is refused too; Gl takes it.
TEST(GlRendererChoice, AutoLeavesASoftwareOpenGlAlone) {
  std::string error;
  std::unique_ptr<GlContext> probe = CreateHeadlessGlContext(&error);
  if (probe == nullptr) GTEST_SKIP() << "no OpenGL context: " << error;
  const bool software = DrawsInSoftware(*probe);

  SetRenderer(KlvRenderer::Auto);
  EXPECT_EQ(DisplayGlRaster() != nullptr, !software) << "a headless context";
  EXPECT_EQ(InstallGlContext(std::move(probe)), !software) << "a window's context";
  EXPECT_EQ(DisplayGlContext() != nullptr, !software);

  SetRenderer(KlvRenderer::Gl);
  EXPECT_TRUE(InstallGlContext(CreateHeadlessGlContext(&error)));
  EXPECT_NE(DisplayGlRaster(), nullptr);
  SetRenderer(KlvRenderer::Software);
  EXPECT_FALSE(InstallGlContext(CreateHeadlessGlContext(&error)));
  EXPECT_EQ(DisplayGlRaster(), nullptr);
  ReleaseGlDisplay();
  SetRenderer(KlvRenderer::Auto);
}

}  // namespace
