// klvview: renders one model file to a PNG without a display, through the same device components,
// loader and renderer the saver uses. The camera looks at the centre of the model's bounds from a
// chosen direction, far enough back for the whole model to fit.
//
//   klvview MODEL.klv OUT.png [--yaw DEG] [--pitch DEG] [--distance SCALE] [--size WxH]
//                             [--depth 16|32] [--nocull]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "scene/rmrenderdevice.h"
#include "tool_cli.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRgbDevice = 2;  // the device that reports itself as hardware with the RGB model
constexpr int32_t kViewCapacity = 20000;
constexpr float kZoom = 2.0f;
constexpr uint8_t kBackground[3] = {223, 223, 239};

struct Options {
  std::string model;
  std::string output;
  double yaw = 30;
  double pitch = 20;
  double distance = 1.0;  // multiple of the distance at which the bounding sphere just fits
  int width = 640;
  int height = 480;
  DWORD depth = 16;
  bool cull = true;
};

constexpr char kUsage[] =
    "usage: klvview MODEL.klv OUT.png [--yaw DEG] [--pitch DEG] [--distance SCALE] [--size WxH] [--depth 16|32] "
    "[--nocull]";

[[noreturn]] void Usage(const std::string& problem) { klvtools::UsageError(problem, kUsage); }

double Number(const char* text, const std::string& option) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != 0 || !std::isfinite(value)) Usage("bad number for " + option);
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--nocull") {
      o.cull = false;
    } else if (arg.rfind("--", 0) == 0 && !hasValue) {
      Usage("missing value for " + arg);
    } else if (arg == "--yaw") {
      o.yaw = Number(argv[++i], arg);
    } else if (arg == "--pitch") {
      o.pitch = Number(argv[++i], arg);
    } else if (arg == "--distance") {
      o.distance = Number(argv[++i], arg);
    } else if (arg == "--size") {
      if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2 || o.width < 1 || o.height < 1 || o.width > 4096 ||
          o.height > 4096)
        Usage("bad size");
    } else if (arg == "--depth") {
      o.depth = static_cast<DWORD>(Number(argv[++i], arg));
      if (o.depth != 16 && o.depth != 32) Usage("depth must be 16 or 32");
    } else if (arg.rfind("--", 0) == 0) {
      Usage("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) Usage("need a model file and an output file");
  o.model = positional[0];
  o.output = positional[1];
  return o;
}

struct Bounds {
  double min[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
  double max[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
};

// World-space bounds of every vertex of the tree, each object placed by Local x Base x parent.
Bounds TreeBounds(TSceneObject* root) {
  Bounds b;
  struct Item {
    TSceneObject* obj;
    TMatrix44 parent;
  };
  std::vector<Item> pending{{root, MatrixIdentity}};
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    TMatrix44 full;
    MatrixMultiply(item.obj->Local, item.obj->Base, full);
    MatrixMultiply(full, item.parent, full);
    for (int32_t i = 0; i < item.obj->VertexCount; ++i) {
      const TMeshVertex& v = item.obj->Vertices[i];
      const TVector3 p = TransformPoint({v.X, v.Y, v.Z}, full);
      const double c[3] = {p.x, p.y, p.z};
      for (int a = 0; a < 3; ++a) {
        b.min[a] = std::fmin(b.min[a], c[a]);
        b.max[a] = std::fmax(b.max[a], c[a]);
      }
    }
    for (TSceneObject* c = item.obj->FirstChild; c != nullptr; c = c->Next) pending.push_back({c, full});
  }
  if (b.min[0] > b.max[0]) throw KlvError(KlvErrorKind::OutOfRange, "", "the model has no vertices");
  return b;
}

// A camera looking at the bounds' centre from yaw and pitch (degrees; z is up), far enough back
// for the bounding sphere to fit the shorter side of the view.
TMatrix44 AimCamera(const Bounds& b, const Options& o, float halfWidth, float halfHeight) {
  double centre[3], radius2 = 0;
  for (int a = 0; a < 3; ++a) {
    centre[a] = (b.min[a] + b.max[a]) / 2;
    radius2 += (b.max[a] - centre[a]) * (b.max[a] - centre[a]);
  }
  const double radius = std::fmax(std::sqrt(radius2), 1e-3);
  const double yaw = o.yaw * kPi / 180, pitch = o.pitch * kPi / 180;
  const double fwd[3] = {std::cos(pitch) * std::cos(yaw), std::cos(pitch) * std::sin(yaw), -std::sin(pitch)};
  double right[3] = {fwd[1], -fwd[0], 0};  // fwd x up, up = (0, 0, 1)
  const double rightLength = std::hypot(right[0], right[1]);
  if (rightLength < 1e-9) Usage("pitch must not look straight up or down");
  for (double& r : right) r /= rightLength;
  const double down[3] = {fwd[1] * right[2] - fwd[2] * right[1], fwd[2] * right[0] - fwd[0] * right[2],
                          fwd[0] * right[1] - fwd[1] * right[0]};
  // Tangent of the half-angle of the shorter side: (half extent / HalfWidth) / Zoom.
  const double tanHalf = std::fmin(halfWidth, halfHeight) / halfWidth / kZoom;
  const double distance = o.distance * radius * std::sqrt(1 + 1 / (tanHalf * tanHalf));
  TMatrix44 camera = MatrixIdentity;
  for (int a = 0; a < 3; ++a) {
    camera(0, a) = static_cast<float>(right[a]);
    camera(1, a) = static_cast<float>(down[a]);
    camera(2, a) = static_cast<float>(fwd[a]);
    camera(3, a) = static_cast<float>(centre[a] - fwd[a] * distance);
  }
  return camera;
}

bool BringUpDevice(TKalvorRM& rm, const Options& o) {
  SetCurrentDisplayMode({static_cast<DWORD>(o.width), static_cast<DWORD>(o.height), o.depth});
  SetWindowClientArea({0, 0, o.width, o.height});
  rm.Width = o.width;
  rm.Height = o.height;
  KalvorGUnit.DriverChoice = -1;
  KalvorRMUnit.DeviceChoice = kRgbDevice;
  KalvorRMUnit.ColorModel = static_cast<int32_t>(D3DCOLOR_RGB);
  rm.DDEnum();
  rm.DDInit();
  if (!rm.RmInit()) return false;
  rm.SetBGColor(kBackground[0], kBackground[1], kBackground[2]);
  rm.D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, o.cull ? D3DCULL_CCW : D3DCULL_NONE);
  rm.D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, TRUE);
  return true;
}

