// The saver in a host's window (headless backend standing in for it): the picture at the window's
// own size and following it, no exit on input, SIGTERM-style end requests, failures as exit status 1
// on standard error, the data folder fallbacks, the DrawSize setting and --size, the step delay,
// the frames-per-second figure and a settings store that stays unwritten.
#include <csignal>
#include <fstream>

#include "platform/dx5/virtual_display.h"
#include "platform/win/registry.h"
#include "saver_fixture.h"
#include "shell/end_signals.h"

namespace {

class EmbeddedTest : public SaverTest {
 protected:
  void SetUp() override {
    SaverTest::SetUp();
    configure = [this](TSaverOptions& options) {
      options.Embedded = true;
      options.EndRequested = [this] { return endRequested; };
    };
  }

  // Creates the window at `width` x `height` (as a host made it) and runs the start trigger.
  TKalvorGSaver& StartIn(int width, int height) {
    Create("");
    window->InjectResize(width, height);
    RunStartTrigger();
    return *saver;
  }

  bool endRequested = false;
};

TEST_F(EmbeddedTest, ThePictureHasTheWindowsOwnSizeAndFollowsItsResizes) {
  TKalvorGSaver& s = StartIn(423, 237);
  ASSERT_TRUE(s.Running);
  EXPECT_EQ(s.Scene.View.ViewWidth, 423);
  EXPECT_EQ(s.Scene.View.ViewHeight, 237);
  ASSERT_TRUE(Idle(16));
  EXPECT_EQ(window->FrameWidth(), 423);
  EXPECT_EQ(window->FrameHeight(), 237);

  // The host changes the window (a monitor changed): begin runs again at the new size.
  window->InjectResize(800, 200);
  application->ProcessMessages();
  ASSERT_TRUE(Idle(16));
  window->InjectResize(1024, 300);
  application->ProcessMessages();
  // Until the size settles the old picture goes on.
  ASSERT_TRUE(Idle(100));
  EXPECT_EQ(window->FrameWidth(), 423);
  EXPECT_FALSE(Idle(100)) << "the restart's begin starts the step gate again";
  ASSERT_TRUE(Idle(16));
  EXPECT_TRUE(s.Running);
  EXPECT_EQ(s.Scene.View.ViewWidth, 1024);
  EXPECT_EQ(window->FrameWidth(), 1024);
  EXPECT_EQ(window->FrameHeight(), 300);
  size_t black = 0;
  for (uint32_t pixel : window->LastFrame()) black += (pixel & 0xFFFFFF) == 0;
  EXPECT_EQ(black, 0u);
  // The host's window keeps the size and place it has: the saver set nothing on it.
  EXPECT_FALSE(window->Settings().visible);
  EXPECT_FALSE(window->Settings().stayOnTop);
  EXPECT_TRUE(window->Settings().border);
}

TEST_F(EmbeddedTest, AWindowBeyondTheLargestPictureKeepsTheLargestPicture) {
  TKalvorGSaver& s = StartIn(9000, 100);
  ASSERT_TRUE(s.Running);
  EXPECT_EQ(s.PictureWidth, kMaxPictureSide);
  EXPECT_EQ(s.PictureHeight, 100);
  // A resize to another size beyond the limit starts nothing again.
  window->InjectResize(9500, 100);
  application->ProcessMessages();
  EXPECT_FALSE(s.ResizePending);
}

TEST_F(EmbeddedTest, InputNeverEndsIt) {
  TKalvorGSaver& s = StartIn(640, 360);
  ASSERT_TRUE(s.Running);
  window->InjectKeyDown(VK_SPACE);
  window->InjectMouseMove(kStartX + 100, kStartY + 100);
  window->InjectClick();
  application->ProcessMessages();
  EXPECT_FALSE(application->Terminated());
  EXPECT_TRUE(Idle(16));
  EXPECT_TRUE(s.Running);
}

TEST_F(EmbeddedTest, AnEndRequestRunsEndAndClosesWithStatusZero) {
  TKalvorGSaver& s = StartIn(320, 200);
  ASSERT_TRUE(Idle(16));
  endRequested = true;
  Idle(1);
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(KalvorRMUnit.TextureList, nullptr);
  EXPECT_EQ(s.Scene.SceneRoot, nullptr);
  EXPECT_EQ(s.ExitCode, 0);
}

TEST_F(EmbeddedTest, NoDataAnywhereIsOneLineOnStandardErrorAndStatusOne) {
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(Folder("current"));
  configure = [](TSaverOptions& options) {
    options.Embedded = true;
    options.DataFolders = {"/nonexistent/installed/"};
  };
  ::testing::internal::CaptureStderr();
  TKalvorGSaver& s = StartIn(320, 200);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(application->Terminated());
  EXPECT_EQ(s.ExitCode, 1);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  EXPECT_NE(errors.find("/nonexistent/installed/"), std::string::npos) << errors;
  EXPECT_NE(errors.find(Folder("empty").string()), std::string::npos) << errors;
}

TEST_F(SaverTest, StandAloneNoDataShowsTheMessageListsTheFoldersAndExitsWithStatusOne) {
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(Folder("current"));
  configure = [](TSaverOptions& options) { options.DataFolders = {"/nonexistent/installed/"}; };
  ::testing::internal::CaptureStderr();
  TKalvorGSaver& s = Start("/s");
  const std::string errors = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], Box(kMetaMissingText, kErrorCaption));
  EXPECT_EQ(s.ExitCode, 1);
  EXPECT_NE(errors.find("/nonexistent/installed/"), std::string::npos) << errors;
}

