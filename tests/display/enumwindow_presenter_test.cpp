// The device dialog shown as a window by the settings program in a child process: the report it
// prints, how SelectDevices(-4) takes it over, and when the terminal prompt stands in for it.
// Stand-in programs (shell scripts) play the settings program.
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "display/klvenumwin.h"
#include "display_fixture.h"

namespace {

class PresenterTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    owner.SetFullScreen(true);
    SetModalPresenter(DefaultPresenter);
    setenv("DISPLAY", ":klv-test", 1);
  }
  void TearDown() override {
    unsetenv("KLV_SETTINGS_PROGRAM");
    SetModalPresenter(TerminalPresenter);
    DisplayTest::TearDown();
  }
  // Makes the stand-in settings program: `body` is the shell script after "#!/bin/sh".
  std::string Program(const std::string& body) {
    const std::string path = (ConfigDir() / "settings-program").string();
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0700);
    setenv("KLV_SETTINGS_PROGRAM", path.c_str(), 1);
    return path;
  }

  TKalvorG owner{&form};
  TKalvorRM rm{&form};
};

TEST_F(PresenterTest, AStartInTheWindowSetsUpThePickedDevice) {
  Program("[ \"$1\" = --device-dialog ] || exit 9\necho '1 -4 0 1 2 0'");
  ASSERT_TRUE(SelectDevices(-4));
  EXPECT_EQ(KalvorGUnit.DriverChoice, 0);
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, 1);
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 1);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 2);
  EXPECT_EQ(EnumWindow()->ListBox2.ItemIndex, 1);
  EXPECT_FALSE(EnumWindow()->Visible);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(PresenterTest, APolicyStartAppliesThatPolicy) {
  Program("echo '1 -1 0 2 0 0'");
  ASSERT_TRUE(SelectDevices(-4));
  EXPECT_EQ(KalvorGUnit.DriverChoice, -1);
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, -1);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 0);
}

TEST_F(PresenterTest, ExitACrashOrAGarbledReportSetsNothingUp) {
  for (const char* body : {"echo '0 -4 0 2 2 1'", "exit 1", "echo 'Start'", "echo '1 -4 0 2 2 1 7'", "kill -9 $$"}) {
    Program(body);
    EXPECT_FALSE(SelectDevices(-4)) << body;
    EXPECT_EQ(KalvorGUnit.DirectDraw, nullptr) << body;
    EXPECT_EQ(EnumWindow()->Started, 0) << body;
  }
}

TEST_F(PresenterTest, TheTerminalStandsInWhenNoWindowCanBeShown) {
  TKlvEnumWindow window;
  Program("exit 3");  // the settings program found no display
  EXPECT_FALSE(WindowPresenter(window));
  setenv("KLV_SETTINGS_PROGRAM", (ConfigDir() / "no-such-program").c_str(), 1);
  EXPECT_FALSE(WindowPresenter(window));

  // Without a display the window is not even tried; the terminal (no terminal here) says "Exit".
  const std::string ran = (ConfigDir() / "ran").string();
  Program("touch '" + ran + "'\necho '1 -4 0 2 2 1'");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_FALSE(SelectDevices(-4));
  EXPECT_FALSE(std::ifstream(ran).good());
}

TEST_F(PresenterTest, TheReportCarriesEveryFieldAndRefusesMalformedLines) {
  KalvorGUnit.DriverList = std::make_unique<std::vector<TDDDriverEntry>>(1);
  (*KalvorGUnit.DriverList)[0].Devices.resize(4);
  TKlvEnumWindow shown;
  shown.ListBox1.Items = {"display"};
  shown.Started = 1;
  shown.Mode = kPolicyCustom;
  shown.DDIndex = 0;
  shown.D3DIndex = 3;
  shown.DlgColorModel = 1;
  const std::string line = FormatDialogOutcome(shown, true);
  EXPECT_EQ(line, "1 -4 0 3 1 1\n");

  TKlvEnumWindow copy;
  copy.ListBox1.Items = {"display"};
  ASSERT_TRUE(ApplyDialogOutcome(copy, line));
  EXPECT_EQ(copy.Started, 1);
  EXPECT_EQ(copy.Mode, kPolicyCustom);
  EXPECT_EQ(copy.DDIndex, 0);
  EXPECT_EQ(copy.D3DIndex, 3);
  EXPECT_EQ(copy.DlgColorModel, 1);
  EXPECT_EQ(copy.ListBox2.ItemIndex, 3);
  EXPECT_TRUE(KalvorRMUnit.HardwareDevice);

  for (const char* bad : {"", "1 -4 0 3 1", "1 -4 0 3 1 1 0", "2 -4 0 3 1 1", "1 -4 0 3 1 2", "1 -4 zero 3 1 1"}) {
    TKlvEnumWindow untouched;
    EXPECT_FALSE(ApplyDialogOutcome(untouched, bad)) << bad;
    EXPECT_EQ(untouched.Mode, 0) << bad;
  }
}

}  // namespace
