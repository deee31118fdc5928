// The terrain grid (heights, texture coordinates, normals across the wrap seam), its refusals, the
// window mesh's topology and the window's wrap-around reads.
#include "model/terrain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <random>

#include "support/bmp_fixtures.h"

namespace {

constexpr int kGrid = kHeightGridSize;
constexpr float kBase = 25.0f, kCell = 15.0f, kScale = 37.5f;

class TerrainTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateHeightField(hf_); }
  void TearDown() override {
    if (hf_) FreeObjectTree(hf_->Mesh);
    FreeHeightField(hf_);
    std::filesystem::remove(path_);
  }

  // Writes an 8-bit map whose stored row i, pixel j is pixel(i, j) (the writer stores bottom-up).
  void WriteMap(const std::function<uint8_t(int, int)>& pixel, int width = kGrid, int height = kGrid) {
    std::vector<uint8_t> topDown(static_cast<size_t>(width) * height);
    for (int i = 0; i < height; ++i)
      for (int j = 0; j < width; ++j) topDown[static_cast<size_t>(height - 1 - i) * width + j] = pixel(i, j);
    bmpfix::Rewrite(path_, EncodeBmp8(width, height, topDown, bmpfix::Palette(256)));
  }

  // The scene's values, except that U counts rows and V counts columns when `indexCoords` is set.
  void Load(bool indexCoords = false) {
    if (indexCoords)
      LoadHeightField(hf_, path_, kBase, kCell, kScale, 0.0f, 0.0f, 511.0f, 511.0f);
    else
      LoadHeightField(hf_, path_, kBase, kCell, kScale, 0.5f, 0.5f, 40.5f, 40.5f);
  }

  KlvErrorKind LoadError() {
    try {
      Load();
    } catch (const KlvError& e) {
      EXPECT_EQ(e.file(), path_);
      return e.kind();
    }
    ADD_FAILURE() << "accepted";
    return KlvErrorKind::Unsupported;
  }

  // Places the window for a camera in cell (cellX, cellY) the way the scene step does.
  void MoveTo(int32_t cellX, int32_t cellY) {
    const float half = kCell * hf_->MeshSize / 2;
    UpdateHeightFieldMesh(hf_, cellX, cellY, cellX * kCell - half, cellY * kCell - half);
  }
  const TMeshVertex& Vertex(int e, int f) const { return hf_->Mesh->Vertices[e * hf_->MeshSize + f]; }

  std::string path_ = bmpfix::TempFile("maphi.bmp");
  THeightField* hf_ = nullptr;
};

TEST_F(TerrainTest, FlatMapIsLevelAndFacesUpEverywhereIncludingTheSeam) {
  WriteMap([](int, int) { return 128; });
  Load();
  EXPECT_EQ(hf_->CellSize, kCell);
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const THeightCell& c = hf_->Cells[i][j];
      ASSERT_EQ(c.Height, kBase);
      ASSERT_EQ(c.NX, 0.0f) << i << "," << j;
      ASSERT_EQ(c.NY, 0.0f) << i << "," << j;
      ASSERT_EQ(c.NZ, 1.0f) << i << "," << j;
    }
}

TEST_F(TerrainTest, PixelsBecomeHeightsAndPositionsInStoredRowOrder) {
  // Stored row 0 (the picture's bottom row) is grid row 0; a wider map is read with its padding.
  WriteMap([](int i, int j) { return static_cast<uint8_t>(i == 0 && j == 1   ? 0
                                                          : i == 2 && j == 3 ? 255
                                                                             : 128); },
           kGrid + 2, kGrid + 1);
  Load();
  EXPECT_EQ(hf_->Cells[0][1].Height, kBase - kScale);
  EXPECT_FLOAT_EQ(hf_->Cells[2][3].Height, kBase + kScale * 127 / 128);
  EXPECT_EQ(hf_->Cells[0][0].Height, kBase);
  EXPECT_EQ(hf_->Cells[2][3].X, 3 * kCell);
  EXPECT_EQ(hf_->Cells[2][3].Y, 2 * kCell);
}

TEST_F(TerrainTest, TextureCoordinatesRunFromOffsetToOffsetPlusScale) {
  WriteMap([](int, int) { return 128; });
  LoadHeightField(hf_, path_, kBase, kCell, kScale, 0.25f, 0.5f, 10.0f, 40.5f);
  EXPECT_EQ(hf_->Cells[0][0].U, 0.5f);
  EXPECT_EQ(hf_->Cells[0][0].V, 0.25f);
  EXPECT_FLOAT_EQ(hf_->Cells[511][511].U, 41.0f);
  EXPECT_FLOAT_EQ(hf_->Cells[511][511].V, 10.25f);
  // U follows the row, V the column.
  EXPECT_EQ(hf_->Cells[511][0].V, 0.25f);
  EXPECT_EQ(hf_->Cells[0][511].U, 0.5f);
}

