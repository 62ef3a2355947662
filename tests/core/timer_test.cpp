// The per-rotator timer: never early (steady clock), so lower bounds are firm.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "rotator/RotatorTimer.h"
#include "tests/support/Helpers.h"

namespace {

using namespace testing_support;

class TimerTest : public ::testing::Test {
 protected:
  std::function<void()> Record() {
    return [this] { calls.Add(MsSince(start)); };
  }
  Clock::time_point start = Clock::now();
  Recorder<long> calls;  // ms after `start` of each call
};

TEST_F(TimerTest, OneShotFiresOnceAndRepeatingAgainAndAgain) {
  RotatorTimer once(Record());
  once.Start(150, true);
  ASSERT_TRUE(calls.WaitForSize(1, 3000));
  EXPECT_GE(calls.Values()[0], 145);
  RotatorTimer repeating(Record());
  repeating.Start(60, false);
  ASSERT_TRUE(calls.WaitForSize(5, 5000));
  std::vector<long> at = calls.Values();
  for (size_t i = 2; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], 55) << i;
  repeating.Stop();
  const size_t stopped = calls.Size();
  SleepMs(200);
  EXPECT_LE(calls.Size(), stopped + 1) << "at most a call under way at Stop";
}

TEST_F(TimerTest, ZeroOrNegativeIntervalNeverCallsAndCanBeReArmed) {
  RotatorTimer timer(Record());
  timer.Start(-5, false);
  timer.Start(0, true);
  SleepMs(100);
  timer.Start(50, true);
  ASSERT_TRUE(calls.WaitForSize(1, 3000));
  EXPECT_GE(calls.Values()[0], 145);
}

TEST_F(TimerTest, StartDuringAWaitKeepsItsDeadlineAndSetsTheNextInterval) {
  RotatorTimer timer(Record());
  timer.Start(600, false);
  SleepMs(50);
  timer.Start(100, false);
  ASSERT_TRUE(calls.WaitForSize(2, 5000));
  std::vector<long> at = calls.Values();
  EXPECT_GE(at[0], 595);
  EXPECT_GE(at[1] - at[0], 95);
  EXPECT_LE(at[1] - at[0], 800);
}

TEST_F(TimerTest, StopAndDestructionDisarmACountingTimerAtOnce) {
  RotatorTimer stopped(Record());
  stopped.Start(150, false);
  auto destroyed = std::make_unique<RotatorTimer>(Record());
  destroyed->Start(400, true);
  SleepMs(30);
  stopped.Stop();
  auto begin = Clock::now();
  destroyed.reset();
  EXPECT_LT(MsSince(begin), 200);
  SleepMs(400);
  EXPECT_EQ(calls.Size(), 0u);
}

TEST_F(TimerTest, CallbackCanReArmItsOneShot) {
  std::atomic<RotatorTimer*> self{nullptr};
  RotatorTimer timer([&] {
    calls.Add(MsSince(start));
    if (calls.Size() < 3) self.load()->Start(50, true);
  });
  self = &timer;
  timer.Start(50, true);
  ASSERT_TRUE(calls.WaitForSize(3, 5000));
  SleepMs(200);
  EXPECT_EQ(calls.Size(), 3u);
}

TEST_F(TimerTest, DestructionWaitsForARunningCallback) {
  std::atomic<int> stage{0};
  auto timer = std::make_unique<RotatorTimer>([&] { stage = 1, SleepMs(200), stage = 2; });
  timer->Start(10, true);
  ASSERT_TRUE(WaitUntil([&] { return stage == 1; }, 3000));
  timer.reset();
  EXPECT_EQ(stage, 2);
}

}  // namespace
