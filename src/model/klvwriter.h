// Writer of ".klv" model files from a plain in-memory description: the texture name table, then
// the object records (head, vertices, faces, points, polygons, optional "DSXT" environment block,
// parent index), every number little-endian. Used by the data-set generator and by tests that need
// crafted model files; the saver itself only reads the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/matrix.h"

// One vertex as the file stores it (36 bytes).
struct KlvVertexDesc {
  float X = 0, Y = 0, Z = 0;
  float U = 0, V = 0;
  float NX = 0, NY = 0, NZ = 1;
  uint32_t Color = 0xFFFFFFFF;  // ARGB
};

struct KlvFaceDesc {
  std::vector<uint16_t> Indices;  // at most 128 vertex indices of the owning object
  int32_t PrimType = 6;           // 6 = triangle fan
  int32_t TextureIndex = 0;       // into the model's texture name table
};

struct KlvPolygonDesc {
  std::vector<uint16_t> Indices;
  int32_t PrimType = 6;
};

struct KlvEnvMapDesc {
  int32_t Enabled = 1;
  float Scale = 1, OffsetU = 0, OffsetV = 0;
};

struct KlvObjectDesc {
  int32_t Id = 0;  // four-character codes via KlvFourCC
  TMatrix44 Local = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  TMatrix44 Base = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  std::vector<KlvVertexDesc> Vertices;
  std::vector<KlvFaceDesc> Faces;
  std::vector<TVector3> Points;
  std::vector<KlvPolygonDesc> Polygons;
  std::optional<KlvEnvMapDesc> EnvMap;  // written as a "DSXT" block when present
  int32_t ParentIndex = -1;             // -1, or the position of an earlier object in the model
};

struct KlvModelDesc {
  std::vector<std::string> TextureNames;  // bitmap file names beside the model file
  std::vector<KlvObjectDesc> Objects;     // object 0 is the root; parents come before children
};

// The Id of a four-character code: its bytes in file order read as a little-endian int32.
int32_t KlvFourCC(const char (&code)[5]);

// The file's bytes. Throws KlvError(OutOfRange) for a description the format cannot hold or the
// loader would refuse: no objects, a texture name of 256 bytes or more or with a 0 byte, a face or
// polygon with more than 128 indices, a vertex index or texture index out of range, a parent at
// or after its own record.
std::vector<uint8_t> EncodeModel(const KlvModelDesc& model);

// Encodes and writes the file. Throws KlvError(FileOpen) when it cannot be written.
void WriteModelFile(const std::string& fileName, const KlvModelDesc& model);
