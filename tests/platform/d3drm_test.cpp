// Retained mode: the object creation the device component does, frame poses and motion, the
// viewport's immediate-mode viewport, and the refusals of the parts that read no files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/dx5/d3drm.h"

namespace {

class D3DRMTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IDirect3DRM* rm1 = nullptr;
    ASSERT_EQ(Direct3DRMCreate(&rm1), 0);
    ASSERT_EQ(rm1->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&rm_)), S_OK);
    rm1->Release();
  }
  void TearDown() override { rm_->Release(); }

  IDirect3DRMFrame2* Frame(IDirect3DRMFrame* parent) {
    IDirect3DRMFrame2* frame = nullptr;
    EXPECT_EQ(rm_->CreateFrame(parent, &frame), 0);
    return frame;
  }

  IDirect3DRM2* rm_ = nullptr;
};

TEST_F(D3DRMTest, PositionsAreRelativeToTheReferenceFrame) {
  IDirect3DRMFrame2* scene = Frame(nullptr);
  IDirect3DRMFrame2* camera = Frame(scene);
  IDirect3DRMFrame2* child = Frame(camera);
  ASSERT_EQ(scene->SetPosition(nullptr, 1, 2, 3), 0);
  ASSERT_EQ(camera->SetPosition(scene, 0, 0, -10), 0);
  ASSERT_EQ(child->SetPosition(scene, 0, 0, 0), 0);
  float xyz[3];
  ASSERT_EQ(child->GetPosition(camera, xyz), 0);
  EXPECT_FLOAT_EQ(xyz[2], 10.0f);
  ASSERT_EQ(camera->GetPosition(nullptr, xyz), 0);
  EXPECT_FLOAT_EQ(xyz[0], 1.0f);
  EXPECT_FLOAT_EQ(xyz[2], -7.0f);
  float m[16];
  camera->GetTransform(m);
  EXPECT_FLOAT_EQ(m[14], -10.0f);
  child->Release();
  camera->Release();
  scene->Release();
}

TEST_F(D3DRMTest, OrientationAndRotationTurnTheAxes) {
  IDirect3DRMFrame2* scene = Frame(nullptr);
  IDirect3DRMFrame2* frame = Frame(scene);
  ASSERT_EQ(frame->SetOrientation(scene, 1, 0, 0, 0, 1, 0), 0);
  float m[16];
  frame->GetTransform(m);
  EXPECT_NEAR(m[8], 1.0f, 1e-6);   // z axis along +x
  EXPECT_NEAR(m[5], 1.0f, 1e-6);   // y axis up
  EXPECT_NEAR(m[2], -1.0f, 1e-6);  // x axis = y cross z
  EXPECT_NE(frame->SetOrientation(scene, 0, 0, 0, 0, 1, 0), 0) << "no direction";

  // A quarter turn per Move about y, applied twice, then stopped: z ends up along -x.
  ASSERT_EQ(frame->SetPosition(scene, 5, 0, 0), 0);
  ASSERT_EQ(frame->SetRotation(scene, 0, 1, 0, 0.78539816f), 0);
  scene->Move(2.0f);
  frame->SetRotation(scene, 0, 1, 0, 0);
  scene->Move(1.0f);
  frame->GetTransform(m);
  EXPECT_NEAR(std::fabs(m[8]), 0.0f, 1e-5);
  EXPECT_NEAR(std::fabs(m[10]), 1.0f, 1e-5);
  EXPECT_FLOAT_EQ(m[12], 5.0f) << "turning leaves the position";
  frame->Release();
  scene->Release();
}

TEST_F(D3DRMTest, LightsKeepTheirTypeAndColour) {
  IDirect3DRMLight* light = nullptr;
  ASSERT_EQ(rm_->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, 0.7f, 0.7f, 0.7f, &light), 0);
  EXPECT_EQ(light->GetType(), D3DRMLIGHT_DIRECTIONAL);
  EXPECT_EQ(light->GetColor(), 0xFFB3B3B3u);
  IDirect3DRMFrame2* frame = Frame(nullptr);
  EXPECT_EQ(frame->AddLight(light), 0);
  light->Release();
  frame->Release();
}

