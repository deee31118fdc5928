// The GL drawing against the software rasteriser: the rasteriser's benchmark scene and small scenes
// for each feature (colour key, fog, specular, flat and Gouraud shading, culling, the z test,
// viewport clipping, palette changes) drawn by both into the same formats and compared pixel by
// pixel within the agreed tolerance. A failing comparison leaves a PNG (software | GL | difference)
// in gl_failures/ beside the test binary. Skipped only where no GL context can be made at all.
#include "platform/dx5/gl_raster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/dx5/gl_context.h"
#include "support/gl_compare.h"
#include "support/raster_scene.h"

namespace {

// One draw call of a scene.
struct Draw {
  RasterState state;
  const RasterTexture* texture = nullptr;
  std::vector<D3DTLVERTEX> vertices;
  std::vector<WORD> indices;
  bool clip = true;
};

struct Scene {
  int width = 64, height = 48;
  D3DCOLOR background = 0x202040;
  std::vector<Draw> draws;
};

// Colour and depth memory of one picture.
struct Picture {
  std::vector<uint8_t> color, depth;
  RasterTarget target;
  RasterDepth depthBuffer;

  Picture(int width, int height, RasterPixelFormat format) {
    int bytes = format == RasterPixelFormat::Xrgb32 ? 4 : 2;
    color.assign(size_t(width) * height * bytes, 0);
    depth.assign(size_t(width) * height * 2, 0);
    target = {color.data(), intptr_t(width) * bytes, width, height, format};
    depthBuffer = {depth.data(), intptr_t(width) * 2, width, height, 2, 0xFFFFu};
  }
  uint32_t Rgb(int x, int y) const { return gl_compare::PixelRgb(target, x, y); }
};

D3DTLVERTEX Vertex(float x, float y, float z, D3DCOLOR color, D3DCOLOR specular = 0xFF000000u, float u = 0.0f,
                   float v = 0.0f) {
  D3DTLVERTEX out;
  out.sx = x;
  out.sy = y;
  out.sz = z;
  out.rhw = 1.0f;
  out.color = color;
  out.specular = specular;
  out.tu = u;
  out.tv = v;
  return out;
}

RasterState WholeViewport(const Scene& scene) {
  RasterState state;
  state.cullMode = D3DCULL_NONE;
  state.specular = false;
  state.viewportX1 = scene.width;
  state.viewportY1 = scene.height;
  return state;
}

// A quad (two triangles, clockwise on screen) from (x0, y0) to (x1, y1) at depth z.
Draw Quad(const Scene& scene, float x0, float y0, float x1, float y1, float z, D3DCOLOR color) {
  Draw draw;
  draw.state = WholeViewport(scene);
  draw.vertices = {Vertex(x0, y0, z, color, 0xFF000000u, 0, 0), Vertex(x1, y0, z, color, 0xFF000000u, 1, 0),
                   Vertex(x1, y1, z, color, 0xFF000000u, 1, 1), Vertex(x0, y1, z, color, 0xFF000000u, 0, 1)};
  draw.indices = {0, 1, 2, 0, 2, 3};
  return draw;
}

class GlRasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    context_ = CreateHeadlessGlContext(&error);
    if (context_ == nullptr) GTEST_SKIP() << "no OpenGL context: " << error;
    raster_ = std::make_unique<GlRaster>(context_->Api());
    ASSERT_TRUE(raster_->Ready());
  }
  void TearDown() override {
    for (auto& [source, texture] : textures_) raster_->DestroyTexture(&texture);
    raster_.reset();
  }

  Picture DrawSoftware(const Scene& scene, RasterPixelFormat format) {
    Picture picture(scene.width, scene.height, format);
    RasterFillColor(picture.target, 0, 0, scene.width, scene.height, scene.background);
    RasterFillDepth(picture.depthBuffer, 0, 0, scene.width, scene.height, 1.0f);
    for (const Draw& d : scene.draws)
      RasterDrawTriangles(d.state, picture.target, &picture.depthBuffer, d.texture, d.vertices.data(),
                          d.vertices.size(), d.indices.data(), d.indices.size(), d.clip, nullptr);
    return picture;
  }

  Picture DrawGl(const Scene& scene, RasterPixelFormat format) {
    Picture picture(scene.width, scene.height, format);
    GlTarget target;
    EXPECT_TRUE(raster_->CreateTarget(scene.width, scene.height, true, &target));
    raster_->FillColor(target, 0, 0, scene.width, scene.height, scene.background);
    raster_->FillDepth(target, 0, 0, scene.width, scene.height, 1.0f);
    for (const Draw& d : scene.draws)
      raster_->DrawTriangles(d.state, target, d.texture != nullptr ? &Texture(*d.texture) : nullptr, d.vertices.data(),
                             d.vertices.size(), d.indices.data(), d.indices.size(), d.clip);
    raster_->ReadColor(target, picture.target);
    raster_->DestroyTarget(&target);
    return picture;
  }

  // The GL texture of a rasteriser texture, uploaded on first use.
  const GlTexture& Texture(const RasterTexture& source) {
    for (auto& [known, texture] : textures_)
      if (known == &source) return texture;
    textures_.push_back({&source, GlTexture{}});
    EXPECT_TRUE(raster_->UploadTexture(source, false, &textures_.back().second));
    return textures_.back().second;
  }

  // Draws the scene both ways and expects agreement; a PNG is written when they disagree.
  void ExpectAgreement(const Scene& scene, RasterPixelFormat format, const std::string& name) {
    Picture software = DrawSoftware(scene, format);
    Picture gl = DrawGl(scene, format);
    gl_compare::Agreement agreement = gl_compare::Compare(software.target, gl.target);
    std::printf("%s: %.3f%% of pixels within %d; %lld beyond %d, %lld of them from every neighbour (largest %d)\n",
                name.c_str(), agreement.share * 100, gl_compare::kTolerance, static_cast<long long>(agreement.beyond),
                gl_compare::kMaxDifference, static_cast<long long>(agreement.outliers), agreement.largest);
    if (agreement.Good()) return;
    ADD_FAILURE() << name << " disagrees; see "
                  << gl_compare::WriteSideBySide(std::string(KLV_TEST_BIN_DIR) + "/gl_failures", name, software.target,
                                                 gl.target);
  }

  std::unique_ptr<GlContext> context_;
  std::unique_ptr<GlRaster> raster_;
  std::vector<std::pair<const RasterTexture*, GlTexture>> textures_;
};

