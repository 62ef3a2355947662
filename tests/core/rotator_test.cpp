// The rotator base: initialisation, routing to the driver hooks, and the
// reports. No controller exists here, so status lines go straight to the log.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/RotatorController.h"
#include "rotator/Rotator.h"
#include "tests/support/Helpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

// A driver that records its hooks and can refuse to start.
class Probe : public Rotator {
 public:
  ~Probe() override { Release(); }
  bool initializeResult = true;
  int armTimerMs = 0;
  Recorder<std::string> hooks;  // "init", "rotate N", "stop", "timer", bytes
  using Rotator::serial;
  using Rotator::timer;

 protected:
  bool DoInitialize() override {
    hooks.Add("init");
    if (armTimerMs) timer->Start(armTimerMs, true);
    return initializeResult;
  }
  void DoRotate(int bearing) override { hooks.Add("rotate " + std::to_string(bearing)); }
  void DoStop() override { hooks.Add("stop"); }
  void DoTimer() override { hooks.Add("timer"); }
  void DoSerial(char c) override { hooks.Add(std::string(1, c)); }
};

class RotatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_controller, nullptr);
    ASSERT_TRUE(box.SlaveSettings(&own));
    own = DistinctiveSettings(own);
    ASSERT_TRUE(box.SetSlaveSettings(own));
  }
  bool DeviceRestored() const {
    struct termios now;
    return box.SlaveSettings(&now) && SameSettings(now, own);
  }

  LogCapture log;  // first: outlives every rotator's threads
  Pty box;
  struct termios own;
};

TEST_F(RotatorTest, InitializeOpensTheLinkRoutesEveryHookAndReports) {
  Probe probe;
  probe.armTimerMs = 50;
  ASSERT_TRUE(probe.Initialize(3, box.SlavePath(), 99, 1500));
  ASSERT_TRUE(probe.hooks.WaitForSize(2, 3000));
  probe.Rotate(-5);
  probe.Stop();
  ASSERT_TRUE(box.Send(std::string("Z\0", 2)));
  ASSERT_TRUE(probe.hooks.WaitForSize(6, 3000));
  EXPECT_EQ(probe.hooks.Values(),
            (Lines{"init", "timer", "rotate -5", "stop", "Z", std::string(1, '\0')}));
  const std::string& p = box.SlavePath();
  EXPECT_EQ(log.Out(), "Status: " + p + " created\nStatus: " + p + " rotate to -5\nStatus: " + p + " stop\n");
  probe.Write("C2\r");
  probe.Write(std::string("W\0x", 3));
  probe.Write("\r", 1);
  EXPECT_EQ(box.Read(2000, 7), std::string("C2\rW\0x\r", 7));
  EXPECT_EQ(log.Err(), "");
}

TEST_F(RotatorTest, FailedInitializeReleasesEverything) {
  const std::string missing = "/dev/zeva-test-no-such-device";
  Probe noDevice;
  EXPECT_FALSE(noDevice.Initialize(1, missing, 4, 1000));
  EXPECT_EQ(noDevice.hooks.Size(), 0u);
  EXPECT_EQ(log.Lines(log.NewErr()),
            (Lines{"Cannot open " + missing + ": No such file or directory",
                   "Error getting status for " + missing + " " + missing +
                       ": No such file or directory"}));
  Probe refusing;
  refusing.initializeResult = false;
  refusing.armTimerMs = 300;  // armed, then released before it can fire
  EXPECT_FALSE(refusing.Initialize(1, box.SlavePath(), 4, 1000));
  EXPECT_TRUE(refusing.serial == nullptr && refusing.timer == nullptr);
  EXPECT_TRUE(DeviceRestored());
  Rotator plain;  // a model without a driver
  EXPECT_FALSE(plain.Initialize(1, box.SlavePath(), 0, 1000));
  EXPECT_TRUE(DeviceRestored());
  SleepMs(400);
  EXPECT_EQ(refusing.hooks.Values(), Lines{"init"});
  EXPECT_EQ(log.Out(), "Rotor type is not implemented\n");  // no "created"
  plain.Write("C\r");  // no link: nothing
  EXPECT_EQ(log.NewErr(), "");
}

TEST_F(RotatorTest, DestructionEndsBothThreadsPromptlyAndRestoresTheDevice) {
  const int baseline = ThreadCount();
  if (baseline == 0) GTEST_SKIP() << "this platform gives no thread count";
  auto probe = std::make_unique<Probe>();
  probe->armTimerMs = 20;
  ASSERT_TRUE(probe->Initialize(1, box.SlavePath(), 4, 20));
  EXPECT_EQ(ThreadCount(), baseline + 2);
  ASSERT_TRUE(probe->hooks.WaitForSize(2, 3000));
  auto start = Clock::now();
  probe.reset();
  EXPECT_LT(MsSince(start), 500);
  EXPECT_TRUE(ThreadsBackTo(baseline));
  EXPECT_TRUE(DeviceRestored());
}

// The rule every driver's parser relies on: each bad reply is a status line,
// and only the rotator's first one also goes to standard error.
TEST_F(RotatorTest, BadRepliesAreLoggedEachTimeButOnlyTheFirstReachesStandardError) {
  Probe probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  log.NewOut();
  probe.Bad("x");
  probe.Bad('Q');
  probe.Bad("");
  probe.Bad('\0');  // printed up to the NUL
  probe.Bad(std::string(400, 'y'));
  const std::string on = " from rotator on " + box.SlavePath();
  EXPECT_EQ(log.Lines(log.NewOut()),
            (Lines{"Status: Bad response \"x\"" + on, "Status: Bad response \"Q\"" + on,
                   "Status: Bad response" + on, "Status: Bad response \"",
                   "Status: " + ("Bad response \"" + std::string(400, 'y')).substr(0, 255)}));
  EXPECT_EQ(log.Err(), "Bad response \"x\"" + on + "\n");
  Probe empty;
  ASSERT_TRUE(empty.Initialize(2, box.SlavePath(), 4, 1000));
  empty.Bad("");
  EXPECT_EQ(log.Lines(log.Err()).back(), "Bad response" + on);
}

}  // namespace
