#include "model/klvwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/error.h"

namespace {

int32_t Int32At(const std::vector<uint8_t>& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

float FloatAt(const std::vector<uint8_t>& b, size_t at) {
  float v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

KlvModelDesc OneTriangle() {
  KlvModelDesc model;
  model.TextureNames = {"a.bmp"};
  KlvObjectDesc obj;
  obj.Id = KlvFourCC("RHre");
  obj.Local.m[12] = 7.0f;
  obj.Vertices = {{1, 2, 3, 0.25f, 0.5f, 0, 0, 1, 0xFF102030}, {0, 0, 0}, {1, 0, 0}};
  obj.Faces = {{{0, 1, 2}, 6, 0}};
  obj.Points = {{4, 5, 6}};
  obj.Polygons = {{{2, 1, 0}, 6}};
  model.Objects.push_back(obj);
  return model;
}

KlvErrorKind KindOf(const KlvModelDesc& model) {
  try {
    EncodeModel(model);
  } catch (const KlvError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no error";
  return KlvErrorKind::Unsupported;
}

}  // namespace

TEST(KlvWriter, FourCharacterCodesAreLittleEndian) {
  EXPECT_EQ(KlvFourCC("RHre"), 'R' | 'H' << 8 | 'r' << 16 | 'e' << 24);
}

TEST(KlvWriter, LaysOutTheRecordAsTheLoaderReadsIt) {
  const std::vector<uint8_t> b = EncodeModel(OneTriangle());
  size_t at = 0;
  EXPECT_EQ(Int32At(b, at), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + 4)), "a.bmp");
  at = 4 + 6;
  EXPECT_EQ(Int32At(b, at), 1);  // object count
  const size_t head = at + 4;
  EXPECT_EQ(Int32At(b, head + 0), 3);
  EXPECT_EQ(Int32At(b, head + 4), 1);
  EXPECT_EQ(Int32At(b, head + 8), 1);
  EXPECT_EQ(Int32At(b, head + 12), 1);
  EXPECT_EQ(std::memcmp(b.data() + head + 16, "RHre", 4), 0);
  EXPECT_EQ(FloatAt(b, head + 20), 1.0f);       // Local(0, 0)
  EXPECT_EQ(FloatAt(b, head + 20 + 48), 7.0f);  // Local translation x
  EXPECT_EQ(FloatAt(b, head + 84 + 60), 1.0f);  // Base(3, 3)
  const size_t vertices = head + 148;
  EXPECT_EQ(FloatAt(b, vertices + 8), 3.0f);
  EXPECT_EQ(FloatAt(b, vertices + 16), 0.5f);
  EXPECT_EQ(FloatAt(b, vertices + 28), 1.0f);
  EXPECT_EQ(static_cast<uint32_t>(Int32At(b, vertices + 32)), 0xFF102030u);
  const size_t face = vertices + 3 * 36;
  EXPECT_EQ(Int32At(b, face), 3);
  EXPECT_EQ(b[face + 4 + 2 * 2], 2);
  EXPECT_EQ(Int32At(b, face + 10), 6);
  EXPECT_EQ(Int32At(b, face + 14), 0);
  const size_t point = face + 18;
  EXPECT_EQ(FloatAt(b, point + 8), 6.0f);
  const size_t polygon = point + 12;
  EXPECT_EQ(Int32At(b, polygon), 3);
  EXPECT_EQ(b[polygon + 4], 2);
  EXPECT_EQ(Int32At(b, polygon + 10), 6);
  EXPECT_EQ(Int32At(b, polygon + 14), -1);  // no environment block: the parent index follows
  EXPECT_EQ(b.size(), polygon + 18);
}

TEST(KlvWriter, WritesTheEnvironmentBlockBeforeTheParentIndex) {
  KlvModelDesc model = OneTriangle();
  KlvObjectDesc child;
  child.EnvMap = KlvEnvMapDesc{1, 0.5f, 0.25f, 0.125f};
  child.ParentIndex = 0;
  model.Objects.push_back(child);
  const std::vector<uint8_t> b = EncodeModel(model);
  const size_t tail = b.size() - 24;
  EXPECT_EQ(std::memcmp(b.data() + tail, "DSXT", 4), 0);
  EXPECT_EQ(Int32At(b, tail + 4), 1);
  EXPECT_EQ(FloatAt(b, tail + 8), 0.5f);
  EXPECT_EQ(FloatAt(b, tail + 16), 0.125f);
  EXPECT_EQ(Int32At(b, tail + 20), 0);
}

TEST(KlvWriter, RefusesWhatTheLoaderWouldRefuse) {
  EXPECT_EQ(KindOf(KlvModelDesc{}), KlvErrorKind::OutOfRange);

  KlvModelDesc badIndex = OneTriangle();
  badIndex.Objects[0].Faces[0].Indices[2] = 3;
  EXPECT_EQ(KindOf(badIndex), KlvErrorKind::OutOfRange);

  KlvModelDesc badTexture = OneTriangle();
  badTexture.Objects[0].Faces[0].TextureIndex = 1;
  EXPECT_EQ(KindOf(badTexture), KlvErrorKind::OutOfRange);

  KlvModelDesc longFace = OneTriangle();
  longFace.Objects[0].Polygons[0].Indices.assign(129, 0);
  EXPECT_EQ(KindOf(longFace), KlvErrorKind::OutOfRange);

  KlvModelDesc longName = OneTriangle();
  longName.TextureNames[0].assign(256, 'x');
  EXPECT_EQ(KindOf(longName), KlvErrorKind::OutOfRange);

  KlvModelDesc selfParent = OneTriangle();
  selfParent.Objects[0].ParentIndex = 0;
  EXPECT_EQ(KindOf(selfParent), KlvErrorKind::OutOfRange);
}

TEST(KlvWriter, WritesTheEncodedBytesAndReportsAnUnwritableFile) {
  const std::filesystem::path dir = std::filesystem::path(KLV_TEST_BIN_DIR) / "klvwriter_files";
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "one.klv").string();
  WriteModelFile(file, OneTriangle());
  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> written{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(written, EncodeModel(OneTriangle()));

  try {
    WriteModelFile((dir / "no-such-folder" / "x.klv").string(), OneTriangle());
    FAIL() << "no error";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
  }
}
