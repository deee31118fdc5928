// The Direct3D stand-in through its interfaces on real DirectDraw surfaces: device list, device
// creation, states, texture formats, viewports, materials, textures and drawing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/dx5/d3d.h"
#include "platform/dx5/raster.h"

namespace {

DDPIXELFORMAT Rgb565() {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof(DDPIXELFORMAT);
  f.dwFlags = DDPF_RGB;
  f.dwRGBBitCount = 16;
  f.dwRBitMask = 0xF800;
  f.dwGBitMask = 0x07E0;
  f.dwBBitMask = 0x001F;
  return f;
}

DDPIXELFORMAT Indexed8() {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof(DDPIXELFORMAT);
  f.dwFlags = DDPF_PALETTEINDEXED8 | DDPF_RGB;
  f.dwRGBBitCount = 8;
  return f;
}

class D3DDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IDirectDraw* dd1 = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &dd1, nullptr), DD_OK);
    ASSERT_EQ(dd1->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd_)), DD_OK);
    dd1->Release();
    ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d_)), DD_OK);
    target_ = MakeSurface(8, 8, Rgb565(), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    DDSURFACEDESC z{};
    z.dwSize = kDDSurfaceDescSize;
    z.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
    z.dwWidth = 8;
    z.dwHeight = 8;
    z.dwZBufferBitDepth = 16;
    z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
    ASSERT_EQ(dd_->CreateSurface(&z, &zbuffer_, nullptr), DD_OK);
    ASSERT_EQ(target_->AddAttachedSurface(zbuffer_), DD_OK);
  }
  void TearDown() override {
    zbuffer_->Release();
    target_->Release();
    d3d_->Release();
    dd_->Release();
  }

  IDirectDrawSurface* MakeSurface(int w, int h, const DDPIXELFORMAT& format, DWORD caps) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    desc.dwWidth = DWORD(w);
    desc.dwHeight = DWORD(h);
    desc.ddpfPixelFormat = format;
    desc.ddsCaps.dwCaps = caps | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
  }

  uint16_t Pixel16(IDirectDrawSurface* surface, int x, int y) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    uint16_t value;
    std::memcpy(&value, static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch + x * 2, 2);
    surface->Unlock(desc.lpSurface);
    return value;
  }

  IDirect3DDevice2* MakeDevice() {
    IDirect3DDevice2* device = nullptr;
    EXPECT_EQ(d3d_->CreateDevice(IID_IDirect3DHALDevice, target_, &device), D3D_OK);
    return device;
  }

  // A viewport of the whole 8 x 8 target, the device's current one.
  IDirect3DViewport2* WholeViewport(IDirect3DDevice2* device) {
    IDirect3DViewport2* viewport = nullptr;
    EXPECT_EQ(d3d_->CreateViewport(&viewport, nullptr), D3D_OK);
    EXPECT_EQ(device->AddViewport(viewport), D3D_OK);
    D3DVIEWPORT2 rect{44, 0, 0, 8, 8, 0, 0, 8, 8, 0, 1};
    EXPECT_EQ(viewport->SetViewport2(&rect), D3D_OK);
    EXPECT_EQ(device->SetCurrentViewport(viewport), D3D_OK);
    return viewport;
  }

  IDirectDraw2* dd_ = nullptr;
  IDirect3D2* d3d_ = nullptr;
  IDirectDrawSurface* target_ = nullptr;
  IDirectDrawSurface* zbuffer_ = nullptr;
};

struct ListedDevice {
  GUID guid;
  std::string name;
  D3DDEVICEDESC hardware, software;
};

HRESULT Collect(GUID* guid, const char*, const char* name, D3DDEVICEDESC* hw, D3DDEVICEDESC* sw, void* context) {
  static_cast<std::vector<ListedDevice>*>(context)->push_back({*guid, name, *hw, *sw});
  return D3DENUMRET_OK;
}

