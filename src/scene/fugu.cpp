#include "scene/fugu.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "model/klvloader.h"

namespace {

constexpr double kPi = std::numbers::pi;
// Constants and intermediates are doubles; only the values the skin and the matrices store are
// rounded to float.
constexpr double kSliceStretch = 1.000001;  // keeps the far end of the body inside the last slice
constexpr float kInitialMaxZ = -9999999.0f;
constexpr float kInitialMinZ = 9999999.0f;
constexpr double kTailBendDivisor = 0.05;
constexpr double kBodySwayDivisor = 0.2;
constexpr double kFinFlapDivisor = 0.6;
constexpr int kWagsPerCycle = 10;

TMatrix44 Translation(float z) {
  TMatrix44 t = MatrixIdentity;
  t(3, 2) = z;
  return t;
}

struct DVector3 {
  double x, y, z;
};

// (p, 1) × M with p and the sums in double.
DVector3 TransformPointD(const DVector3& p, const TMatrix44& m) {
  return {p.x * m(0, 0) + p.y * m(1, 0) + p.z * m(2, 0) + m(3, 0),
          p.x * m(0, 1) + p.y * m(1, 1) + p.z * m(2, 1) + m(3, 1),
          p.x * m(0, 2) + p.y * m(1, 2) + p.z * m(2, 2) + m(3, 2)};
}

}  // namespace

TFuguSkin* BuildFuguSkin(TSceneObject* mesh) {
  auto* skin = new TFuguSkin{};
  skin->Model = mesh;
  skin->VertexCount = mesh->VertexCount;
  skin->RestVertices = new TMeshVertex[skin->VertexCount];
  skin->VertexBindings = new TSkinBinding[skin->VertexCount];
  if (skin->VertexCount > 0) std::memcpy(skin->RestVertices, mesh->Vertices, sizeof(TMeshVertex) * skin->VertexCount);

  skin->MaxZ = kInitialMaxZ;
  skin->MinZ = kInitialMinZ;
  for (int32_t i = 0; i < mesh->VertexCount; ++i) {
    skin->MaxZ = std::max(skin->MaxZ, mesh->Vertices[i].Z);
    skin->MinZ = std::min(skin->MinZ, mesh->Vertices[i].Z);
  }
  for (int32_t i = 0; i < mesh->PointCount; ++i) {
    skin->MaxZ = std::max(skin->MaxZ, mesh->Points[i].Z);
    skin->MinZ = std::min(skin->MinZ, mesh->Points[i].Z);
  }

  // The segment length d, rounded to float once from the unrounded range.
  const float d = static_cast<float>((static_cast<double>(skin->MaxZ) - skin->MinZ) * kSliceStretch / kFuguJointCount);
  for (int k = 0; k < kFuguJointCount; ++k) {
    skin->JointOffsets[k] = static_cast<float>(-static_cast<double>(d) * k);
    skin->Joints[k] = Translation(-d);
  }
  skin->Joints[0](3, 2) = 0.0f;

  for (int32_t i = 0; i < skin->VertexCount; ++i) {
    // A degenerate body (all z equal) has d = 0; bind every vertex to the head joint then.
    const float f = d > 0.0f ? static_cast<float>((static_cast<double>(skin->MaxZ) - mesh->Vertices[i].Z) / d) : 0.0f;
    int g = static_cast<int>(std::trunc(f));
    g = std::clamp(g, 0, kFuguJointCount - 2);
    const float upper = static_cast<float>(static_cast<double>(f) - g);
    skin->VertexBindings[i] = TSkinBinding{g, g + 1, upper, static_cast<float>(1.0 - upper)};
  }
  for (int k = 0; k < kFuguJointCount; ++k) skin->Chain[k] = MatrixIdentity;
  return skin;
}