// The rasteriser's benchmark frame: sky dome, terrain, colour-keyed spheres, textured, fogged,
// Gouraud-shaded with highlights, at two sizes and in 16- and 32-bit targets.
TEST_F(GlRasterTest, BenchmarkSceneAgreesWithSoftware) {
  for (auto [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}})
    for (RasterPixelFormat format : {RasterPixelFormat::Rgb565, RasterPixelFormat::Xrgb32}) {
      raster_scene::Scene assets;
      raster_scene::MakeScene(assets, width, height);
      Scene scene;
      scene.width = width;
      scene.height = height;
      scene.background = 0xDFDFEF;
      RasterState state = WholeViewport(scene);
      state.fog = true;
      state.fogColor = 0xFFDFDFEFu;
      state.colorKey = true;
      state.specular = true;
      for (auto [mesh, texture] : {std::pair{&assets.skyMesh, &assets.sky},
                                   {&assets.terrain, &assets.ground},
                                   {&assets.spheres, &assets.leaves}})
        scene.draws.push_back({state, texture, mesh->vertices, mesh->indices, true});
      ExpectAgreement(scene, format,
                      "benchmark_" + std::to_string(width) + (format == RasterPixelFormat::Rgb565 ? "_565" : "_x32"));
    }
}

// Colour key: texels of index 0 let the quad behind show through, and write no depth (the quad
// drawn after them, behind, still shows there).
TEST_F(GlRasterTest, ColorKeyedTexelsWriteNeitherColourNorDepth) {
  std::vector<uint8_t> texels(8 * 8);
  for (int i = 0; i < 64; ++i) texels[i] = ((i % 8) / 2 + (i / 8) / 2) % 2 == 0 ? 0 : 7;
  RasterTexture texture;
  texture.bits = texels.data();
  texture.pitch = 8;
  texture.width = texture.height = 8;
  texture.format = RasterTexelFormat::Indexed8;
  texture.palette[7] = 0xF0A020;
  texture.hasColorKey = true;

  Scene scene;
  Draw front = Quad(scene, 4, 4, 60, 44, 0.2f, 0xFFFFFFFFu);
  front.texture = &texture;
  front.state.colorKey = true;
  scene.draws.push_back(front);
  scene.draws.push_back(Quad(scene, 0, 0, 64, 48, 0.6f, 0xFF30C030u));
  ExpectAgreement(scene, RasterPixelFormat::Xrgb32, "color_key");

  Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
  // Texel (0, 0) is keyed, texel (2, 0) is not: 7 pixels per texel across the quad.
  EXPECT_EQ(gl.Rgb(6, 6), 0x30C030u);
  EXPECT_EQ(gl.Rgb(6 + 14, 6), 0xF0A020u);
}

