// A textured cube loaded from a model file, drawn by the renderer through the device components
// onto the software rasteriser's 16-bit back surface: chosen pixels are checked exactly.
#include <gtest/gtest.h>

#include <array>

#include "display/component.h"
#include "display/kalvorrm.h"
#include "model/klvloader.h"
#include "model/klvloader_test_support.h"
#include "model/klvwriter.h"
#include "platform/dx5/virtual_display.h"
#include "render/framedraw.h"
#include "render/viewcontext.h"
#include "scene/rmrenderdevice.h"

namespace {

constexpr int kRgbDevice = 2;

// 5-6-5 pixel of 8-bit channels, as the rasteriser packs them.
uint16_t Pack565(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

// A cube of side 2 around (0, 0, 5), each face wound clockwise on screen when seen from outside
// (the winding that survives counter-clockwise culling), with u running 0..1 across each face.
KlvModelDesc Cube() {
  KlvObjectDesc obj;
  const std::array<std::array<float, 3>, 6> normals = {
      {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}}};
  for (const auto& n : normals) {
    // Two axes across the face; corners in the order (-,-), (+,-), (+,+), (-,+).
    const int axis = n[0] != 0 ? 0 : (n[1] != 0 ? 1 : 2);
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const uint16_t first = static_cast<uint16_t>(obj.Vertices.size());
    const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (const auto& c : corner) {
      KlvVertexDesc v;
      float p[3] = {n[0], n[1], n[2]};
      p[a] = c[0];
      p[b] = c[1];
      v.X = p[0];
      v.Y = p[1];
      v.Z = p[2] + 5;
      v.U = (c[0] + 1) / 2;
      v.V = (c[1] + 1) / 2;
      v.NX = n[0];
      v.NY = n[1];
      v.NZ = n[2];
      obj.Vertices.push_back(v);
    }
    // (v1 - v0) x (v3 - v0) along -n keeps the face clockwise on screen; otherwise reverse it.
    const float cross = n[axis];  // axis a then axis b: their cross product is +axis
    KlvFaceDesc face;
    face.Indices = {first, static_cast<uint16_t>(first + 1), static_cast<uint16_t>(first + 2),
                    static_cast<uint16_t>(first + 3)};
    if (cross > 0)
      face.Indices = {first, static_cast<uint16_t>(first + 3), static_cast<uint16_t>(first + 2),
                      static_cast<uint16_t>(first + 1)};
    obj.Faces.push_back(face);
  }
  KlvModelDesc model;
  model.TextureNames = {"halves.bmp"};
  model.Objects = {obj};
  return model;
}

class ImageTest : public ::testing::Test {
 protected:
  ImageTest() {
    KalvorGUnit = TKalvorGUnitState{};
    KalvorRMUnit = TKalvorRMUnitState{};
    SetCurrentDisplayMode(kDesktopDisplayMode);
    SetWindowClientArea({0, 0, 640, 480});
    rm = std::make_unique<TKalvorRM>(&form);
    KalvorGUnit.DriverChoice = -1;
    KalvorRMUnit.DeviceChoice = kRgbDevice;
    KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_RGB);
    rm->DDEnum();
    rm->DDInit();
  }

  ~ImageTest() override {
    FreeView(view);
    FreeObjectTree(model);
    rm->RmRelease();
    rm->DDrelease();
  }

  uint16_t Pixel(int x, int y) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    EXPECT_EQ(rm->BackSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, 0xF800u);
    const uint16_t value =
        *reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch + 2 * x);
    rm->BackSurface->Unlock(nullptr);
    return value;
  }

  TempFolder dir;
  TComponentOwner form;
  std::unique_ptr<TKalvorRM> rm;
  TKlvViewContext view{};
  TSceneObject* model = nullptr;
};

TEST_F(ImageTest, TexturedCubeFromAFileDrawsTheExpectedPixels) {
  ASSERT_TRUE(rm->RmInit());
  rm->SetBGColor(223, 223, 239);
  rm->D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  WriteBitmap24(dir.Prefix() + "halves.bmp", 4, 4, [](int x, int) { return x < 2 ? 0xFF0000u : 0x0000FFu; });
  WriteModelFile(dir.Prefix() + "cube.klv", Cube());
  model = LoadModelFile(*rm, dir.Prefix() + "cube.klv");

  TKalvorRMRenderDevice device(*rm);
  CreateView(view, &device, 0, 0, 100, 100, 2.0f);
  RenderView(view, model, false);  // identity camera at the origin looking along +z

  // The front face (z = 4) covers x 160..480 and y 80..400. It faces away from the light (0, 0, 1):
  // k = 102 gives the vertex colour 101, the texture modulates it to 255 * 101 >> 8 = 100, and the
  // highlight adds 19 to every channel. Depth 4 / 500 lies before the fog.
  const uint16_t red = Pack565(100 + 19, 19, 19);
  const uint16_t blue = Pack565(19, 19, 100 + 19);
  const uint16_t background = Pack565(222, 222, 238);
  EXPECT_EQ(Pixel(200, 240), red);
  EXPECT_EQ(Pixel(165, 85), red);
  EXPECT_EQ(Pixel(440, 240), blue);
  EXPECT_EQ(Pixel(475, 395), blue);
  EXPECT_EQ(Pixel(20, 20), background);
  EXPECT_EQ(Pixel(150, 240), background);
  EXPECT_EQ(Pixel(320, 410), background);
  EXPECT_EQ(Pixel(639, 479), background);
  EXPECT_EQ(view.NodeCount, 6);  // every face queued; culling and depth keep only the front one
}

}  // namespace
