// contact_sheet: renders every model of a data set alone, in the pose the scene gives it, through
// the same device components, loader and renderer the saver uses, and writes one PNG sheet per
// model. Flying objects fly level along world +x as the scene step aims them; the chrome object's
// texture coordinates come from the reflection pass for each camera; the fugu is shown at several
// animation steps; the sky is seen from its centre, level in four directions, up and down.
//
// For every view it prints how many pixels change when culling is turned off (faces a camera
// outside a closed model should not see); for the level sky views it prints the mean colour of a
// band just below the horizon next to the fog colour.
//
//   contact_sheet DATA_DIR OUT_DIR [--cell WxH]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/component.h"
#include "display/kalvorrm.h"
#include "model/klvloader.h"
#include "platform/dx5/virtual_display.h"
#include "platform/error.h"
#include "platform/png_writer.h"
#include "render/framedraw.h"
#include "render/viewcontext.h"
#include "scene/fugu.h"
#include "scene/lookat.h"
#include "scene/rmrenderdevice.h"
#include "tool_cli.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kPiF = 3.1415927f, kHalfPiF = 1.5707964f;
constexpr int kRgbDevice = 2;  // the device that reports itself as hardware with the RGB model
constexpr int32_t kViewCapacity = 20000;
constexpr float kZoom = 2.0f;
constexpr int kFog[3] = {223, 223, 239};
constexpr float kFuguStep = 0.01f;  // the scene step's animation step
constexpr int kColumns = 3;

struct Options {
  std::string data;
  std::string out;
  int width = 320;
  int height = 240;
};

constexpr char kUsage[] = "usage: contact_sheet DATA_DIR OUT_DIR [--cell WxH]";