// Fog from the specular alpha toward the fog colour, specular added before fog, saturating.
TEST_F(GlRasterTest, FogAndSpecularAgreeWithSoftware) {
  Scene scene;
  Draw draw;
  draw.state = WholeViewport(scene);
  draw.state.specular = true;
  draw.state.fog = true;
  draw.state.fogColor = 0x8090A0;
  draw.vertices = {Vertex(0, 0, 0.5f, 0xFF804020u, 0xFF000000u), Vertex(63, 0, 0.5f, 0xFF804020u, 0x00606060u),
                   Vertex(63, 47, 0.5f, 0xFFF0F0F0u, 0x80C0C0C0u), Vertex(0, 47, 0.5f, 0xFF204080u, 0x40FF0000u)};
  draw.indices = {0, 1, 2, 0, 2, 3};
  scene.draws.push_back(draw);
  ExpectAgreement(scene, RasterPixelFormat::Xrgb32, "fog_specular");
  ExpectAgreement(scene, RasterPixelFormat::Rgb565, "fog_specular_565");

  Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
  EXPECT_EQ(gl.Rgb(0, 0), 0x804020u);  // no specular, fog weight 255: the vertex colour itself
}

// Flat shading takes every colour from the first vertex; Gouraud blends them.
TEST_F(GlRasterTest, FlatAndGouraudShadingAgreeWithSoftware) {
  for (bool gouraud : {false, true}) {
    Scene scene;
    Draw draw;
    draw.state = WholeViewport(scene);
    draw.state.gouraud = gouraud;
    draw.vertices = {Vertex(2, 2, 0.5f, 0xFFFF0000u), Vertex(60, 6, 0.5f, 0xFF00FF00u),
                     Vertex(10, 45, 0.5f, 0xFF0000FFu)};
    draw.indices = {0, 1, 2};
    scene.draws.push_back(draw);
    ExpectAgreement(scene, RasterPixelFormat::Xrgb32, gouraud ? "gouraud" : "flat");
    Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
    if (!gouraud) {
      EXPECT_EQ(gl.Rgb(20, 15), 0xFF0000u);
      EXPECT_EQ(gl.Rgb(12, 35), 0xFF0000u);
    } else {
      EXPECT_NE(gl.Rgb(12, 35), 0xFF0000u);
    }
  }
}

// Each cull mode drops the winding it names and keeps the other.
TEST_F(GlRasterTest, CullModesDropTheNamedWinding) {
  for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
    Scene scene;
    Draw draw;
    draw.state = WholeViewport(scene);
    draw.state.cullMode = cull;
    // Left: clockwise on screen; right: counter-clockwise.
    draw.vertices = {Vertex(2, 2, 0.5f, 0xFFFFFFFFu),   Vertex(30, 2, 0.5f, 0xFFFFFFFFu),
                     Vertex(2, 40, 0.5f, 0xFFFFFFFFu),  Vertex(34, 2, 0.5f, 0xFFFFFFFFu),
                     Vertex(34, 40, 0.5f, 0xFFFFFFFFu), Vertex(62, 2, 0.5f, 0xFFFFFFFFu)};
    draw.indices = {0, 1, 2, 3, 4, 5};
    scene.draws.push_back(draw);
    ExpectAgreement(scene, RasterPixelFormat::Xrgb32, "cull_" + std::to_string(cull));
    Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
    EXPECT_EQ(gl.Rgb(6, 6) == 0xFFFFFFu, cull != D3DCULL_CW) << "cull mode " << cull;
    EXPECT_EQ(gl.Rgb(38, 6) == 0xFFFFFFu, cull != D3DCULL_CCW) << "cull mode " << cull;
  }
}

