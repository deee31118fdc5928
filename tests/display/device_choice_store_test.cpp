// Device selection against a settings store that will not take the choice: a folder that cannot be
// written, a settings file the store refuses to rewrite. The saver goes on with its choice, says on
// standard error that it was not stored, and the file keeps every byte.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "display/klvenumwin.h"
#include "display_fixture.h"
#include "platform/win/registry.h"

namespace {

class DeviceChoiceStoreTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    owner.SetFullScreen(true);
  }
  void TearDown() override {
    SetModalPresenter(TerminalPresenter);
    DisplayTest::TearDown();
  }
  // Runs the start-up selection with no stored policy; true when it chose driver 0 and device 2
  // as it does without a settings file.
  bool SelectsTheDefaultDevice() {
    return SelectDevices(-5) && KalvorGUnit.DriverChoice == 0 && KalvorRMUnit.DeviceChoice == 2 &&
           rm.D3DDevice != nullptr;
  }
  std::string SettingsText() const {
    std::ifstream in(ConfigDir() / "Software_Kalvor_Soft.ini", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TKalvorG owner{&form};
  TKalvorRM rm{&form};
};

TEST_F(DeviceChoiceStoreTest, ASettingsFolderThatCannotBeMadeDoesNotStopTheStart) {
  std::ofstream(ConfigDir() / "plain-file") << "x";
  setenv("KLV_CONFIG_DIR", (ConfigDir() / "plain-file" / "kalvor").c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(SelectsTheDefaultDevice());
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("not stored"), std::string::npos) << errors;
  EXPECT_NE(errors.find("plain-file"), std::string::npos) << errors;
  EXPECT_TRUE(boxes.empty());
}

// The data loss once seen end to end: a settings file the reader refuses (here it holds a NUL byte)
// read as empty, and the choice written at every start replaced it, taking DataPath with it.
TEST_F(DeviceChoiceStoreTest, ASettingsFileTheStoreRefusesKeepsEveryByteThroughAStart) {
  const std::string damaged = std::string("; my settings\n[KalvorGSaver]\nDataPath=/home/me/kalvor\n\0", 56);
  std::ofstream(ConfigDir() / "Software_Kalvor_Soft.ini", std::ios::binary) << damaged;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(SelectsTheDefaultDevice());
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Software_Kalvor_Soft.ini"), std::string::npos) << errors;
  EXPECT_TRUE(SettingsText() == damaged);
}

TEST_F(DeviceChoiceStoreTest, AStartKeepsTheUsersOtherSettingsAndComments) {
  std::ofstream(ConfigDir() / "Software_Kalvor_Soft.ini")
      << "; my settings\n[KalvorGSaver]\nDataPath=/home/me/kalvor\n";
  EXPECT_TRUE(SelectsTheDefaultDevice());
  EXPECT_EQ(SettingsText(),
            "; my settings\n[KalvorGSaver]\nDataPath=/home/me/kalvor\n\n[KalvorG]\nEnum_Checkbox=-4\nDDraw_Device=0\n"
            "D3D_Device=2\n");
}

}  // namespace