TEST_F(TerrainTest, SlopeTiltsTheNormalAgainstTheRise) {
  WriteMap([](int, int j) { return static_cast<uint8_t>(j % 256); });
  Load();
  const double rise = kScale / 128.0;  // height step per column
  const double length = std::sqrt(rise * rise + kCell * kCell);
  const THeightCell& c = hf_->Cells[10][10];
  EXPECT_FLOAT_EQ(c.NX, static_cast<float>(-rise / length));
  EXPECT_EQ(c.NY, 0.0f);
  EXPECT_FLOAT_EQ(c.NZ, static_cast<float>(kCell / length));
}

TEST_F(TerrainTest, SeamNormalsMatchTheSameCellsAwayFromTheSeam) {
  std::mt19937 random(1234);
  std::vector<uint8_t> map(kGrid * kGrid);
  for (auto& p : map) p = static_cast<uint8_t>(random());
  auto at = [&](int i, int j) { return map[static_cast<size_t>(i % kGrid) * kGrid + j % kGrid]; };

  WriteMap([&](int i, int j) { return at(i, j); });
  Load();
  THeightField* plain = hf_;
  hf_ = nullptr;
  CreateHeightField(hf_);
  // The same landscape shifted by half the grid: the seam cells now lie in the middle.
  WriteMap([&](int i, int j) { return at(i + 256, j + 256); });
  Load();

  int seamCells = 0;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      if (i != 0 && i != kGrid - 1 && j != 0 && j != kGrid - 1) continue;
      const THeightCell& seam = plain->Cells[i][j];
      const THeightCell& middle = hf_->Cells[(i + 256) % kGrid][(j + 256) % kGrid];
      ASSERT_EQ(seam.Height, middle.Height);
      ASSERT_EQ(seam.NX, middle.NX) << i << "," << j;
      ASSERT_EQ(seam.NY, middle.NY) << i << "," << j;
      ASSERT_EQ(seam.NZ, middle.NZ) << i << "," << j;
      ++seamCells;
    }
  EXPECT_EQ(seamCells, 4 * kGrid - 4);
  FreeHeightField(plain);
}

TEST_F(TerrainTest, UnsuitableHeightMapsAreRefusedAndLeaveTheGridAsItWas) {
  WriteMap([](int, int) { return 128; });
  Load();
  WriteMap([](int, int) { return 0; }, kGrid - 1, kGrid);
  EXPECT_EQ(LoadError(), KlvErrorKind::OutOfRange);
  WriteMap([](int, int) { return 0; }, kGrid, kGrid - 1);
  EXPECT_EQ(LoadError(), KlvErrorKind::OutOfRange);
  bmpfix::Rewrite(path_, EncodeBmp24(kGrid, kGrid, std::vector<uint8_t>(kGrid * kGrid * 3)));
  EXPECT_EQ(LoadError(), KlvErrorKind::BadFormat);
  bmpfix::Rewrite(
      path_, bmpfix::Cut(EncodeBmp8(kGrid, kGrid, std::vector<uint8_t>(kGrid * kGrid), bmpfix::Palette(256)), 5000));
  EXPECT_EQ(LoadError(), KlvErrorKind::ShortFile);
  std::filesystem::remove(path_);
  EXPECT_EQ(LoadError(), KlvErrorKind::FileOpen);
  EXPECT_EQ(hf_->Cells[0][0].Height, kBase);
  EXPECT_EQ(hf_->Cells[511][511].NZ, 1.0f);
}

TEST_F(TerrainTest, WindowMeshIsAGridOfFanQuads) {
  TKlvTexdata ground;
  BuildHeightFieldMesh(hf_, 32, &ground);
  const TSceneObject* mesh = hf_->Mesh;
  EXPECT_EQ(hf_->MeshSize, 32);
  EXPECT_EQ(mesh->VertexCount, 1024);
  EXPECT_EQ(mesh->PointCount, 1024);
  EXPECT_EQ(mesh->FaceCount, 961);
  EXPECT_EQ(mesh->PolygonCount, 961);
  EXPECT_EQ(mesh->FaceCapacity, 4096);
  EXPECT_EQ(mesh->Vertices[5].Color, 0xFFFFFFFFu);
  const TMeshFace& first = mesh->Faces[0];
  EXPECT_EQ(first.IndexCount, 4);
  EXPECT_EQ(first.PrimType, 6);
  EXPECT_EQ(first.Texture, &ground);
  EXPECT_EQ(std::vector<uint16_t>(first.Indices, first.Indices + 4), (std::vector<uint16_t>{0, 32, 33, 1}));
  const TMeshPolygon& last = mesh->Polygons[960];
  EXPECT_EQ(std::vector<uint16_t>(last.Indices, last.Indices + 4), (std::vector<uint16_t>{990, 1022, 1023, 991}));
  EXPECT_EQ(mesh->BoundsMin.x, 0.0f);
  EXPECT_EQ(mesh->BoundsMax.z, 0.0f);
}