[[noreturn]] void Usage(const std::string& problem) { klvtools::UsageError(problem, kUsage); }

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cell") {
      if (i + 1 >= argc) Usage("missing value for --cell");
      if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2 || o.width < 16 || o.height < 16 ||
          o.width > 2048 || o.height > 2048)
        Usage("bad cell size");
    } else if (arg.rfind("--", 0) == 0) {
      Usage("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) Usage("need a data folder and an output folder");
  o.data = positional[0];
  o.out = positional[1];
  return o;
}

// One rendered view: rows of 0x00RRGGBB words.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// Views laid out kColumns to a row, in the order they are added.
class Sheet {
 public:
  void Add(const Picture& p) { cells_.push_back(p); }

  void Write(const std::string& fileName) const {
    if (cells_.empty()) return;
    const int cw = cells_[0].width, ch = cells_[0].height;
    const int cols = std::min<int>(kColumns, static_cast<int>(cells_.size()));
    const int rows = (static_cast<int>(cells_.size()) + kColumns - 1) / kColumns;
    std::vector<uint32_t> sheet(static_cast<size_t>(cols) * cw * rows * ch, 0x404040);
    for (size_t k = 0; k < cells_.size(); ++k) {
      const int x0 = static_cast<int>(k % kColumns) * cw, y0 = static_cast<int>(k / kColumns) * ch;
      for (int y = 0; y < ch; ++y) {
        const uint32_t* src = &cells_[k].pixels[static_cast<size_t>(y) * cw];
        std::copy(src, src + cw, &sheet[static_cast<size_t>(y0 + y) * cols * cw + x0]);
      }
    }
    WritePngXrgb32(fileName, reinterpret_cast<const uint8_t*>(sheet.data()), cols * cw, rows * ch,
                   intptr_t{cols} * cw * 4);
    std::printf("wrote %s\n", fileName.c_str());
  }

 private:
  std::vector<Picture> cells_;
};

struct Vec3 {
  double x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 Unit(Vec3 a) { return a * (1.0 / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z)); }

// The direction of a camera turned by yaw about world z (0 looks along +x) and pitched by pitch
// (degrees, positive looks down: world +z is down in the saver's picture).
Vec3 Direction(double yawDeg, double pitchDeg) {
  const double yaw = yawDeg * kPi / 180, pitch = pitchDeg * kPi / 180;
  return {std::cos(pitch) * std::cos(yaw), std::cos(pitch) * std::sin(yaw), std::sin(pitch)};
}

// A camera at eye looking along forward with no roll: rows right, down, forward and the position.
TMatrix44 CameraAt(Vec3 eye, Vec3 forward) {
  const Vec3 f = Unit(forward);
  const Vec3 right = Unit(Cross({0, 0, 1}, f));
  const Vec3 down = Cross(f, right);
  TMatrix44 camera = MatrixIdentity;
  const Vec3 rows[4] = {right, down, f, eye};
  for (int r = 0; r < 4; ++r) {
    camera(r, 0) = static_cast<float>(rows[r].x);
    camera(r, 1) = static_cast<float>(rows[r].y);
    camera(r, 2) = static_cast<float>(rows[r].z);
  }
  return camera;
}

// The world-space bounding sphere of every vertex under root, each object placed as the renderer
// places it (Local x Base x parent).
void BoundingSphere(TSceneObject* root, Vec3& centre, double& radius) {
  Vec3 lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  std::function<void(TSceneObject*, const TMatrix44&)> walk = [&](TSceneObject* obj, const TMatrix44& parent) {
    for (; obj; obj = obj->Next) {
      TMatrix44 full;
      MatrixMultiply(obj->Local, obj->Base, full);
      MatrixMultiply(full, parent, full);
      for (int32_t i = 0; i < obj->VertexCount; ++i) {
        const TVector3 p = TransformPoint({obj->Vertices[i].X, obj->Vertices[i].Y, obj->Vertices[i].Z}, full);
        lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
        hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
      }
      walk(obj->FirstChild, full);
    }
  };
  walk(root, MatrixIdentity);
  if (lo.x > hi.x) throw KlvError(KlvErrorKind::OutOfRange, "", "the model has no vertices");
  centre = (lo + hi) * 0.5;
  const Vec3 half = (hi - lo) * 0.5;
  radius = std::fmax(std::sqrt(half.x * half.x + half.y * half.y + half.z * half.z), 1e-3);
}

class Studio {
 public:
  explicit Studio(const Options& o) : options_(o), rm_(&form_) {
    SetCurrentDisplayMode({static_cast<DWORD>(o.width), static_cast<DWORD>(o.height), 16});
    SetWindowClientArea({0, 0, o.width, o.height});
    rm_.Width = o.width;
    rm_.Height = o.height;
    KalvorGUnit.DriverChoice = -1;
    KalvorRMUnit.DeviceChoice = kRgbDevice;
    KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_RGB);
    rm_.DDEnum();
    rm_.DDInit();
    if (!rm_.RmInit()) throw KlvError(KlvErrorKind::Unsupported, "", "no Direct3D device could be made");
    rm_.SetBGColor(kFog[0], kFog[1], kFog[2]);
    rm_.D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, TRUE);
    CreateView(view_, &device_, o.width, o.height, kViewCapacity, kViewCapacity, kZoom);
    CreateObject(root_, 0, 0, 0, 0);
  }
  ~Studio() {
    FreeObjectTree(root_);
    FreeView(view_);
    rm_.RmRelease();
    rm_.DDrelease();
  }
  Studio(const Studio&) = delete;
  Studio& operator=(const Studio&) = delete;

  TKalvorRM& Device() { return rm_; }
  TSceneObject* Root() { return root_; }

  // Loads a model from the data folder under a fresh anchor of the stage; the stage owns both.
  TSceneObject* Load(const std::string& name, TSceneObject*& anchor) {
    CreateObject(anchor, 0, 0, 0, 0);
    AttachObject(root_, anchor);
    TSceneObject* model = LoadModelFile(rm_, (std::filesystem::path(options_.data) / name).string());
    AttachObject(anchor, model);
    return model;
  }

  // Empties the stage for the next model.
  void Clear() {
    FreeObjectTree(root_);
    root_ = nullptr;
    CreateObject(root_, 0, 0, 0, 0);
  }

  // Renders the stage through `camera` with the saver's culling, and reports how many pixels a
  // render without culling changes.
  Picture Shoot(const TMatrix44& camera, const char* label) {
    const TVector3 eye{camera(3, 0), camera(3, 1), camera(3, 2)};
    TMatrix44 reflection;
    MatrixSetRotTrans(reflection, 0, 0, 0, kPiF, 0, 0);
    UpdateReflectionUV(root_, reflection, eye);
    const Picture culled = Render(camera, D3DCULL_CCW);
    const Picture all = Render(camera, D3DCULL_NONE);
    int changed = 0;
    for (size_t i = 0; i < culled.pixels.size(); ++i) changed += culled.pixels[i] != all.pixels[i];
    std::printf("  %-28s %6d pixels change without culling\n", label, changed);
    return culled;
  }

  // A camera outside the stage's bounding sphere, looking at its centre from yaw and pitch.
  TMatrix44 Orbit(double yawDeg, double pitchDeg) {
    Vec3 centre;
    double radius = 0;
    BoundingSphere(root_, centre, radius);
    return OrbitAround(centre, radius, yawDeg, pitchDeg);
  }

  // A camera outside the sphere at centre, looking at its centre from yaw and pitch.
  TMatrix44 OrbitAround(Vec3 centre, double radius, double yawDeg, double pitchDeg) {
    const double tanHalf = std::fmin(view_.HalfWidth, view_.HalfHeight) / view_.HalfWidth / kZoom;
    const double distance = radius * std::sqrt(1 + 1 / (tanHalf * tanHalf));
    const Vec3 forward = Direction(yawDeg, pitchDeg);
    return CameraAt(centre - forward * distance, forward);
  }

 private:
  Picture Render(const TMatrix44& camera, DWORD cull) {
    rm_.D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, cull);
    view_.Camera = camera;
    RenderView(view_, root_, false);
    rm_.MainCopy();
    Picture p;
    if (!FrontBufferToXrgb(p.pixels, p.width, p.height))
      throw KlvError(KlvErrorKind::Unsupported, "", "nothing was presented");
    return p;
  }

  const Options& options_;
  TComponentOwner form_;
  TKalvorRM rm_;
  TKalvorRMRenderDevice device_{rm_};
  TKlvViewContext view_{};
  TSceneObject* root_ = nullptr;
};

