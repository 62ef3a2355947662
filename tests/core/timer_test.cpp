// The per-rotator timer thread. Timings use generous margins: a timer never
// fires early (steady clock), so lower bounds are firm; upper bounds allow for
// a loaded machine.

#include <atomic>
#include <memory>

#include <gtest/gtest.h>

#include "rotator/RotatorTimer.h"
#include "tests/core/CoreTestSupport.h"

namespace {

using core_test::Clock;
using core_test::MsSince;
using core_test::SleepMs;

// Records the time of every call, in ms after `start`.
class TimerTest : public ::testing::Test {
 protected:
  std::function<void()> Record() {
    return [this] { calls.Add(MsSince(start)); };
  }
  void Restart() { start = Clock::now(); }

  Clock::time_point start = Clock::now();
  core_test::Recorder<long> calls;
};

TEST_F(TimerTest, OneShotFiresOnceThenStaysDisarmed) {
  RotatorTimer timer(Record());
  Restart();
  timer.Start(200, true);
  ASSERT_TRUE(calls.WaitForSize(1, 3000));
  EXPECT_GE(calls.Values()[0], 195);
  EXPECT_LE(calls.Values()[0], 1500);
  SleepMs(600);
  EXPECT_EQ(calls.Size(), 1u);
}

TEST_F(TimerTest, RepeatingTimerFiresAgainAndAgain) {
  RotatorTimer timer(Record());
  Restart();
  timer.Start(100, false);
  ASSERT_TRUE(calls.WaitForSize(4, 5000));
  std::vector<long> at = calls.Values();
  EXPECT_GE(at[0], 95);
  for (size_t i = 1; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], 95) << i;
}

TEST_F(TimerTest, ZeroOrNegativeIntervalNeverCalls) {
  RotatorTimer timer(Record());
  timer.Start(0, true);
  SleepMs(50);
  timer.Start(-5, false);
  SleepMs(400);
  EXPECT_EQ(calls.Size(), 0u);

  // The timer disarmed itself quietly and can be armed again.
  Restart();
  timer.Start(100, true);
  ASSERT_TRUE(calls.WaitForSize(1, 3000));
  EXPECT_GE(calls.Values()[0], 95);
}

TEST_F(TimerTest, StartDuringAWaitAddsNoCall) {
  RotatorTimer timer(Record());
  Restart();
  timer.Start(200, true);
  SleepMs(100);
  timer.Start(200, true);
  ASSERT_TRUE(calls.WaitForSize(1, 3000));
  EXPECT_GE(calls.Values()[0], 195);
  EXPECT_LE(calls.Values()[0], 1500);
  SleepMs(700);  // a restarted or second wait would have fired by now
  EXPECT_EQ(calls.Size(), 1u);
}

TEST_F(TimerTest, StartDuringAWaitKeepsItsDeadlineAndSetsTheNextInterval) {
  RotatorTimer timer(Record());
  Restart();
  timer.Start(1000, false);
  SleepMs(100);
  timer.Start(100, false);
  ASSERT_TRUE(calls.WaitForSize(2, 5000));
  std::vector<long> at = calls.Values();
  // The first wait still ran its full 1000 ms, not 100 ms from the new Start.
  EXPECT_GE(at[0], 995);
  // The wait after it used the new 100 ms interval.
  EXPECT_GE(at[1] - at[0], 95);
  EXPECT_LE(at[1] - at[0], 800);
}

TEST_F(TimerTest, StopDisarmsACountingTimer) {
  RotatorTimer timer(Record());
  timer.Start(200, false);
  SleepMs(50);
  timer.Stop();
  SleepMs(500);
  EXPECT_EQ(calls.Size(), 0u);
}

TEST_F(TimerTest, OneShotCallbackThatRearmsItselfFiresAgain) {
  std::atomic<RotatorTimer*> self{nullptr};
  std::atomic<int> count{0};
  auto timer = std::make_unique<RotatorTimer>([&] {
    calls.Add(MsSince(start));
    if (++count < 3) self.load()->Start(100, true);
  });
  self = timer.get();
  Restart();
  timer->Start(100, true);
  ASSERT_TRUE(calls.WaitForSize(3, 5000));
  SleepMs(500);
  std::vector<long> at = calls.Values();
  ASSERT_EQ(at.size(), 3u);
  EXPECT_GE(at[1] - at[0], 95);
  EXPECT_GE(at[2] - at[1], 95);
}

TEST_F(TimerTest, RepeatingCallbackCanStopItsOwnTimer) {
  std::atomic<RotatorTimer*> self{nullptr};
  auto timer = std::make_unique<RotatorTimer>([&] {
    calls.Add(MsSince(start));
    if (calls.Size() == 2) self.load()->Stop();
  });
  self = timer.get();
  timer->Start(80, false);
  ASSERT_TRUE(calls.WaitForSize(2, 5000));
  SleepMs(400);
  EXPECT_EQ(calls.Size(), 2u);
}

TEST_F(TimerTest, DestroyingAnIdleTimerReturnsAtOnce) {
  const int baseline = core_test::ThreadBaseline();
  auto timer = std::make_unique<RotatorTimer>(Record());
  SleepMs(50);
  auto begin = Clock::now();
  timer.reset();
  EXPECT_LT(MsSince(begin), 200);
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  EXPECT_EQ(calls.Size(), 0u);
}

TEST_F(TimerTest, DestroyingACountingTimerReturnsWithoutACall) {
  auto timer = std::make_unique<RotatorTimer>(Record());
  timer->Start(400, true);
  SleepMs(50);
  auto begin = Clock::now();
  timer.reset();
  EXPECT_LT(MsSince(begin), 200);
  SleepMs(500);
  EXPECT_EQ(calls.Size(), 0u);
}

TEST_F(TimerTest, DestructionWaitsForARunningCallback) {
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  auto timer = std::make_unique<RotatorTimer>([&] {
    entered = true;
    SleepMs(300);
    finished = true;
  });
  timer->Start(10, true);
  ASSERT_TRUE(core_test::WaitUntil([&] { return entered.load(); }, 3000));
  auto begin = Clock::now();
  timer.reset();
  EXPECT_TRUE(finished.load());
  EXPECT_GE(MsSince(begin), 150);
}

TEST_F(TimerTest, ShutdownIsIdempotent) {
  RotatorTimer timer(Record());
  timer.Start(100, false);
  timer.Shutdown();
  timer.Shutdown();
  timer.Start(50, true);  // no thread any more: nothing is called
  SleepMs(200);
  EXPECT_EQ(calls.Size(), 0u);
}

}  // namespace
