// The saver's lifecycle on the headless backend: where the data files are looked for, the exit
// rules (keys, the mouse on both axes, clicks, once only), the cursor counter, the 16 ms step gate
// on the wrapping millisecond clock, and end before, after and instead of a finished begin.
#include <fstream>

#include "platform/error.h"
#include "saver_fixture.h"

namespace {

// Copies the generated data set into `folder`.
void CopyDataSet(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(KLV_DATA_DIR))
    std::filesystem::copy_file(entry.path(), folder / entry.path().filename());
}

TEST_F(SaverTest, MetaBmpOnlyInTheCurrentFolderLoadsEveryFileFromThere) {
  SetDataPath(Folder("elsewhere").string() + "/");
  std::filesystem::current_path(KLV_DATA_DIR);
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(s.Running);
  EXPECT_EQ(s.DataPath, "");
  EXPECT_NE(s.Scene.Fugu, nullptr);
  EXPECT_NE(s.Scene.Terrain, nullptr);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SaverTest, MetaBmpNowhereShowsTheMessageAndCloses) {
  const std::filesystem::path data = Folder("data");
  CopyDataSet(data);
  std::filesystem::remove(data / "meta.bmp");
  SetDataPath(data.string() + "/");
  std::filesystem::current_path(Folder("current"));
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(s.Running);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], Box(kMetaMissingText, kErrorCaption));
  EXPECT_EQ(s.Scene.SceneRoot, nullptr);
}

// A damaged model file is named in a message box, and end releases the devices and whatever the
// build had made (the sanitizer build checks that nothing leaks).
TEST_F(SaverTest, ADamagedModelFileIsReportedAndEverythingIsReleased) {
  const std::filesystem::path data = Folder("data");
  CopyDataSet(data);
  std::filesystem::resize_file(data / "wfgshou.klv", 10);
  SetDataPath(data.string() + "/");
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(s.Running);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].first.find("wfgshou.klv"), std::string::npos);
  EXPECT_EQ(boxes[0].second, kErrorCaption);
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(KalvorRMUnit.D3D, nullptr);
  EXPECT_EQ(KalvorRMUnit.TextureList, nullptr);
  EXPECT_EQ(s.Scene.SceneRoot, nullptr);
  EXPECT_EQ(s.Scene.Fugu, nullptr);
  EXPECT_EQ(s.Scene.SkyModel, nullptr);
  EXPECT_EQ(CursorCount(), cursorAtStart + 1);
}

TEST_F(SaverTest, AMissingHeightMapIsReportedToo) {
  const std::filesystem::path data = Folder("data");
  CopyDataSet(data);
  std::filesystem::remove(data / "maphi.bmp");
  SetDataPath(data.string() + "/");
  Start("/s");
  EXPECT_TRUE(application->Terminated());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].first.find("maphi.bmp"), std::string::npos);
  EXPECT_FALSE(DisplayUp());
}

TEST_F(SaverTest, TheMouseMustMoveFourPixelsOnBothAxes) {
  TKalvorGSaver& s = Start("/s");
  ASSERT_TRUE(s.Running);
  EXPECT_EQ(s.StartCursorPos.x, kStartX);
  EXPECT_EQ(s.StartCursorPos.y, kStartY);
  for (auto [x, y] : {std::pair{kStartX + 50, kStartY},
                      {kStartX, kStartY - 300},
                      {kStartX + 3, kStartY + 3},
                      {kStartX + 4, kStartY + 3},
                      {kStartX - 3, kStartY - 40}}) {
    window->InjectMouseMove(x, y);
    application->ProcessMessages();
    EXPECT_FALSE(application->Terminated()) << x << ", " << y;
  }
  EXPECT_TRUE(DisplayUp());
  window->InjectMouseMove(kStartX + 4, kStartY + 4);
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(s.Closing);
  EXPECT_FALSE(DisplayUp());
  // Begin hid the cursor once; end showed it twice.
  EXPECT_EQ(CursorCount(), cursorAtStart + 1);
}

TEST_F(SaverTest, AMoveBackwardsOnBothAxesEndsTheSaverToo) {
  Start("");
  window->InjectMouseMove(kStartX - 4, kStartY - 10);
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(DisplayUp());
}

TEST_F(SaverTest, AMouseMoveBeforeBeginHasFinishedDoesNothing) {
  TKalvorGSaver& s = Create("/s");
  SetCursorPos(kStartX + 100, kStartY + 100);
  s.FormMouseMove(0, 0);
  EXPECT_FALSE(s.Closing);
  EXPECT_FALSE(application->Terminated());
  RunStartTrigger();
  EXPECT_TRUE(s.Running);
  EXPECT_EQ(s.StartCursorPos.x, kStartX + 100);
}