// Mean colour of the rows from `first` to `last` and the largest distance of any channel's mean
// from the fog colour.
void PrintBand(const Picture& p, int first, int last, const char* label) {
  double sum[3] = {0, 0, 0};
  long count = 0;
  for (int y = first; y <= last; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const uint32_t c = p.pixels[static_cast<size_t>(y) * p.width + x];
      sum[0] += (c >> 16) & 0xFF;
      sum[1] += (c >> 8) & 0xFF;
      sum[2] += c & 0xFF;
      ++count;
    }
  }
  double worst = 0;
  for (int k = 0; k < 3; ++k) {
    sum[k] /= static_cast<double>(count);
    worst = std::fmax(worst, std::fabs(sum[k] - kFog[k]));
  }
  std::printf("  %-28s mean (%.1f, %.1f, %.1f) vs fog (%d, %d, %d): off by %.1f at most\n", label, sum[0], sum[1],
              sum[2], kFog[0], kFog[1], kFog[2], worst);
}

void SetRotTrans(TMatrix44& m, float ax, float az) { MatrixSetRotTrans(m, 0, 0, 0, ax, 0, az); }

// Orbit views of the model as staged, in the directions given as (yaw, pitch) pairs.
void OrbitSheet(Studio& studio, const std::vector<std::pair<double, double>>& directions, Sheet& sheet) {
  for (const auto& [yaw, pitch] : directions) {
    char label[48];
    std::snprintf(label, sizeof label, "yaw %4.0f pitch %4.0f", yaw, pitch);
    sheet.Add(studio.Shoot(studio.Orbit(yaw, pitch), label));
  }
}

const std::vector<std::pair<double, double>> kGroundViews = {{30, 10}, {150, 35}, {260, -5}};
const std::vector<std::pair<double, double>> kFlyingViews = {{210, 20}, {90, 0}, {-30, -30}};

// Where a ground model's upper part stands in the stage: the tree's crown, the building's top.
struct CloseUp {
  Vec3 centre;
  double radius;
};

// A model that stands on the ground: Base scale, Local flipped by a half turn about x. Seen whole,
// then its upper part close up.
void GroundModel(Studio& studio, const Options& o, const char* file, float scale, const CloseUp& closeUp,
                 const char* sheetName) {
  std::printf("%s\n", file);
  TSceneObject* anchor = nullptr;
  TSceneObject* model = studio.Load(file, anchor);
  MatrixPostScale(model->Base, scale);
  SetRotTrans(model->Local, kPiF, 0);
  Sheet sheet;
  OrbitSheet(studio, kGroundViews, sheet);
  for (const auto& [yaw, pitch] : kGroundViews) {
    char label[48];
    std::snprintf(label, sizeof label, "top, yaw %4.0f pitch %4.0f", yaw, pitch);
    sheet.Add(studio.Shoot(studio.OrbitAround(closeUp.centre, closeUp.radius, yaw, pitch), label));
  }
  sheet.Write((std::filesystem::path(o.out) / sheetName).string());
  studio.Clear();
}

