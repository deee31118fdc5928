// The temporary folder a test's fixture keeps its files in, named for the process and the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

// prefix + process id + "_" + the running test's name. A parameterised test's name carries its
// index after a '/', taken here as '_' so that the name is one folder: with the '/', removing the
// folder left its parent behind.
inline std::filesystem::path TestScratchFolder(const std::string& prefix) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()) + "_" + name);
}
