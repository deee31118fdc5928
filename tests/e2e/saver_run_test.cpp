// The whole saver through the application's message loop with the real millisecond clock: the
// start trigger, idle-driven steps and draws, and input that ends it, as a user would see it.
#include "shell/saver_fixture.h"

namespace {

struct Ending {
  const char* name;
  std::function<void(TKlvHeadlessWindow&)> input;
  bool runsEnd;
};

class SaverRunTest : public SaverTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(SaverRunTest, RunsUntilTheUserEndsIt) {
  constexpr int kFrames = 20;
  realClock = true;
  TKalvorGSaver& s = Create("/s");
  std::vector<uint32_t> firstFrame;
  bool ended = false;
  // Checks on the main thread, between messages, how far the saver has come.
  application->SetTimer(5, [&] {
    if (window->PresentCount() == 1 && firstFrame.empty()) firstFrame = window->LastFrame();
    if (window->PresentCount() >= kFrames && !ended) {
      GetParam().input(*window);
      ended = true;
    }
  });
  // A stuck loop fails the test instead of hanging it.
  application->SetTimer(60000, [&] { application->Close(); });
  const DWORD start = timeGetTime();
  application->Run();
  const DWORD elapsed = timeGetTime() - start;

  EXPECT_TRUE(ended);
  EXPECT_GE(window->PresentCount(), kFrames);
  EXPECT_NE(window->LastFrame(), firstFrame);
  // One step per 16 ms at most: never more steps than the elapsed time allows.
  EXPECT_LE(s.Scene.StepCount, static_cast<int>(elapsed / 16) + 1);
  EXPECT_EQ(s.Scene.StepCount, window->PresentCount());
  EXPECT_EQ(DisplayUp(), !GetParam().runsEnd);
  EXPECT_EQ(CursorCount(), cursorAtStart + (GetParam().runsEnd ? 1 : -1));
  EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SaverRunTest,
    ::testing::Values(Ending{"Key", [](TKlvHeadlessWindow& w) { w.InjectKeyDown('A'); }, true},
                      Ending{"Mouse", [](TKlvHeadlessWindow& w) { w.InjectMouseMove(kStartX + 5, kStartY + 5); }, true},
                      Ending{"Click", [](TKlvHeadlessWindow& w) { w.InjectClick(); }, false}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

}  // namespace
