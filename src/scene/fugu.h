// The animated pufferfish: a placement matrix, a four-joint skin that bends the body mesh along
// its z axis, and the per-step animation that wags the tail, sways the body and flaps the fins.
// The scene build creates it; the scene step animates and places it; its model belongs to the
// scene tree once attached.
#pragma once

#include <cstdint>
#include <string>

#include "model/sceneobject.h"

class TextureSource;

// Four-character object codes compared as one little-endian 32-bit value.
constexpr int32_t FourCC(char a, char b, char c, char d) {
  return static_cast<int32_t>(
      static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
      static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr int32_t kRightFinId = FourCC('R', 'H', 'r', 'e');
constexpr int32_t kLeftFinId = FourCC('L', 'H', 'r', 'e');
constexpr int32_t kTailFinId = FourCC('O', 'H', 'r', 'e');

constexpr int kFuguJointCount = 4;

// One vertex's two skinning matrices (indices into TFuguSkin::Chain) and their weights.
struct TSkinBinding {
  int Lower;  // 0..2
  int Upper;  // Lower + 1
  float UpperWeight;
  float LowerWeight;
};

struct TFuguSkin {
  TSceneObject* Model;                  // the deformed mesh, not owned
  TMatrix44 Joints[kFuguJointCount];    // Joints[0] is the root at the head end
  TMatrix44 Chain[kFuguJointCount];     // skinning matrices of the latest deformation
  float JointOffsets[kFuguJointCount];  // 0, -d, -2d, -3d
  TMeshVertex* RestVertices;            // owned copy of the mesh's vertices as loaded
  TSkinBinding* VertexBindings;         // owned, one per vertex
  int32_t VertexCount;
  float MinZ, MaxZ;
};

TFuguSkin* BuildFuguSkin(TSceneObject* mesh);
void DeformFuguSkin(TFuguSkin* skin);
void FreeFuguSkin(TFuguSkin*& skin);

class TFugu {
 public:
  // Loads the model file through `device` and builds the skin. A model without one of its three
  // fins still swims: the missing fin's motion is skipped.
  TFugu(TextureSource& device, const std::string& fileName);
  // Takes an already loaded model (not owned: the scene tree frees it).
  explicit TFugu(TSceneObject* model);
  virtual ~TFugu();
  TFugu(const TFugu&) = delete;
  TFugu& operator=(const TFugu&) = delete;

  // One animation step; the scene step passes 0.01.
  void Animate(float step);

  TMatrix44 Placement;
  TSceneObject* Model = nullptr;
  TSceneObject* RightFin = nullptr;
  TSceneObject* LeftFin = nullptr;
  TSceneObject* TailFin = nullptr;
  TMatrix44 TailFinRest;
  TFuguSkin* Skin = nullptr;
  float Phase = 0.0f;

 private:
  void Attach(TSceneObject* model);
};
