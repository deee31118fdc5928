#include "scene/scene.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "display/kalvorrm.h"
#include "model/klvloader.h"
#include "platform/win/bitmap.h"
#include "platform/win/messagebox.h"
#include "platform/win/mmsystem.h"
#include "platform/win/winuser.h"
#include "scene/lookat.h"

namespace {

constexpr char kErrorCaption[] = "えらー";
constexpr char kMetaMissingText[] = "ファイルが見付かりませんsettei.exeを立ち上げたのち再度試してください";

constexpr int kGroundTextureSize = 512;
constexpr int kGroundTextureDepth = 16;
constexpr int32_t kViewCapacity = 20000;
constexpr float kInitialZoom = 2.0f;

constexpr float kTerrainBaseHeight = 25.0f, kTerrainCellSize = 15.0f, kTerrainHeightScale = 37.5f;
constexpr float kTerrainOffset = 0.5f, kTerrainTextureScale = 40.5f;
constexpr int32_t kTerrainMeshSize = 32;

constexpr float kSkyScale = 120.0f, kTreeScale = 20.0f, kBuildingScale = 10.0f;
constexpr TVector3 kTreePosition{10.0f, 10.0f, 40.0f};
constexpr TVector3 kBuildingPosition{-80.0f, -80.0f, 0.0f};
constexpr float kCameraStartZ = -30.0f;

constexpr TVector3 kLightDir{0.0f, 0.0f, 1.0f};
constexpr uint8_t kBackgroundRed = 223, kBackgroundGreen = 223, kBackgroundBlue = 239;

constexpr int kKeypadStep = 8;
constexpr int kJoystickCentre = 32768;
constexpr int kJoystickDivisor = 3640;
constexpr float kPitchDivisor = 800.0f;
constexpr float kTurnDivisor = 200.0f;
constexpr float kMinZoomWidth = 1e-7f;
constexpr int kLookAtChoices = 5;

TSceneObject* MakeEmptyObject() {
  TSceneObject* obj = nullptr;
  CreateObject(obj, 0, 0, 0, 0);
  return obj;
}

TVector3 Row3(const TMatrix44& m) { return TVector3{m(3, 0), m(3, 1), m(3, 2)}; }

void SetRow3(TMatrix44& m, const TVector3& v) {
  m(3, 0) = v.x;
  m(3, 1) = v.y;
  m(3, 2) = v.z;
}

// Truncation toward zero that stays defined for values an int cannot hold (NaN gives 0).
int32_t SafeTrunc(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  if (value <= kLow) return std::numeric_limits<int32_t>::min();
  if (value >= kHigh) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::trunc(value));
}

bool KeyDown(const BYTE* keys, BYTE key) { return (keys[key] & kKeyDownBit) != 0; }

// Forward (F) and sideways (S) input of the keypad and joystick 1.
void ReadSteering(int& forward, int& side) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  forward = 0;
  side = 0;
  if (KeyDown(keys, VK_NUMPAD2)) forward += kKeypadStep;
  if (KeyDown(keys, VK_NUMPAD8)) forward -= kKeypadStep;
  if (KeyDown(keys, VK_NUMPAD6)) side += kKeypadStep;
  if (KeyDown(keys, VK_NUMPAD4)) side -= kKeypadStep;
  JOYINFO joy{};
  if (joyGetPos(JOYSTICKID1, &joy) == JOYERR_NOERROR) {
    forward += (static_cast<int>(joy.wYpos) - kJoystickCentre) / kJoystickDivisor;
    side += (static_cast<int>(joy.wXpos) - kJoystickCentre) / kJoystickDivisor;
  }
}

// The look-at target of RadioGroup1's index: the point to aim at, the matrix auto zoom measures
// to and the model whose width sizes the zoom. False for "none" and indices outside 1..5.
struct TLookAt {
  TVector3 Point;
  const TMatrix44* Matrix;
  const TSceneObject* ZoomModel;
};

