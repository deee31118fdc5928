// The frame-loop components with real timer and worker threads: what starts when, which thread
// raises which event, dropped frames, restart and destruction.
#include "shell/klvmloop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "platform/win/headless_window.h"

namespace {

using namespace std::chrono_literals;

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

class FrameLoopTest : public ::testing::Test {
 protected:
  FrameLoopTest() : app_(std::make_unique<TKlvHeadlessWindow>()) {}

  // Handles the main thread's messages until `done` holds; ten generous seconds at most.
  template <typename Pred>
  bool PumpUntil(Pred done) {
    for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
      app_.ProcessMessages();
      if (done()) return true;
      std::this_thread::sleep_for(1ms);
    }
    return done();
  }

  std::set<std::thread::id> ThreadsOf(const std::set<std::thread::id>& ids) {
    std::lock_guard lock(mutex_);
    return ids;
  }

  TApplication app_;
  TComponentOwner owner_;
  std::mutex mutex_;
  std::set<std::thread::id> timerThreads_, calcThreads_, drawThreads_;
  std::atomic<int> ticks_{0}, calcs_{0}, draws_{0};
  std::vector<void*> termSenders_;

  void AssignAll(TKlvMLoop& loop) {
    loop.OnTimer = [this](void*) {
      std::lock_guard lock(mutex_);
      timerThreads_.insert(std::this_thread::get_id());
      ++ticks_;
    };
    loop.OnCalc = [this, &loop](void* sender) {
      EXPECT_EQ(sender, &loop);
      std::lock_guard lock(mutex_);
      calcThreads_.insert(std::this_thread::get_id());
      ++calcs_;
    };
    loop.OnDraw = [this, &loop](void* sender) {
      EXPECT_EQ(sender, &loop);
      // Frame n is drawn only after frame n was calculated.
      EXPECT_LE(draws_ + 1, calcs_);
      std::lock_guard lock(mutex_);
      drawThreads_.insert(std::this_thread::get_id());
      ++draws_;
    };
    loop.OnTerm = [this](void* sender) {
      EXPECT_EQ(std::this_thread::get_id(), mainThread_);
      termSenders_.push_back(sender);
    };
  }

  std::thread::id mainThread_ = std::this_thread::get_id();
};

TEST_F(FrameLoopTest, IntervalZeroStartsNothingWhateverIsAssigned) {
  size_t threadsBefore = ThreadCount();
  TKlvMLoop loop(&owner_, app_);
  AssignAll(loop);
  loop.SetInterval(0);
  loop.Loaded();
  loop.SetEnabled(true);
  EXPECT_EQ(loop.TimerID(), 0u);
  EXPECT_EQ(loop.CalcThread(), nullptr);
  EXPECT_EQ(loop.DrawThread(), nullptr);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_EQ(loop.Owner(), &owner_);
}

TEST_F(FrameLoopTest, DefaultsAreEnabledAndOneSecond) {
  TKlvMLoop loop(&owner_, app_);
  EXPECT_TRUE(loop.Enabled());
  EXPECT_EQ(loop.Interval(), 1000);
  EXPECT_EQ(loop.TimerID(), 0u);  // nothing runs before the properties are set or Loaded
}

TEST_F(FrameLoopTest, TimerComponentNeedsOnTimerAndTicksOnItsOwnThread) {
  TKlvMTLoop timer(&owner_);
  timer.SetInterval(1);
  timer.Loaded();
  EXPECT_EQ(timer.TimerID(), 0u);
  timer.OnTimer = [this](void*) {
    std::lock_guard lock(mutex_);
    timerThreads_.insert(std::this_thread::get_id());
    ++ticks_;
  };
  timer.SetInterval(2);
  EXPECT_NE(timer.TimerID(), 0u);
  ASSERT_TRUE(PumpUntil([&] { return ticks_ >= 3; }));
  timer.SetEnabled(false);
  EXPECT_EQ(timer.TimerID(), 0u);
  EXPECT_TRUE(timer.Stopping());
  int stopped = ticks_;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ticks_, stopped);
  auto threads = ThreadsOf(timerThreads_);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(mainThread_), 0u);
}

TEST_F(FrameLoopTest, OnlyOnDrawAssignedStillRunsTimerAndBothThreads) {
  TKlvMLoop loop(&owner_, app_);
  loop.OnDraw = [this](void*) { ++draws_; };
  loop.SetInterval(1);
  EXPECT_NE(loop.TimerID(), 0u);
  ASSERT_NE(loop.CalcThread(), nullptr);
  ASSERT_NE(loop.DrawThread(), nullptr);
  EXPECT_TRUE(PumpUntil([&] { return draws_ >= 3; }));
}

