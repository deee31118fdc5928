// Terrain grid and window mesh. Heights and texture coordinates come from the height map in one
// pass; normals in a second pass over the finished heights, each cell's neighbours taken across the
// wrap at the position they would have if they lay next to it, so the seam is lit like any cell.
#include "model/terrain.h"

#include <cmath>
#include <cstdlib>

#include "model/klvdib.h"
#include "platform/error.h"

namespace {

constexpr double kPixelMidpoint = 128.0;  // pixel value of BaseHeight
constexpr double kTexSpan = 511.0;        // grid index that reaches OffsetU + ScaleU
constexpr int64_t kWindowShift = 768;     // keeps the window's cells ahead of the camera cell
constexpr uint32_t kMeshColor = 0xFFFFFFFF;
constexpr uint8_t kTriangleFan = 6;
constexpr int kQuadIndices = 4;

int32_t WrapIndex(int64_t index) {
  const int64_t r = index % kHeightGridSize;
  return static_cast<int32_t>(r < 0 ? r + kHeightGridSize : r);
}

// The 8-bit pixel rows of the height map, checked against what the grid needs.
void CheckHeightMap(const TKlvDIB& dib, const std::string& fileName) {
  if (dib.Header.biBitCount != 8)
    throw KlvError(KlvErrorKind::BadFormat, fileName, "height map must be an 8-bit bitmap");
  if (std::abs(int64_t{dib.Header.biWidth}) < kHeightGridSize ||
      std::abs(int64_t{dib.Header.biHeight}) < kHeightGridSize)
    throw KlvError(KlvErrorKind::OutOfRange, fileName, "height map must be at least 512 x 512 pixels");
}

// One cell's normal from its four neighbours. Row and column neighbours are placed one cell away
// from (row, col) whatever the wrap, and take their heights from the wrapped cells.
void ComputeNormal(THeightField* hf, int32_t row, int32_t col) {
  const float cs = hf->CellSize;
  auto at = [&](int32_t r, int32_t c) {
    const THeightCell& cell = hf->Cells[WrapIndex(r)][WrapIndex(c)];
    return TVector3{static_cast<float>(c * static_cast<double>(cs)), static_cast<float>(r * static_cast<double>(cs)),
                    cell.Height};
  };
  auto diff = [](const TVector3& a, const TVector3& b) { return TVector3{a.x - b.x, a.y - b.y, a.z - b.z}; };
  const TVector3 r = diff(at(row - 1, col), at(row + 1, col));
  const TVector3 c = diff(at(row, col + 1), at(row, col - 1));
  const float nx = static_cast<float>(double{r.y} * c.z - double{r.z} * c.y);
  const float ny = static_cast<float>(double{r.z} * c.x - double{r.x} * c.z);
  const float nz = static_cast<float>(double{r.x} * c.y - double{r.y} * c.x);
  const float length = static_cast<float>(std::sqrt(double{nx} * nx + double{ny} * ny + double{nz} * nz));
  if (length == 0.0f) return;
  THeightCell& cell = hf->Cells[row][col];
  cell.NX = static_cast<float>(double{nx} / length);
  cell.NY = static_cast<float>(double{ny} / length);
  cell.NZ = static_cast<float>(double{nz} / length);
}

}  // namespace

void CreateHeightField(THeightField*& hf) { hf = new THeightField{}; }

void FreeHeightField(THeightField*& hf) {
  delete hf;
  hf = nullptr;
}

void LoadHeightField(THeightField* hf, const std::string& fileName, float baseHeight, float cellSize, float heightScale,
                     float offsetV, float offsetU, float scaleV, float scaleU) {
  TKlvDIB dib;
  dib.LoadFromFile(fileName);
  CheckHeightMap(dib, fileName);

  hf->CellSize = cellSize;
  for (int32_t i = 0; i < kHeightGridSize; ++i) {
    const uint8_t* pixels = dib.Bits.data() + static_cast<size_t>(i) * dib.RowBytes;
    const float u = static_cast<float>(i / kTexSpan * scaleU + offsetU);
    for (int32_t j = 0; j < kHeightGridSize; ++j) {
      THeightCell& cell = hf->Cells[i][j];
      cell.X = static_cast<float>(j * static_cast<double>(cellSize));
      cell.Y = static_cast<float>(i * static_cast<double>(cellSize));
      cell.Height = static_cast<float>((pixels[j] - kPixelMidpoint) / kPixelMidpoint * heightScale + baseHeight);
      cell.U = u;
      cell.V = static_cast<float>(j / kTexSpan * scaleV + offsetV);
    }
  }
  for (int32_t i = 0; i < kHeightGridSize; ++i)
    for (int32_t j = 0; j < kHeightGridSize; ++j) ComputeNormal(hf, i, j);
}

void BuildHeightFieldMesh(THeightField* hf, int32_t n, TKlvTexdata* texture) {
  if (n < kMinHeightMeshSize || n > kMaxHeightMeshSize)
    throw KlvError(KlvErrorKind::OutOfRange, "", "terrain mesh size " + std::to_string(n) + " is outside 1..256");
  const int32_t vertices = n * n;
  hf->MeshSize = n;
  CreateObject(hf->Mesh, vertices, 4 * vertices, vertices, 4 * vertices);
  for (int32_t k = 0; k < vertices; ++k) {
    AddVertex(hf->Mesh, 0, 0, 0, 0, 0, 0, 0, 0, kMeshColor);
    AddPoint(hf->Mesh, 0, 0, 0);
  }
  for (int32_t r = 0; r + 1 < n; ++r) {
    for (int32_t c = 0; c + 1 < n; ++c) {
      const uint16_t quad[kQuadIndices] = {static_cast<uint16_t>(r * n + c), static_cast<uint16_t>((r + 1) * n + c),
                                           static_cast<uint16_t>((r + 1) * n + c + 1),
                                           static_cast<uint16_t>(r * n + c + 1)};
      AddFace(hf->Mesh, quad, kQuadIndices, kTriangleFan, texture);
      AddPolygon(hf->Mesh, quad, kQuadIndices, kTriangleFan);
    }
  }
}

void UpdateHeightFieldMesh(THeightField* hf, int32_t cellX, int32_t cellY, float originX, float originY) {
  const int32_t n = hf->MeshSize;
  const double cs = hf->CellSize;
  const int32_t rowBase = WrapIndex(int64_t{cellX} + kWindowShift);
  const int32_t colBase = WrapIndex(int64_t{cellY} + kWindowShift);
  TSceneObject* mesh = hf->Mesh;
  for (int32_t e = 0; e < n; ++e) {
    const THeightCell* row = hf->Cells[(rowBase + e) % kHeightGridSize];
    const float x = static_cast<float>(originX + e * cs);
    TMeshVertex* out = mesh->Vertices + static_cast<size_t>(e) * n;
    for (int32_t f = 0; f < n; ++f) {
      const THeightCell& cell = row[(colBase + f) % kHeightGridSize];
      TMeshVertex& w = out[f];
      w.X = x;
      w.Y = static_cast<float>(originY + f * cs);
      w.Z = cell.Height;
      w.U = cell.U;
      w.V = cell.V;
      w.NX = cell.NX;
      w.NY = cell.NY;
      w.NZ = cell.NZ;
      GrowBounds(mesh, w.X, w.Y, w.Z);
    }
  }
}