bool ChooseTarget(const TKlvScene& scene, int index, TLookAt& target) {
  switch (index) {
    case kLookFugu: target = {Row3(scene.Fugu->Placement), &scene.Fugu->Placement, scene.Fugu->Model}; return true;
    case kLookPlane:
      target = {Row3(scene.PlaneAnchor->Local), &scene.PlaneAnchor->Local, scene.PlaneModel};
      return true;
    case kLookWfg: target = {Row3(scene.WfgAnchor->Local), &scene.WfgAnchor->Local, scene.WfgModel}; return true;
    case kLookTree: {
      TVector3 point = Row3(scene.TreeAnchor->Local);
      point.z = static_cast<float>(static_cast<double>(point.z) - kTreeLookAtDrop);
      target = {point, &scene.TreeAnchor->Local, scene.TreeModel};
      return true;
    }
    case kLookBuilding:
      target = {Row3(scene.BuildingAnchor->Local), &scene.BuildingAnchor->Local, scene.BuildingModel};
      return true;
    default: return false;
  }
}

// Auto zoom: the squared distance to the target over the zoom model's width, clamped to the zoom
// control's range. It takes effect at the next step.
int AutoZoomPosition(const TLookAt& target, const TVector3& camera) {
  const double dx = static_cast<double>((*target.Matrix)(3, 0)) - camera.x;
  const double dy = static_cast<double>((*target.Matrix)(3, 1)) - camera.y;
  const double dz = static_cast<double>((*target.Matrix)(3, 2)) - camera.z;
  const float d2 = static_cast<float>(dx * dx + dy * dy + dz * dz);
  float w = std::fabs(target.ZoomModel->BoundsMax.x - target.ZoomModel->BoundsMin.x);
  if (w < kMinZoomWidth) w = static_cast<float>(static_cast<double>(w) + 1.0);
  const int32_t q = SafeTrunc(static_cast<float>(static_cast<double>(d2) / w));
  return std::clamp(q, kZoomMin, kZoomMax);
}

void MoveTerrainWindow(THeightField* terrain, const TVector3& camera) {
  const double c = terrain->CellSize;
  const int32_t cx = SafeTrunc(camera.x / c);
  const int32_t cy = SafeTrunc(camera.y / c);
  const double half = c * terrain->MeshSize / 2.0;
  UpdateHeightFieldMesh(terrain, cx, cy, static_cast<float>(cx * c - half), static_cast<float>(cy * c - half));
}

void FreeIfUnattached(TSceneObject*& obj, const TSceneObject* root) {
  if (obj != nullptr && obj != root && obj->Parent == nullptr) FreeObjectTree(obj);
  obj = nullptr;
}

}  // namespace