int Run(const Options& o) {
  TComponentOwner form;
  TKalvorRM rm(&form);
  if (!BringUpDevice(rm, o)) {
    std::fprintf(stderr, "klvview: no Direct3D device could be made\n");
    return 1;
  }
  std::unique_ptr<TSceneObject, void (*)(TSceneObject*)> model(LoadModelFile(rm, o.model), FreeObjectTree);
  TKalvorRMRenderDevice device(rm);
  TKlvViewContext view{};
  CreateView(view, &device, o.width, o.height, kViewCapacity, kViewCapacity, kZoom);
  view.Camera = AimCamera(TreeBounds(model.get()), o, view.HalfWidth, view.HalfHeight);
  RenderView(view, model.get(), false);
  rm.MainCopy();
  const int32_t vertices = view.TLVertexCount, faces = view.NodeCount;
  FreeView(view);

  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  if (!FrontBufferToXrgb(pixels, width, height)) {
    std::fprintf(stderr, "klvview: nothing was presented\n");
    return 1;
  }
  WritePngXrgb32(o.output, reinterpret_cast<const uint8_t*>(pixels.data()), width, height, intptr_t{width} * 4);
  std::printf("%s: %d x %d, %d vertices and %d faces drawn\n", o.output.c_str(), width, height, vertices, faces);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return klvtools::RunTool("klvview", kUsage, argc, argv, [&] { return Run(ParseOptions(argc, argv)); });
}
