// klvsnap: runs the saver without a display. The same main window, begin, scene step, draw and end
// run on the headless window backend with a fixed random seed and a clock that moves 16 ms per
// step, so every run of the same data set gives the same frames. Chosen frames are written as PNG
// files from what the window was given to show, and the time of each part of a frame is printed.
//
//   klvsnap [--data DIR] [--steps N] [--seed S] [--frames 1,500,1000] [--out DIR] [--per-step]
//
// The device choice is the default one: the run uses a private, empty settings folder.
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

#include "platform/error.h"
#include "platform/png_writer.h"
#include "platform/win/application.h"
#include "platform/win/headless_window.h"
#include "shell/kalvorgsaver.h"

namespace {

constexpr DWORD kStepMs = 16;
constexpr long long kMaxSteps = 10000000;

struct Options {
  std::string data = ".";
  long long steps = 1000;
  uint64_t seed = 1;
  std::set<long long> frames;
  bool framesGiven = false;
  std::string out = "klvsnap-frames";
  bool perStep = false;
};

constexpr char kUsage[] =
    "usage: klvsnap [--data DIR] [--steps N] [--seed S] [--frames 1,500,1000] [--out DIR] [--per-step]";

[[noreturn]] void Usage(const std::string& problem) {
  throw KlvError(KlvErrorKind::OutOfRange, "command line", problem + "\n" + kUsage);
}

// "--help" or "-h" anywhere on the command line asks for the usage, on standard output.
bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
}

long long WholeNumber(const std::string& text, const std::string& option, long long low, long long high) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || errno != 0 || value < low || value > high)
    Usage("bad value '" + text + "' for " + option);
  return value;
}

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
      o.steps = WholeNumber(value, arg, 1, kMaxSteps);
    } else if (arg == "--seed") {
      o.seed = static_cast<uint64_t>(WholeNumber(value, arg, 0, std::numeric_limits<long long>::max()));
    } else if (arg == "--frames") {
      frameList = value;
      o.framesGiven = true;
    } else if (arg == "--out") {
      o.out = value;
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
    o.frames.insert(WholeNumber(frameList.substr(start, comma - start), "--frames", 1, o.steps));
    start = comma + 1;
  }
  return o;
}

// A private, empty settings folder for the run, removed afterwards.
class PrivateSettings {
 public:
  PrivateSettings() {
    std::string pattern = (std::filesystem::temp_directory_path() / "klvsnap-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw KlvError(KlvErrorKind::FileOpen, pattern, "cannot make a temporary settings folder");
    folder_ = pattern;
    setenv("KLV_CONFIG_DIR", folder_.c_str(), 1);
  }
  ~PrivateSettings() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;

 private:
  std::string folder_;
};

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
  const PrivateSettings settings;
  std::filesystem::create_directories(o.out);

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
    if (!saver.KlvMLoop1Calc()) throw KlvError(KlvErrorKind::Unsupported, "", "the step gate refused a step");
    const TFrameTimings& t = saver.LastTimings;
    step.ms.push_back(t.StepMs);
    render.ms.push_back(t.RenderMs);
    present.ms.push_back(t.PresentMs);
    frame.ms.push_back(t.StepMs + t.RenderMs + t.PresentMs);
    if (o.perStep)
      std::printf("step %lld: step %.3f ms, render %.3f ms, present %.3f ms\n", i, t.StepMs, t.RenderMs,
                  t.PresentMs);
    if (o.frames.count(i) != 0) {
      const std::string file = FrameFile(o, i);
      WriteFrame(window, file);
      std::printf("wrote %s\n", file.c_str());
    }
  }
  saver.KlvMLoop1Term();
  application.Close();

  std::printf("%lld steps, seed %llu, data %s\n", o.steps, static_cast<unsigned long long>(o.seed), o.data.c_str());
  for (const PhaseTimes* phase : {&step, &render, &present, &frame}) phase->Print();
  double total = 0;
  for (double t : frame.ms) total += t;
  std::printf("  %.1f frames per second without the 16 ms gate\n", 1000.0 * static_cast<double>(o.steps) / total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelp(argc, argv)) {
    std::printf("%s\n", kUsage);
    return 0;
  }
  try {
    return Run(ParseOptions(argc, argv));
  } catch (const KlvError& e) {
    std::fprintf(stderr, "klvsnap: %s\n", e.what());
    return 1;
  } catch (const std::filesystem::filesystem_error& e) {
    std::fprintf(stderr, "klvsnap: %s\n", e.what());
    return 1;
  }
}
