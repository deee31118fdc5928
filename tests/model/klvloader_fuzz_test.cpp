// Damaged model files: every truncation, a generated corpus per refusal, and seeded random
// corruptions. Each must be refused with a KlvError of the right kind, never crash, read out of
// bounds or leak (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>

#include "model/klvloader.h"
#include "model/klvloader_test_support.h"
#include "model/klvwriter.h"
#include "platform/error.h"

namespace {

// Byte offsets of the fields of the base model below (one texture name "t.bmp").
constexpr size_t kObjectCountAt = 10;
constexpr size_t kRecord0 = 14;
constexpr size_t kHead = 148;
constexpr size_t kFace0 = kRecord0 + kHead + 3 * 36;  // IndexCount, 3 indices, PrimType, TextureIndex
constexpr size_t kPolygon0 = kFace0 + 18 + 12;        // after the face and the point
constexpr size_t kEnv0 = kPolygon0 + 14;              // "DSXT" block
constexpr size_t kParent0 = kEnv0 + 20;
constexpr size_t kRecord1 = kParent0 + 4;
constexpr size_t kFace1 = kRecord1 + kHead + 3 * 36;
constexpr size_t kParent1 = kFace1 + 18;
constexpr size_t kRecord2 = kParent1 + 4;
constexpr size_t kParent2 = kRecord2 + kHead;
constexpr size_t kFileBytes = kParent2 + 4;

KlvObjectDesc Triangle(int32_t parent) {
  KlvObjectDesc obj;
  obj.Vertices = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
  obj.Faces = {{{0, 1, 2}, 6, 0}};
  obj.ParentIndex = parent;
  return obj;
}

std::vector<uint8_t> BaseFile() {
  KlvModelDesc model;
  model.TextureNames = {"t.bmp"};
  KlvObjectDesc root = Triangle(-1);
  root.Points = {{1, 2, 3}};
  root.Polygons = {{{0, 1, 2}, 6}};
  root.EnvMap = KlvEnvMapDesc{};
  KlvObjectDesc empty;  // a grouping node: no elements at all
  empty.ParentIndex = 1;
  model.Objects = {root, Triangle(0), empty};
  return EncodeModel(model);
}

class DamagedFileTest : public ::testing::Test {
 protected:
  DamagedFileTest() { textures.Add("t.bmp"); }

  // The kind of KlvError the load raises; a load that succeeds is reported and released.
  KlvErrorKind Load(const std::vector<uint8_t>& bytes) {
    try {
      FreeObjectTree(LoadModelBytes(textures, "nowhere/m.klv", bytes));
    } catch (const KlvError& e) {
      EXPECT_EQ(e.file(), "nowhere/m.klv");
      return e.kind();
    }
    ADD_FAILURE() << "the damaged file was accepted";
    return KlvErrorKind::Unsupported;
  }

  std::vector<uint8_t> Patched(size_t offset, int32_t value) {
    std::vector<uint8_t> bytes = BaseFile();
    PutLE(bytes, offset, static_cast<uint32_t>(value));
    return bytes;
  }