TEST_F(D3DRMTest, FilesItDoesNotReadAreRefused) {
  IDirect3DRMMeshBuilder2* builder = nullptr;
  ASSERT_EQ(rm_->CreateMeshBuilder(&builder), 0);
  char missing[] = "/nonexistent/mesh.x";
  EXPECT_EQ(builder->Load(missing, nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr), D3DRMERR_FILENOTFOUND);
  std::string path = ::testing::TempDir() + "d3drm_test_not_a_mesh.bin";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("not a mesh or a bitmap", file);
  std::fclose(file);
  char* present = path.data();
  EXPECT_EQ(builder->Load(present, nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr), D3DRMERR_BADFILE);
  IDirect3DRMTexture* texture = nullptr;
  EXPECT_EQ(rm_->LoadTexture(missing, &texture), D3DRMERR_FILENOTFOUND);
  EXPECT_EQ(rm_->LoadTexture(present, &texture), D3DRMERR_BADFILE);
  EXPECT_EQ(texture, nullptr);

  IDirect3DRMMesh* mesh = nullptr;
  ASSERT_EQ(builder->CreateMesh(&mesh), 0);
  EXPECT_EQ(mesh->GetGroupCount(), 0u);
  IDirect3DRMWrap* wrap = nullptr;
  ASSERT_EQ(rm_->CreateWrap(D3DRMWRAP_CHROME, nullptr, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 1, &wrap), 0);
  EXPECT_EQ(wrap->Apply(mesh), 0);
  EXPECT_EQ(wrap->Apply(builder), 0);
  IDirect3DRMFrame2* frame = Frame(nullptr);
  EXPECT_EQ(wrap->Apply(frame), D3DRMERR_BADOBJECT);
  EXPECT_EQ(frame->AddVisual(mesh), 0);
  EXPECT_EQ(frame->DeleteVisual(mesh), 0);
  EXPECT_EQ(frame->DeleteVisual(mesh), D3DRMERR_NOTFOUND);
  EXPECT_NE(rm_->CreateWrap(7, nullptr, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 1, &wrap), 0);
  frame->Release();
  wrap->Release();
  mesh->Release();
  builder->Release();
  std::remove(path.c_str());
}

// The viewport built on a Direct3D device hands out the immediate-mode viewport that clears it.
TEST_F(D3DRMTest, ViewportHandsOutTheImmediateModeViewportOfItsDevice) {
  IDirectDraw* dd1 = nullptr;
  ASSERT_EQ(DirectDrawCreate(nullptr, &dd1, nullptr), DD_OK);
  IDirectDraw2* dd = nullptr;
  dd1->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd));
  dd1->Release();
  IDirect3D2* d3d = nullptr;
  ASSERT_EQ(dd->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d)), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  desc.dwWidth = 4;
  desc.dwHeight = 4;
  desc.ddpfPixelFormat = {sizeof(DDPIXELFORMAT), DDPF_RGB, 0, {32}, 0xFF0000, 0xFF00, 0xFF, 0};
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_SYSTEMMEMORY;
  IDirectDrawSurface* target = nullptr;
  ASSERT_EQ(dd->CreateSurface(&desc, &target, nullptr), DD_OK);
  IDirect3DDevice2* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &device), D3D_OK);

  IDirect3DRMDevice2* rmDevice = nullptr;
  ASSERT_EQ(rm_->CreateDeviceFromD3D(d3d, device, &rmDevice), 0);
  EXPECT_EQ(rmDevice->SetBufferCount(2), 0);
  EXPECT_EQ(rmDevice->GetBufferCount(), 2u);
  IDirect3DRMFrame2* scene = Frame(nullptr);
  IDirect3DRMFrame2* camera = Frame(scene);
  IDirect3DRMViewport* viewport = nullptr;
  ASSERT_EQ(rm_->CreateViewport(rmDevice, camera, 0, 0, 4, 4, &viewport), 0);
  EXPECT_EQ(viewport->SetBack(5000.0f), 0);
  EXPECT_FLOAT_EQ(viewport->GetBack(), 5000.0f);
  EXPECT_EQ(viewport->Render(scene), 0);

  IDirect3DViewport* immediate = nullptr;
  ASSERT_EQ(viewport->GetDirect3DViewport(&immediate), 0);
  IDirect3DViewport2* immediate2 = nullptr;
  ASSERT_EQ(immediate->QueryInterface(IID_IDirect3DViewport2, reinterpret_cast<void**>(&immediate2)), S_OK);
  D3DVIEWPORT2 rect{44, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(immediate2->GetViewport2(&rect), D3D_OK);
  EXPECT_EQ(rect.dwWidth, 4u);
  ASSERT_EQ(device->SetCurrentViewport(immediate2), D3D_OK);
  D3DRECT all{0, 0, 4, 4};
  EXPECT_EQ(immediate2->Clear(1, &all, D3DCLEAR_TARGET), D3D_OK) << "the viewport draws on the device";
  immediate2->Release();
  immediate->Release();

  viewport->Release();
  camera->Release();
  scene->Release();
  rmDevice->Release();
  device->Release();
  target->Release();
  d3d->Release();
  dd->Release();
}

}  // namespace
