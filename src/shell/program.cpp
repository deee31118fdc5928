// The program entry: the lock named after the main window's class stands for "a window of that
// class exists"; whoever holds it is the one saver of this user.
#include "shell/program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <SDL.h>

#include "platform/error.h"
#include "platform/win/application.h"
#include "platform/win/instance_lock.h"
#include "platform/win/sdl_window.h"
#include "shell/kalvorgsaver.h"

namespace {

// When this variable is set, the saver reports on standard error, as it closes, how many frames
// it presented in how many seconds (the window check reads it).
constexpr char kFrameReportVariable[] = "KLV_FRAME_REPORT";

void ReportFrames(const TKalvorGSaver& saver, std::chrono::steady_clock::time_point start) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "kalvor_saver: %llu frames in %.2f s (%.1f per second), %d scene steps\n",
               static_cast<unsigned long long>(saver.PresentCount), seconds,
               seconds > 0 ? static_cast<double>(saver.PresentCount) / seconds : 0.0, saver.Scene.StepCount);
}

}  // namespace

int RunSaverProgram(int argc, char** argv) {
  const TKlvInstanceLock lock(kSaverWindowClass);
  if (!lock.Held()) return 0;
  try {
    TApplication application(std::make_unique<TKlvSdlWindow>(kSaverWindowName));
    TSaverOptions options;
    if (argc > 1) options.Argument = argv[1];
    TKalvorGSaver saver(application, std::move(options));
    const auto start = std::chrono::steady_clock::now();
    application.Run();
    if (std::getenv(kFrameReportVariable) != nullptr) ReportFrames(saver, start);
    return 0;
  } catch (const KlvError& error) {
    std::fprintf(stderr, "kalvor_saver: %s\n", error.what());
    return 1;
  }
}
