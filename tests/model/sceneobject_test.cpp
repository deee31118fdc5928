#include "model/sceneobject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "platform/error.h"

// Every allocation of this test program is counted, so a test can see that a release gave back
// everything a creation took, in release builds too (where no leak checker runs).
namespace {
std::atomic<long> liveAllocations{0};

void* CountedAllocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++liveAllocations;
  return block;
}

void CountedRelease(void* block) {
  if (block == nullptr) return;
  --liveAllocations;
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* block) noexcept { CountedRelease(block); }
void operator delete[](void* block) noexcept { CountedRelease(block); }
void operator delete(void* block, std::size_t) noexcept { CountedRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { CountedRelease(block); }

namespace {

TSceneObject* NewObject(int32_t id, int32_t vertices = 0, int32_t faces = 0, int32_t points = 0, int32_t polygons = 0) {
  TSceneObject* obj = nullptr;
  CreateObject(obj, vertices, faces, points, polygons);
  obj->Id = id;
  return obj;
}

template <typename Action>
void ExpectCapacityError(Action action) {
  try {
    action();
    ADD_FAILURE() << "expected a capacity error";
  } catch (const KlvError& error) {
    EXPECT_EQ(error.kind(), KlvErrorKind::Capacity);
  }
}

// The search order written out recursively, to hold the iterative search against.
TSceneObject* ReferenceFind(TSceneObject* obj, int32_t id) {
  if (obj == nullptr) return nullptr;
  if (obj->Id == id) return obj;
  if (TSceneObject* found = ReferenceFind(obj->Next, id)) return found;
  return ReferenceFind(obj->FirstChild, id);
}

TEST(CreateObject, StartsEmptyVisibleWithIdentityPosesAndInvertedBounds) {
  TSceneObject* obj = NewObject(0);
  EXPECT_EQ(obj->Visible, 1);
  EXPECT_EQ(obj->EnvMap.Enabled, 0);
  EXPECT_EQ(obj->Parent, nullptr);
  EXPECT_EQ(obj->Next, nullptr);
  EXPECT_EQ(obj->FirstChild, nullptr);
  EXPECT_EQ(obj->VertexCount + obj->FaceCount + obj->PointCount + obj->PolygonCount, 0);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(obj->Local.m[i], MatrixIdentity.m[i]);
    EXPECT_EQ(obj->Base.m[i], MatrixIdentity.m[i]);
  }
  EXPECT_EQ(obj->BoundsMin.x, 1e8f);
  EXPECT_EQ(obj->BoundsMin.z, 1e8f);
  EXPECT_EQ(obj->BoundsMax.y, -1e8f);
  FreeObjectTree(obj);
}

TEST(CreateObject, RefusesNegativeCapacities) {
  TSceneObject* obj = nullptr;
  ExpectCapacityError([&] { CreateObject(obj, -1, 0, 0, 0); });
  ExpectCapacityError([&] { CreateObject(obj, 0, -1, 0, 0); });
  ExpectCapacityError([&] { CreateObject(obj, 0, 0, -1, 0); });
  ExpectCapacityError([&] { CreateObject(obj, 0, 0, 0, -5); });
  EXPECT_EQ(obj, nullptr);
}

TEST(AddVertex, StoresTheFieldsAndGrowsButNeverShrinksTheBounds) {
  TSceneObject* obj = NewObject(0, 3, 0, 1, 0);
  AddVertex(obj, 1, 2, 3, 0.1f, 0.2f, 0.3f, 0.5f, 0.75f, 0xFF102030u);
  const TMeshVertex& v = obj->Vertices[0];
  EXPECT_EQ(v.X, 1.0f);
  EXPECT_EQ(v.Z, 3.0f);
  EXPECT_EQ(v.NX, 0.1f);
  EXPECT_EQ(v.NZ, 0.3f);
  EXPECT_EQ(v.U, 0.5f);
  EXPECT_EQ(v.V, 0.75f);
  EXPECT_EQ(v.Color, 0xFF102030u);
  EXPECT_EQ(obj->BoundsMin.x, 1.0f);
  EXPECT_EQ(obj->BoundsMax.x, 1.0f);
  EXPECT_EQ(obj->BoundsMin.z, 3.0f);
  EXPECT_EQ(obj->BoundsMax.z, 3.0f);

  AddVertex(obj, -4, 5, 3, 0, 0, 1, 0, 0, 0);
  AddPoint(obj, 0, 0, 9);
  EXPECT_EQ(obj->BoundsMin.x, -4.0f);
  EXPECT_EQ(obj->BoundsMax.y, 5.0f);
  EXPECT_EQ(obj->BoundsMax.z, 9.0f);
  EXPECT_EQ(obj->PointCount, 1);

  obj->Vertices[1].X = 0.0f;  // moved in place: the box keeps the old extent
  AddVertex(obj, 0, 0, 0, 0, 0, 1, 0, 0, 0);
  EXPECT_EQ(obj->BoundsMin.x, -4.0f);
  EXPECT_EQ(obj->VertexCount, 3);
  FreeObjectTree(obj);
}

TEST(AddFace, CopiesTheIndicesAndKeepsAnyPrimitiveType) {
  TSceneObject* obj = NewObject(0, 0, 2, 0, 1);
  TKlvTexdata texture{};
  uint16_t indices[] = {0, 1, 2, 3};
  AddFace(obj, indices, 4, 6, &texture);
  AddFace(obj, indices, 3, 4, nullptr);
  AddPolygon(obj, indices, 4, 6);
  indices[0] = 99;
  EXPECT_EQ(obj->Faces[0].Indices[0], 0);
  EXPECT_EQ(obj->Faces[0].Indices[3], 3);
  EXPECT_EQ(obj->Faces[0].IndexCount, 4);
  EXPECT_EQ(obj->Faces[0].Owner, obj);
  EXPECT_EQ(obj->Faces[0].Texture, &texture);
  EXPECT_EQ(obj->Faces[1].PrimType, 4);
  EXPECT_EQ(obj->Polygons[0].Indices[0], 0);
  EXPECT_EQ(obj->Polygons[0].IndexCount, 4);
  EXPECT_EQ(obj->BoundsMin.x, 1e8f);  // faces leave the bounds alone
  FreeObjectTree(obj);
}

TEST(Append, RefusesElementsBeyondCapacityAndLeavesTheObjectIntact) {
  TSceneObject* obj = NewObject(0, 1, 1, 1, 1);
  const uint16_t indices[] = {0, 0, 0};
  AddVertex(obj, 1, 1, 1, 0, 0, 1, 0, 0, 0);
  AddFace(obj, indices, 3, 6, nullptr);
  AddPoint(obj, 2, 2, 2);
  AddPolygon(obj, indices, 3, 6);

  ExpectCapacityError([&] { AddVertex(obj, 50, 50, 50, 0, 0, 1, 0, 0, 0); });
  ExpectCapacityError([&] { AddFace(obj, indices, 3, 6, nullptr); });
  ExpectCapacityError([&] { AddPoint(obj, 50, 50, 50); });
  ExpectCapacityError([&] { AddPolygon(obj, indices, 3, 6); });
  EXPECT_EQ(obj->VertexCount, 1);
  EXPECT_EQ(obj->FaceCount, 1);
  EXPECT_EQ(obj->PointCount, 1);
  EXPECT_EQ(obj->PolygonCount, 1);
  EXPECT_EQ(obj->BoundsMax.x, 2.0f);
  FreeObjectTree(obj);

  TSceneObject* empty = NewObject(0, 0, 1, 0, 1);
  ExpectCapacityError([&] { AddVertex(empty, 0, 0, 0, 0, 0, 1, 0, 0, 0); });
  ExpectCapacityError([&] { AddFace(empty, indices, -1, 6, nullptr); });
  ExpectCapacityError([&] { AddPolygon(empty, indices, -3, 6); });
  EXPECT_EQ(empty->FaceCount, 0);
  AddFace(empty, nullptr, 0, 6, nullptr);  // an empty index list is allowed
  EXPECT_EQ(empty->FaceCount, 1);
  FreeObjectTree(empty);
}

TEST(AttachObject, ChildrenStandInReverseOrderOfAttachment) {
  TSceneObject* parent = NewObject(0);
  TSceneObject* a = NewObject(1);
  TSceneObject* b = NewObject(2);
  TSceneObject* c = NewObject(3);
  AttachObject(parent, a);
  AttachObject(parent, b);
  AttachObject(parent, c);
  EXPECT_EQ(parent->FirstChild, c);
  EXPECT_EQ(c->Next, b);
  EXPECT_EQ(b->Next, a);
  EXPECT_EQ(a->Next, nullptr);
  EXPECT_EQ(a->Parent, parent);
  FreeObjectTree(parent);
}

TEST(FindObject, ObjectBeforeLaterSiblingsBeforeChildren) {
  TSceneObject* root = NewObject(0);
  TSceneObject* first = NewObject(5);
  TSceneObject* second = NewObject(7);
  TSceneObject* firstChild = NewObject(5);
  TSceneObject* secondChild = NewObject(9);
  TSceneObject* firstGrandchild = NewObject(9);
  AttachObject(root, second);
  AttachObject(root, first);  // root -> first -> second
  AttachObject(first, firstChild);
  AttachObject(second, secondChild);
  AttachObject(firstChild, firstGrandchild);

  EXPECT_EQ(FindObject(root, 5), first);         // the object wins over its own child
  EXPECT_EQ(FindObject(first, 9), secondChild);  // a later sibling's subtree wins over the children
  EXPECT_EQ(FindObject(firstChild, 9), firstGrandchild);
  EXPECT_EQ(FindObject(root, 42), nullptr);
  EXPECT_EQ(FindObject(nullptr, 0), nullptr);
  FreeObjectTree(root);
}

TEST(FindObject, MatchesTheRecursiveOrderOnRandomTreesWithRepeatedIds) {
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    std::vector<TSceneObject*> objects{NewObject(0)};
    std::uniform_int_distribution<int32_t> idOf(0, 15);
    for (int i = 0; i < 200; ++i) {
      TSceneObject* child = NewObject(idOf(rng));
      AttachObject(objects[std::uniform_int_distribution<size_t>(0, objects.size() - 1)(rng)], child);
      objects.push_back(child);
    }
    for (TSceneObject* start : {objects[0], objects[1], objects[50], objects[150]}) {
      for (int32_t id = 0; id < 17; ++id) {
        EXPECT_EQ(FindObject(start, id), ReferenceFind(start, id)) << "round " << round << " id " << id;
      }
    }
    FreeObjectTree(objects[0]);
  }
}

