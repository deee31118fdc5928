// The set-up the display and scene tests share: the display units back at their start values
// (before any component of a derived fixture registers itself), a private settings folder for the
// test, and a recorder for message boxes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "platform/win/messagebox.h"
#include "support/scratch_folder.h"

using Box = std::pair<std::string, std::string>;  // text, caption

class DeviceUnitsTest : public ::testing::Test {
 protected:
  DeviceUnitsTest() {
    KalvorGUnit = TKalvorGUnitState{};
    KalvorRMUnit = TKalvorRMUnitState{};
  }
  void SetUp() override {
    configDir_ = TestScratchFolder("klv_test_");
    std::filesystem::remove_all(configDir_);
    std::filesystem::create_directories(configDir_);
    setenv("KLV_CONFIG_DIR", configDir_.c_str(), 1);
    SetMessageBoxRecorder(
        [this](const std::string& text, const std::string& caption) { boxes.emplace_back(text, caption); });
  }
  void TearDown() override {
    SetMessageBoxRecorder(nullptr);
    std::filesystem::remove_all(configDir_);
  }

  const std::filesystem::path& ConfigDir() const { return configDir_; }

  std::vector<Box> boxes;

 private:
  std::filesystem::path configDir_;
};
