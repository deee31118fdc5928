// Shared set-up for the saver tests: the main window on the headless backend with a fake
// millisecond clock, the display units back at their start values, a private registry folder
// whose "DataPath" points at the generated data set, a recorder for message boxes, the key table
// released and the cursor at a known place. Used by tests/shell and tests/e2e.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "platform/win/application.h"
#include "platform/win/headless_window.h"
#include "platform/win/messagebox.h"
#include "platform/win/registry.h"
#include "platform/win/winuser.h"
#include "shell/kalvorgsaver.h"
#include "support/scratch_folder.h"

using Box = std::pair<std::string, std::string>;  // text, caption

constexpr char kMetaMissingText[] = "ファイルが見付かりませんsettei.exeを立ち上げたのち再度試してください";
constexpr char kSettingsMissingText[] = "ファイルが見付かりませんsettei.exeを実行してください";
constexpr char kErrorCaption[] = "えらー";
constexpr int kStartX = 300, kStartY = 200;

// The cursor's display counter, read by showing and hiding once.
inline int CursorCount() {
  const int count = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  return count;
}

class SaverTest : public ::testing::Test {
 protected:
  // The units are reset before the saver's components register themselves.
  SaverTest() {
    KalvorGUnit = TKalvorGUnitState{};
    KalvorRMUnit = TKalvorRMUnitState{};
  }

  void SetUp() override {
    root_ = TestScratchFolder("klv_saver_");
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "config");
    setenv("KLV_CONFIG_DIR", (root_ / "config").c_str(), 1);
    SetMessageBoxRecorder(
        [this](const std::string& text, const std::string& caption) { boxes.emplace_back(text, caption); });
    KlvReleaseAllKeys();
    SetCursorPos(kStartX, kStartY);
    savedFolder_ = std::filesystem::current_path();
    SetDataPath(std::string(KLV_DATA_DIR) + "/");
    cursorAtStart = CursorCount();
  }

  void TearDown() override {
    saver.reset();
    application.reset();
    std::filesystem::current_path(savedFolder_);
    SetMessageBoxRecorder(nullptr);
    std::filesystem::remove_all(root_);
  }

  // A private folder for this test, made on first use.
  std::filesystem::path Folder(const std::string& name) {
    std::filesystem::path folder = root_ / name;
    std::filesystem::create_directories(folder);
    return folder;
  }

  static void SetDataPath(const std::string& dataPath) {
    TRegIniFile("Software\\Kalvor_Soft").WriteString("KalvorGSaver", "DataPath", dataPath);
  }

  // Creates the main window (FormCreate runs) with `argument` as the first argument.
  TKalvorGSaver& Create(const std::string& argument) {
    auto backend = std::make_unique<TKlvHeadlessWindow>();
    window = backend.get();
    application = std::make_unique<TApplication>(std::move(backend));
    TSaverOptions options;
    options.Argument = argument;
    if (!realClock) options.Clock = [this] { return now; };
    options.Seed = 7;
    if (configure) configure(options);
    saver = std::make_unique<TKalvorGSaver>(*application, std::move(options));
    return *saver;
  }

  // Handles messages until the start trigger has fired (or the window closed).
  void RunStartTrigger() {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         saver->Timer1.Enabled() && !application->Terminated() && std::chrono::steady_clock::now() < until;) {
      application->ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(saver->Timer1.Enabled());
  }

  // Creates the window and runs the start trigger.
  TKalvorGSaver& Start(const std::string& argument) {
    Create(argument);
    RunStartTrigger();
    return *saver;
  }

  // Moves the fake clock by `ms` and lets the idle handler run once.
  bool Idle(DWORD ms) {
    now += ms;
    return application->OnIdle && !application->OnIdle();
  }

  bool DisplayUp() const { return KalvorGUnit.DirectDraw != nullptr; }

  std::vector<Box> boxes;
  // Changes the options Create passes, after the argument, clock and seed are set.
  std::function<void(TSaverOptions&)> configure;
  DWORD now = 1000;
  // The saver reads timeGetTime instead of `now`.
  bool realClock = false;
  int cursorAtStart = 0;
  TKlvHeadlessWindow* window = nullptr;
  std::unique_ptr<TApplication> application;
  std::unique_ptr<TKalvorGSaver> saver;

 private:
  std::filesystem::path root_;
  std::filesystem::path savedFolder_;
};
