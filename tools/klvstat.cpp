// klvstat: how often the camera flies into a model. Runs the saver without a display over a range
// of seeds and counts, per model, the frames in which the camera is inside the model's world box,
// and the frames in which it is nearer to the box than the box is large while the model covers more
// than a share of the picture (the pixels that change when the model is hidden and the frame drawn
// again). The sky, which always surrounds the camera, and the terrain are not counted.
//
//   klvstat [--data DIR] [--seeds FIRST-LAST] [--steps N] [--cover PERCENT] [--list]
//
// --list prints every counted frame as "seed S step N model reason".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "klvheadless.h"
#include "klvstat_measure.h"
#include "platform/error.h"
#include "tool_cli.h"

namespace {

using namespace klvtools;

struct Options {
  std::string data = ".";
  long long firstSeed = 1, lastSeed = 20;
  long long steps = 2000;
  double cover = 0.6;
  bool list = false;
};

constexpr char kUsage[] = "usage: klvstat [--data DIR] [--seeds FIRST-LAST] [--steps N] [--cover PERCENT] [--list]";

[[noreturn]] void Usage(const std::string& problem) { klvtools::UsageError(problem, kUsage); }

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--list") {
      o.list = true;
      continue;
    }
    if (i + 1 >= argc) Usage(arg.rfind("--", 0) == 0 ? "missing value for " + arg : "unexpected " + arg);
    const std::string value = argv[++i];
    if (arg == "--data") {
      o.data = value;
    } else if (arg == "--seeds") {
      const size_t dash = value.find('-');
      o.firstSeed = klvtools::WholeNumber(value.substr(0, dash), arg, 0, 1000000, kUsage);
      o.lastSeed = dash == std::string::npos
                       ? o.firstSeed
                       : klvtools::WholeNumber(value.substr(dash + 1), arg, o.firstSeed, 1000000, kUsage);
    } else if (arg == "--steps") {
      o.steps = klvtools::WholeNumber(value, arg, 1, 10000000, kUsage);
    } else if (arg == "--cover") {
      o.cover = static_cast<double>(klvtools::WholeNumber(value, arg, 1, 100, kUsage)) / 100.0;
    } else {
      Usage("unknown option " + arg);
    }
  }
  return o;
}

struct Model {
  const char* name;
  TSceneObject* TKlvScene::*object;  // null for the fugu, whose model hangs off TKlvScene::Fugu
  ModelTally tally;
};

TSceneObject* ObjectOf(TKlvScene& scene, const Model& model) {
  return model.object != nullptr ? scene.*model.object : scene.Fugu->Model;
}

// Counts one frame against each model it falls on.
void MeasureFrame(HeadlessSaver& run, std::vector<Model>& models, const Options& o, long long seed, long long step) {
  TKlvScene& scene = run.Saver().Scene;
  const TVector3 eye{scene.RenderCamera(3, 0), scene.RenderCamera(3, 1), scene.RenderCamera(3, 2)};
  for (Model& model : models) {
    TSceneObject* obj = ObjectOf(scene, model);
    const WorldBox box = ModelBox(obj);
    const char* reason = nullptr;
    if (box.Contains(eye)) {
      ++model.tally.inside;
      reason = "inside";
    } else if (Near(box, eye) && ProjectedShare(box, scene.RenderCamera, scene.View.Zoom,
                                                scene.View.HalfWidth / scene.View.HalfHeight) > o.cover) {
      const std::vector<uint32_t> shown = run.Window().LastFrame();
      obj->Visible = 0;
      run.Redraw();
      obj->Visible = 1;
      const double share = ChangedShare(shown, run.Window().LastFrame());
      run.Redraw();
      if (share > o.cover) {
        ++model.tally.filled;
        reason = "fills";
      }
    }
    if (reason != nullptr && o.list) std::printf("seed %lld step %lld %s %s\n", seed, step, model.name, reason);
  }
}

double Percent(long long count, long long frames) {
  return 100.0 * static_cast<double>(count) / static_cast<double>(frames);
}

int Run(const Options& o) {
  std::vector<Model> models = {{"tree", &TKlvScene::TreeModel, {}},
                               {"building", &TKlvScene::BuildingModel, {}},
                               {"plane", &TKlvScene::PlaneModel, {}},
                               {"wfg", &TKlvScene::WfgModel, {}},
                               {"fugu", nullptr, {}}};
  long long frames = 0, anyFrames = 0;
  for (long long seed = o.firstSeed; seed <= o.lastSeed; ++seed) {
    HeadlessSaver run(o.data, static_cast<uint64_t>(seed));
    for (long long step = 1; step <= o.steps; ++step) {
      run.Step();
      std::vector<long long> before;
      for (const Model& model : models) before.push_back(model.tally.Either());
      MeasureFrame(run, models, o, seed, step);
      bool any = false;
      for (size_t m = 0; m < models.size(); ++m) any = any || models[m].tally.Either() != before[m];
      anyFrames += any;
      ++frames;
    }
  }
  std::printf("%lld frames: seeds %lld-%lld, %lld steps each, data %s\n", frames, o.firstSeed, o.lastSeed, o.steps,
              o.data.c_str());
  std::printf("share of frames    camera inside box   near and covering > %.0f%%   either\n", o.cover * 100);
  for (const Model& model : models) {
    std::printf("  %-9s %20.2f%% %26.2f%% %8.2f%%\n", model.name, Percent(model.tally.inside, frames),
                Percent(model.tally.filled, frames), Percent(model.tally.Either(), frames));
  }
  std::printf("  %-9s %57.2f%%\n", "any model", Percent(anyFrames, frames));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return klvtools::RunTool("klvstat", kUsage, argc, argv, [&] { return Run(ParseOptions(argc, argv)); });
}
