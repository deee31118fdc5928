// Terrain costs: filling the 512 × 512 grid from a height map once at start-up (reported in ms),
// and moving the N = 32 window, the per-frame work (reported in µs).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "model/terrain.h"
#include "platform/win/bmp_writer.h"

namespace {

constexpr int kGrid = kHeightGridSize;
constexpr int32_t kSceneMeshSize = 32;
constexpr float kCellSize = 15.0f;

std::string WriteHeightMap() {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("klv_terrain_bench_" + std::to_string(getpid()) + ".bmp")).string();
  std::vector<uint8_t> pixels(kGrid * kGrid);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
  std::vector<PALETTEENTRY> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
  WriteBmp8(path, kGrid, kGrid, pixels, grey);
  return path;
}

void LoadScene(THeightField* hf, const std::string& path) {
  LoadHeightField(hf, path, 25.0f, kCellSize, 37.5f, 0.5f, 0.5f, 40.5f, 40.5f);
}

void BM_LoadHeightField(benchmark::State& state) {
  const std::string path = WriteHeightMap();
  THeightField* hf = nullptr;
  CreateHeightField(hf);
  for (auto _ : state) {
    LoadScene(hf, path);
    benchmark::DoNotOptimize(hf->Cells[511][511].NZ);
  }
  FreeHeightField(hf);
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadHeightField)->Unit(benchmark::kMillisecond);

void BM_UpdateHeightFieldMesh(benchmark::State& state) {
  const std::string path = WriteHeightMap();
  THeightField* hf = nullptr;
  CreateHeightField(hf);
  LoadScene(hf, path);
  BuildHeightFieldMesh(hf, kSceneMeshSize, nullptr);
  const float half = kCellSize * kSceneMeshSize / 2;
  int32_t cell = -300;  // a flight across the wrap in both directions
  for (auto _ : state) {
    UpdateHeightFieldMesh(hf, cell, -cell, cell * kCellSize - half, -cell * kCellSize - half);
    benchmark::DoNotOptimize(hf->Mesh->Vertices[0].Z);
    cell = cell < 300 ? cell + 1 : -300;
  }
  FreeObjectTree(hf->Mesh);
  FreeHeightField(hf);
  std::filesystem::remove(path);
}
BENCHMARK(BM_UpdateHeightFieldMesh)->Unit(benchmark::kMicrosecond);

}  // namespace
