// The saver's world: what begin builds (the ground texture, the view context, the object tree with
// its anchors and models, the fugu, the terrain and four flight paths), the scene step that
// advances it once per frame, and the release that end runs. The main window owns one TKlvScene.
#pragma once

#include <cstdint>
#include <string>

#include "model/matrix.h"
#include "model/random.h"
#include "model/sceneobject.h"
#include "model/terrain.h"
#include "render/viewcontext.h"
#include "scene/flightpath.h"
#include "scene/fugu.h"
#include "scene/rmrenderdevice.h"
#include "scene/settings.h"

class TBitmap;
class TKalvorRM;
class TKalvorTexture;

constexpr int kFlightPathCount = 4;
enum TFlightPathRole { kFuguPath = 0, kPlanePath = 1, kWfgPath = 2, kCameraPath = 3 };

struct TKlvScene {
  TKalvorTexture* SceneTexture = nullptr;  // owned by the device's texture list
  TKalvorRMRenderDevice RenderDevice;      // what View draws through
  TKlvViewContext View{};
  TSceneObject* SceneRoot = nullptr;
  TSceneObject* SkyAnchor = nullptr;
  TSceneObject* TreeAnchor = nullptr;
  TSceneObject* PlaneAnchor = nullptr;
  TSceneObject* WfgAnchor = nullptr;
  TSceneObject* BuildingAnchor = nullptr;
  TSceneObject* SkyModel = nullptr;
  TSceneObject* TreeModel = nullptr;
  TSceneObject* PlaneModel = nullptr;
  TSceneObject* WfgModel = nullptr;
  TSceneObject* BuildingModel = nullptr;
  TFugu* Fugu = nullptr;
  THeightField* Terrain = nullptr;
  TFlightPath FlightPaths[kFlightPathCount]{};
  int32_t StepCount = 0;     // scene steps since the window was created
  TMatrix44 RenderCamera{};  // the camera the next draw uses, written by the step
};

// The world's constants that the step and the build share.
constexpr float kSinglePi = 3.1415927f;
constexpr float kSingleHalfPi = 1.5707964f;
constexpr float kTreeLookAtDrop = 40.0f;  // the camera looks this far above the tree's anchor
constexpr float kFuguStep = 0.01f;

// Builds everything up to the viewport (begin's scene build, without the flight paths). When
// "meta.bmp" is in neither `dataPath` nor the current folder, shows the message box and returns
// false. When it is only in the current folder, `dataPath` is cleared. Loader errors (KlvError)
// propagate; whatever was built stays in `scene` for FreeScene.
bool BuildScene(TKlvScene& scene, TKalvorRM& device, std::string& dataPath, TBitmap& image);
// Fills the four flight paths, in order, from `random`.
void InitFlightPaths(TKlvScene& scene, TKlvRandom& random);
// One scene step: input, zoom, fugu, flight, look-at, auto zoom, sky, flying objects, reflection
// mapping and terrain window; leaves the camera for the next draw in RenderCamera.
void SceneStep(TKlvScene& scene, TSaverSettings& settings, TKalvorRM& device, TKlvRandom& random);
// End's releases, in order: the fugu, the object tree (and any built object not yet attached to
// it), the terrain, the view context's buffers. Safe on a partly built or already freed scene.
void FreeScene(TKlvScene& scene);