void DeformFuguSkin(TFuguSkin* skin) {
  skin->Chain[0] = skin->Joints[0];
  for (int k = 1; k < kFuguJointCount; ++k) MatrixMultiply(skin->Joints[k], skin->Chain[k - 1], skin->Chain[k]);
  for (int k = 1; k < kFuguJointCount; ++k)
    MatrixMultiply(Translation(-skin->JointOffsets[k]), skin->Chain[k], skin->Chain[k]);

  TSceneObject* mesh = skin->Model;
  const int32_t count = std::min(skin->VertexCount, mesh->VertexCount);
  for (int32_t i = 0; i < count; ++i) {
    const TMeshVertex& rest = skin->RestVertices[i];
    const TSkinBinding& bind = skin->VertexBindings[i];
    // p, a, b and the blend stay in double; only the new position and normal are stored.
    const DVector3 p{rest.X, rest.Y, static_cast<double>(rest.Z) - skin->MaxZ};
    const DVector3 a = TransformPointD(p, skin->Chain[bind.Lower]);
    const DVector3 b = TransformPointD(p, skin->Chain[bind.Upper]);
    const TVector3 n = TransformDirection(TVector3{rest.NX, rest.NY, rest.NZ}, skin->Chain[bind.Lower]);
    TMeshVertex& live = mesh->Vertices[i];
    live.X = static_cast<float>(b.x * bind.UpperWeight + a.x * bind.LowerWeight);
    live.Y = static_cast<float>(b.y * bind.UpperWeight + a.y * bind.LowerWeight);
    live.Z = static_cast<float>(b.z * bind.UpperWeight + a.z * bind.LowerWeight + skin->MaxZ);
    live.NX = n.x;
    live.NY = n.y;
    live.NZ = n.z;
    GrowBounds(mesh, live.X, live.Y, live.Z);
  }
}

void FreeFuguSkin(TFuguSkin*& skin) {
  if (skin == nullptr) return;
  delete[] skin->RestVertices;
  delete[] skin->VertexBindings;
  delete skin;
  skin = nullptr;
}

TFugu::TFugu(TextureSource& device, const std::string& fileName)
    : Placement(MatrixIdentity), TailFinRest(MatrixIdentity) {
  Attach(LoadModelFile(device, fileName));
}

TFugu::TFugu(TSceneObject* model) : Placement(MatrixIdentity), TailFinRest(MatrixIdentity) { Attach(model); }

void TFugu::Attach(TSceneObject* model) {
  Model = model;
  RightFin = FindObject(Model, kRightFinId);
  LeftFin = FindObject(Model, kLeftFinId);
  TailFin = FindObject(Model, kTailFinId);
  if (TailFin != nullptr) TailFinRest = TailFin->Local;
  Skin = BuildFuguSkin(Model);
}

TFugu::~TFugu() { FreeFuguSkin(Skin); }

void TFugu::Animate(float step) {
  Phase = static_cast<float>(static_cast<double>(Phase) + step);
  if (Phase > 1.0f) Phase = 0.0f;
  const float cyclePhase = static_cast<float>(Phase * 2.0 * kPi);  // stored as a Single first
  const double w = kWagsPerCycle * static_cast<double>(cyclePhase);

  const float tailAngle = static_cast<float>(std::cos(w) * step / kTailBendDivisor);
  for (int k = 2; k < kFuguJointCount; ++k) {
    MatrixSetRotTrans(Skin->Joints[k], 0, 0, 0, 0, tailAngle, 0);
    Skin->Joints[k](3, 2) = Skin->JointOffsets[1];
  }

  TMatrix44 sway;
  MatrixSetRotTrans(sway, static_cast<float>(std::sin(w) * step / kBodySwayDivisor), 0, 0, 0,
                    static_cast<float>(-std::cos(w) * step / kBodySwayDivisor), 0);
  MatrixMultiply(sway, Placement, Model->Local);

  DeformFuguSkin(Skin);

  if (TailFin != nullptr) {
    TMatrix44 rest = TailFinRest;
    rest(3, 2) = static_cast<float>(static_cast<double>(rest(3, 2)) - Skin->MaxZ);
    MatrixMultiply(rest, Skin->Chain[kFuguJointCount - 1], TailFin->Local);
    TailFin->Local(3, 2) = static_cast<float>(static_cast<double>(TailFin->Local(3, 2)) + Skin->MaxZ);
  }
  const float flap = static_cast<float>(std::sin(w) * step / kFinFlapDivisor);
  if (LeftFin != nullptr) MatrixPreRotTrans(LeftFin->Local, 0, 0, 0, 0, flap, 0);
  if (RightFin != nullptr) MatrixPreRotTrans(RightFin->Local, 0, 0, 0, 0, -flap, 0);
}
