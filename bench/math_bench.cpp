// Costs of the engine's inner math: one matrix product, one flight-path step (window shifts
// included, replayed from a fixed seed) and the reflection pass per mapped vertex.
#include <benchmark/benchmark.h>

#include <cmath>

#include "model/matrix.h"
#include "model/random.h"
#include "model/sceneobject.h"
#include "scene/flightpath.h"
#include "scene/lookat.h"

namespace {

constexpr uint64_t kSeed = 20240601;

void BM_MatrixMultiply(benchmark::State& state) {
  TMatrix44 a, b;
  MatrixSetRotTrans(a, 1, 2, 3, 0.3f, -0.7f, 1.1f);
  MatrixSetRotTrans(b, -4, 5, 0.5f, 1.9f, 0.2f, -0.4f);
  TMatrix44 result;
  for (auto _ : state) {
    MatrixMultiply(a, b, result);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  state.counters["per_product"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MatrixMultiply);

void BM_AdvancePath(benchmark::State& state) {
  TKlvRandom random(kSeed);
  TFlightPath path;
  InitPath(path, random);
  for (auto _ : state) {
    AdvancePath(path, random);
    benchmark::DoNotOptimize(path.Current);
  }
  state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AdvancePath);

// A unit sphere of about two thousand vertices under a parent, as a chrome model would stand.
void BM_UpdateReflectionUV(benchmark::State& state) {
  constexpr int kRings = 32, kSegments = 64;
  constexpr int kVertices = (kRings + 1) * kSegments;
  TSceneObject* root = nullptr;
  TSceneObject* sphere = nullptr;
  CreateObject(root, 0, 0, 0, 0);
  CreateObject(sphere, kVertices, 0, 0, 0);
  sphere->EnvMap = {1, 1.0f, 0.0f, 0.0f};
  for (int ring = 0; ring <= kRings; ++ring) {
    const double theta = 3.141592653589793 * ring / kRings;
    for (int segment = 0; segment < kSegments; ++segment) {
      const double phi = 6.283185307179586 * segment / kSegments;
      const float nx = static_cast<float>(std::sin(theta) * std::cos(phi));
      const float ny = static_cast<float>(std::sin(theta) * std::sin(phi));
      const float nz = static_cast<float>(std::cos(theta));
      AddVertex(sphere, nx, ny, nz, nx, ny, nz, 0, 0, 0xFFFFFFFFu);
    }
  }
  AttachObject(root, sphere);
  MatrixSetRotTrans(root->Local, 10, 20, 5, 0.2f, 0.1f, 0.7f);
  TMatrix44 reflection;
  MatrixSetRotTrans(reflection, 0, 0, 0, 3.1415927f, 0, 0);
  const TVector3 camera{-40, 15, 30};
  for (auto _ : state) {
    UpdateReflectionUV(root, reflection, camera);
    benchmark::ClobberMemory();
  }
  state.counters["per_vertex"] = benchmark::Counter(static_cast<double>(state.iterations()) * kVertices,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  FreeObjectTree(root);
}
BENCHMARK(BM_UpdateReflectionUV);

}  // namespace
