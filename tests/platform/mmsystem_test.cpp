// Multimedia services: the wrapping clock, periodic and one-shot timers, kill semantics, joystick.
#include "platform/win/mmsystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Polls `done` for up to ten seconds: generous, so a loaded machine does not fail the test.
template <typename Pred>
bool WaitFor(Pred done) {
  for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
    if (done()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return done();
}

TEST(ClockTest, DifferencesSurviveTheWrap) {
  KlvSetTimeOffset(0);
  DWORD base = timeGetTime();
  // Put the clock 5 ms before its wrap, then let it pass the wrap.
  KlvSetTimeOffset(0xFFFFFFFFu - base - 4);
  DWORD before = timeGetTime();
  EXPECT_GE(before, 0xFFFFFFF0u);
  std::this_thread::sleep_for(30ms);
  DWORD after = timeGetTime();
  EXPECT_LT(after, before);  // wrapped
  DWORD elapsed = after - before;
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 10000u);
  KlvSetTimeOffset(0);
}

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<UINT> lastId{0};
  std::atomic<bool> inside{false};
  std::chrono::milliseconds work{0};
};

void CountCall(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* counter = reinterpret_cast<Counter*>(user);
  counter->inside = true;
  std::this_thread::sleep_for(counter->work);
  counter->lastId = id;
  ++counter->calls;
  counter->inside = false;
}

TEST(TimerTest, RefusesZeroOrHugeDelayAndNullCallback) {
  Counter counter;
  auto user = reinterpret_cast<DWORD_PTR>(&counter);
  EXPECT_EQ(timeSetEvent(0, 0, CountCall, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(kTimerMaxDelay + 1, 1, CountCall, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(5, 5, nullptr, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
}

TEST(TimerTest, PeriodicTimerFiresRepeatedlyAndNeverAfterKill) {
  Counter counter;
  MMRESULT id = timeSetEvent(2, 2, CountCall, reinterpret_cast<DWORD_PTR>(&counter), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(WaitFor([&] { return counter.calls >= 5; }));
  EXPECT_EQ(counter.lastId, id);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
  int afterKill = counter.calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(counter.calls, afterKill);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
}

TEST(TimerTest, KillWaitsForARunningCallback) {
  Counter counter;
  counter.work = 50ms;
  MMRESULT id = timeSetEvent(1, 1, CountCall, reinterpret_cast<DWORD_PTR>(&counter), TIME_PERIODIC);
  ASSERT_TRUE(WaitFor([&] { return counter.inside.load(); }));
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_NOERROR);
  EXPECT_FALSE(counter.inside);
}

TEST(TimerTest, OneShotFiresOnceAndItsIdIsThenSpent) {
  Counter counter;
  MMRESULT id = timeSetEvent(1, 1, CountCall, reinterpret_cast<DWORD_PTR>(&counter), TIME_ONESHOT);
  ASSERT_TRUE(WaitFor([&] { return counter.calls == 1 && timeKillEvent(id) == MMSYSERR_INVALPARAM; }));
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(counter.calls, 1);
}

struct SelfKill {
  std::atomic<UINT> id{0};
  std::atomic<int> calls{0};
  std::atomic<MMRESULT> result{99};
};

void KillFromInside(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  auto* self = reinterpret_cast<SelfKill*>(user);
  if (self->calls++ == 0) self->result = timeKillEvent(id);
}

TEST(TimerTest, CallbackMayKillItsOwnTimer) {
  SelfKill self;
  self.id = timeSetEvent(1, 1, KillFromInside, reinterpret_cast<DWORD_PTR>(&self), TIME_PERIODIC);
  ASSERT_TRUE(WaitFor([&] { return self.result.load() != 99; }));
  EXPECT_EQ(self.result, MMSYSERR_NOERROR);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(self.calls, 1);
}

TEST(JoystickTest, BadArgumentsAndAbsentJoystickAreReported) {
  JOYINFO info{};
  EXPECT_EQ(joyGetPos(JOYSTICKID1 + 1, &info), JOYERR_PARMS);
  EXPECT_EQ(joyGetPos(JOYSTICKID1, nullptr), JOYERR_PARMS);
  // Test machines have no joystick attached.
  EXPECT_EQ(joyGetPos(JOYSTICKID1, &info), JOYERR_UNPLUGGED);
}

}  // namespace
