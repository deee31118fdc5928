// The generated default data set: every file loads, the fugu has its fins, the height map tiles and
// keeps the ground under the flight band, the models stay within the renderer's budget, the sky is
// closed and seen from inside, its skirt lies beyond the terrain window and within the far plane, its
// haze comes out as the fog colour both as the renderer lights it and on the rendered picture, only
// the leaves use the transparent colour key, and the tree and the building keep out of most of the
// camera's flight band.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <tuple>

#include "../../tools/klvstat_measure.h"
#include "model/klvdib.h"
#include "model/klvloader.h"
#include "model/sceneobject.h"
#include "model/texture_source.h"
#include "platform/win/bitmap.h"
#include "scene/scene_fixture.h"

namespace {

const std::string kDataDir = std::string(KLV_DATA_DIR) + "/";
const char* const kModels[] = {"sky.klv", "ki3.klv", "f3f.klv", "wfgshou.klv", "tate2.klv", "fugu4.klv"};
constexpr int kModelBudget = 6000;  // vertices and faces of all models together

// Makes a record per texture and notes, per name, whether its bitmap uses the colour key.
class KeyCheckingTextures : public TextureSource {
 public:
  TKlvTexdata* FindTexture(const std::string& name) override {
    for (TKlvTexdata& tex : textures)
      if (tex.Name == name) return &tex;
    return nullptr;
  }
  TKlvTexdata* MakeTextureFromBitmap(TBitmap& bitmap, const std::string& name) override {
    usesKey[name] = UsesColourKey(bitmap);
    TKlvTexdata& tex = textures.emplace_back();
    tex.Index = static_cast<int32_t>(textures.size()) - 1;
    tex.Name = name;
    return &tex;
  }

  // Index 0 in an 8-bit bitmap; black, or a colour a 5-6-5 surface rounds to black, otherwise.
  static bool UsesColourKey(const TBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
      const uint8_t* row = bitmap.Row(y);
      for (int x = 0; x < bitmap.Width(); ++x) {
        if (bitmap.Is8Bit() ? row[x] == 0 : (row[3 * x] < 8 && row[3 * x + 1] < 4 && row[3 * x + 2] < 8)) return true;
      }
    }
    return false;
  }

  std::deque<TKlvTexdata> textures;
  std::map<std::string, bool> usesKey;
};

struct LoadedModel {
  TSceneObject* root = nullptr;
  ~LoadedModel() { FreeObjectTree(root); }
};

template <typename F>
void ForEachObject(TSceneObject* obj, F&& f) {
  for (; obj; obj = obj->Next) {
    f(obj);
    ForEachObject(obj->FirstChild, f);
  }
}

