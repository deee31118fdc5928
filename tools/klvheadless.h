// A saver run without a display for the tools that study its frames: the main window, begin, scene
// step, draw and end on the headless window backend, with a fixed random seed, a clock that moves
// 16 ms per step and a private, empty settings folder (so the device choice is the default one).
// The same seed and data set give the same frames on every run.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/error.h"
#include "platform/win/application.h"
#include "platform/win/headless_window.h"
#include "shell/kalvorgsaver.h"

namespace klvtools {

// A private, empty settings folder for the life of the object, removed afterwards.
class PrivateSettings {
 public:
  PrivateSettings() {
    std::string pattern = (std::filesystem::temp_directory_path() / "klvtool-XXXXXX").string();
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

// One saver, started at construction and ended at destruction.
class HeadlessSaver {
 public:
  static constexpr DWORD kStepMs = 16;

  HeadlessSaver(const std::string& dataDir, uint64_t seed) {
    auto backend = std::make_unique<TKlvHeadlessWindow>();
    window_ = backend.get();
    application_ = std::make_unique<TApplication>(std::move(backend));
    TSaverOptions options;
    options.Argument = "/s";
    options.Clock = [this] { return now_; };
    options.Seed = seed;
    saver_ = std::make_unique<TKalvorGSaver>(*application_, std::move(options));
    saver_->DataPath = dataDir.empty() || dataDir.back() == '/' ? dataDir : dataDir + "/";
    saver_->Timer1Timer();
    if (application_->Terminated())
      throw KlvError(KlvErrorKind::Unsupported, dataDir, "the saver did not start (see the message above)");
  }
  ~HeadlessSaver() {
    saver_->KlvMLoop1Term();
    application_->Close();
  }
  HeadlessSaver(const HeadlessSaver&) = delete;
  HeadlessSaver& operator=(const HeadlessSaver&) = delete;

  // One scene step and one draw.
  void Step() {
    now_ += kStepMs;
    if (!saver_->KlvMLoop1Calc()) throw KlvError(KlvErrorKind::Unsupported, "", "the step gate refused a step");
  }

  // Draws the latest step's camera again, for instance after hiding a model.
  void Redraw() { saver_->KlvMLoop1Draw(); }

  TKalvorGSaver& Saver() { return *saver_; }
  const TKlvHeadlessWindow& Window() const { return *window_; }

 private:
  PrivateSettings settings_;
  DWORD now_ = 0;
  TKlvHeadlessWindow* window_ = nullptr;
  std::unique_ptr<TApplication> application_;
  std::unique_ptr<TKalvorGSaver> saver_;
};

}  // namespace klvtools
