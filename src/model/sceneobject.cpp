// Creating, filling, linking, searching and freeing scene objects. Appends are checked against
// the fixed capacities; the tree walks use no recursion, so any depth or width is safe.
#include "model/sceneobject.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"

namespace {

constexpr float kBoundsStart = 1e8f;

void CheckCapacity(int32_t value, const char* what) {
  if (value < 0) {
    throw KlvError(KlvErrorKind::Capacity, "", std::string("negative ") + what + ": " + std::to_string(value));
  }
}

void CheckRoom(int32_t count, int32_t capacity, const char* what) {
  if (count >= capacity) {
    throw KlvError(KlvErrorKind::Capacity, "",
                   std::string(what) + " array is full (capacity " + std::to_string(capacity) + ")");
  }
}

template <typename T>
std::unique_ptr<T[]> AllocateArray(int32_t capacity) {
  return capacity > 0 ? std::make_unique<T[]>(capacity) : nullptr;
}

uint16_t* CopyIndices(const uint16_t* indices, int32_t indexCount) {
  CheckCapacity(indexCount, "index count");
  if (indexCount == 0) {
    return nullptr;
  }
  uint16_t* copy = new uint16_t[indexCount];
  std::copy_n(indices, indexCount, copy);
  return copy;
}

void FreeObjectArrays(TSceneObject* obj) {
  delete[] obj->Vertices;
  for (int32_t i = 0; i < obj->FaceCount; ++i) {
    delete[] obj->Faces[i].Indices;
  }
  delete[] obj->Faces;
  delete[] obj->Points;
  for (int32_t i = 0; i < obj->PolygonCount; ++i) {
    delete[] obj->Polygons[i].Indices;
  }
  delete[] obj->Polygons;
}

}  // namespace

void CreateObject(TSceneObject*& obj, int32_t vertexCapacity, int32_t faceCapacity, int32_t pointCapacity,
                  int32_t polygonCapacity) {
  CheckCapacity(vertexCapacity, "vertex capacity");
  CheckCapacity(faceCapacity, "face capacity");
  CheckCapacity(pointCapacity, "point capacity");
  CheckCapacity(polygonCapacity, "polygon capacity");

  // Everything is owned by smart pointers until the last allocation has succeeded.
  auto record = std::make_unique<TSceneObject>();
  auto vertices = AllocateArray<TMeshVertex>(vertexCapacity);
  auto faces = AllocateArray<TMeshFace>(faceCapacity);
  auto points = AllocateArray<TMeshPoint>(pointCapacity);
  auto polygons = AllocateArray<TMeshPolygon>(polygonCapacity);

  record->Local = MatrixIdentity;
  record->Base = MatrixIdentity;
  record->VertexCapacity = vertexCapacity;
  record->FaceCapacity = faceCapacity;
  record->PointCapacity = pointCapacity;
  record->PolygonCapacity = polygonCapacity;
  record->Visible = 1;
  record->BoundsMin = {kBoundsStart, kBoundsStart, kBoundsStart};
  record->BoundsMax = {-kBoundsStart, -kBoundsStart, -kBoundsStart};
  record->EnvMap.Enabled = 0;
  record->Vertices = vertices.release();
  record->Faces = faces.release();
  record->Points = points.release();
  record->Polygons = polygons.release();
  obj = record.release();
}

void AddVertex(TSceneObject* obj, float x, float y, float z, float nx, float ny, float nz, float u, float v,
               uint32_t color) {
  CheckRoom(obj->VertexCount, obj->VertexCapacity, "vertex");
  TMeshVertex& vertex = obj->Vertices[obj->VertexCount];
  vertex.X = x;
  vertex.Y = y;
  vertex.Z = z;
  vertex.U = u;
  vertex.V = v;
  vertex.NX = nx;
  vertex.NY = ny;
  vertex.NZ = nz;
  vertex.Color = color;
  GrowBounds(obj, x, y, z);
  ++obj->VertexCount;
}

void AddFace(TSceneObject* obj, const uint16_t* indices, int32_t indexCount, uint8_t primType, TKlvTexdata* texture) {
  CheckRoom(obj->FaceCount, obj->FaceCapacity, "face");
  TMeshFace& face = obj->Faces[obj->FaceCount];
  face.Indices = CopyIndices(indices, indexCount);
  face.IndexCount = indexCount;
  face.PrimType = primType;
  face.Texture = texture;
  face.Owner = obj;
  ++obj->FaceCount;
}

void AddPoint(TSceneObject* obj, float x, float y, float z) {
  CheckRoom(obj->PointCount, obj->PointCapacity, "point");
  obj->Points[obj->PointCount] = {x, y, z};
  GrowBounds(obj, x, y, z);
  ++obj->PointCount;
}

void AddPolygon(TSceneObject* obj, const uint16_t* indices, int32_t indexCount, uint8_t primType) {
  CheckRoom(obj->PolygonCount, obj->PolygonCapacity, "polygon");
  TMeshPolygon& polygon = obj->Polygons[obj->PolygonCount];
  polygon.Indices = CopyIndices(indices, indexCount);
  polygon.IndexCount = indexCount;
  polygon.PrimType = primType;
  ++obj->PolygonCount;
}

void AttachObject(TSceneObject* parent, TSceneObject* child) {
  child->Parent = parent;
  child->Next = parent->FirstChild;
  parent->FirstChild = child;
}

void FreeObjectTree(TSceneObject* obj) {
  // Seen as a binary tree (FirstChild left, Next right), the tree is taken apart by right
  // rotations: while the current object has a first child, that child takes its place with the
  // object hanging as its next sibling. An object without children is freed and the walk goes on
  // with its next sibling. Linear time, no stack, no allocation.
  TSceneObject* current = obj;
  while (current != nullptr) {
    TSceneObject* child = current->FirstChild;
    if (child != nullptr) {
      current->FirstChild = child->Next;
      child->Next = current;
      current = child;
    } else {
      TSceneObject* next = current->Next;
      FreeObjectArrays(current);
      delete current;
      current = next;
    }
  }
}

TSceneObject* FindObject(TSceneObject* obj, int32_t id) {
  // Pre-order with the later siblings before the children: popping the next sibling before the
  // first child of every object visits the object, then its later siblings with their subtrees,
  // then its own children.
  std::vector<TSceneObject*> pending;
  TSceneObject* current = obj;
  while (current != nullptr) {
    if (current->Id == id) {
      return current;
    }
    if (current->FirstChild != nullptr) {
      pending.push_back(current->FirstChild);
    }
    if (current->Next != nullptr) {
      current = current->Next;
    } else if (!pending.empty()) {
      current = pending.back();
      pending.pop_back();
    } else {
      current = nullptr;
    }
  }
  return nullptr;
}

void GrowBounds(TSceneObject* obj, float x, float y, float z) {
  // Two independent strict tests per axis, so the first element sets both ends.
  if (x > obj->BoundsMax.x) obj->BoundsMax.x = x;
  if (x < obj->BoundsMin.x) obj->BoundsMin.x = x;
  if (y > obj->BoundsMax.y) obj->BoundsMax.y = y;
  if (y < obj->BoundsMin.y) obj->BoundsMin.y = y;
  if (z > obj->BoundsMax.z) obj->BoundsMax.z = z;
  if (z < obj->BoundsMin.z) obj->BoundsMin.z = z;
}
