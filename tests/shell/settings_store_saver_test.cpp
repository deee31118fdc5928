// The saver started with a settings store that takes no write: it runs with the device choice it
// made, says on standard error that the choice was not stored, and the settings file keeps the
// user's data folder.
#include <fstream>
#include <sstream>

#include "saver_fixture.h"

namespace {

class SettingsStoreSaverTest : public SaverTest {
 protected:
  std::filesystem::path SettingsFile() const {
    return std::getenv("KLV_CONFIG_DIR") + std::string("/Software_Kalvor_Soft.ini");
  }
  std::string SettingsText() const {
    std::ifstream in(SettingsFile(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

// Once the "Start" write threw at every start and the saver ended with status 1.
TEST_F(SettingsStoreSaverTest, RunsWithItsChoiceWhenTheSettingsCannotBeWritten) {
  const std::string before = SettingsText();
  // Where the writers' lock file belongs stands a folder: every write fails, as in a read-only folder
  // (which does not stop root, who may run these tests).
  const std::filesystem::path lock = SettingsFile().string() + ".lock";
  std::filesystem::remove(lock);
  std::filesystem::create_directory(lock);
  testing::internal::CaptureStderr();
  TKalvorGSaver& s = Start("/s");
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(s.Running);
  EXPECT_FALSE(s.QuitAfterBegin);
  EXPECT_TRUE(DisplayUp());
  EXPECT_TRUE(Idle(16));
  EXPECT_EQ(window->PresentCount(), 1);
  EXPECT_TRUE(boxes.empty());
  EXPECT_NE(errors.find("not stored"), std::string::npos) << errors;
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(SettingsStoreSaverTest, AStartKeepsTheDataFolderAndTheUsersComments) {
  const std::string before = "; chosen by hand\n" + SettingsText();
  std::ofstream(SettingsFile(), std::ios::binary) << before;
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(s.Running);
  const std::string after = SettingsText();
  EXPECT_EQ(after.rfind(before, 0), 0u) << after;
  EXPECT_NE(after.find("D3D_Device=2"), std::string::npos) << after;
}

}  // namespace