// The z test passes nearer and equal depths (the later of two equal quads wins) and fails farther
// ones; with z writes off a quad leaves no depth behind.
TEST_F(GlRasterTest, DepthTestIsLessOrEqualWithWrites) {
  Scene scene;
  scene.draws.push_back(Quad(scene, 0, 0, 32, 48, 0.5f, 0xFFFF0000u));
  scene.draws.push_back(Quad(scene, 0, 0, 32, 48, 0.5f, 0xFF00FF00u));  // equal: drawn
  scene.draws.push_back(Quad(scene, 0, 0, 32, 48, 0.7f, 0xFF0000FFu));  // behind: hidden
  Draw noWrite = Quad(scene, 32, 0, 64, 48, 0.3f, 0xFFFFFF00u);
  noWrite.state.zWrite = false;
  scene.draws.push_back(noWrite);
  scene.draws.push_back(Quad(scene, 32, 0, 64, 48, 0.6f, 0xFF00FFFFu));  // nothing nearer was written
  ExpectAgreement(scene, RasterPixelFormat::Xrgb32, "depth");
  Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
  EXPECT_EQ(gl.Rgb(10, 10), 0x00FF00u);
  EXPECT_EQ(gl.Rgb(50, 10), 0x00FFFFu);
}

// With clipping the viewport cuts the draw; without it only the target does.
TEST_F(GlRasterTest, ViewportClipsOnlyClippedDraws) {
  for (bool clip : {true, false}) {
    Scene scene;
    Draw draw = Quad(scene, -10, -10, 80, 60, 0.5f, 0xFFFFFFFFu);
    draw.state.viewportX0 = 10;
    draw.state.viewportY0 = 8;
    draw.state.viewportX1 = 40;
    draw.state.viewportY1 = 30;
    draw.clip = clip;
    scene.draws.push_back(draw);
    ExpectAgreement(scene, RasterPixelFormat::Rgb565, clip ? "viewport_clip" : "viewport_noclip");
    Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
    EXPECT_EQ(gl.Rgb(20, 20), 0xFFFFFFu);
    EXPECT_EQ(gl.Rgb(5, 5) == 0xFFFFFFu, !clip);
    EXPECT_EQ(gl.Rgb(45, 35) == 0xFFFFFFu, !clip);
  }
}

// Perspective-correct and affine texturing, 16-bit texels, wrap addressing beyond 0..1.
TEST_F(GlRasterTest, TexturingAgreesWithSoftware) {
  std::vector<uint16_t> texels(16 * 16);
  for (int i = 0; i < 256; ++i) texels[i] = uint16_t(((i % 16) * 2) << 11 | ((i / 16) * 4) << 5 | ((i * 7) & 0x1F));
  RasterTexture texture;
  texture.bits = reinterpret_cast<const uint8_t*>(texels.data());
  texture.pitch = 32;
  texture.width = texture.height = 16;
  texture.format = RasterTexelFormat::Direct16;
  texture.red = {11, 5};
  texture.green = {5, 6};
  texture.blue = {0, 5};
  for (bool perspective : {true, false}) {
    Scene scene;
    scene.width = 160;
    scene.height = 120;
    Draw draw;
    draw.state = WholeViewport(scene);
    draw.state.perspective = perspective;
    draw.texture = &texture;
    auto at = [](float x, float y, float rhw, float u, float v) {
      D3DTLVERTEX out = Vertex(x, y, 0.5f, 0xFFFFFFFFu, 0xFF000000u, u, v);
      out.rhw = rhw;
      return out;
    };
    // Coordinates whose texel boundaries miss the pixel centres of the quad's edges, where either
    // device may round to the texel on either side.
    draw.vertices = {at(10, 10, 1.0f, -0.47f, 0.03f), at(150, 30, 0.25f, 2.53f, 0.03f),
                     at(150, 90, 0.25f, 2.53f, 3.03f), at(10, 110, 1.0f, -0.47f, 3.03f)};
    draw.indices = {0, 1, 2, 0, 2, 3};
    scene.draws.push_back(draw);
    ExpectAgreement(scene, RasterPixelFormat::Xrgb32, perspective ? "texture_perspective" : "texture_affine");
  }
}

