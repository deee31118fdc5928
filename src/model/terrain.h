// The endless terrain: a fixed 512 × 512 grid of height cells filled once from an 8-bit height map,
// and a small N × N window mesh that is moved over the grid every frame, wrapping in both
// directions so the landscape repeats every 512 cells. Built by the scene assembly, moved by the
// scene step; the mesh itself belongs to the scene tree.
#pragma once

#include <cstdint>
#include <string>

#include "model/sceneobject.h"
#include "model/texdata.h"

constexpr int32_t kHeightGridSize = 512;     // cells along each side of the grid
constexpr int32_t kMinHeightMeshSize = 1;    // smallest window: one vertex, no faces
constexpr int32_t kMaxHeightMeshSize = 256;  // largest window whose indices fit in 16 bits

struct THeightCell {
  float X, Y;        // position in the grid's own plane: column × CellSize, row × CellSize
  float Height;      // world z
  float U, V;        // texture coordinates
  float NX, NY, NZ;  // unit surface normal
};

struct THeightField {
  TSceneObject* Mesh;                                   // the window mesh; owned by the scene tree once attached
  int32_t MeshSize;                                     // N, vertices along each side of the mesh
  float CellSize;                                       // world distance between neighbouring cells
  THeightCell Cells[kHeightGridSize][kHeightGridSize];  // [row][column]
};

// Allocates the record (about 8 MB) in one piece with a zero grid and no mesh.
void CreateHeightField(THeightField*& hf);
// Releases the record if set and clears the reference; the mesh is left to the scene tree.
void FreeHeightField(THeightField*& hf);

// Fills CellSize and every cell from an 8-bit bitmap of at least 512 × 512 pixels, taking its first
// 512 stored rows and first 512 pixels of each as raw heights (the colour table is not used).
// Throws KlvError naming the file for a file that cannot be read or is malformed (see TKlvDIB), and
// for a bitmap that is not 8-bit (BadFormat) or smaller than 512 × 512 (OutOfRange); the record is
// then left as it was.
void LoadHeightField(THeightField* hf, const std::string& fileName, float baseHeight, float cellSize, float heightScale,
                     float offsetV, float offsetU, float scaleV, float scaleU);

// Sets MeshSize and creates the N × N window mesh in Mesh: vertex e·N + f is the window's vertex at
// step e along x and step f along y; (N − 1)² quads, each a 4-index fan face with `texture` and a
// matching polygon. Call once. Throws KlvError(OutOfRange) for N outside 2..256.
void BuildHeightFieldMesh(THeightField* hf, int32_t n, TKlvTexdata* texture);

// Moves the window: vertex (e, f) is placed at (originX + e × CellSize, originY + f × CellSize) and
// takes height, texture coordinates and normal from grid cell
// [(cellX + 768 + e) mod 512][(cellY + 768 + f) mod 512] (floor modulo, so negative cells wrap).
// The mesh's bounds grow to include every new position; they never shrink.
void UpdateHeightFieldMesh(THeightField* hf, int32_t cellX, int32_t cellY, float originX, float originY);