// A flying object: its anchor aimed along world +x as the scene step aims it, its own Local turn.
void FlyingModel(Studio& studio, const Options& o, const char* file, float ax, float az, const char* sheetName) {
  std::printf("%s\n", file);
  TSceneObject* anchor = nullptr;
  TSceneObject* model = studio.Load(file, anchor);
  anchor->Local = BuildLookAt({0, 0, 0}, {1, 0, 0});
  SetRotTrans(model->Local, ax, az);
  Sheet sheet;
  OrbitSheet(studio, kFlyingViews, sheet);
  sheet.Write((std::filesystem::path(o.out) / sheetName).string());
  studio.Clear();
}

// The fugu flying along +x: three directions after one step, then seen from above and from the
// side at later steps of the swim cycle.
void FuguSheet(Studio& studio, const Options& o) {
  std::printf("fugu4.klv\n");
  TSceneObject* model = LoadModelFile(studio.Device(), (std::filesystem::path(o.data) / "fugu4.klv").string());
  AttachObject(studio.Root(), model);
  TFugu fugu(model);
  fugu.Placement = BuildLookAt({0, 0, 0}, {1, 0, 0});
  fugu.Animate(kFuguStep);
  Sheet sheet;
  OrbitSheet(studio, kFlyingViews, sheet);
  int steps = 1;
  for (int target : {3, 5, 8}) {
    for (; steps < target; ++steps) fugu.Animate(kFuguStep);
    char label[48];
    std::snprintf(label, sizeof label, "from above, step %d", steps);
    sheet.Add(studio.Shoot(studio.Orbit(0, 89), label));
  }
  for (int target : {10, 12, 15}) {
    for (; steps < target; ++steps) fugu.Animate(kFuguStep);
    char label[48];
    std::snprintf(label, sizeof label, "from ahead, step %d", steps);
    sheet.Add(studio.Shoot(studio.Orbit(180, 10), label));
  }
  sheet.Write((std::filesystem::path(o.out) / "sheet_fugu.png").string());
  studio.Clear();
}

// The sky from its centre, as the saver sees it: level in four directions, then up and down; the
// haze just below the horizon measured from three camera heights of the flight band.
void SkySheet(Studio& studio, const Options& o) {
  std::printf("sky.klv\n");
  TSceneObject* anchor = nullptr;
  TSceneObject* model = studio.Load("sky.klv", anchor);
  MatrixPostScale(model->Base, 120.0f);
  SetRotTrans(model->Local, kPiF, 0);
  Sheet sheet;
  for (double yaw : {0.0, 90.0, 180.0, 270.0}) {
    char label[48];
    std::snprintf(label, sizeof label, "level, yaw %.0f", yaw);
    const Picture p = studio.Shoot(CameraAt({0, 0, 0}, Direction(yaw, 0)), label);
    PrintBand(p, p.height / 2 + 2, p.height / 2 + p.height / 8, "  haze below the horizon");
    PrintBand(p, p.height / 2 - p.height / 8, p.height / 2 - 2, "  sky above the horizon");
    sheet.Add(p);
  }
  sheet.Add(studio.Shoot(CameraAt({0, 0, 0}, Direction(0, -89)), "up"));
  sheet.Add(studio.Shoot(CameraAt({0, 0, 0}, Direction(0, 89)), "down"));
  for (double height : {-20.0, 19.9}) {
    char label[48];
    std::snprintf(label, sizeof label, "level at z %.0f", height);
    const Picture p = studio.Shoot(CameraAt({0, 0, height}, Direction(45, 0)), label);
    PrintBand(p, p.height / 2 + 2, p.height / 2 + p.height / 8, "  haze below the horizon");
  }
  sheet.Write((std::filesystem::path(o.out) / "sheet_sky.png").string());
  studio.Clear();
}

int Run(const Options& o) {
  std::filesystem::create_directories(o.out);
  Studio studio(o);
  SkySheet(studio, o);
  GroundModel(studio, o, "ki3.klv", 20.0f, {{0, 0, -23}, 13}, "sheet_tree.png");
  GroundModel(studio, o, "tate2.klv", 10.0f, {{0, 0, 0}, 11}, "sheet_building.png");
  FlyingModel(studio, o, "f3f.klv", 0, -kHalfPiF, "sheet_plane.png");
  FlyingModel(studio, o, "wfgshou.klv", kHalfPiF, 0, "sheet_chrome.png");
  FuguSheet(studio, o);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return klvtools::RunTool("contact_sheet", kUsage, argc, argv, [&] { return Run(ParseOptions(argc, argv)); });
}