// A palette change reaches the GL texture when it is uploaded again.
TEST_F(GlRasterTest, PaletteChangeIsUploadedAgain) {
  std::vector<uint8_t> texels(4 * 4, 3);
  RasterTexture texture;
  texture.bits = texels.data();
  texture.pitch = 4;
  texture.width = texture.height = 4;
  texture.format = RasterTexelFormat::Indexed8;
  texture.palette[3] = 0x112233;
  Scene scene;
  Draw draw = Quad(scene, 0, 0, 64, 48, 0.5f, 0xFFFFFFFFu);
  draw.texture = &texture;
  scene.draws.push_back(draw);
  EXPECT_EQ(DrawGl(scene, RasterPixelFormat::Xrgb32).Rgb(30, 20), 0x112233u);
  texture.palette[3] = 0xC08040;
  GlTexture& uploaded = textures_.front().second;
  const uint64_t uploads = context_->Api().counters.textureUploads;
  ASSERT_TRUE(raster_->UploadTexture(texture, false, &uploaded));
  EXPECT_EQ(context_->Api().counters.textureUploads, uploads + 1);
  EXPECT_EQ(DrawGl(scene, RasterPixelFormat::Xrgb32).Rgb(30, 20), 0xC08040u);
}

// Bilinear filtering (the TextureFilter setting) blends neighbouring texels; nearest never does.
TEST_F(GlRasterTest, BilinearFilteringBlendsTexelsAndNearestDoesNot) {
  const uint32_t texels[2] = {0x000000, 0xFFFFFF};
  RasterTexture texture;
  texture.bits = reinterpret_cast<const uint8_t*>(texels);
  texture.pitch = 8;
  texture.width = 2;
  texture.height = 1;
  Scene scene;
  Draw draw = Quad(scene, 0, 0, 64, 48, 0.5f, 0xFFFFFFFFu);
  for (bool bilinear : {false, true}) {
    GlTexture uploaded;
    ASSERT_TRUE(raster_->UploadTexture(texture, bilinear, &uploaded));
    GlTarget target;
    ASSERT_TRUE(raster_->CreateTarget(scene.width, scene.height, false, &target));
    raster_->DrawTriangles(draw.state, target, &uploaded, draw.vertices.data(), draw.vertices.size(),
                           draw.indices.data(), draw.indices.size(), true);
    Picture picture(scene.width, scene.height, RasterPixelFormat::Xrgb32);
    raster_->ReadColor(target, picture.target);
    int between = 0;
    for (int x = 0; x < scene.width; ++x) {
      const uint32_t grey = picture.Rgb(x, 20) & 0xFF;
      between += grey > 8 && grey < 247 ? 1 : 0;
    }
    EXPECT_EQ(between > 0, bilinear) << between << " blended pixels";
    raster_->DestroyTarget(&target);
    raster_->DestroyTexture(&uploaded);
  }
}

// Vertices that are not finite and indices beyond the vertices draw nothing, as in software.
TEST_F(GlRasterTest, BadVerticesAndIndicesDrawNothing) {
  Scene scene;
  Draw draw = Quad(scene, 0, 0, 64, 48, 0.5f, 0xFFFFFFFFu);
  draw.vertices[1].sx = std::numeric_limits<float>::quiet_NaN();
  draw.indices = {0, 1, 2, 0, 2, 9};
  scene.draws.push_back(draw);
  Picture gl = DrawGl(scene, RasterPixelFormat::Xrgb32);
  for (int y = 0; y < scene.height; ++y)
    for (int x = 0; x < scene.width; ++x) ASSERT_EQ(gl.Rgb(x, y), 0x202040u) << x << ", " << y;
}

}  // namespace