  FakeTextureSource textures;
};

TEST_F(DamagedFileTest, BaseFileLoadsAndHasTheExpectedLayout) {
  const std::vector<uint8_t> bytes = BaseFile();
  ASSERT_EQ(bytes.size(), kFileBytes);
  ASSERT_EQ(bytes[kEnv0], 'D');
  TSceneObject* root = LoadModelBytes(textures, "m.klv", bytes);
  ASSERT_NE(root->FirstChild, nullptr);
  EXPECT_NE(root->FirstChild->FirstChild, nullptr);
  EXPECT_EQ(textures.textures.size(), 1u);
  FreeObjectTree(root);
}

TEST_F(DamagedFileTest, EveryTruncationIsAShortFile) {
  const std::vector<uint8_t> bytes = BaseFile();
  for (size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    EXPECT_EQ(Load(cut), KlvErrorKind::ShortFile) << "cut at " << n;
  }
}

TEST_F(DamagedFileTest, ObjectCountBelowOneIsRefused) {
  for (int32_t count : {0, -1, INT_MIN}) EXPECT_EQ(Load(Patched(kObjectCountAt, count)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, CountsBeyondTheFileAreShortFiles) {
  for (int32_t count : {4, 1000, 0x00FFFFFF, INT_MAX})
    EXPECT_EQ(Load(Patched(kObjectCountAt, count)), KlvErrorKind::ShortFile);
  for (size_t field = 0; field < 4; ++field)
    for (int32_t count : {1000, 0x10000000, INT_MAX})
      EXPECT_EQ(Load(Patched(kRecord0 + 4 * field, count)), KlvErrorKind::ShortFile) << "field " << field;
  EXPECT_EQ(Load(Patched(0, INT_MAX)), KlvErrorKind::ShortFile);  // TextureCount
}

TEST_F(DamagedFileTest, NegativeElementCountsAreRefused) {
  for (size_t record : {kRecord0, kRecord1, kRecord2})
    for (size_t field = 0; field < 4; ++field)
      for (int32_t count : {-1, INT_MIN}) EXPECT_EQ(Load(Patched(record + 4 * field, count)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, IndexCountsOutsideZeroTo128AreRefused) {
  for (size_t at : {kFace0, kPolygon0, kFace1})
    for (int32_t count : {129, 1000, -1, INT_MIN}) EXPECT_EQ(Load(Patched(at, count)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, VertexIndicesAtOrBeyondVertexCountAreRefused) {
  for (size_t at : {kFace0 + 4, kFace0 + 8, kPolygon0 + 6, kFace1 + 4}) {
    for (uint32_t index : {3u, 4u, 0xFFFFu}) {
      std::vector<uint8_t> bytes = BaseFile();
      PutLE(bytes, at, index, 2);
      EXPECT_EQ(Load(bytes), KlvErrorKind::OutOfRange) << "offset " << at << " index " << index;
    }
  }
}

TEST_F(DamagedFileTest, TextureIndicesOutsideTheTableAreRefused) {
  for (size_t at : {kFace0 + 14, kFace1 + 14})
    for (int32_t index : {1, 2, -1, INT_MIN, INT_MAX}) EXPECT_EQ(Load(Patched(at, index)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, ParentsThatAreNotEarlierRecordsAreRefused) {
  EXPECT_EQ(Load(Patched(kParent0, 0)), KlvErrorKind::OutOfRange);
  for (int32_t parent : {1, 2, 3, 1000, -2, INT_MIN})
    EXPECT_EQ(Load(Patched(kParent1, parent)), KlvErrorKind::OutOfRange);
  for (int32_t parent : {2, 3, -2}) EXPECT_EQ(Load(Patched(kParent2, parent)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, NamesOf256BytesOrMoreAreRefused) {
  const std::string longest(kMaxModelNameBytes, 'n');
  textures.Add(longest);
  KlvModelDesc model;
  model.TextureNames = {longest};
  model.Objects = {Triangle(-1)};
  std::vector<uint8_t> bytes = EncodeModel(model);
  FreeObjectTree(LoadModelBytes(textures, "m.klv", bytes));

  bytes.insert(bytes.begin() + 4, 'n');
  EXPECT_EQ(Load(bytes), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, HierarchiesDeeperThanTheLimitAreRefused) {
  KlvModelDesc model;
  model.TextureNames = {"t.bmp"};
  for (int i = 0; i <= kMaxModelDepth; ++i) model.Objects.push_back(Triangle(i - 1));
  FreeObjectTree(LoadModelBytes(textures, "m.klv", EncodeModel(model)));

  model.Objects.push_back(Triangle(kMaxModelDepth));
  EXPECT_EQ(Load(EncodeModel(model)), KlvErrorKind::OutOfRange);
}

TEST_F(DamagedFileTest, BrokenEnvironmentTagIsReadAsParentIndex) {
  std::vector<uint8_t> bytes = BaseFile();
  bytes[kEnv0 + 3] = 'x';  // "DSXx" is no tag: it becomes the ParentIndex, a huge positive number
  EXPECT_EQ(Load(bytes), KlvErrorKind::OutOfRange);
}

// Seeded random damage of a valid file: byte changes, planted boundary numbers, cuts, inserted and
// removed runs. A file that still parses must hold only in-range indices and texture references.
TEST_F(DamagedFileTest, RandomCorruptionsNeverCrash) {
  const std::vector<uint8_t> base = BaseFile();
  const int32_t boundaries[] = {0,   1,   -1,    2,     3,       128,     129,
                                255, 256, 65535, 65536, INT_MAX, INT_MIN, static_cast<int32_t>(base.size())};
  std::mt19937 rng(20240611);
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 10000; ++round) {
    std::vector<uint8_t> bytes = base;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const size_t at = rng() % bytes.size();
      switch (rng() % 5) {
        case 0: bytes[at] = static_cast<uint8_t>(rng()); break;
        case 1:
          if (at + 4 <= bytes.size())
            PutLE(bytes, at, static_cast<uint32_t>(boundaries[rng() % std::size(boundaries)]));
          break;
        case 2: bytes.resize(at); break;
        case 3: bytes.insert(bytes.begin() + at, 1 + rng() % 8, static_cast<uint8_t>(rng())); break;
        default: bytes.erase(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 1 + rng() % 8)); break;
      }
    }
    try {
      TSceneObject* root = LoadModelBytes(textures, "nowhere/m.klv", bytes);
      for (TSceneObject* obj = root; obj != nullptr; obj = obj->FirstChild)
        for (int32_t f = 0; f < obj->FaceCount; ++f) {
          const TMeshFace& face = obj->Faces[f];
          ASSERT_NE(face.Texture, nullptr);
          for (int32_t k = 0; k < face.IndexCount; ++k) ASSERT_LT(face.Indices[k], obj->VertexCount);
        }
      FreeObjectTree(root);
      ++accepted;
    } catch (const KlvError&) {
      ++refused;
    }
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
