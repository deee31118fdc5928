// The program entry: the command line decides between the stand-alone saver (the classic forms,
// our own full-screen window, the single-instance lock: whoever holds the lock named after the main
// window's class is the one saver of this user) and the embedded saver (a screen saver host's
// window: one process per monitor, no lock, no settings written, SIGTERM ends it with status 0).
#include "shell/program.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/dx5/gl_display.h"
#include "platform/dx5/raster.h"
#include "platform/error.h"
#include "platform/win/application.h"
#include "platform/win/instance_lock.h"
#include "platform/win/registry.h"
#include "platform/win/sdl_window.h"
#include "platform/win/x11_window.h"
#include "shell/data_folder.h"
#include "shell/end_signals.h"
#include "shell/kalvorgsaver.h"
#include "shell/saver_args.h"

namespace {

// When this variable is set, the saver reports on standard error, as it closes, how many frames
// it presented in how many seconds and what a frame cost (the window check reads it).
constexpr char kFrameReportVariable[] = "KLV_FRAME_REPORT";
// Where XScreenSaver, MATE and Xfce put the window a --root saver draws into.
constexpr char kHostWindowVariable[] = "XSCREENSAVER_WINDOW";
constexpr char kProgramName[] = "kalvor_saver";
constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr char kRendererValue[] = "Renderer";
constexpr char kTextureFilterValue[] = "TextureFilter";
constexpr char kBilinearFilter[] = "bilinear";
constexpr char kThreadsValue[] = "Threads";

void ReportFrames(const TKalvorGSaver& saver, std::chrono::steady_clock::time_point start) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double frames = static_cast<double>(saver.PresentCount);
  std::fprintf(stderr, "%s: %llu frames in %.2f s (%.1f per second), %d scene steps\n", kProgramName,
               static_cast<unsigned long long>(saver.PresentCount), seconds, seconds > 0 ? frames / seconds : 0.0,
               saver.Scene.StepCount);
  if (frames > 0) {
    std::fprintf(stderr, "%s: per frame %.2f ms step, %.2f ms render, %.2f ms present (%dx%d)\n", kProgramName,
                 saver.TotalTimings.StepMs / frames, saver.TotalTimings.RenderMs / frames,
                 saver.TotalTimings.PresentMs / frames, saver.PictureWidth, saver.PictureHeight);
    std::fprintf(stderr, "%s: processor time per frame %.2f ms render, %.2f ms present; %.2f s in all\n", kProgramName,
                 saver.TotalCpuTimings.RenderMs / frames, saver.TotalCpuTimings.PresentMs / frames,
                 static_cast<double>(std::clock()) / CLOCKS_PER_SEC);
  }
}

// Runs the main window's message loop; the exit status is the saver's.
int RunSaver(std::unique_ptr<KlvWindowBackend> window, TSaverOptions options) {
  TApplication application(std::move(window));
  TKalvorGSaver saver(application, std::move(options));
  const auto start = std::chrono::steady_clock::now();
  application.Run();
  if (std::getenv(kFrameReportVariable) != nullptr) ReportFrames(saver, start);
  return saver.ExitCode;
}

// The renderer, the GL texture filter and the rasteriser's thread cap, from the command line where
// it names them, else from the settings. The renderer is chosen before the window is made, since
// the window decides whether it carries a GL context.
void ApplyRenderingChoices(const TSaverCommandLine& line) {
  const TRegIniFile registry(kRegistryKey);
  KlvRenderer renderer = KlvRenderer::Auto;
  if (line.Renderer) {
    renderer = *line.Renderer;
  } else if (const std::string stored = registry.ReadString(kRegistrySection, kRendererValue, "");
             !stored.empty() && !ParseRenderer(stored, &renderer)) {
    std::fprintf(stderr, "%s: %s: Renderer \"%s\" is not auto, software or gl; using auto\n", kProgramName,
                 registry.FileName().c_str(), stored.c_str());
  }
  SetRenderer(renderer);
  SetGlBilinearFiltering(registry.ReadString(kRegistrySection, kTextureFilterValue, "") == kBilinearFilter);
  const int threads = line.Threads ? *line.Threads : registry.ReadInteger(kRegistrySection, kThreadsValue, 0);
  RasterSetThreadLimit(std::clamp(threads, 0, kMaxThreads));
}

TSaverOptions OptionsFrom(const TSaverCommandLine& line) {
  TSaverOptions options;
  options.Argument = line.ClassicArgument;
  options.Size = line.Size;
  options.ShowFps = line.ShowFps;
  options.StepGateMs = (line.StepDelayUs + kMicrosecondsPerMillisecond / 2) / kMicrosecondsPerMillisecond;
  options.DataFolders = FallbackDataFolders(RunningProgramPath());
  options.EndRequested = EndSignalReceived;
  return options;
}

// Each of several savers started at the same moment (one per monitor) flies its own way.
uint64_t ProcessSeed() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nanoseconds = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  return nanoseconds ^ (static_cast<uint64_t>(getpid()) << 32);
}

std::unique_ptr<KlvWindowBackend> EmbeddedWindow(const TSaverCommandLine& line) {
  if (line.OwnWindow && !line.WindowId) {
    const bool fixed = line.Size && !line.Size->Native;
    return TKlvX11Window::CreateOwn(line.Display, fixed ? line.Size->Width : 640, fixed ? line.Size->Height : 480,
                                    kSaverWindowName);
  }
  std::optional<unsigned long> window = line.WindowId;
  if (!window) {
    if (const char* hostWindow = std::getenv(kHostWindowVariable); hostWindow != nullptr) {
      window = ParseWindowId(hostWindow);
      if (!window)
        throw KlvError(KlvErrorKind::OutOfRange, "",
                       std::string(kHostWindowVariable) + " holds \"" + hostWindow + "\", which is not a window id");
    }
  }
  return TKlvX11Window::Attach(line.Display, window);
}

int RunEmbedded(const TSaverCommandLine& line) {
  SetRegistryReadOnly(true);
  TSaverOptions options = OptionsFrom(line);
  options.Embedded = true;
  options.Seed = ProcessSeed();
  return RunSaver(EmbeddedWindow(line), std::move(options));
}

int RunStandAlone(const TSaverCommandLine& line) {
  const TKlvInstanceLock lock(kSaverWindowClass);
  if (!lock.Held()) return 0;
  return RunSaver(std::make_unique<TKlvSdlWindow>(kSaverWindowName), OptionsFrom(line));
}

std::string ProgramName(const char* argv0) {
  return argv0 == nullptr || *argv0 == '\0' ? kProgramName : std::filesystem::path(argv0).filename().string();
}

}  // namespace

int RunSaverProgram(int argc, char** argv) {
  TSaverCommandLine line;
  std::string error;
  if (!ParseSaverCommandLine(argc, argv, line, error)) {
    std::fprintf(stderr, "%s: %s\n", ProgramName(argv[0]).c_str(), error.c_str());
    return 1;
  }
  if (line.Help) {
    std::fputs(SaverUsage(ProgramName(argv[0])).c_str(), stdout);
    return 0;
  }
  InstallEndSignalHandlers();
  // Whatever fails on the way out (a refused file, a display that cannot be opened, memory) is
  // reported as one line after everything made so far has been released.
  try {
    ApplyRenderingChoices(line);
    return line.Embedded() ? RunEmbedded(line) : RunStandAlone(line);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, failure.what());
    return 1;
  }
}
