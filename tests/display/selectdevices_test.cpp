// Device selection: the stored choice (or its absence) under "Software\Kalvor_Soft", section
// "KalvorG", the dialog's Custom path, "Exit", and start-up that cannot succeed.
#include "display_fixture.h"

#include <unistd.h>

#include "display/klvenumwin.h"
#include "platform/win/registry.h"

namespace {

class SelectTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    owner.SetFullScreen(true);
  }
  void TearDown() override {
    SetModalPresenter(TerminalPresenter);
    DisplayTest::TearDown();
  }
  static std::string Stored(const char* name) {
    return TRegIniFile("Software\\Kalvor_Soft").ReadString("KalvorG", name, "absent");
  }
  static void Store(const char* name, const std::string& value) {
    TRegIniFile("Software\\Kalvor_Soft").WriteString("KalvorG", name, value);
  }

  TKalvorG owner{&form};
  TKalvorRM rm{&form};
};

TEST_F(SelectTest, NoRegistryStartsCustomWithDriverZeroAndDeviceTwo) {
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorGUnit.DriverChoice, 0);
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, 2);
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 2);
  EXPECT_TRUE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 2);
  EXPECT_EQ(Stored("Enum_Checkbox"), "-4");
  EXPECT_EQ(Stored("DDraw_Device"), "0");
  EXPECT_EQ(Stored("D3D_Device"), "2");
  EXPECT_NE(rm.D3DDevice, nullptr);
  EXPECT_FALSE(EnumWindow()->Visible);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SelectTest, StoredHardwareAndAutoSelectPoliciesStillWork) {
  Store("Enum_Checkbox", "-2");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorGUnit.DriverChoice, -2);
  EXPECT_EQ(KalvorGUnit.ActiveDriver, 0);
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 2);
  EXPECT_TRUE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 0);
  EXPECT_EQ(Stored("DDraw_Device"), "-1");
  EXPECT_EQ(Stored("D3D_Device"), "-1");
  rm.RmRelease();
  owner.DDrelease();

  Store("Enum_Checkbox", "-3");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 3);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice);
}

TEST_F(SelectTest, AStoredValueThatIsNotADecimalNumberReadsAsTheDefault) {
  Store("Enum_Checkbox", "custom");
  Store("D3D_Device", "1x");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, 2);
  EXPECT_EQ(Stored("Enum_Checkbox"), "-4");
}

TEST_F(SelectTest, ListIndexesOfANonCustomStartSelectNothingLater) {
  Store("Enum_Checkbox", "-1");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(Stored("DDraw_Device"), "-1");
  rm.RmRelease();
  owner.DDrelease();

  Store("Enum_Checkbox", "-4");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorGUnit.DriverChoice, -1);
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, -1);
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 0) << "the first software device";
}

TEST_F(SelectTest, AStoredIndexBeyondTheListFallsBackToItemZero) {
  Store("D3D_Device", "9");
  ASSERT_TRUE(SelectDevices(-5));
  EXPECT_EQ(KalvorRMUnit.DeviceChoice, 0);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 1) << "the ramp device's software colour model";
}

TEST_F(SelectTest, TheDialogShowsTwoChoicesAndCustomPicksTheDevice) {
  SetModalPresenter([](TKlvEnumWindow& w) {
    EXPECT_TRUE(w.Visible);
    EXPECT_FALSE(w.RadioButton1.Visible);
    EXPECT_FALSE(w.RadioButton4.Visible);
    EXPECT_EQ(w.RadioButton2.Caption, "PRIORITY_HEL");
    EXPECT_EQ(w.RadioButton3.Caption, "Custom");
    EXPECT_TRUE(w.RadioButton3.Checked);
    ASSERT_EQ(w.ListBox2.Items.size(), 4u);
    w.ListBox2.ItemIndex = 1;
    w.ListBox2Click(&w);
    w.Button1Click(&w);
  });
  ASSERT_TRUE(SelectDevices(-4));
  EXPECT_EQ(KalvorRMUnit.SelectedDevice, 1);
  EXPECT_FALSE(KalvorRMUnit.HardwareDevice);
  EXPECT_EQ(KalvorRMUnit.ColorModel, 2);
  EXPECT_EQ(Stored("D3D_Device"), "1");
}

TEST_F(SelectTest, ExitSetsNothingUp) {
  SetModalPresenter([](TKlvEnumWindow& w) {
    w.RadioButton2Click(&w);
    w.Button2Click(&w);
  });
  EXPECT_FALSE(SelectDevices(-4));
  EXPECT_EQ(KalvorGUnit.DirectDraw, nullptr);
  EXPECT_EQ(Stored("Enum_Checkbox"), "absent");
}

TEST_F(SelectTest, WithoutATerminalTheDialogExits) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_FALSE(SelectDevices(-4));
  EXPECT_EQ(EnumWindow()->Started, 0);
}

TEST_F(SelectTest, StartUpWithNoWorkingDeviceReturnsFalse) {
  owner.SetColor8bit(true);
  Store("Enum_Checkbox", "-1");
  EXPECT_FALSE(SelectDevices(-5));
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), Box("All D3D Devices were Failed.", "Failed"));
  EXPECT_EQ(rm.D3DDevice, nullptr);
}

TEST(SelectDevicesAlone, NoDirect3DComponentReturnsFalse) {
  std::vector<Box> boxes;
  SetMessageBoxRecorder(
      [&](const std::string& text, const std::string& caption) { boxes.emplace_back(text, caption); });
  EXPECT_FALSE(SelectDevices(-1));
  SetMessageBoxRecorder(nullptr);
  EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