TEST_F(FrameLoopTest, TickCalcAndDrawRunOnThreeThreadsInThatOrder) {
  TKlvMLoop loop(&owner_, app_);
  AssignAll(loop);
  loop.SetInterval(1);
  ASSERT_TRUE(PumpUntil([&] { return draws_ >= 5; }));
  loop.SetEnabled(false);
  auto timerThreads = ThreadsOf(timerThreads_), calcThreads = ThreadsOf(calcThreads_),
       drawThreads = ThreadsOf(drawThreads_);
  ASSERT_EQ(timerThreads.size(), 1u);
  ASSERT_EQ(calcThreads.size(), 1u);
  ASSERT_EQ(drawThreads.size(), 1u);
  std::set<std::thread::id> all{*timerThreads.begin(), *calcThreads.begin(), *drawThreads.begin(), mainThread_};
  EXPECT_EQ(all.size(), 4u);
  EXPECT_GE(ticks_, calcs_);
  EXPECT_GE(calcs_, draws_);
}

TEST_F(FrameLoopTest, TicksDuringASlowCalculationAreDroppedNotQueued) {
  size_t threadsBefore = ThreadCount();
  TKlvMLoop loop(&owner_, app_);
  AssignAll(loop);
  loop.OnCalc = [this](void*) {
    std::this_thread::sleep_for(20ms);
    ++calcs_;
  };
  loop.SetInterval(1);
  ASSERT_TRUE(PumpUntil([&] { return calcs_ >= 3; }));
  loop.SetEnabled(false);
  // Every calculation took 20 ticks' time; the ticks in between woke nothing.
  EXPECT_GT(ticks_, calcs_ + 5);
  // The calculation under way when the loop stopped finishes; nothing queued follows it.
  ASSERT_TRUE(PumpUntil([&] { return termSenders_.size() == 1 && ThreadCount() == threadsBefore; }));
  int calcsAfterStop = calcs_;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calcs_, calcsAfterStop);
}

TEST_F(FrameLoopTest, ChangingIntervalRestartsBothThreadsWithOnTermOnTheMainThread) {
  TKlvMLoop loop(&owner_, app_);
  AssignAll(loop);
  loop.SetInterval(1);
  ASSERT_TRUE(PumpUntil([&] { return draws_ >= 2; }));
  TCalcThread* oldCalc = loop.CalcThread();
  TCalcThread* oldDraw = loop.DrawThread();
  loop.SetInterval(2);
  EXPECT_NE(loop.TimerID(), 0u);
  ASSERT_NE(loop.DrawThread(), nullptr);
  EXPECT_NE(loop.DrawThread(), oldDraw);
  EXPECT_NE(loop.CalcThread(), oldCalc);
  ASSERT_TRUE(PumpUntil([&] { return termSenders_.size() == 1; }));
  EXPECT_EQ(termSenders_[0], oldDraw);
  int drawsAtRestart = draws_;
  EXPECT_TRUE(PumpUntil([&] { return draws_ >= drawsAtRestart + 2; }));
  loop.SetEnabled(false);
  ASSERT_TRUE(PumpUntil([&] { return termSenders_.size() == 2; }));
}

TEST_F(FrameLoopTest, OnDrawIsTakenWhenTheLoopStarts) {
  TKlvMLoop loop(&owner_, app_);
  std::atomic<int> later{0};
  loop.OnDraw = [this](void*) { ++draws_; };
  loop.SetInterval(1);
  loop.OnDraw = [&](void*) { ++later; };
  ASSERT_TRUE(PumpUntil([&] { return draws_ >= 2; }));
  EXPECT_EQ(later, 0);
  loop.Loaded();  // restart: the new handler takes over
  EXPECT_TRUE(PumpUntil([&] { return later >= 2; }));
}

TEST_F(FrameLoopTest, DestroyingARunningLoopLeavesNoThreadAndReportsTheDrawThreadOnce) {
  size_t threadsBefore = ThreadCount();
  {
    TKlvMLoop loop(&owner_, app_);
    AssignAll(loop);
    loop.OnCalc = [this](void*) {
      std::this_thread::sleep_for(5ms);
      ++calcs_;
    };
    loop.SetInterval(1);
    ASSERT_TRUE(PumpUntil([&] { return draws_ >= 2; }));
    loop.SetInterval(3);  // one drawing thread ends before the destruction, one during it
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_EQ(termSenders_.size(), 2u);
  // End notifications still queued for the destroyed loop do nothing.
  app_.ProcessMessages();
  EXPECT_EQ(termSenders_.size(), 2u);
}

TEST(CalcThreadTest, WakesAreNotCountedAndTerminationIsNeverLost) {
  std::atomic<int> jobs{0};
  std::atomic<bool> ended{false};
  {
    TCalcThread thread(
        nullptr, [&](void*) { ++jobs; }, [&](TCalcThread*) { ended = true; });
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(jobs, 0);  // created suspended
    for (auto until = std::chrono::steady_clock::now() + 10s; jobs == 0 && std::chrono::steady_clock::now() < until;)
      thread.WakeIfWaiting();
    EXPECT_GE(jobs, 1);
    thread.Terminate();
    thread.WakeIfWaiting();
    thread.WaitFor();
    EXPECT_TRUE(ended);
    int finalJobs = jobs;
    thread.WakeIfWaiting();
    EXPECT_EQ(jobs, finalJobs);
  }
  // A thread destroyed before its first wake ends without running its job.
  std::atomic<int> neverRun{0};
  {
    TCalcThread thread(
        nullptr, [&](void*) { ++neverRun; }, nullptr);
  }
  EXPECT_EQ(neverRun, 0);
}

}  // namespace