bool BuildScene(TKlvScene& scene, TKalvorRM& device, std::string& dataPath, TBitmap& image) {
  device.MakeTexture(scene.SceneTexture, kGroundTextureSize, kGroundTextureSize, kGroundTextureDepth);

  // A path that cannot be resolved (a link loop, a name too long) counts as "not there".
  std::error_code unresolved;
  if (!std::filesystem::exists(dataPath + "meta.bmp", unresolved)) {
    dataPath.clear();
    if (!std::filesystem::exists("meta.bmp", unresolved)) {
      MessageBoxA(nullptr, kMetaMissingText, kErrorCaption, MB_OK);
      return false;
    }
  }
  image.LoadFromFile(dataPath + "meta.bmp");
  device.SetTexture(scene.SceneTexture, image, dataPath + "meta.bmp");

  scene.RenderDevice = TKalvorRMRenderDevice(device);
  CreateView(scene.View, &scene.RenderDevice, 0, 0, kViewCapacity, kViewCapacity, kInitialZoom);

  scene.SceneRoot = MakeEmptyObject();
  scene.SkyAnchor = MakeEmptyObject();
  scene.TreeAnchor = MakeEmptyObject();
  scene.PlaneAnchor = MakeEmptyObject();
  scene.WfgAnchor = MakeEmptyObject();
  scene.BuildingAnchor = MakeEmptyObject();

  scene.Fugu = new TFugu(device, dataPath + "fugu4.klv");
  scene.SkyModel = LoadModelFile(device, dataPath + "sky.klv");
  scene.TreeModel = LoadModelFile(device, dataPath + "ki3.klv");
  scene.PlaneModel = LoadModelFile(device, dataPath + "f3f.klv");
  scene.WfgModel = LoadModelFile(device, dataPath + "wfgshou.klv");
  scene.BuildingModel = LoadModelFile(device, dataPath + "tate2.klv");

  CreateHeightField(scene.Terrain);
  LoadHeightField(scene.Terrain, dataPath + "maphi.bmp", kTerrainBaseHeight, kTerrainCellSize, kTerrainHeightScale,
                  kTerrainOffset, kTerrainOffset, kTerrainTextureScale, kTerrainTextureScale);
  BuildHeightFieldMesh(scene.Terrain, kTerrainMeshSize, &(*KalvorRMUnit.TextureList)[0]->Data);

  AttachObject(scene.SceneRoot, scene.Fugu->Model);
  AttachObject(scene.SceneRoot, scene.Terrain->Mesh);
  AttachObject(scene.SceneRoot, scene.SkyAnchor);
  AttachObject(scene.SkyAnchor, scene.SkyModel);
  AttachObject(scene.TreeAnchor, scene.TreeModel);
  AttachObject(scene.SceneRoot, scene.TreeAnchor);
  AttachObject(scene.WfgAnchor, scene.WfgModel);
  AttachObject(scene.SceneRoot, scene.WfgAnchor);
  AttachObject(scene.PlaneAnchor, scene.PlaneModel);
  AttachObject(scene.SceneRoot, scene.PlaneAnchor);
  AttachObject(scene.BuildingAnchor, scene.BuildingModel);
  AttachObject(scene.SceneRoot, scene.BuildingAnchor);

  MatrixPostScale(scene.SkyModel->Base, kSkyScale);
  MatrixSetRotTrans(scene.SkyModel->Local, 0, 0, 0, kSinglePi, 0, 0);
  MatrixPostScale(scene.TreeModel->Base, kTreeScale);
  MatrixSetRotTrans(scene.TreeAnchor->Local, kTreePosition.x, kTreePosition.y, kTreePosition.z, 0, 0, 0);
  MatrixSetRotTrans(scene.TreeModel->Local, 0, 0, 0, kSinglePi, 0, 0);
  MatrixSetRotTrans(scene.WfgModel->Local, 0, 0, 0, kSingleHalfPi, 0, 0);
  MatrixSetRotTrans(scene.PlaneModel->Local, 0, 0, 0, 0, 0, -kSingleHalfPi);
  MatrixSetRotTrans(scene.View.Camera, 0, 0, kCameraStartZ, 0, 0, 0);
  MatrixPreRotTrans(scene.View.Camera, 0, 0, 0, kSingleHalfPi, 0, 0);
  MatrixPostScale(scene.BuildingModel->Base, kBuildingScale);
  MatrixSetRotTrans(scene.BuildingAnchor->Local, kBuildingPosition.x, kBuildingPosition.y, kBuildingPosition.z, 0, 0,
                    0);
  MatrixSetRotTrans(scene.BuildingModel->Local, 0, 0, 0, kSinglePi, 0, 0);
  MatrixSetRotTrans(scene.Fugu->Placement, 0, 0, 0, kSingleHalfPi, 0, 0);

  scene.View.LightDir = kLightDir;
  device.SetBGColor(kBackgroundRed, kBackgroundGreen, kBackgroundBlue);
  scene.View.FogColor = kDefaultFogColor;

  // The picture's size, which the device component was made with (640 x 480 unless asked otherwise).
  ResizeView(scene.View, device.Width, device.Height);
  scene.RenderCamera = scene.View.Camera;
  return true;
}