TEST_F(SaverTest, AKeyBeforeTheStartTriggerRunsEndOnNothingAndCloses) {
  TKalvorGSaver& s = Create("/s");
  window->InjectKeyDown(VK_SPACE);
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(s.Closing);
  EXPECT_FALSE(s.Running);
  EXPECT_FALSE(DisplayUp());
  // End showed the cursor once; begin never hid it.
  EXPECT_EQ(CursorCount(), cursorAtStart + 1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SaverTest, AnyKeyRunsEndAndClosesOnce) {
  TKalvorGSaver& s = Start("/s");
  EXPECT_EQ(CursorCount(), cursorAtStart - 1);
  EXPECT_TRUE(Idle(20));
  window->InjectKeyDown(VK_NUMPAD5);
  window->InjectClick();
  window->InjectMouseMove(kStartX + 40, kStartY + 40);
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(s.Scene.SceneRoot, nullptr);
  EXPECT_EQ(CursorCount(), cursorAtStart + 1);
  // The idle handler does nothing once end has released the display.
  s.KlvMLoop1Calc();
  EXPECT_EQ(window->PresentCount(), 1);
  // The later handlers did nothing: end ran once.
  s.FormKeyDown(VK_SPACE);
  s.FormMouseMove(0, 0);
  EXPECT_EQ(CursorCount(), cursorAtStart + 1);
}

TEST_F(SaverTest, AClickClosesWithoutEndAndLeavesTheCursorHidden) {
  TKalvorGSaver& s = Start("/s");
  window->InjectClick();
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(s.Closing);
  EXPECT_TRUE(DisplayUp());
  EXPECT_NE(s.Scene.SceneRoot, nullptr);
  EXPECT_EQ(CursorCount(), cursorAtStart - 1);
  // The window's destruction releases the scene and devices without touching the cursor.
  saver.reset();
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(CursorCount(), cursorAtStart - 1);
  ShowCursor(TRUE);
}

TEST_F(SaverTest, StepsAreGatedToOnePer16MillisecondsAndNeverQueued) {
  TKalvorGSaver& s = Start("/s");
  ASSERT_TRUE(s.Running);
  EXPECT_EQ(s.Scene.StepCount, 0);
  EXPECT_FALSE(Idle(15));
  EXPECT_EQ(s.Scene.StepCount, 0);
  EXPECT_TRUE(Idle(1));
  EXPECT_EQ(s.Scene.StepCount, 1);
  EXPECT_EQ(s.LastStepTime, now);
  for (int i = 0; i < 15; ++i) EXPECT_FALSE(Idle(1));
  EXPECT_TRUE(Idle(1));
  EXPECT_EQ(s.Scene.StepCount, 2);
  // A long pause gives one step, not the missed ones.
  EXPECT_TRUE(Idle(1000));
  EXPECT_FALSE(Idle(0));
  EXPECT_FALSE(Idle(10));
  EXPECT_EQ(s.Scene.StepCount, 3);
  EXPECT_EQ(window->PresentCount(), 3);
}

TEST_F(SaverTest, TheGateKeepsSteppingAcrossTheClockWrap) {
  now = 0xFFFFFFF0u;
  TKalvorGSaver& s = Start("/s");
  EXPECT_FALSE(Idle(15));  // 0xFFFFFFFF
  EXPECT_TRUE(Idle(1));    // 0 after the wrap: 16 ms later
  EXPECT_EQ(s.LastStepTime, 0u);
  EXPECT_FALSE(Idle(15));
  EXPECT_TRUE(Idle(1));
  EXPECT_EQ(s.Scene.StepCount, 2);
}

TEST_F(SaverTest, TheDrawPresentsAChangingPictureInTheWindow) {
  TKalvorGSaver& s = Start("/s");
  ASSERT_TRUE(Idle(16));
  const std::vector<uint32_t> first = window->LastFrame();
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(Idle(16));
  EXPECT_EQ(window->PresentCount(), 31);
  EXPECT_EQ(s.PresentCount, 31u);
  EXPECT_NE(window->LastFrame(), first);
  // Every pixel is covered by some model: nothing is left black.
  size_t black = 0;
  for (uint32_t pixel : window->LastFrame()) black += (pixel & 0xFFFFFF) == 0;
  EXPECT_EQ(black, 0u);
}

TEST_F(SaverTest, TheDrawSizeMenuResizesTheView) {
  TKalvorGSaver& s = Start("/s");
  EXPECT_EQ(s.Scene.View.ViewWidth, 640);
  EXPECT_EQ(s.Scene.View.ViewHeight, 480);
  s.DrawSizeClick(2);
  EXPECT_EQ(s.Scene.View.ViewWidth, 320);
  EXPECT_EQ(s.Scene.View.ViewHeight, 240);
  EXPECT_TRUE(Idle(16));
  s.DrawSizeClick(99);
  EXPECT_EQ(s.Scene.View.ViewWidth, 320);
}

TEST_F(SaverTest, RegistryDataPathIsReadAtWindowCreation) {
  SetDataPath("/some/where/");
  EXPECT_EQ(Create("/p").DataPath, "/some/where/");
}

TEST_F(SaverTest, AMissingRegistryFileLeavesTheDataPathEmpty) {
  std::filesystem::remove_all(std::getenv("KLV_CONFIG_DIR"));
  EXPECT_EQ(Create("/p").DataPath, "");
}

}  // namespace