TEST_F(D3DDeviceTest, ListsRampRgbHardwareAndSecondRgbInOrder) {
  std::vector<ListedDevice> devices;
  ASSERT_EQ(d3d_->EnumDevices(&Collect, &devices), D3D_OK);
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].guid, IID_IDirect3DRampDevice);
  EXPECT_EQ(devices[0].hardware.dcmColorModel, 0u);
  EXPECT_EQ(devices[0].software.dcmColorModel, D3DCOLOR_MONO);
  EXPECT_EQ(devices[1].hardware.dcmColorModel, 0u);
  EXPECT_EQ(devices[1].software.dcmColorModel, D3DCOLOR_RGB);
  EXPECT_EQ(devices[2].hardware.dcmColorModel, D3DCOLOR_RGB);
  // The hardware device offers 16-bit depth only (the software rasteriser's fastest); the software
  // devices offer every depth.
  EXPECT_EQ(devices[2].hardware.dwDeviceZBufferBitDepth, DWORD(DDBD_16));
  EXPECT_EQ(devices[1].software.dwDeviceZBufferBitDepth, DWORD(DDBD_16 | DDBD_24 | DDBD_32));
  EXPECT_EQ(devices[3].hardware.dcmColorModel, 0u);
  EXPECT_EQ(devices[3].software.dcmColorModel, D3DCOLOR_RGB);
  for (const ListedDevice& d : devices) {
    EXPECT_EQ(d.hardware.dwSize, 204u);
    EXPECT_EQ(d.software.dwSize, 204u);
    IDirect3DDevice2* device = nullptr;
    EXPECT_EQ(d3d_->CreateDevice(d.guid, target_, &device), D3D_OK) << d.name;
    if (device != nullptr) device->Release();
  }
}

TEST_F(D3DDeviceTest, CreateDeviceRefusesUnknownGuidsAndUnrenderableSurfaces) {
  IDirect3DDevice2* device = nullptr;
  for (const GUID* guid :
       {&IID_IDirect3DHALDevice, &IID_IDirect3DMMXDevice, &IID_IDirect3DRGBDevice, &IID_IDirect3DRampDevice}) {
    ASSERT_EQ(d3d_->CreateDevice(*guid, target_, &device), D3D_OK);
    device->Release();
  }
  EXPECT_TRUE(FAILED(d3d_->CreateDevice(IID_IDirect3D2, target_, &device)));
  EXPECT_EQ(device, nullptr);
  IDirectDrawSurface* plain = MakeSurface(4, 4, Rgb565(), DDSCAPS_OFFSCREENPLAIN);
  EXPECT_TRUE(FAILED(d3d_->CreateDevice(IID_IDirect3DHALDevice, plain, &device)));
  plain->Release();
  IDirectDrawSurface* indexed = MakeSurface(4, 4, Indexed8(), DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  EXPECT_TRUE(FAILED(d3d_->CreateDevice(IID_IDirect3DHALDevice, indexed, &device)));
  indexed->Release();
}

TEST_F(D3DDeviceTest, RenderStatesStartAtTheirDefaultsAndReadBack) {
  IDirect3DDevice2* device = MakeDevice();
  DWORD value = 0;
  auto get = [&](D3DRENDERSTATETYPE s) {
    EXPECT_EQ(device->GetRenderState(s, &value), D3D_OK);
    return value;
  };
  EXPECT_EQ(get(D3DRENDERSTATE_ZENABLE), 1u);  // a z-buffer is attached
  EXPECT_EQ(get(D3DRENDERSTATE_ZFUNC), D3DCMP_LESSEQUAL);
  EXPECT_EQ(get(D3DRENDERSTATE_TEXTUREMAPBLEND), D3DTBLEND_MODULATE);
  EXPECT_EQ(get(D3DRENDERSTATE_TEXTUREMAG), D3DFILTER_NEAREST);
  EXPECT_EQ(get(D3DRENDERSTATE_TEXTUREADDRESS), D3DTADDRESS_WRAP);
  EXPECT_EQ(get(D3DRENDERSTATE_CULLMODE), D3DCULL_CCW);
  EXPECT_EQ(get(D3DRENDERSTATE_SHADEMODE), D3DSHADE_GOURAUD);
  EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_FOGCOLOR, 0xFFDFDFEFu), D3D_OK);
  EXPECT_EQ(get(D3DRENDERSTATE_FOGCOLOR), 0xFFDFDFEFu);
  EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_FOGTABLESTART, 0x3E4CCCCDu), D3D_OK);
  EXPECT_EQ(get(D3DRENDERSTATE_FOGTABLESTART), 0x3E4CCCCDu);
  EXPECT_TRUE(FAILED(device->SetRenderState(D3DRENDERSTATETYPE(kD3DRenderStateCount), 1)));
  EXPECT_TRUE(FAILED(device->SetLightState(D3DLIGHTSTATE_MATERIAL, 7))) << "no such material handle";
  device->Release();
}

