#include "model/klvloader.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "model/klvloader_test_support.h"
#include "model/klvwriter.h"
#include "platform/error.h"

namespace {

KlvObjectDesc Triangle(int32_t textureIndex = 0, int32_t parent = -1) {
  KlvObjectDesc obj;
  obj.Vertices = {{0, 0, 0, 0, 0, 0, 0, 1, 0xFF102030},
                  {1, 0, 0, 1, 0, 0, 0, 1, 0xFF405060},
                  {0, 2, -3, 0, 1, 0, 1, 0, 0x80FFFFFF}};
  obj.Faces = {{{0, 1, 2}, 6, textureIndex}};
  obj.ParentIndex = parent;
  return obj;
}

// Frees the loaded tree whatever the test's outcome.
struct TreeGuard {
  TSceneObject* root;
  ~TreeGuard() { FreeObjectTree(root); }
};

KlvErrorKind KindOf(const std::function<void()>& load) {
  try {
    load();
  } catch (const KlvError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "the load was not refused";
  return KlvErrorKind::Unsupported;
}

class LoaderTest : public ::testing::Test {
 protected:
  // Writes the model and a flat bitmap for each of its texture names beside it.
  std::string Write(const std::string& name, const KlvModelDesc& model) {
    for (const std::string& tex : model.TextureNames)
      if (!std::filesystem::exists(dir.Prefix() + tex)) WriteFlatBitmap(dir.Prefix() + tex, 4, 2, 0x00FF00);
    WriteModelFile(dir.Prefix() + name, model);
    return dir.Prefix() + name;
  }

  TempFolder dir;
  FakeTextureSource textures;
};

TEST_F(LoaderTest, RoundTripKeepsEveryFieldOfEveryRecord) {
  KlvModelDesc model;
  model.TextureNames = {"a.bmp", "b.bmp"};
  KlvObjectDesc root = Triangle(1);
  root.Id = KlvFourCC("BODY");
  MatrixSetRotTrans(root.Local, 1, 2, 3, 0.1f, 0.2f, 0.3f);
  MatrixSetRotTrans(root.Base, -1, 0, 5, 0, 0, 1);
  root.Points = {{7, -8, 9}};
  root.Polygons = {{{2, 1, 0, 1}, 0x1205}};
  root.EnvMap = KlvEnvMapDesc{1, 0.5f, 0.25f, 0.75f};
  KlvObjectDesc child = Triangle(0, 0);
  child.Id = 77;
  child.Faces.push_back({{2, 1, 0}, 5, 1});
  model.Objects = {root, child};

  TSceneObject* obj = LoadModelFile(textures, Write("m.klv", model));
  TreeGuard guard{obj};

  ASSERT_EQ(textures.textures.size(), 2u);
  EXPECT_EQ(obj->Id, KlvFourCC("BODY"));
  for (int e = 0; e < 16; ++e) {
    EXPECT_EQ(obj->Local.m[e], root.Local.m[e]);
    EXPECT_EQ(obj->Base.m[e], root.Base.m[e]);
  }
  ASSERT_EQ(obj->VertexCount, 3);
  EXPECT_EQ(obj->VertexCapacity, 3);
  const TMeshVertex& v = obj->Vertices[2];
  EXPECT_EQ(v.X, 0);
  EXPECT_EQ(v.Y, 2);
  EXPECT_EQ(v.Z, -3);
  EXPECT_EQ(v.V, 1);
  EXPECT_EQ(v.NY, 1);
  EXPECT_EQ(v.NZ, 0);
  EXPECT_EQ(v.Color, 0x80FFFFFFu);
  EXPECT_EQ(obj->BoundsMin.y, -8.0f);  // the point widens the box
  EXPECT_EQ(obj->BoundsMin.z, -3.0f);
  EXPECT_EQ(obj->BoundsMax.x, 7.0f);
  ASSERT_EQ(obj->FaceCount, 1);
  EXPECT_EQ(obj->Faces[0].Texture, &textures.textures[1]);
  EXPECT_EQ(obj->Faces[0].Owner, obj);
  ASSERT_EQ(obj->PolygonCount, 1);
  EXPECT_EQ(obj->Polygons[0].IndexCount, 4);
  EXPECT_EQ(obj->Polygons[0].Indices[3], 1);
  EXPECT_EQ(obj->Polygons[0].PrimType, 0x05);  // only the low byte is kept
  EXPECT_EQ(obj->EnvMap.Enabled, 1);
  EXPECT_EQ(obj->EnvMap.Scale, 0.5f);
  EXPECT_EQ(obj->EnvMap.OffsetU, 0.25f);
  EXPECT_EQ(obj->EnvMap.OffsetV, 0.75f);

  TSceneObject* c = obj->FirstChild;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Parent, obj);
  EXPECT_EQ(c->Id, 77);
  EXPECT_EQ(c->EnvMap.Enabled, 0);
  ASSERT_EQ(c->FaceCount, 2);
  EXPECT_EQ(c->Faces[0].Texture, &textures.textures[0]);
  EXPECT_EQ(c->Faces[1].Texture, &textures.textures[1]);
  EXPECT_EQ(c->Faces[1].PrimType, 5);
  EXPECT_EQ(c->Faces[1].Indices[0], 2);
  EXPECT_EQ(c->Faces[1].Owner, c);
}

TEST_F(LoaderTest, SameBitmapTwiceInOneFileMakesOneTexture) {
  KlvModelDesc model;
  model.TextureNames = {"same.bmp", "same.bmp"};
  model.Objects = {Triangle(0)};
  model.Objects[0].Faces.push_back({{0, 2, 1}, 6, 1});
  TSceneObject* obj = LoadModelFile(textures, Write("m.klv", model));
  TreeGuard guard{obj};
  ASSERT_EQ(textures.textures.size(), 1u);
  EXPECT_EQ(obj->Faces[0].Texture, obj->Faces[1].Texture);
}

TEST_F(LoaderTest, LaterModelsShareTexturesByExactName) {
  KlvModelDesc first;
  first.TextureNames = {"wood.bmp"};
  first.Objects = {Triangle(0)};
  TSceneObject* a = LoadModelFile(textures, Write("a.klv", first));
  TreeGuard guardA{a};

  // The bitmap is gone: reusing the texture must not open it again.
  std::filesystem::remove(dir.Prefix() + "wood.bmp");
  KlvModelDesc second = first;
  WriteModelFile(dir.Prefix() + "b.klv", second);
  TSceneObject* b = LoadModelFile(textures, dir.Prefix() + "b.klv");
  TreeGuard guardB{b};
  EXPECT_EQ(b->Faces[0].Texture, a->Faces[0].Texture);
  EXPECT_EQ(textures.madeWidths.size(), 1u);

  // A name differing only in letter case is another texture.
  KlvModelDesc third = first;
  third.TextureNames = {"Wood.bmp"};
  TSceneObject* c = LoadModelFile(textures, Write("c.klv", third));
  TreeGuard guardC{c};
  EXPECT_NE(c->Faces[0].Texture, a->Faces[0].Texture);
  EXPECT_EQ(textures.textures.size(), 2u);
  EXPECT_EQ(c->Faces[0].Texture->Name, "Wood.bmp");  // the bare name, not the path
}

TEST_F(LoaderTest, EnvironmentBlockIsOptionalAndDisabledBlockKeepsItsValues) {
  KlvModelDesc model;
  model.TextureNames = {"t.bmp"};
  model.Objects = {Triangle(), Triangle(0, 0), Triangle(0, 1)};
  model.Objects[1].EnvMap = KlvEnvMapDesc{0, 2.0f, 3.0f, 4.0f};
  TSceneObject* obj = LoadModelFile(textures, Write("m.klv", model));
  TreeGuard guard{obj};
  EXPECT_EQ(obj->EnvMap.Enabled, 0);
  TSceneObject* withBlock = obj->FirstChild;
  ASSERT_NE(withBlock, nullptr);
  EXPECT_EQ(withBlock->EnvMap.Enabled, 0);
  EXPECT_EQ(withBlock->EnvMap.Scale, 2.0f);
  EXPECT_EQ(withBlock->EnvMap.OffsetV, 4.0f);
  // The record after the block still finds its parent: the block did not swallow the ParentIndex.
  ASSERT_NE(withBlock->FirstChild, nullptr);
  EXPECT_EQ(withBlock->FirstChild->EnvMap.Enabled, 0);
}

TEST_F(LoaderTest, ChildrenStandInReverseFileOrderAndOrphansAreReleased) {
  KlvModelDesc model;
  model.TextureNames = {"t.bmp"};
  model.Objects = {Triangle(), Triangle(0, 0), Triangle(0, 0), Triangle(0, 0), Triangle(0, -1), Triangle(0, 4)};
  for (size_t i = 0; i < model.Objects.size(); ++i) model.Objects[i].Id = static_cast<int32_t>(i);
  TSceneObject* obj = LoadModelFile(textures, Write("m.klv", model));
  TreeGuard guard{obj};  // the orphan (4) and its child (5) were released by the load; ASan checks it
  std::vector<int32_t> ids;
  for (TSceneObject* c = obj->FirstChild; c != nullptr; c = c->Next) ids.push_back(c->Id);
  EXPECT_EQ(ids, (std::vector<int32_t>{3, 2, 1}));
  EXPECT_EQ(obj->Next, nullptr);
}

TEST_F(LoaderTest, FolderPrefixEndsAtTheLastSlashOfEitherKind) {
  KlvModelDesc model;
  model.TextureNames = {"tex.bmp"};
  model.Objects = {Triangle()};
  std::filesystem::create_directories(dir.Prefix() + "sub");
  WriteBitmap24(dir.Prefix() + "sub/tex.bmp", 8, 1, [](int, int) { return 0u; });
  WriteModelFile(dir.Prefix() + "sub/m.klv", model);
  TSceneObject* forward = LoadModelFile(textures, dir.Prefix() + "sub/m.klv");
  TreeGuard guardF{forward};
  ASSERT_EQ(textures.madeWidths, std::vector<int>{8});

  // On this platform a backslash is an ordinary file name character, so "x\tex.bmp" is one file.
  FakeTextureSource fresh;
  WriteBitmap24(dir.Prefix() + "x\\tex.bmp", 5, 1, [](int, int) { return 0u; });
  WriteModelFile(dir.Prefix() + "x\\m.klv", model);
  TSceneObject* back = LoadModelFile(fresh, dir.Prefix() + "x\\m.klv");
  TreeGuard guardB{back};
  EXPECT_EQ(fresh.madeWidths, std::vector<int>{5});
}

// Models made on Windows name "tex\\wood.bmp" and may spell a name in another letter case than the
// file on disk: the backslash separates folders, and a name that does not exist as written is
// matched ignoring case, folder by folder. The texture keeps the name the model file gives.
TEST_F(LoaderTest, TextureNamesUseBackslashFoldersAndLooseLetterCase) {
  std::filesystem::create_directories(dir.Prefix() + "Tex/Bark");
  WriteFlatBitmap(dir.Prefix() + "Tex/wood.bmp", 3, 1, 0);
  WriteFlatBitmap(dir.Prefix() + "Tex/Bark/Oak.bmp", 6, 1, 0);
  KlvModelDesc model;
  model.TextureNames = {"Tex\\wood.bmp", "tex\\WOOD.BMP", "TEX\\bark\\oak.BMP"};
  model.Objects = {Triangle(2)};
  WriteModelFile(dir.Prefix() + "m.klv", model);
  TSceneObject* root = LoadModelFile(textures, dir.Prefix() + "m.klv");
  TreeGuard guard{root};
  EXPECT_EQ(textures.madeWidths, (std::vector<int>{3, 3, 6}));
  ASSERT_EQ(textures.textures.size(), 3u);
  EXPECT_EQ(textures.textures[1].Name, "tex\\WOOD.BMP");
  EXPECT_EQ(root->Faces[0].Texture, &textures.textures[2]);

  // The exact spelling wins over a case-insensitive match; among matches the first in byte order.
  WriteFlatBitmap(dir.Prefix() + "a.bmp", 7, 1, 0);
  WriteFlatBitmap(dir.Prefix() + "A.bmp", 8, 1, 0);
  model.TextureNames = {"a.bmp", "a.BMP"};
  model.Objects = {Triangle(1)};
  WriteModelFile(dir.Prefix() + "n.klv", model);
  FakeTextureSource fresh;
  TSceneObject* other = LoadModelFile(fresh, dir.Prefix() + "n.klv");
  TreeGuard guardOther{other};
  EXPECT_EQ(fresh.madeWidths, (std::vector<int>{7, 8}));

  // Nothing matches: the open error names the path the model file asked for.
  model.TextureNames = {"Tex\\pine.bmp"};
  model.Objects = {Triangle(0)};
  WriteModelFile(dir.Prefix() + "p.klv", model);
  try {
    LoadModelFile(fresh, dir.Prefix() + "p.klv");
    FAIL() << "a missing texture was accepted";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    EXPECT_EQ(e.file(), dir.Prefix() + "Tex/pine.bmp");
  }
}

// A folder where a model or texture file should be is an open error naming it, not an exception
// of the stream library.
TEST_F(LoaderTest, FoldersNamedLikeTheFilesAreOpenErrors) {
  std::filesystem::create_directories(dir.Prefix() + "m.klv");
  try {
    LoadModelFile(textures, dir.Prefix() + "m.klv");
    FAIL() << "a folder was read as a model";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    EXPECT_EQ(e.file(), dir.Prefix() + "m.klv");
  }
  KlvModelDesc model;
  model.TextureNames = {"t.bmp"};
  model.Objects = {Triangle()};
  std::filesystem::create_directories(dir.Prefix() + "t.bmp");
  WriteModelFile(dir.Prefix() + "n.klv", model);
  EXPECT_EQ(KindOf([&] { LoadModelFile(textures, dir.Prefix() + "n.klv"); }), KlvErrorKind::FileOpen);
}

TEST_F(LoaderTest, MissingFilesAreFileOpenErrorsAndKeepEarlierTextures) {
  EXPECT_EQ(KindOf([&] { LoadModelFile(textures, dir.Prefix() + "none.klv"); }), KlvErrorKind::FileOpen);

  KlvModelDesc model;
  model.TextureNames = {"here.bmp", "gone.bmp"};
  model.Objects = {Triangle(1)};
  const std::string file = Write("m.klv", model);
  std::filesystem::remove(dir.Prefix() + "gone.bmp");
  EXPECT_EQ(KindOf([&] { LoadModelFile(textures, file); }), KlvErrorKind::FileOpen);
  ASSERT_EQ(textures.textures.size(), 1u);  // registered with the device, so it stays
  EXPECT_EQ(textures.textures[0].Name, "here.bmp");
}

TEST_F(LoaderTest, ErrorsNameTheFile) {
  KlvModelDesc model;
  model.Objects = {Triangle()};  // faces but no texture table
  const std::string file = dir.Prefix() + "m.klv";
  std::vector<uint8_t> bytes = EncodeModel({{"t.bmp"}, model.Objects});
  bytes.erase(bytes.begin(), bytes.begin() + 10);
  bytes.insert(bytes.begin(), {0, 0, 0, 0});  // TextureCount 0
  WriteBytes(file, bytes);
  try {
    LoadModelFile(textures, file);
    FAIL() << "a face without a texture table was accepted";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::OutOfRange);
    EXPECT_EQ(e.file(), file);
  }
}

TEST_F(LoaderTest, NegativeTextureCountMeansNoTable) {
  KlvObjectDesc empty;  // no faces, so no texture is needed
  std::vector<uint8_t> bytes = EncodeModel({{}, {empty}});
  PutLE(bytes, 0, static_cast<uint32_t>(-5));
  TSceneObject* obj = LoadModelBytes(textures, "m.klv", bytes);
  TreeGuard guard{obj};
  EXPECT_EQ(obj->VertexCount, 0);
  EXPECT_EQ(textures.findCalls, 0);
}

// The prefix may be as long as a path the system accepts (4095 bytes), no longer.
TEST_F(LoaderTest, TooLongFolderPrefixIsRefused) {
  const std::string file = std::string(4095, 'd') + "/m.klv";
  EXPECT_EQ(KindOf([&] { LoadModelFile(textures, file); }), KlvErrorKind::OutOfRange);
  for (size_t length : {254u, 300u, 4094u}) {
    const std::string fits = std::string(length, 'd') + "/m.klv";
    EXPECT_EQ(KindOf([&] { LoadModelFile(textures, fits); }), KlvErrorKind::FileOpen) << length;
  }
}

}  // namespace
