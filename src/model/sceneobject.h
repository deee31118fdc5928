// Scene objects: the one drawable record (a mesh with vertex, face, point and polygon arrays of fixed
// capacity, two pose matrices, bounds, the environment-mapping block and tree links) and the
// operations that create, fill, link, search and free object trees. Built by the loader, the
// terrain and the scene; moved by the scene step and the fugu; walked by the renderer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/matrix.h"
#include "model/texdata.h"

struct TSceneObject;

struct TMeshVertex {
  float X, Y, Z;
  float U, V;
  float NX, NY, NZ;
  uint32_t Color;    // ARGB
  int32_t OnScreen;  // per frame, written by the renderer
};
static_assert(offsetof(TMeshVertex, OnScreen) == 36, "the first 36 bytes are the model file's vertex");

struct TMeshFace {
  uint16_t* Indices;  // owned, IndexCount entries
  int32_t IndexCount;
  int32_t ClipCode;  // per frame: 2 no clipping needed, 0 may need clipping
  uint8_t PrimType;  // 6 = triangle fan, the only type drawn
  TKlvTexdata* Texture;
  TSceneObject* Owner;
};

struct TMeshPolygon {
  uint16_t* Indices;  // owned
  int32_t IndexCount;
  uint8_t PrimType;
};

struct TMeshPoint {
  float X, Y, Z;
};

struct TEnvMap {
  int32_t Enabled;  // 1: the reflection pass rewrites U and V every frame
  float Scale, OffsetU, OffsetV;
};

struct TSceneObject {
  int32_t Id;
  TMatrix44 Local;
  TMatrix44 Base;
  TMatrix44 World;  // per frame, written by the renderer
  TSceneObject* Parent;
  TSceneObject* Next;
  TSceneObject* FirstChild;
  TMeshVertex* Vertices;
  int32_t VertexCount;
  TMeshPoint* Points;
  int32_t PointCount;
  TMeshFace* Faces;
  TMeshPolygon* Polygons;
  int32_t FaceCount;
  int32_t PolygonCount;
  int32_t VertexCapacity, PointCapacity, FaceCapacity, PolygonCapacity;
  int32_t VertexBase;  // per frame, written by the renderer
  int32_t Visible;
  TVector3 BoundsMin;
  TVector3 BoundsMax;
  TEnvMap EnvMap;
};

// Capacities must be 0 or more. Throws KlvError(Capacity) for a negative capacity.
void CreateObject(TSceneObject*& obj, int32_t vertexCapacity, int32_t faceCapacity, int32_t pointCapacity,
                  int32_t polygonCapacity);
// The appends refuse, with KlvError(Capacity), an element beyond the object's capacity.
void AddVertex(TSceneObject* obj, float x, float y, float z, float nx, float ny, float nz, float u, float v,
               uint32_t color);
void AddFace(TSceneObject* obj, const uint16_t* indices, int32_t indexCount, uint8_t primType, TKlvTexdata* texture);
void AddPoint(TSceneObject* obj, float x, float y, float z);
void AddPolygon(TSceneObject* obj, const uint16_t* indices, int32_t indexCount, uint8_t primType);
// Widens the bounds to include (x, y, z), as AddVertex and AddPoint do: two independent strict tests
// per axis. For code that moves vertices in place; the bounds never shrink.
void GrowBounds(TSceneObject* obj, float x, float y, float z);
// Child becomes the first child of Parent.
void AttachObject(TSceneObject* parent, TSceneObject* child);
// Frees obj, all its later siblings and all their descendants (iterative: no recursion depth limit).
void FreeObjectTree(TSceneObject* obj);
// First object with this Id: the object, then its later siblings with their subtrees, then its children.
TSceneObject* FindObject(TSceneObject* obj, int32_t id);