TEST(FreeObjectTree, ReleasesLaterSiblingsAndTheirSubtrees) {
  const uint16_t indices[] = {0, 1, 2};
  const long beforeTree = liveAllocations;
  TSceneObject* first = NewObject(1, 4, 2, 1, 2);
  AddFace(first, indices, 3, 6, nullptr);
  AddPolygon(first, indices, 3, 6);
  TSceneObject* sibling = NewObject(2, 1, 1, 0, 0);
  AddFace(sibling, indices, 3, 6, nullptr);
  first->Next = sibling;
  AttachObject(sibling, NewObject(3, 2, 2, 2, 2));
  ASSERT_GT(liveAllocations, beforeTree + 3);

  // Freeing from `first` releases it, its later sibling and that sibling's child, with every
  // array and face index list they own.
  FreeObjectTree(first);
  EXPECT_EQ(liveAllocations, beforeTree);
  FreeObjectTree(nullptr);
  EXPECT_EQ(liveAllocations, beforeTree);
}

TEST(TreeWalks, SurviveAHundredThousandSiblingsAndAChainTenThousandDeep) {
  TSceneObject* root = NewObject(0);
  TSceneObject* holder = NewObject(1);
  AttachObject(root, holder);
  for (int32_t i = 0; i < 100000; ++i) AttachObject(holder, NewObject(100 + i, 1, 1, 0, 0));
  TSceneObject* tail = root;
  for (int32_t depth = 0; depth < 10000; ++depth) {
    TSceneObject* child = NewObject(-1 - depth, 0, 1, 0, 0);
    AttachObject(tail, child);
    tail = child;
  }
  const uint16_t index = 0;
  AddFace(tail, &index, 1, 6, nullptr);  // leaves its index list for the free to release

  EXPECT_EQ(FindObject(root, -10000), tail);
  EXPECT_EQ(FindObject(root, 100)->Id, 100);
  EXPECT_EQ(FindObject(root, 5), nullptr);
  FreeObjectTree(root);
}

}  // namespace