HRESULT CollectFormat(DDSURFACEDESC* desc, void* context) {
  static_cast<std::vector<DDPIXELFORMAT>*>(context)->push_back(desc->ddpfPixelFormat);
  return D3DENUMRET_OK;
}

TEST_F(D3DDeviceTest, EnumeratesPalettisedSixteenBitAndThirtyTwoBitTextureFormats) {
  IDirect3DDevice2* device = MakeDevice();
  std::vector<DDPIXELFORMAT> formats;
  ASSERT_EQ(device->EnumTextureFormats(&CollectFormat, &formats), D3D_OK);
  ASSERT_EQ(formats.size(), 6u);
  EXPECT_TRUE(formats[0].dwFlags & DDPF_PALETTEINDEXED8);
  EXPECT_EQ(formats[1].dwGBitMask, 0x07E0u);
  EXPECT_EQ(formats[2].dwGBitMask, 0x03E0u);
  EXPECT_EQ(formats[3].dwRGBAlphaBitMask, 0x8000u);
  EXPECT_EQ(formats[4].dwRGBAlphaBitMask, 0xF000u);
  EXPECT_EQ(formats[5].dwRGBBitCount, 32u);
  device->Release();
}

// The frame the renderer draws: viewport, background clear, scene, textured colour-keyed quad.
TEST_F(D3DDeviceTest, ClearsToTheBackgroundAndDrawsTexturedTrianglesInAScene) {
  IDirect3DDevice2* device = MakeDevice();
  IDirect3DViewport2* viewport = WholeViewport(device);

  IDirect3DMaterial2* background = nullptr;
  ASSERT_EQ(d3d_->CreateMaterial(&background, nullptr), D3D_OK);
  D3DMATERIAL m{};
  m.dwSize = 80;
  m.diffuse = {223 / 256.0f, 223 / 256.0f, 239 / 256.0f, 0};
  ASSERT_EQ(background->SetMaterial(&m), D3D_OK);
  D3DMATERIALHANDLE handle = 0;
  ASSERT_EQ(background->GetHandle(device, &handle), D3D_OK);
  EXPECT_NE(handle, 0u);
  D3DMATERIALHANDLE again = 0;
  background->GetHandle(device, &again);
  EXPECT_EQ(again, handle);
  ASSERT_EQ(viewport->SetBackground(handle), D3D_OK);
  D3DRECT all{0, 0, 8, 8};
  ASSERT_EQ(viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), D3D_OK);
  EXPECT_EQ(Pixel16(target_, 3, 3), uint16_t(((222 >> 3) << 11) | ((222 >> 2) << 5) | (238 >> 3)));
  EXPECT_EQ(Pixel16(zbuffer_, 3, 3), 0xFFFF);

  // A 2 x 2 palettised texture whose index 0 is the source colour key.
  IDirectDrawSurface* texSurface = MakeSurface(2, 2, Indexed8(), DDSCAPS_TEXTURE);
  PALETTEENTRY entries[256] = {};
  entries[1] = {255, 0, 0, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
  ASSERT_EQ(texSurface->SetPalette(palette), DD_OK);
  DDCOLORKEY key{0, 0};
  ASSERT_EQ(texSurface->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(texSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  uint8_t* bits = static_cast<uint8_t*>(desc.lpSurface);
  bits[0] = 0;
  bits[1] = 1;
  bits[desc.lPitch] = 1;
  bits[desc.lPitch + 1] = 1;
  texSurface->Unlock(desc.lpSurface);
  IDirect3DTexture2* texture = nullptr;
  ASSERT_EQ(texSurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)), DD_OK);
  D3DTEXTUREHANDLE texHandle = 0;
  ASSERT_EQ(texture->GetHandle(device, &texHandle), D3D_OK);
  EXPECT_EQ(texture->PaletteChanged(0, 256), D3D_OK);

  device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texHandle);
  device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
  D3DTLVERTEX quad[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                         {8, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 1, 0},
                         {8, 8, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 1, 1},
                         {0, 8, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 1}};
  WORD indices[6] = {0, 1, 2, 0, 2, 3};
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, quad, 4, indices, 6, D3DDP_WAIT),
            D3DERR_SCENE_NOT_IN_SCENE);
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLEFAN, D3DVT_TLVERTEX, quad, 4, indices, 6, D3DDP_WAIT),
            D3DERR_INVALIDPRIMITIVETYPE);
  ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, quad, 4, indices, 6, D3DDP_WAIT), D3D_OK);
  ASSERT_EQ(device->EndScene(), D3D_OK);
  EXPECT_EQ(Pixel16(target_, 1, 1), uint16_t(((222 >> 3) << 11) | ((222 >> 2) << 5) | (238 >> 3))) << "keyed hole";
  EXPECT_EQ(Pixel16(zbuffer_, 1, 1), 0xFFFF);
  EXPECT_EQ(Pixel16(target_, 5, 5), 0xF800);
  EXPECT_EQ(Pixel16(zbuffer_, 5, 5), uint16_t(0.5f * 65535));

  // Load copies pixels and palette from another texture of the same format.
  IDirectDrawSurface* copySurface = MakeSurface(2, 2, Indexed8(), DDSCAPS_TEXTURE);
  IDirectDrawPalette* copyPalette = nullptr;
  PALETTEENTRY zero[256] = {};
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, zero, &copyPalette, nullptr), DD_OK);
  copySurface->SetPalette(copyPalette);
  IDirect3DTexture2* copy = nullptr;
  ASSERT_EQ(copySurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&copy)), DD_OK);
  ASSERT_EQ(copy->Load(texture), D3D_OK);
  ASSERT_EQ(copySurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(static_cast<uint8_t*>(desc.lpSurface)[1], 1);
  copySurface->Unlock(desc.lpSurface);
  PALETTEENTRY read[256] = {};
  copyPalette->GetEntries(0, 0, 256, read);
  EXPECT_EQ(read[1].peRed, 255);

  copy->Release();
  copyPalette->Release();
  copySurface->Release();
  texture->Release();
  palette->Release();
  texSurface->Release();
  background->Release();
  viewport->Release();
  device->Release();
}

