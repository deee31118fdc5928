// klvsnap: runs the saver without a display. The same main window, begin, scene step, draw and end
// run on the headless window backend with a fixed random seed and a clock that moves 16 ms per
// step, so every run of the same data set gives the same frames. Chosen frames are written as PNG
// files from what the window was given to show, and the time of each part of a frame is printed.
// With --capture FILE, every rasteriser call of the chosen frames is also recorded, as frames named
// "seed S frame N", to a capture file that benchmarks and tests replay; frames are added to the
// file when it exists, so runs with other seeds can share one file (and its textures).
//
//   klvsnap [--data DIR] [--steps N] [--seed S] [--frames 1,500,1000] [--out DIR] [--per-step]
//           [--capture FILE] [--threads N] [--renderer auto|software|gl]
//
// --threads sets the rasteriser's drawing threads (0, the default, uses as many as the picture needs,
// one per 1024 x 768 pixels, up to one per core).
//
// The device choice is the default one: the run uses a private, empty settings folder. The
// renderer decides whether that device draws on the GPU (a headless GL context) or in software;
// on the GPU the counts of GL calls, uploads and read-backs are printed as well.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "klvheadless.h"
#include "platform/dx5/gl_api.h"
#include "platform/dx5/gl_display.h"
#include "platform/dx5/raster_capture.h"
#include "platform/error.h"
#include "platform/png_writer.h"
#include "platform/win/application.h"
#include "platform/win/headless_window.h"
#include "shell/kalvorgsaver.h"
#include "tool_cli.h"

namespace {

constexpr DWORD kStepMs = 16;
constexpr long long kMaxSteps = 10000000;
constexpr long long kMaxThreads = 64;

struct Options {
  std::string data = ".";
  long long steps = 1000;
  uint64_t seed = 1;
  std::set<long long> frames;
  bool framesGiven = false;
  std::string out = "klvsnap-frames";
  bool perStep = false;
  std::string capture;  // empty: no capture
  int threads = 0;      // rasteriser threads; 0: as many as the picture needs, up to one per core
  KlvRenderer renderer = KlvRenderer::Auto;
};

constexpr char kUsage[] =
    "usage: klvsnap [--data DIR] [--steps N] [--seed S] [--frames 1,500,1000] [--out DIR] [--per-step]\n"
    "               [--capture FILE] [--threads N] [--renderer auto|software|gl]";

[[noreturn]] void Usage(const std::string& problem) { klvtools::UsageError(problem, kUsage); }

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::string frameList;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--per-step") {
      o.perStep = true;
      continue;
    }
    if (i + 1 >= argc) Usage(arg.rfind("--", 0) == 0 ? "missing value for " + arg : "unexpected " + arg);
    const std::string value = argv[++i];
    if (arg == "--data") {
      o.data = value;
    } else if (arg == "--steps") {
      o.steps = klvtools::WholeNumber(value, arg, 1, kMaxSteps, kUsage);
    } else if (arg == "--seed") {
      o.seed =
          static_cast<uint64_t>(klvtools::WholeNumber(value, arg, 0, std::numeric_limits<long long>::max(), kUsage));
    } else if (arg == "--frames") {
      frameList = value;
      o.framesGiven = true;
    } else if (arg == "--out") {
      o.out = value;
    } else if (arg == "--capture") {
      o.capture = value;
    } else if (arg == "--threads") {
      o.threads = static_cast<int>(klvtools::WholeNumber(value, arg, 0, kMaxThreads, kUsage));
    } else if (arg == "--renderer") {
      if (!ParseRenderer(value, &o.renderer)) Usage("bad value '" + value + "' for " + arg);
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (!o.framesGiven) {
    o.frames = {1, o.steps};
    return o;
  }
  for (size_t start = 0; start <= frameList.size();) {
    size_t comma = frameList.find(',', start);
    if (comma == std::string::npos) comma = frameList.size();
    o.frames.insert(klvtools::WholeNumber(frameList.substr(start, comma - start), "--frames", 1, o.steps, kUsage));
    start = comma + 1;
  }
  return o;
}

struct PhaseTimes {
  const char* name;
  std::vector<double> ms;

  void Print() const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double t : sorted) total += t;
    std::printf("  %-8s mean %8.3f ms  median %8.3f ms  min %8.3f ms  max %8.3f ms\n", name,
                total / static_cast<double>(sorted.size()), sorted[sorted.size() / 2], sorted.front(), sorted.back());
  }
};

std::string CaptureName(const Options& o, long long step) {
  return "seed " + std::to_string(o.seed) + " frame " + std::to_string(step);
}