TVector3 Sub(TVector3 a, TVector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
TVector3 Cross(TVector3 a, TVector3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(TVector3 a, TVector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
TVector3 Pos(const TSceneObject* obj, int i) { return {obj->Vertices[i].X, obj->Vertices[i].Y, obj->Vertices[i].Z}; }

}  // namespace

TEST(DataSet, EveryModelLoadsWithinTheBudgetAsTriangleFansWithUnitNormals) {
  KeyCheckingTextures textures;
  int vertices = 0, faces = 0;
  for (const char* name : kModels) {
    SCOPED_TRACE(name);
    LoadedModel model{LoadModelFile(textures, kDataDir + name)};
    ASSERT_NE(model.root, nullptr);
    ForEachObject(model.root, [&](TSceneObject* obj) {
      vertices += obj->VertexCount;
      faces += obj->FaceCount;
      for (int f = 0; f < obj->FaceCount; ++f) {
        EXPECT_EQ(obj->Faces[f].PrimType, 6);
        // The renderer's screen test of a face looks at its first four vertices only.
        EXPECT_GE(obj->Faces[f].IndexCount, 3);
        EXPECT_LE(obj->Faces[f].IndexCount, 4);
      }
      for (int v = 0; v < obj->VertexCount; ++v) {
        const TMeshVertex& m = obj->Vertices[v];
        EXPECT_NEAR(std::sqrt(m.NX * m.NX + m.NY * m.NY + m.NZ * m.NZ), 1.0f, 1e-4f);
      }
    });
  }
  EXPECT_LE(vertices, kModelBudget);
  EXPECT_LE(faces, kModelBudget);

  for (const auto& [name, keyed] : textures.usesKey) EXPECT_EQ(keyed, name == "leaves.bmp") << name;
  EXPECT_TRUE(textures.usesKey.count("leaves.bmp"));
}

TEST(DataSet, GroundTextureHasNoTransparentTexels) {
  TBitmap meta;
  meta.LoadFromFile(kDataDir + "meta.bmp");
  EXPECT_EQ(meta.Width(), 512);
  EXPECT_EQ(meta.Height(), 512);
  EXPECT_FALSE(KeyCheckingTextures::UsesColourKey(meta));
}

TEST(DataSet, FuguHasBothPectoralFinsAndTheTailFinAroundItsBody) {
  KeyCheckingTextures textures;
  LoadedModel fugu{LoadModelFile(textures, kDataDir + "fugu4.klv")};
  TSceneObject* right = FindObject(fugu.root, 'R' | 'H' << 8 | 'r' << 16 | 'e' << 24);
  TSceneObject* left = FindObject(fugu.root, 'L' | 'H' << 8 | 'r' << 16 | 'e' << 24);
  TSceneObject* tail = FindObject(fugu.root, 'O' | 'H' << 8 | 'r' << 16 | 'e' << 24);
  ASSERT_NE(right, nullptr);
  ASSERT_NE(left, nullptr);
  ASSERT_NE(tail, nullptr);
  const TVector3 lo = fugu.root->BoundsMin, hi = fugu.root->BoundsMax;
  // Pectoral fins on the right (+x) and left flanks, in the front half; the tail fin at the tail end.
  EXPECT_GT(right->Local(3, 0), 0.5f * hi.x);
  EXPECT_LT(left->Local(3, 0), 0.5f * lo.x);
  EXPECT_GT(right->Local(3, 2), 0.5f * (lo.z + hi.z));
  EXPECT_LT(tail->Local(3, 2), lo.z + 0.1f * (hi.z - lo.z));
  EXPECT_LT(tail->BoundsMin.z, 0.0f);  // the fan reaches back beyond the body
  for (TSceneObject* fin : {right, left, tail}) EXPECT_EQ(fin->Parent, fugu.root);
}

TEST(DataSet, ChromeObjectIsEnvironmentMapped) {
  KeyCheckingTextures textures;
  LoadedModel wfg{LoadModelFile(textures, kDataDir + "wfgshou.klv")};
  EXPECT_EQ(wfg.root->EnvMap.Enabled, 1);
  EXPECT_GT(wfg.root->EnvMap.Scale, 0.0f);
}

// Seen from its centre, every sky face must run clockwise on the screen (the side that survives
// counter-clockwise culling): its fan cross product points away from the centre. Every edge is
// shared by two faces, so no direction escapes it.
TEST(DataSet, SkyIsClosedAndFacesInwards) {
  KeyCheckingTextures textures;
  LoadedModel sky{LoadModelFile(textures, kDataDir + "sky.klv")};
  const TSceneObject* obj = sky.root;
  std::map<std::pair<std::tuple<float, float, float>, std::tuple<float, float, float>>, int> edges;
  for (int f = 0; f < obj->FaceCount; ++f) {
    const TMeshFace& face = obj->Faces[f];
    const TVector3 a = Pos(obj, face.Indices[0]);
    for (int w = 0; w + 2 < face.IndexCount; ++w) {
      const TVector3 b = Pos(obj, face.Indices[w + 1]), c = Pos(obj, face.Indices[w + 2]);
      const TVector3 cross = Cross(Sub(b, a), Sub(c, a));
      if (Dot(cross, cross) > 1e-12f) {
        EXPECT_GT(Dot(cross, a) + Dot(cross, b) + Dot(cross, c), 0.0f) << "face " << f;
      }
    }
    for (int k = 0; k < face.IndexCount; ++k) {
      const TVector3 p = Pos(obj, face.Indices[k]), q = Pos(obj, face.Indices[(k + 1) % face.IndexCount]);
      auto pt = std::make_tuple(p.x, p.y, p.z), qt = std::make_tuple(q.x, q.y, q.z);
      if (pt == qt) continue;  // the collapsed edge of a pole triangle
      ++edges[{std::min(pt, qt), std::max(pt, qt)}];
    }
  }
  for (const auto& [edge, count] : edges) EXPECT_EQ(count, 2);
}

TEST(DataSet, HeightMapTilesAndKeepsTheGroundBelowTheFlightBand) {
  TKlvDIB map;
  map.LoadFromFile(kDataDir + "maphi.bmp");
  ASSERT_EQ(map.Header.biBitCount, 8);
  ASSERT_EQ(map.Header.biWidth, 512);
  ASSERT_EQ(map.Header.biHeight, 512);
  const auto at = [&](int row, int col) { return static_cast<int>(map.Bits[row * map.RowBytes + col]); };
  int neighbourStep = 0, seamStep = 0, lowest = 255;
  for (int i = 0; i < 512; ++i) {
    for (int j = 0; j < 512; ++j) {
      lowest = std::min(lowest, at(i, j));
      if (i + 1 < 512) {
        neighbourStep = std::max({neighbourStep, std::abs(at(i, j) - at(i + 1, j)), std::abs(at(j, i) - at(j, i + 1))});
      }
    }
    seamStep = std::max({seamStep, std::abs(at(0, i) - at(511, i)), std::abs(at(i, 0) - at(i, 511))});
  }
  EXPECT_LE(seamStep, neighbourStep);
  // Height 25 + 37.5 (p - 128) / 128 stays above z 20, the lower edge of the flight band.
  EXPECT_GT(25 + 37.5 * (lowest - 128) / 128.0, 20.0);
}

namespace {

constexpr int kFog[3] = {223, 223, 239};
constexpr double kSkyScale = 120.0;  // the scene's scale of the sky model

// Elevation of a sky vertex seen from the sky's centre, in model terms (+z the zenith).
double Elevation(const TMeshVertex& v) { return std::atan2(v.Z, std::hypot(v.X, v.Y)); }

// The colour the renderer and the device give a texel of a white vertex whose normal meets the
// light at cosine `nl`: diffuse 0.6 + 0.2 nl, the texel modulated by it, the grey highlight added.
void LitTexel(const uint8_t texel[3], double nl, int out[3]) {
  const int k = static_cast<int>((nl * 0.2 + 0.6) * 255);
  const int diffuse = 255 * k / 256, highlight = (k - 63) / 2;
  for (int c = 0; c < 3; ++c) out[c] = std::min(255, (texel[c] * (diffuse + (diffuse >> 7)) >> 8) + highlight);
}

}  // namespace

// The scene flips the sky by a half turn about x, so the light (0, 0, 1) reaches the model as
// (0, 0, -1); every texel the lower half samples must then come out as the fog colour.
TEST(DataSet, SkyHazeLitAsTheRendererLightsItIsTheFogColour) {
  KeyCheckingTextures textures;
  LoadedModel sky{LoadModelFile(textures, kDataDir + "sky.klv")};
  TBitmap bitmap;
  bitmap.LoadFromFile(kDataDir + "sky.bmp");
  ASSERT_FALSE(bitmap.Is8Bit());
  const TSceneObject* obj = sky.root;
  int below = 0;
  for (int i = 0; i < obj->VertexCount; ++i) {
    const TMeshVertex& v = obj->Vertices[i];
    if (Elevation(v) > 0) continue;
    ++below;
    const double nl = -v.NZ;  // n . (0, 0, -1)
    EXPECT_NEAR(nl, 1.0, 1e-6) << "vertex " << i;
    const int x = std::clamp(static_cast<int>(v.U * bitmap.Width()), 0, bitmap.Width() - 1);
    const int y = std::clamp(static_cast<int>(v.V * bitmap.Height()), 0, bitmap.Height() - 1);
    const uint8_t* bgr = bitmap.Row(y) + 3 * x;
    const uint8_t rgb[3] = {bgr[2], bgr[1], bgr[0]};
    int lit[3];
    LitTexel(rgb, nl, lit);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(lit[c], kFog[c], 3) << "vertex " << i << " channel " << c;
  }
  EXPECT_GT(below, obj->VertexCount / 3);
}

// Below the horizon the sky must lie beyond every corner of the terrain window (32 cells of 15
// around the camera's cell), so the terrain's fogged edge is always drawn in front of it; and no
// part may pass the far plane (depth 500) from any camera height of the flight band.
TEST(DataSet, SkySkirtLiesBeyondTheTerrainWindowAndWithinTheFarPlane) {
  KeyCheckingTextures textures;
  LoadedModel sky{LoadModelFile(textures, kDataDir + "sky.klv")};
  const TSceneObject* obj = sky.root;
  constexpr double kTerrainCorner = 15.0 * (32 / 2 + 1) * 1.4143, kFarDepth = 500, kFlightBandHalf = 20;
  double nearestBelow = 1e9, farthest = 0;
  for (int i = 0; i < obj->VertexCount; ++i) {
    const TMeshVertex& v = obj->Vertices[i];
    const double distance = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z) * kSkyScale;
    if (Elevation(v) <= 0) nearestBelow = std::min(nearestBelow, distance);
    farthest = std::max(farthest, distance);
  }
  EXPECT_GT(nearestBelow, kTerrainCorner);
  EXPECT_LT(farthest + kFlightBandHalf, kFarDepth);
}

class DataSetSceneTest : public SceneTest {
 protected:
  // The mean of each channel over rows first..last of the 5-6-5 picture.
  std::vector<double> MeanColour(int first, int last) {
    const std::vector<uint16_t> picture = Picture();
    const int width = scene.View.ViewWidth;
    std::vector<double> sum(3, 0.0);
    for (int y = first; y <= last; ++y) {
      for (int x = 0; x < width; ++x) {
        const uint16_t p = picture[static_cast<size_t>(y) * width + x];
        const int r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
        sum[0] += r << 3 | r >> 2;
        sum[1] += g << 2 | g >> 4;
        sum[2] += b << 3 | b >> 2;
      }
    }
    for (double& c : sum) c /= static_cast<double>(width) * (last - first + 1);
    return sum;
  }
};

// The sky alone, seen level from its centre and from the top and bottom of the flight band: the
// band just below the horizon is the fog colour on the rendered picture, lighting, highlight, fog
// and the 16-bit surfaces included.
TEST_F(DataSetSceneTest, RenderedHazeBelowTheHorizonMeetsTheFogColour) {
  Build();
  for (TSceneObject* child = scene.SceneRoot->FirstChild; child; child = child->Next)
    if (child != scene.SkyAnchor) child->Visible = 0;
  ASSERT_NE(KalvorRM1->BackSurface, nullptr);
  const int height = scene.View.ViewHeight;
  for (float z : {-20.0f, 0.0f, 19.9f}) {
    for (float yaw : {0.0f, 2.0f}) {
      SCOPED_TRACE(testing::Message() << "camera z " << z << " yaw " << yaw);
      TMatrix44& camera = scene.RenderCamera;
      camera = MatrixIdentity;
      // Rows right, down (world +z), forward (level), position.
      camera(0, 0) = -std::sin(yaw);
      camera(0, 1) = std::cos(yaw);
      camera(0, 2) = 0;
      camera(1, 0) = 0;
      camera(1, 1) = 0;
      camera(1, 2) = 1;
      camera(2, 0) = std::cos(yaw);
      camera(2, 1) = std::sin(yaw);
      camera(2, 2) = 0;
      camera(3, 2) = z;
      Draw();
      const std::vector<double> haze = MeanColour(height / 2 + 2, height / 2 + height / 8);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(haze[c], kFog[c], 4.0) << "channel " << c;
    }
  }
}

// The camera flies between z -20 and 20 (world +z is down) over x and y in -100..100. The tree and
// the building are placed by the scene; their own sizes must keep them out of most of that band, or
// the flight passes through them: the tree's crown stays in the band's lower half and within 11 of
// its trunk, the building is at most 12 wide and its mast's tip stays inside the band.
TEST_F(DataSetSceneTest, TreeAndBuildingLeaveMostOfTheFlightBandFree) {
  Build();
  const klvtools::WorldBox tree = klvtools::ModelBox(scene.TreeModel);
  EXPECT_GE(tree.Min.z, 0.0f);
  EXPECT_GT(tree.Max.z, 35.0f);  // the trunk reaches the ground under the tree
  for (float extent : {10.0f - tree.Min.x, tree.Max.x - 10.0f, 10.0f - tree.Min.y, tree.Max.y - 10.0f})
    EXPECT_LE(extent, 11.0f);

  const klvtools::WorldBox building = klvtools::ModelBox(scene.BuildingModel);
  EXPECT_GE(building.Min.z, -20.0f);
  EXPECT_GT(building.Max.z, 25.0f);  // the walls reach the ground under the building
  EXPECT_LE(building.Max.x - building.Min.x, 12.0f);
  EXPECT_LE(building.Max.y - building.Min.y, 12.0f);
}