TEST_F(D3DDeviceTest, HandlesBelongToTheDeviceThatGaveThem) {
  IDirect3DDevice2* first = MakeDevice();
  IDirect3DDevice2* second = MakeDevice();
  IDirect3DMaterial2* a = nullptr;
  IDirect3DMaterial2* b = nullptr;
  d3d_->CreateMaterial(&a, nullptr);
  d3d_->CreateMaterial(&b, nullptr);
  D3DMATERIALHANDLE ha = 0, hb = 0, hb2 = 0;
  a->GetHandle(first, &ha);
  b->GetHandle(first, &hb);
  b->GetHandle(second, &hb2);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(hb2, 1u);
  EXPECT_EQ(first->SetLightState(D3DLIGHTSTATE_MATERIAL, hb), D3D_OK);
  DWORD value = 0;
  first->GetLightState(D3DLIGHTSTATE_MATERIAL, &value);
  EXPECT_EQ(value, hb);
  a->Release();
  b->Release();
  first->Release();
  second->Release();
}

// With more than one drawing thread a device queues a scene's clears and draws and draws them
// together; each must still land as if drawn when it was made: before the surfaces are locked or
// blitted, with the texels and palette the texture had then, and when the device goes.
TEST_F(D3DDeviceTest, QueuedDrawsLandAsIfDrawnOneByOne) {
  RasterSetThreadLimit(2);
  IDirect3DDevice2* device = MakeDevice();
  IDirect3DViewport2* viewport = WholeViewport(device);

  // A 1 x 1 palettised texture of index 1, red.
  IDirectDrawSurface* texSurface = MakeSurface(1, 1, Indexed8(), DDSCAPS_TEXTURE);
  PALETTEENTRY entries[256] = {};
  entries[1] = {255, 0, 0, 0};
  entries[2] = {0, 0, 255, 0};
  IDirectDrawPalette* palette = nullptr;
  ASSERT_EQ(dd_->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
  ASSERT_EQ(texSurface->SetPalette(palette), DD_OK);
  auto setTexel = [&](uint8_t index) {
    DDSURFACEDESC desc{};
    desc.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(texSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    *static_cast<uint8_t*>(desc.lpSurface) = index;
    texSurface->Unlock(desc.lpSurface);
  };
  setTexel(1);
  IDirect3DTexture2* texture = nullptr;
  ASSERT_EQ(texSurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)), D3D_OK);
  D3DTEXTUREHANDLE texHandle = 0;
  ASSERT_EQ(texture->GetHandle(device, &texHandle), D3D_OK);
  device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texHandle);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);

  // Columns x0..x1-1, every row.
  auto drawColumns = [&](float x0, float x1) {
    D3DTLVERTEX quad[4] = {{x0, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                           {x1, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 1, 0},
                           {x1, 8, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 1, 1},
                           {x0, 8, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 1}};
    WORD indices[6] = {0, 1, 2, 0, 2, 3};
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, D3DVT_TLVERTEX, quad, 4, indices, 6, D3DDP_WAIT),
              D3D_OK);
  };
  constexpr uint16_t kRed = 0xF800, kBlue = 0x001F, kGreen = 0x07E0;

  ASSERT_EQ(device->BeginScene(), D3D_OK);
  drawColumns(0, 2);
  EXPECT_EQ(Pixel16(target_, 1, 4), kRed) << "a lock sees the scene's draws so far";
  drawColumns(2, 4);
  setTexel(2);  // new texels for the draws after
  drawColumns(4, 6);
  entries[2] = {0, 255, 0, 0};
  ASSERT_EQ(palette->SetEntries(0, 0, 256, entries), DD_OK);  // and a new palette
  drawColumns(6, 8);
  IDirectDrawSurface* copy = MakeSurface(8, 8, Rgb565(), DDSCAPS_OFFSCREENPLAIN);
  ASSERT_EQ(copy->Blt(nullptr, target_, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(Pixel16(copy, 7, 0), kGreen) << "a blit copies the scene's draws so far";
  ASSERT_EQ(device->EndScene(), D3D_OK);
  EXPECT_EQ(Pixel16(target_, 3, 7), kRed);
  EXPECT_EQ(Pixel16(target_, 5, 7), kBlue);
  EXPECT_EQ(Pixel16(target_, 7, 7), kGreen);

  // A scene the device never ends is drawn when the device goes.
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  setTexel(1);
  drawColumns(0, 8);
  texture->Release();
  viewport->Release();
  device->Release();
  EXPECT_EQ(Pixel16(target_, 4, 4), kRed);

  copy->Release();
  palette->Release();
  texSurface->Release();
  RasterSetThreadLimit(0);
}

}  // namespace