std::string FrameFile(const Options& o, long long step) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06lld.png", step);
  return (std::filesystem::path(o.out) / name).string();
}

void WriteFrame(const TKlvHeadlessWindow& window, const std::string& fileName) {
  if (window.PresentCount() == 0) throw KlvError(KlvErrorKind::Unsupported, fileName, "nothing was presented");
  WritePngXrgb32(fileName, reinterpret_cast<const uint8_t*>(window.LastFrame().data()), window.FrameWidth(),
                 window.FrameHeight(), intptr_t{window.FrameWidth()} * 4);
}

int Run(const Options& o) {
  const klvtools::PrivateSettings settings;
  RasterSetThreadLimit(o.threads);
  std::filesystem::create_directories(o.out);
  RasterCapture capture;
  if (!o.capture.empty() && std::filesystem::exists(o.capture)) capture = LoadRasterCapture(o.capture);
  SetRenderer(o.renderer);

  auto backend = std::make_unique<TKlvHeadlessWindow>();
  TKlvHeadlessWindow& window = *backend;
  TApplication application(std::move(backend));
  DWORD now = 0;
  TSaverOptions saverOptions;
  saverOptions.Argument = "/s";
  saverOptions.Clock = [&now] { return now; };
  saverOptions.Seed = o.seed;
  TKalvorGSaver saver(application, std::move(saverOptions));
  saver.DataPath = o.data.empty() || o.data.back() == '/' ? o.data : o.data + "/";

  saver.Timer1Timer();
  if (application.Terminated()) {
    std::fprintf(stderr, "klvsnap: the saver did not start (see the message above)\n");
    return 1;
  }

  PhaseTimes step{"step", {}}, render{"render", {}}, present{"present", {}}, frame{"frame", {}};
  for (long long i = 1; i <= o.steps; ++i) {
    now += kStepMs;
    const bool capturing = !o.capture.empty() && o.frames.count(i) != 0;
    if (capturing) {
      capture.frames.push_back({CaptureName(o, i), {}});
      RasterRecordInto(&capture);
    }
    const bool stepped = saver.KlvMLoop1Calc();
    RasterRecordInto(nullptr);
    if (!stepped) throw KlvError(KlvErrorKind::Unsupported, "", "the step gate refused a step");
    if (capturing)
      std::printf("captured %s: %zu calls\n", CaptureName(o, i).c_str(), capture.frames.back().calls.size());
    const TFrameTimings& t = saver.LastTimings;
    step.ms.push_back(t.StepMs);
    render.ms.push_back(t.RenderMs);
    present.ms.push_back(t.PresentMs);
    frame.ms.push_back(t.StepMs + t.RenderMs + t.PresentMs);
    if (o.perStep)
      std::printf("step %lld: step %.3f ms, render %.3f ms, present %.3f ms\n", i, t.StepMs, t.RenderMs, t.PresentMs);
    if (o.frames.count(i) != 0) {
      const std::string file = FrameFile(o, i);
      WriteFrame(window, file);
      std::printf("wrote %s\n", file.c_str());
    }
  }
  saver.KlvMLoop1Term();
  application.Close();
  if (!o.capture.empty()) {
    SaveRasterCapture(capture, o.capture);
    std::printf("wrote %s: %zu frames, %zu textures\n", o.capture.c_str(), capture.frames.size(),
                capture.textures.size());
  }

  std::printf("%lld steps, seed %llu, data %s\n", o.steps, static_cast<unsigned long long>(o.seed), o.data.c_str());
  for (const PhaseTimes* phase : {&step, &render, &present, &frame}) phase->Print();
  double total = 0;
  for (double t : frame.ms) total += t;
  std::printf("  %.1f frames per second without the 16 ms gate\n", 1000.0 * static_cast<double>(o.steps) / total);
  if (const GlContext* gl = DisplayGlContext(); gl != nullptr) {
    const GlCounters& c = const_cast<GlContext*>(gl)->Api().counters;
    const double n = static_cast<double>(o.steps);
    std::printf(
        "  GL per step: %.1f calls, %.2f texture uploads (%.0f bytes), %.0f vertex bytes, "
        "%.2f read-backs (%.0f bytes)\n",
        static_cast<double>(c.calls) / n, static_cast<double>(c.textureUploads) / n,
        static_cast<double>(c.uploadBytes) / n, static_cast<double>(c.vertexBytes) / n,
        static_cast<double>(c.readBacks) / n, static_cast<double>(c.readBackBytes) / n);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return klvtools::RunTool("klvsnap", kUsage, argc, argv, [&] { return Run(ParseOptions(argc, argv)); });
}