TEST_F(TerrainTest, WindowSizeMustKeepIndicesInSixteenBits) {
  for (int32_t n : {-1, 0, 257}) {
    try {
      BuildHeightFieldMesh(hf_, n, nullptr);
      ADD_FAILURE() << n << " accepted";
    } catch (const KlvError& e) {
      EXPECT_EQ(e.kind(), KlvErrorKind::OutOfRange);
    }
    EXPECT_EQ(hf_->Mesh, nullptr);
  }
  BuildHeightFieldMesh(hf_, 256, nullptr);
  EXPECT_EQ(hf_->Mesh->Faces[255 * 255 - 1].Indices[2], 65535);
}

// A window of one vertex has no faces and follows the camera cell like any other.
TEST_F(TerrainTest, WindowOfOneVertexHasNoFaces) {
  WriteMap([](int i, int j) { return static_cast<uint8_t>((i * 3 + j) % 256); });
  Load();
  BuildHeightFieldMesh(hf_, 1, nullptr);
  ASSERT_NE(hf_->Mesh, nullptr);
  EXPECT_EQ(hf_->MeshSize, 1);
  EXPECT_EQ(hf_->Mesh->VertexCount, 1);
  EXPECT_EQ(hf_->Mesh->FaceCount, 0);
  EXPECT_EQ(hf_->Mesh->PolygonCount, 0);
  MoveTo(-256, 5);  // grid row 0, column (5 + 768) mod 512 = 261
  EXPECT_EQ(Vertex(0, 0).Z, hf_->Cells[0][261].Height);
  EXPECT_EQ(Vertex(0, 0).X, -256 * kCell - kCell / 2);
}

TEST_F(TerrainTest, WindowReadsWrappedRowsAndColumns) {
  WriteMap([](int i, int j) { return static_cast<uint8_t>((i + j) % 256); });
  Load(true);  // U is the grid row, V the grid column
  BuildHeightFieldMesh(hf_, 4, nullptr);
  struct Case {
    int32_t cell;
    int firstRow;
  };
  for (const Case c : {Case{-256, 0}, Case{255, 511}, Case{-1000, 280}, Case{0, 256}, Case{INT32_MAX, 255}}) {
    UpdateHeightFieldMesh(hf_, c.cell, c.cell, 1.0f, 2.0f);
    SCOPED_TRACE(c.cell);
    for (int k = 0; k < 4; ++k) {
      const int expected = (c.firstRow + k) % kGrid;
      EXPECT_EQ(Vertex(k, 0).U, expected);  // step e reads successive rows
      EXPECT_EQ(Vertex(0, k).V, expected);  // step f reads successive columns
    }
    const THeightCell& cell = hf_->Cells[(c.firstRow + 1) % kGrid][(c.firstRow + 2) % kGrid];
    EXPECT_EQ(Vertex(1, 2).Z, cell.Height);
    EXPECT_EQ(Vertex(1, 2).NX, cell.NX);
    EXPECT_EQ(Vertex(1, 2).X, 1.0f + kCell);
    EXPECT_EQ(Vertex(1, 2).Y, 2.0f + 2 * kCell);
  }
}

TEST_F(TerrainTest, GroundStaysPutAsTheWindowSlidesAndBoundsOnlyGrow) {
  WriteMap([](int i, int j) { return static_cast<uint8_t>((i * 3 + j * 5) % 256); });
  Load();
  BuildHeightFieldMesh(hf_, 32, nullptr);
  MoveTo(10, -7);
  const TMeshVertex before = Vertex(5, 6);
  const TVector3 min = hf_->Mesh->BoundsMin, max = hf_->Mesh->BoundsMax;
  MoveTo(11, -7);  // one cell along x: the same world point is one window step earlier
  const TMeshVertex after = Vertex(4, 6);
  EXPECT_EQ(after.X, before.X);
  EXPECT_EQ(after.Y, before.Y);
  EXPECT_EQ(after.Z, before.Z);
  EXPECT_EQ(after.U, before.U);
  EXPECT_EQ(hf_->Mesh->BoundsMin.x, min.x);
  EXPECT_EQ(hf_->Mesh->BoundsMax.x, max.x + kCell);
  EXPECT_LE(hf_->Mesh->BoundsMin.z, min.z);
  EXPECT_EQ(hf_->Mesh->Vertices[0].Color, 0xFFFFFFFFu);  // colours untouched
}

}  // namespace