void InitFlightPaths(TKlvScene& scene, TKlvRandom& random) {
  for (TFlightPath& path : scene.FlightPaths) InitPath(path, random);
}

void SceneStep(TKlvScene& scene, TSaverSettings& settings, TKalvorRM& device, TKlvRandom& random) {
  TMatrix44& camera = scene.View.Camera;

  int forward = 0, side = 0;
  ReadSteering(forward, side);

  if (device.D3DDevice != nullptr)
    device.D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, settings.CheckBox4 ? 1 : 0);
  scene.View.Zoom = static_cast<float>(settings.ScrollBar2 / 100.0);
  scene.Fugu->Animate(kFuguStep);

  settings.Edit2 = std::to_string(SafeTrunc(static_cast<double>(camera(3, 0)) / scene.Terrain->CellSize));
  settings.Edit3 = std::to_string(SafeTrunc(static_cast<double>(camera(3, 1)) / scene.Terrain->CellSize));

  if (!settings.CheckBox6)
    MatrixPreRotTrans(camera, 0, 0, static_cast<float>(settings.ScrollBar1 / 2.0), forward / kPitchDivisor, 0,
                      side / kTurnDivisor);
  const TMatrix44 savedCamera = camera;

  for (TFlightPath& path : scene.FlightPaths) AdvancePath(path, random);

  if (settings.CheckBox6) {
    SetRow3(camera, scene.FlightPaths[kCameraPath].Previous);
    if (scene.StepCount % std::max(settings.ScrollBar3, 1) == 0)
      settings.RadioGroup1 = 1 + random.Random(kLookAtChoices);
  }

  TLookAt target{};
  const bool aimed = ChooseTarget(scene, settings.RadioGroup1, target);
  if (aimed) camera = BuildLookAt(Row3(camera), target.Point);
  if (settings.CheckBox7 && aimed) settings.ScrollBar2 = AutoZoomPosition(target, Row3(camera));

  TMatrix44 reflection;
  MatrixSetRotTrans(reflection, 0, 0, 0, kSinglePi, 0, 0);

  scene.SkyAnchor->Local(3, 0) = camera(3, 0);
  scene.SkyAnchor->Local(3, 1) = camera(3, 1);

  const TFlightPath* paths = scene.FlightPaths;
  scene.Fugu->Placement = BuildLookAt(paths[kFuguPath].Previous, paths[kFuguPath].Current);
  scene.PlaneAnchor->Local = BuildLookAt(paths[kPlanePath].Previous, paths[kPlanePath].Current);
  scene.WfgAnchor->Local = BuildLookAt(paths[kWfgPath].Previous, paths[kWfgPath].Current);

  UpdateReflectionUV(scene.SceneRoot, reflection, Row3(camera));
  MoveTerrainWindow(scene.Terrain, Row3(camera));

  scene.RenderCamera = camera;
  camera = savedCamera;
  ++scene.StepCount;
}

void FreeScene(TKlvScene& scene) {
  TSceneObject* fuguModel = nullptr;
  if (scene.Fugu != nullptr) {
    fuguModel = scene.Fugu->Model;
    delete scene.Fugu;
    scene.Fugu = nullptr;
  }
  // Objects that a stopped build made but never attached are freed on their own.
  TSceneObject* root = scene.SceneRoot;
  FreeIfUnattached(fuguModel, root);
  if (scene.Terrain != nullptr) FreeIfUnattached(scene.Terrain->Mesh, root);
  for (TSceneObject** obj :
       {&scene.SkyModel, &scene.TreeModel, &scene.PlaneModel, &scene.WfgModel, &scene.BuildingModel, &scene.SkyAnchor,
        &scene.TreeAnchor, &scene.PlaneAnchor, &scene.WfgAnchor, &scene.BuildingAnchor})
    FreeIfUnattached(*obj, root);
  if (root != nullptr) FreeObjectTree(root);
  scene.SceneRoot = nullptr;
  FreeHeightField(scene.Terrain);
  FreeView(scene.View);
}