TEST_F(SaverTest, TheFallbackFoldersAreUsedWhenTheSettingAndTheCurrentFolderHaveNoData) {
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(Folder("current"));
  configure = [](TSaverOptions& options) {
    options.DataFolders = {"/nonexistent/installed/", std::string(KLV_DATA_DIR) + "/"};
  };
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(s.Running);
  EXPECT_EQ(s.DataPath, std::string(KLV_DATA_DIR) + "/");
  EXPECT_EQ(s.ExitCode, 0);
}

TEST_F(SaverTest, AFailedStartExitsWithStatusOne) {
  const std::filesystem::path data = Folder("data");
  for (const auto& entry : std::filesystem::directory_iterator(KLV_DATA_DIR))
    std::filesystem::copy_file(entry.path(), data / entry.path().filename());
  // A folder where a model file should be: the read fails with a library exception, not a KlvError,
  // and is shown the same way instead of aborting.
  std::filesystem::remove(data / "tate2.klv");
  std::filesystem::create_directories(data / "tate2.klv");
  SetDataPath(data.string() + "/");
  TKalvorGSaver& s = Start("/s");
  EXPECT_TRUE(application->Terminated());
  EXPECT_EQ(s.ExitCode, 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].second, kErrorCaption);
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(s.Scene.SceneRoot, nullptr);
}

TEST_F(SaverTest, OtherArgumentsStillCloseWithStatusZero) { EXPECT_EQ(Start("/p").ExitCode, 0); }

TEST_F(SaverTest, NoSettingsProgramAnywhereIsAFailedStartToo) {
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(Folder("current"));
  EXPECT_EQ(Start("/c").ExitCode, 1);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SaverTest, TheDrawSizeSettingAndTheSizeOptionChooseTheStandAlonePicture) {
  TRegIniFile("Software\\Kalvor_Soft").WriteString("KalvorGSaver", "DrawSize", "800x450");
  TKalvorGSaver& s = Start("/s");
  EXPECT_EQ(s.Scene.View.ViewWidth, 800);
  EXPECT_EQ(s.Scene.View.ViewHeight, 450);
  EXPECT_EQ(window->Settings().clientWidth, 800);
  ASSERT_TRUE(Idle(16));
  EXPECT_EQ(window->FrameWidth(), 800);
  EXPECT_EQ(window->FrameHeight(), 450);
}

TEST_F(SaverTest, TheSizeOptionWinsOverTheSettingAndABadSettingMeansTheDefault) {
  TRegIniFile("Software\\Kalvor_Soft").WriteString("KalvorGSaver", "DrawSize", "800x450");
  configure = [](TSaverOptions& options) { options.Size = TPictureSize{false, 320, 320}; };
  EXPECT_EQ(Start("/s").Scene.View.ViewWidth, 320);
  saver.reset();
  application.reset();
  KalvorGUnit = TKalvorGUnitState{};
  KalvorRMUnit = TKalvorRMUnitState{};
  configure = nullptr;
  TRegIniFile("Software\\Kalvor_Soft").WriteString("KalvorGSaver", "DrawSize", "huge");
  ::testing::internal::CaptureStderr();
  TKalvorGSaver& s = Start("/s");
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.Scene.View.ViewWidth, 640);
  EXPECT_EQ(s.Scene.View.ViewHeight, 480);
  EXPECT_NE(errors.find("DrawSize"), std::string::npos);
}

TEST_F(SaverTest, TheStepDelayGatesTheSteps) {
  configure = [](TSaverOptions& options) { options.StepGateMs = 40; };
  Start("/s");
  EXPECT_FALSE(Idle(39));
  EXPECT_TRUE(Idle(1));
  EXPECT_FALSE(Idle(20));
  EXPECT_TRUE(Idle(20));
}

TEST_F(SaverTest, TheFramesPerSecondFigureIsDrawnInTheTopLeftCorner) {
  configure = [](TSaverOptions& options) { options.ShowFps = true; };
  Start("/s");
  ASSERT_TRUE(Idle(16));
  const std::vector<uint32_t>& frame = window->LastFrame();
  // The box's first column is black; white letters follow within the first rows.
  EXPECT_EQ(frame[0] & 0xFFFFFF, 0u);
  int white = 0;
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 80; ++x) white += (frame[static_cast<size_t>(y) * 640 + x] & 0xFFFFFF) == 0xFFFFFF;
  EXPECT_GT(white, 20);
}

TEST(EndSignals, SigtermAndSigintAreRecordedNotFatal) {
  for (int signal : {SIGTERM, SIGINT}) {
    InstallEndSignalHandlers();
    ClearEndSignal();
    EXPECT_FALSE(EndSignalReceived());
    std::raise(signal);
    EXPECT_TRUE(EndSignalReceived());
  }
  ClearEndSignal();
}

TEST_F(SaverTest, AReadOnlySettingsStoreWritesNothing) {
  TRegIniFile key("Software\\Kalvor_Soft");
  std::filesystem::remove(key.FileName());
  SetRegistryReadOnly(true);
  key.WriteString("KalvorG", "DDraw_Device", "1");
  SetRegistryReadOnly(false);
  EXPECT_FALSE(std::filesystem::exists(key.FileName()));
}

}  // namespace
