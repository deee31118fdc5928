// The application object on the headless backend: event dispatch, the idle loop, timers, posted
// calls and closing.
#include "platform/win/application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win/headless_window.h"
#include "platform/win/winuser.h"

namespace {

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() : app_(std::make_unique<TKlvHeadlessWindow>()) {
    window_ = static_cast<TKlvHeadlessWindow*>(&app_.MainWindow());
  }

  TApplication app_;
  TKlvHeadlessWindow* window_;
  std::vector<std::string> log_;
};

TEST_F(ApplicationTest, WindowEventsReachTheirHandlersInOrder) {
  KlvReleaseAllKeys();
  app_.OnKeyDown = [&](BYTE key) {
    BYTE keys[256];
    GetKeyboardState(keys);
    log_.push_back("key " + std::to_string(key) + ((keys[VK_LSHIFT] & kKeyDownBit) ? " lshift-down" : ""));
  };
  app_.OnMouseMove = [&](int x, int y) { log_.push_back("move " + std::to_string(x) + "," + std::to_string(y)); };
  app_.OnClick = [&] { log_.push_back("click"); };
  app_.OnPaint = [&] { log_.push_back("paint"); };
  app_.OnClose = [&] { log_.push_back("close"); };
  window_->SetPosition(100, 50);
  window_->InjectKeyDown(VK_LSHIFT);
  window_->InjectKeyUp(VK_LSHIFT);
  window_->InjectMouseMove(110, 70);
  window_->InjectClick();
  window_->InjectPaint();
  window_->InjectClose();
  window_->InjectClick();  // after the close: never delivered
  EXPECT_TRUE(app_.ProcessMessages());
  EXPECT_TRUE(app_.Terminated());
  EXPECT_EQ(log_, (std::vector<std::string>{"key 16 lshift-down", "move 10,20", "click", "paint", "close"}));
  POINT cursor{};
  GetCursorPos(&cursor);
  EXPECT_EQ(cursor.x, 110);
  EXPECT_EQ(cursor.y, 70);
  BYTE keys[256];
  GetKeyboardState(keys);
  EXPECT_FALSE(keys[VK_SHIFT] & kKeyDownBit);
}

TEST_F(ApplicationTest, IdleRunsWhileNoMessageWaitsAndMessagesComeFirst) {
  int idleCalls = 0;
  app_.OnClick = [&] { log_.push_back("click at idle " + std::to_string(idleCalls)); };
  app_.OnIdle = [&] {
    ++idleCalls;
    if (idleCalls == 3) window_->InjectClick();
    if (idleCalls == 10) app_.Close();
    return false;  // not done: called again at once
  };
  app_.Run();
  EXPECT_EQ(idleCalls, 10);
  EXPECT_EQ(log_, (std::vector<std::string>{"click at idle 3"}));
  EXPECT_FALSE(window_->Settings().visible);
}

TEST_F(ApplicationTest, RunShowsTheMainWindowAndADoneIdleHandlerStillRunsAgain) {
  int idleCalls = 0;
  app_.OnIdle = [&] {
    EXPECT_TRUE(window_->Settings().visible);
    if (++idleCalls == 5) app_.Close();
    return true;  // done: the loop waits about a millisecond, then asks again
  };
  app_.Run();
  EXPECT_EQ(idleCalls, 5);
}

TEST_F(ApplicationTest, OneShotTriggerAndPeriodicTimerRunOnTheMainThread) {
  auto mainThread = std::this_thread::get_id();
  int periodicCalls = 0;
  UINT trigger = 0;
  trigger = app_.SetTimer(1, [&] {
    EXPECT_EQ(std::this_thread::get_id(), mainThread);
    app_.KillTimer(trigger);
    log_.push_back("trigger");
  });
  app_.SetTimer(2, [&] {
    if (++periodicCalls == 4) app_.Close();
  });
  EXPECT_EQ(app_.SetTimer(0, [] {}), 0u);
  app_.Run();  // no idle handler: waits for the timers
  EXPECT_EQ(log_, (std::vector<std::string>{"trigger"}));
  EXPECT_EQ(periodicCalls, 4);
}

