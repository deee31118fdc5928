// From the stored device choice to a picture: SelectDevices brings up a full-screen owner display
// and a 640 x 480 Direct3D component, a triangle drawn through the device reaches the virtual
// display after Copy and OnFlip, and the releases leave nothing behind (the sanitizer build checks
// for leaks).
#include "display_fixture.h"

#include "display/klvenumwin.h"
#include "platform/dx5/virtual_display.h"

namespace {

D3DTLVERTEX Vertex(float x, float y) { return D3DTLVERTEX{x, y, 0.5f, 1.0f, 0xFFFF0000u, 0xFF000000u, 0, 0}; }

TEST_F(DisplayTest, ATriangleDrawnThroughTheDeviceAppearsOnTheDisplay) {
  TKalvorG owner(&form);
  TKalvorRM rm(&form);
  owner.SetFullScreen(true);
  ASSERT_TRUE(SelectDevices(kSelectStored));
  ASSERT_NE(rm.D3DDevice, nullptr);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  rm.BackSurface->GetSurfaceDesc(&desc);
  EXPECT_EQ(desc.dwWidth, 640u);
  EXPECT_EQ(desc.dwHeight, 480u);

  // A viewport over the whole component clears the depth buffer, as the renderer does each frame.
  IDirect3DViewport2* viewport = nullptr;
  ASSERT_EQ(KalvorRMUnit.D3D->CreateViewport(&viewport, nullptr), D3D_OK);
  ASSERT_EQ(rm.D3DDevice->AddViewport(viewport), D3D_OK);
  D3DVIEWPORT2 area{sizeof(D3DVIEWPORT2), 0, 0, 640, 480, -1.0f, 1.0f, 2.0f, 2.0f, 0.0f, 1.0f};
  viewport->SetViewport2(&area);
  rm.D3DDevice->SetCurrentViewport(viewport);
  D3DRECT whole{0, 0, 640, 480};
  ASSERT_EQ(viewport->Clear(1, &whole, D3DCLEAR_ZBUFFER), D3D_OK);
  rm.Clear();
  rm.D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  D3DTLVERTEX vertices[] = {Vertex(100, 100), Vertex(300, 100), Vertex(200, 300)};
  WORD indices[] = {0, 1, 2};
  ASSERT_EQ(rm.D3DDevice->BeginScene(), D3D_OK);
  ASSERT_EQ(rm.D3DDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, vertices, 3, indices, 3, D3DDP_WAIT),
            D3D_OK);
  ASSERT_EQ(rm.D3DDevice->EndScene(), D3D_OK);
  owner.Copy(0, 0, rm.BackSurface, RECT{0, 0, rm.Width, rm.Height}, false);
  owner.OnFlip();

  std::vector<uint32_t> screen;
  int width = 0, height = 0;
  ASSERT_TRUE(FrontBufferToXrgb(screen, width, height));
  ASSERT_EQ(width, 640);
  const uint32_t inside = screen[166 * width + 200];
  EXPECT_GE(inside >> 16, 0xF8u);
  EXPECT_EQ(inside & 0xFFFF, 0u);
  EXPECT_EQ(screen[50 * width + 200], 0u);
  EXPECT_EQ(screen[166 * width + 320], 0u);

  rm.D3DDevice->DeleteViewport(viewport);
  viewport->Release();
  rm.RmRelease();
  owner.DDrelease();
  EXPECT_EQ(rm.D3DDevice, nullptr);
  EXPECT_EQ(rm.BackSurface, nullptr);
  EXPECT_EQ(KalvorRMUnit.D3D, nullptr);
  EXPECT_EQ(KalvorGUnit.DirectDraw, nullptr);
  EXPECT_EQ(KalvorGUnit.PrimarySurface, nullptr);
}

}  // namespace
