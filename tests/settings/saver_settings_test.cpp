// The settings program's logic without a window: reading every value with its defaults, writing
// only what changed, refusing bad values and unusable data folders, and the device dialog's
// "Start" and "Exit" on the choice the program holds until OK.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "device_list.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "display/klvenumwin.h"
#include "platform/error.h"
#include "saver_settings.h"
#include "support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KalvorGUnit = TKalvorGUnitState{};
    KalvorRMUnit = TKalvorRMUnitState{};
    root_ = TestScratchFolder("klv_settings_");
    fs::remove_all(root_);
    fs::create_directories(root_ / "config");
    setenv("KLV_CONFIG_DIR", (root_ / "config").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string KeyFile() const { return TRegIniFile(kSaverKey).FileName(); }
  void WriteKeyFile(const std::string& text) const { std::ofstream(KeyFile(), std::ios::binary) << text; }
  std::string KeyFileText() const {
    std::ifstream in(KeyFile(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // A folder holding the named files (empty files: the check looks only for their presence).
  std::string DataFolder(const std::vector<std::string>& files) const {
    const fs::path folder = root_ / "data";
    fs::create_directories(folder);
    for (const std::string& name : files) std::ofstream(folder / name) << "x";
    return folder.string() + "/";
  }

  fs::path root_;
};

TEST_F(SettingsTest, EveryValueReadsItsDefaultWhenAbsentOrNotValid) {
  const TSaverSettings defaults;
  EXPECT_EQ(ReadSettings(TRegIniFile(kSaverKey)), defaults);
  EXPECT_EQ(defaults.Devices.Mode, -4);
  EXPECT_EQ(defaults.Devices.Driver, 0);
  EXPECT_EQ(defaults.Devices.Device, 2);

  WriteKeyFile(
      "[KalvorGSaver]\nDataPath=/d/\nDrawSize=huge\nRenderer=vulkan\nThreads=-3\nTextureFilter=cubic\n"
      "[KalvorG]\nEnum_Checkbox=custom\nDDraw_Device=1x\n");
  const TSaverSettings s = ReadSettings(TRegIniFile(kSaverKey));
  EXPECT_EQ(s.DataPath, "/d/");
  EXPECT_EQ(s.DrawSize, "640x480");
  EXPECT_EQ(s.Renderer, "auto");
  EXPECT_EQ(s.Threads, 0);
  EXPECT_EQ(s.TextureFilter, "nearest");
  EXPECT_EQ(s.Devices, TDeviceChoice{});
}

TEST_F(SettingsTest, EveryValueWrittenReadsBackAndIsStoredAsText) {
  TSaverSettings s;
  s.DataPath = "/srv/kalvor data/";
  s.DrawSize = "800x600";
  s.Renderer = "gl";
  s.Threads = 3;
  s.TextureFilter = "bilinear";
  s.Devices = {kPolicyHEL, -1, -1, true};
  TRegIniFile key(kSaverKey);
  WriteSettings(key, s);
  TSaverSettings back = ReadSettings(TRegIniFile(kSaverKey));
  back.Devices.Started = true;
  EXPECT_EQ(back, s);
  const std::string text = KeyFileText();
  for (const char* line : {"DrawSize=800x600", "Renderer=gl", "Threads=3", "TextureFilter=bilinear", "Enum_Checkbox=-1",
                           "DDraw_Device=-1", "D3D_Device=-1"})
    EXPECT_NE(text.find(line), std::string::npos) << line;

  s.DrawSize = "native";
  s.Renderer = "software";
  WriteSettings(key, s);
  EXPECT_EQ(ReadSettings(TRegIniFile(kSaverKey)).DrawSize, "native");
  EXPECT_EQ(ReadSettings(TRegIniFile(kSaverKey)).Renderer, "software");
}

TEST_F(SettingsTest, UnchangedSettingsLeaveTheFileByteForByte) {
  const std::string handWritten = "; by hand\r\n[KalvorGSaver]\r\n  DataPath = /d/  \r\nThreads=2\r\n";
  WriteKeyFile(handWritten);
  TRegIniFile key(kSaverKey);
  WriteSettings(key, ReadSettings(key));
  EXPECT_EQ(KeyFileText(), handWritten);

  fs::remove(KeyFile());
  TRegIniFile reopened(kSaverKey);
  WriteSettings(reopened, TSaverSettings{});
  EXPECT_FALSE(fs::exists(KeyFile())) << "defaults need no file";
}

TEST_F(SettingsTest, StartWritesAllThreeDeviceValuesEvenWhenTheyAreTheDefaults) {
  TRegIniFile key(kSaverKey);
  TSaverSettings s;
  s.Devices.Started = true;
  WriteSettings(key, s);
  const std::string text = KeyFileText();
  EXPECT_NE(text.find("Enum_Checkbox=-4"), std::string::npos);
  EXPECT_NE(text.find("DDraw_Device=0"), std::string::npos);
  EXPECT_NE(text.find("D3D_Device=2"), std::string::npos);
  EXPECT_EQ(text.find("DrawSize"), std::string::npos) << "values left at their defaults stay absent";
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenIsNamedInTheError) {
  setenv("KLV_CONFIG_DIR", "/proc/klv-no-such-folder", 1);
  TRegIniFile key(kSaverKey);
  TSaverSettings s;
  s.Threads = 2;
  try {
    WriteSettings(key, s);
    FAIL() << "the write succeeded";
  } catch (const KlvError& error) {
    EXPECT_EQ(error.kind(), KlvErrorKind::FileOpen);
    EXPECT_NE(std::string(error.what()).find("/proc/klv-no-such-folder"), std::string::npos) << error.what();
  }
}

TEST_F(SettingsTest, FolderPrefixEndsWithOneSlash) {
  EXPECT_EQ(FolderPrefix(""), "");
  EXPECT_EQ(FolderPrefix("/a"), "/a/");
  EXPECT_EQ(FolderPrefix("/a/"), "/a/");
  EXPECT_EQ(FolderPrefix("/a///"), "/a/");
  EXPECT_EQ(FolderPrefix("/"), "/");
  EXPECT_EQ(FolderPrefix("data"), "data/");
}

TEST_F(SettingsTest, PictureSizesRenderersThreadsAndFiltersAreChecked) {
  for (const char* good : {"640x480", "native", "800x600", "16x16", "16384x16384", "1920x1080"})
    EXPECT_EQ(DrawSizeProblem(good), "") << good;
  for (const char* bad : {"", "800", "x600", "800x", "-800x600", "+800x600", "800x600x3", "15x100", "100x16385",
                          "800 x600", "NATIVE", "99999999999x2"})
    EXPECT_NE(DrawSizeProblem(bad), "") << bad;
  for (const char* good : {"auto", "software", "gl"}) EXPECT_EQ(RendererProblem(good), "") << good;
  for (const char* bad : {"", "GL", "opengl"}) EXPECT_NE(RendererProblem(bad), "") << bad;
  EXPECT_EQ(ThreadsProblem(0), "");
  EXPECT_EQ(ThreadsProblem(kMaxThreads), "");
  EXPECT_NE(ThreadsProblem(-1), "");
  EXPECT_NE(ThreadsProblem(kMaxThreads + 1), "");
  EXPECT_EQ(TextureFilterProblem("bilinear"), "");
  EXPECT_NE(TextureFilterProblem("trilinear"), "");
}

TEST_F(SettingsTest, TheDataFolderCheckNamesWhatIsMissing) {
  const TDataFolderCheck absent = CheckDataFolder((root_ / "nowhere").string() + "/");
  EXPECT_FALSE(absent.Usable());
  EXPECT_NE(absent.Summary().find("nowhere"), std::string::npos) << absent.Summary();

  std::ofstream(root_ / "plain") << "x";
  EXPECT_NE(CheckDataFolder((root_ / "plain").string() + "/").Problem, "");

  const std::string partial = DataFolder({"meta.bmp", "sky.klv", "tate2.klv", "fugu4.klv"});
  const TDataFolderCheck some = CheckDataFolder(partial);
  EXPECT_EQ(some.Problem, "");
  EXPECT_EQ(some.Missing, (std::vector<std::string>{"maphi.bmp", "ki3.klv", "f3f.klv", "wfgshou.klv"}));
  EXPECT_NE(some.Summary().find("maphi.bmp, ki3.klv, f3f.klv, wfgshou.klv"), std::string::npos);

  fs::create_directory(root_ / "data" / "maphi.bmp.d");
  const std::string full = DataFolder(RequiredDataFiles());
  EXPECT_TRUE(CheckDataFolder(full).Usable());
  EXPECT_EQ(RequiredDataFiles().size(), 8u);

  // A folder named like a data file is not the file.
  fs::remove(root_ / "data" / "ki3.klv");
  fs::create_directory(root_ / "data" / "ki3.klv");
  EXPECT_EQ(CheckDataFolder(full).Missing, std::vector<std::string>{"ki3.klv"});
}

TEST_F(SettingsTest, SettingsWithAnyProblemAreRefusedWithEveryProblemListed) {
  TSaverSettings s;
  s.DataPath = DataFolder(RequiredDataFiles());
  EXPECT_TRUE(SettingsProblems(s).empty());
  s.DrawSize = "wide";
  s.Threads = -2;
  s.DataPath = (root_ / "nowhere/").string();
  EXPECT_EQ(SettingsProblems(s).size(), 3u);
}

// The dialog on the settings program's pending choice, driven through its handlers.
class DeviceDialogTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    devices_ = std::make_unique<TDeviceList>();
    dialog_.OpenStore = [this] { return PendingChoiceStore(choice_); };
    devices_->FillDrivers(dialog_);
  }

  std::unique_ptr<TDeviceList> devices_;
  TDeviceChoice choice_;
  TKlvEnumWindow dialog_;
};

TEST_F(DeviceDialogTest, ShowReadsThePendingChoice) {
  choice_ = {kPolicyCustom, 0, 3, false};
  dialog_.Show();
  EXPECT_TRUE(dialog_.RadioButton3.Checked);
  EXPECT_TRUE(dialog_.ListBox1.Enabled);
  EXPECT_EQ(dialog_.ListBox1.ItemIndex, 0);
  ASSERT_EQ(dialog_.ListBox2.Items.size(), 4u);
  EXPECT_EQ(dialog_.ListBox2.ItemIndex, 3);

  choice_ = {kPolicyHEL, 0, 2, false};
  dialog_.Show();
  EXPECT_TRUE(dialog_.RadioButton2.Checked);
  EXPECT_FALSE(dialog_.ListBox1.Enabled);
  EXPECT_FALSE(dialog_.ListBox2.Enabled);
  EXPECT_FALSE(choice_.Started) << "showing stores nothing";
}

TEST_F(DeviceDialogTest, StartStoresModeAndBothListIndexesInThePendingChoiceOnly) {
  choice_ = {kPolicyHEL, -1, -1, false};
  dialog_.Show();
  dialog_.RadioButton3Click(&dialog_);
  dialog_.ListBox1.ItemIndex = 0;
  dialog_.ListBox1Click(&dialog_);
  dialog_.ListBox2.ItemIndex = 2;
  dialog_.ListBox2Click(&dialog_);
  dialog_.Button1Click(&dialog_);
  EXPECT_EQ(dialog_.Started, 1);
  EXPECT_FALSE(dialog_.Visible);
  EXPECT_EQ(choice_, (TDeviceChoice{kPolicyCustom, 0, 2, true}));
  EXPECT_FALSE(fs::exists(KeyFile())) << "the file waits for OK";
  EXPECT_EQ(DeviceChoiceText(choice_).rfind("Custom: driver 0", 0), 0u) << DeviceChoiceText(choice_);
}

TEST_F(DeviceDialogTest, StartWithPriorityHelStoresTheListsAsTheyStand) {
  choice_ = {kPolicyCustom, 0, 1, false};
  dialog_.Show();
  dialog_.RadioButton2Click(&dialog_);
  dialog_.Button1Click(&dialog_);
  EXPECT_EQ(choice_, (TDeviceChoice{kPolicyHEL, 0, 1, true}));
  EXPECT_EQ(DeviceChoiceText(choice_), "PRIORITY_HEL");
}

TEST_F(DeviceDialogTest, ExitStoresNothing) {
  choice_ = {kPolicyHEL, -1, -1, false};
  dialog_.Show();
  dialog_.RadioButton3Click(&dialog_);
  dialog_.ListBox1.ItemIndex = 0;
  dialog_.ListBox1Click(&dialog_);
  dialog_.Button2Click(&dialog_);
  EXPECT_EQ(dialog_.Started, 0);
  EXPECT_FALSE(dialog_.Visible);
  EXPECT_EQ(choice_, (TDeviceChoice{kPolicyHEL, -1, -1, false}));
}

}  // namespace
