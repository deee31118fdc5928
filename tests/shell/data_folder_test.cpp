// The data folder order (the DataPath setting, the current folder, then the fallbacks in their
// order) and file checks that never throw, whatever the path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/data_folder.h"
#include "support/scratch_folder.h"

namespace {

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = TestScratchFolder("klv_datafolder_");
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(Folder("current"));
  }

  void TearDown() override {
    std::filesystem::current_path(saved_);
    std::filesystem::remove_all(root_);
  }

  // A folder of this test as a prefix ending in '/', made on first use.
  std::string Folder(const std::string& name) {
    std::filesystem::create_directories(root_ / name);
    return (root_ / name).string() + "/";
  }

  // A folder holding the marker file.
  std::string DataFolder(const std::string& name) {
    const std::string folder = Folder(name);
    std::ofstream(folder + kDataMarkerFile) << "BM";
    return folder;
  }

  std::filesystem::path root_;

 private:
  std::filesystem::path saved_;
};

TEST_F(DataFolderTest, TheSettingComesFirstThenTheCurrentFolderThenTheFallbacksInOrder) {
  const std::string setting = DataFolder("setting");
  const std::string installed = DataFolder("installed");
  const std::string beside = DataFolder("beside");
  std::string found;
  std::vector<std::string> tried;

  ASSERT_TRUE(FindDataFolder(setting, {installed, beside}, found, tried));
  EXPECT_EQ(found, setting);
  EXPECT_EQ(tried, std::vector<std::string>{setting});

  std::ofstream(Folder("current") + kDataMarkerFile) << "BM";
  ASSERT_TRUE(FindDataFolder(Folder("empty"), {installed, beside}, found, tried));
  EXPECT_EQ(found, "");
  EXPECT_EQ(tried.size(), 2u);
  std::filesystem::remove(Folder("current") + kDataMarkerFile);

  ASSERT_TRUE(FindDataFolder(Folder("empty"), {Folder("nothing"), installed, beside}, found, tried));
  EXPECT_EQ(found, installed);
  EXPECT_EQ(tried, (std::vector<std::string>{Folder("empty"), Folder("current"), Folder("nothing"), installed}));

  ASSERT_TRUE(FindDataFolder("", {beside}, found, tried));
  EXPECT_EQ(found, beside);
  EXPECT_EQ(tried.size(), 2u) << "an empty setting is the current folder, looked at once";
}

TEST_F(DataFolderTest, NothingAnywhereListsEveryFolderTried) {
  std::string found = "untouched";
  std::vector<std::string> tried;
  EXPECT_FALSE(FindDataFolder(Folder("a"), {Folder("b"), Folder("c")}, found, tried));
  EXPECT_EQ(found, "untouched");
  EXPECT_EQ(tried, (std::vector<std::string>{Folder("a"), Folder("current"), Folder("b"), Folder("c")}));
}

TEST_F(DataFolderTest, PathsThatCannotBeResolvedCountAsNotThere) {
  // A symbolic link loop, a name longer than the system allows, a folder named like the marker.
  const std::filesystem::path loop = root_ / "loop";
  std::filesystem::create_symlink(loop, loop);
  const std::string tooLong = "/" + std::string(5000, 'x') + "/";
  const std::string folderNamedLikeTheMarker = Folder("dir");
  std::filesystem::create_directories(folderNamedLikeTheMarker + kDataMarkerFile);
  const std::string installed = DataFolder("installed");

  for (const std::string& setting : {loop.string() + "/", tooLong, folderNamedLikeTheMarker, std::string(1, '\0')}) {
    EXPECT_FALSE(ReadableFileExists(setting + kDataMarkerFile));
    std::string found;
    std::vector<std::string> tried;
    EXPECT_NO_THROW(EXPECT_TRUE(FindDataFolder(setting, {installed}, found, tried)));
    EXPECT_EQ(found, installed);
  }
  EXPECT_NO_THROW(EXPECT_FALSE(ReadableFileExists(loop.string())));
}

TEST_F(DataFolderTest, TheFallbacksAreTheInstalledFolderThenBesideTheProgram) {
  const std::vector<std::string> folders = FallbackDataFolders("/opt/klv/bin/kalvor");
  ASSERT_EQ(folders.size(), 4u);
  EXPECT_EQ(folders[0].back(), '/');
  EXPECT_NE(folders[0].find("kalvor/"), std::string::npos);
  EXPECT_EQ(folders[1], "/opt/klv/bin/../share/kalvor/");
  EXPECT_EQ(folders[2], "/opt/klv/bin/../../share/kalvor/");
  EXPECT_EQ(folders[3], "/opt/klv/bin/data/");
  EXPECT_EQ(FallbackDataFolders("").size(), 1u);
  EXPECT_FALSE(RunningProgramPath().empty());
}

}  // namespace