TEST_F(ApplicationTest, CallsPostedFromOtherThreadsRunOnTheMainThreadInOrder) {
  auto mainThread = std::this_thread::get_id();
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 5; ++i)
      app_.Post([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        order.push_back(i);
        if (i == 4) app_.Close();
      });
  });
  app_.Run();  // waits without limit; each post wakes it
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(ApplicationTest, CloseRunsOnCloseOnceAndARunAfterwardsReturnsAtOnce) {
  int closes = 0;
  app_.OnClose = [&] { ++closes; };
  app_.Close();
  app_.Close();
  app_.Run();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(window_->Settings().visible);
}

TEST_F(ApplicationTest, FormSettingsAndPresentedFramesAreKept) {
  window_->SetClientSize(640, 480);
  window_->SetStayOnTop(true);
  window_->SetBorder(false);
  window_->SetPosition(0, 0);
  EXPECT_EQ(window_->Settings().clientWidth, 640);
  EXPECT_TRUE(window_->Settings().stayOnTop);
  EXPECT_FALSE(window_->Settings().border);
  EXPECT_EQ(app_.Handle()->window, window_);
  // A bottom-up 2 x 2 picture: row 0 (top) sits last in memory.
  uint32_t pixels[4] = {0x30, 0x40, 0x10, 0x20};
  window_->Present(reinterpret_cast<const uint8_t*>(pixels + 2), 2, 2, -8);
  EXPECT_EQ(window_->PresentCount(), 1);
  EXPECT_EQ(window_->LastFrame(), (std::vector<uint32_t>{0x10, 0x20, 0x30, 0x40}));
}

// A picture written in place shows only once ShowPicture says it is complete.
TEST_F(ApplicationTest, APictureWrittenInPlaceIsTheFrameShown) {
  const KlvPictureTarget target = window_->BeginPicture(3, 2);
  ASSERT_NE(target.pixels, nullptr);
  ASSERT_GE(target.pitch, 3 * 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(target.pixels) + y * target.pitch)[x] =
          static_cast<uint32_t>(0x10 * y + x);
  EXPECT_EQ(window_->PresentCount(), 0);
  window_->ShowPicture();
  EXPECT_EQ(window_->PresentCount(), 1);
  EXPECT_EQ(window_->FrameWidth(), 3);
  EXPECT_EQ(window_->FrameHeight(), 2);
  EXPECT_EQ(window_->LastFrame(), (std::vector<uint32_t>{0x00, 0x01, 0x02, 0x10, 0x11, 0x12}));
  EXPECT_EQ(window_->BeginPicture(0, 5).pixels, nullptr);
  EXPECT_EQ(window_->BeginPicture(5, -1).pixels, nullptr);
}

// A backend with no memory of its own to lend: it sees each picture written in place as a Present.
class PresentRecorder : public KlvWindowBackend {
 public:
  void Present(const uint8_t* pixels, int width, int height, intptr_t pitch) override {
    frames.emplace_back();
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * pitch);
      frames.back().insert(frames.back().end(), row, row + width);
    }
    sizes.emplace_back(width, height);
  }
  bool NextEvent(KlvWindowEvent&, int) override { return false; }
  void Wake() override {}
  bool NativeSize(int&, int&) override { return false; }

  std::vector<std::vector<uint32_t>> frames;
  std::vector<std::pair<int, int>> sizes;

 protected:
  void SettingsChanged() override {}
};

TEST(PictureInPlace, ABackendWithoutMemoryOfItsOwnPresentsTheLentBuffer) {
  PresentRecorder window;
  for (auto [width, height] : {std::pair{4, 3}, std::pair{2, 5}}) {
    const KlvPictureTarget target = window.BeginPicture(width, height);
    ASSERT_NE(target.pixels, nullptr);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(target.pixels) + y * target.pitch)[x] =
            static_cast<uint32_t>(0x100 * width + 0x10 * y + x);
    window.ShowPicture();
  }
  ASSERT_EQ(window.frames.size(), 2u);
  EXPECT_EQ(window.sizes[0], std::pair(4, 3));
  EXPECT_EQ(window.sizes[1], std::pair(2, 5));
  EXPECT_EQ(window.frames[1],
            (std::vector<uint32_t>{0x200, 0x201, 0x210, 0x211, 0x220, 0x221, 0x230, 0x231, 0x240, 0x241}));
  EXPECT_EQ(window.frames[0][11], 0x423u);
  EXPECT_EQ(window.BeginPicture(0, 0).pixels, nullptr);
}

}  // namespace
