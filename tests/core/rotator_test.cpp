// The rotator base: initialisation and its failures, routing of the link's
// and the timer's callbacks to the driver hooks, and the status, direction
// and bad-reply reports. No controller exists here (g_controller is null), so
// status lines go straight to the log and direction lines are dropped.

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/RotatorController.h"
#include "command/RotatorMgr.h"
#include "rotator/Rotator.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/core/ProbeRotator.h"
#include "tests/support/Pty.h"

namespace {

using core_test::LogCapture;
using core_test::ProbeRotator;
using core_test::ThreadCount;
using testing_support::Pty;

const char kMissingDevice[] = "/dev/zeva-core-test-no-such-device";

class RotatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_controller, nullptr);
    ASSERT_TRUE(box.Ok());
    baseline = core_test::ThreadBaseline();
  }

  std::string Status(const std::string& text) const { return "Status: " + text; }

  LogCapture log;  // declared first: outlives every rotator's threads
  Pty box;
  int baseline = 0;
};

// --- Initialisation ------------------------------------------------------

TEST_F(RotatorTest, SuccessfulInitializeOpensTheLinkWithTheDriversFormat) {
  ProbeRotator probe(4800, 7, 2);
  ASSERT_TRUE(probe.Initialize(3, box.SlavePath(), 99, 1500));

  EXPECT_EQ(log.OutLines(),
            std::vector<std::string>{Status(box.SlavePath() + " created")});
  EXPECT_EQ(log.Err(), "");
  EXPECT_EQ(probe.Id(), 3);
  EXPECT_EQ(probe.Port(), box.SlavePath());
  EXPECT_EQ(probe.pollInterval, 1500);
  EXPECT_EQ(probe.hooks.Values(), std::vector<std::string>{"init"});

  struct termios t;
  ASSERT_TRUE(box.SlaveSettings(&t));
  EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
  if (core_test::PtyKeepsSevenDataBits(box.SlavePath())) {
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
  }
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST_F(RotatorTest, MissingDeviceFailsWithTheLinksReportAndNoThreads) {
  ProbeRotator probe;
  EXPECT_FALSE(probe.Initialize(1, kMissingDevice, 4, 1000));

  const std::string missing = std::string(kMissingDevice);
  EXPECT_EQ(log.ErrLines(),
            (std::vector<std::string>{
                "Cannot open " + missing + ": No such file or directory",
                "Error getting status for " + missing + " " + missing +
                    ": No such file or directory"}));
  EXPECT_EQ(log.Out(), "");  // no "created" line
  EXPECT_EQ(probe.hooks.Size(), 0u);  // DoInitialize never ran
  EXPECT_EQ(probe.serial, nullptr);
  EXPECT_EQ(probe.timer, nullptr);
  EXPECT_EQ(ThreadCount(), baseline);
}

TEST_F(RotatorTest, ModelWithoutDriverFailsAndLeavesNoThreads) {
  struct termios original;
  ASSERT_TRUE(box.SlaveSettings(&original));
  const struct termios distinctive = core_test::DistinctiveSettings(original);
  ASSERT_TRUE(box.SetSlaveSettings(distinctive));
  {
    Rotator plain;
    EXPECT_FALSE(plain.Initialize(1, box.SlavePath(), 0, 1000));
    EXPECT_EQ(log.OutLines(),
              std::vector<std::string>{"Rotor type is not implemented"});
    EXPECT_EQ(log.Err(), "");
    EXPECT_TRUE(core_test::ThreadsBackTo(baseline))
        << ThreadCount() << " threads, expected " << baseline;
  }
  // The device was opened and released again.
  struct termios after;
  ASSERT_TRUE(box.SlaveSettings(&after));
  EXPECT_TRUE(core_test::SameSettings(after, distinctive));
}

TEST_F(RotatorTest, DriverThatRefusesToStartReleasesLinkAndTimer) {
  ProbeRotator probe;
  probe.initializeResult = false;
  probe.armTimerMs = 50;  // armed, then released before it can fire
  EXPECT_FALSE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  EXPECT_EQ(probe.serial, nullptr);
  EXPECT_EQ(probe.timer, nullptr);
  EXPECT_EQ(log.Out(), "");
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  core_test::SleepMs(150);
  EXPECT_EQ(probe.hooks.Values(), std::vector<std::string>{"init"});
}

TEST_F(RotatorTest, DestructionEndsBothThreadsAndRestoresTheDevice) {
  struct termios original;
  ASSERT_TRUE(box.SlaveSettings(&original));
  const struct termios distinctive = core_test::DistinctiveSettings(original);
  ASSERT_TRUE(box.SetSlaveSettings(distinctive));

  auto probe = std::make_unique<ProbeRotator>();
  probe->armTimerMs = 20;
  probe->armOneShot = false;
  ASSERT_TRUE(probe->Initialize(1, box.SlavePath(), 4, 20));
  EXPECT_GT(ThreadCount(), baseline);
  ASSERT_TRUE(core_test::WaitUntil([&] { return probe->hooks.Size() >= 3; }, 3000));

  auto start = core_test::Clock::now();
  probe.reset();
  EXPECT_LT(core_test::MsSince(start), 500);
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  struct termios after;
  ASSERT_TRUE(box.SlaveSettings(&after));
  EXPECT_TRUE(core_test::SameSettings(after, distinctive));
}

// --- Routing to the hooks --------------------------------------------------

TEST_F(RotatorTest, TimerExpiryReachesDoTimer) {
  ProbeRotator probe;
  probe.armTimerMs = 50;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  ASSERT_TRUE(core_test::WaitUntil([&] { return probe.hooks.Size() >= 2; }, 3000));
  EXPECT_EQ(probe.hooks.Values(), (std::vector<std::string>{"init", "timer"}));
}

TEST_F(RotatorTest, ReceivedBytesReachDoSerialAndWritesReachTheBox) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  ASSERT_TRUE(box.Send(std::string("AZ\0\r", 4)));
  ASSERT_TRUE(probe.received.WaitForSize(4, 3000));
  EXPECT_EQ(probe.received.Values(), (std::vector<char>{'A', 'Z', '\0', '\r'}));

  probe.Write(std::string("C2\r"));
  probe.Write("W\0x", 3);
  EXPECT_EQ(box.Read(2000, 6), std::string("C2\rW\0x", 6));
}

TEST_F(RotatorTest, WriteBeforeInitializeDoesNothing) {
  ProbeRotator probe;
  probe.Write(std::string("C\r"));
  probe.Write("C\r", 2);
  EXPECT_EQ(log.Out() + log.Err(), "");
}

TEST_F(RotatorTest, LinkFailureIsReportedAndTheRotatorStays) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  const std::string path = box.SlavePath();
  box.Vanish();
  const std::string report = "Error getting status for " + path + " " + path + ": ";
  ASSERT_TRUE(core_test::WaitUntil(
      [&] {
        for (const auto& line : log.ErrLines())
          if (line.rfind(report, 0) == 0) return true;
        return false;
      },
      3000))
      << log.Err();
  std::vector<std::string> errors = log.ErrLines();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("Read from serial port failed " + path + ": ", 0), 0u);
  // Both lines carry the same system text.
  EXPECT_EQ(errors[0].substr(errors[0].rfind(": ")),
            errors[1].substr(errors[1].rfind(": ")));
  EXPECT_NE(probe.serial, nullptr);
}

// --- Reports ------------------------------------------------------------------

TEST_F(RotatorTest, RotateAndStopWriteStatusLinesAndReachTheDriver) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  probe.Rotate(725);
  probe.Rotate(-5);
  probe.Stop();
  EXPECT_EQ(log.OutLines(),
            (std::vector<std::string>{Status(box.SlavePath() + " created"),
                                      Status(box.SlavePath() + " rotate to 725"),
                                      Status(box.SlavePath() + " rotate to -5"),
                                      Status(box.SlavePath() + " stop")}));
  EXPECT_EQ(probe.hooks.Values(),
            (std::vector<std::string>{"init", "rotate 725", "rotate -5", "stop"}));
}

TEST_F(RotatorTest, DirectionWithoutControllerOnlyRemembersTheBearing) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(7, box.SlavePath(), 4, 1000));
  EXPECT_EQ(probe.lastDirection, INT_MIN);
  probe.Direction(45);
  EXPECT_EQ(probe.lastDirection, 45);
  probe.Direction(45);
  EXPECT_EQ(probe.lastDirection, 45);
  probe.Direction(-5);
  EXPECT_EQ(probe.lastDirection, -5);
  EXPECT_EQ(log.OutLines(),
            std::vector<std::string>{Status(box.SlavePath() + " created")});
  EXPECT_EQ(log.Err(), "");
}

TEST_F(RotatorTest, BadReplyIsLoggedEveryTimeButReachesTheErrorLogOnce) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  const std::string& port = box.SlavePath();
  probe.Bad("x");
  probe.Bad("x");
  probe.Bad('Q');
  probe.Bad("");
  const std::string badX = "Bad response \"x\" from rotator on " + port;
  EXPECT_EQ(log.OutLines(),
            (std::vector<std::string>{
                Status(port + " created"), Status(badX), Status(badX),
                Status("Bad response \"Q\" from rotator on " + port),
                Status("Bad response from rotator on " + port)}));
  EXPECT_EQ(log.ErrLines(), std::vector<std::string>{badX});
  EXPECT_TRUE(probe.badReported);
}

TEST_F(RotatorTest, EmptyBadReplyHasItsOwnForm) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  probe.Bad(std::string());
  const std::string text = "Bad response from rotator on " + box.SlavePath();
  EXPECT_EQ(log.CountOut(Status(text)), 1u);
  EXPECT_EQ(log.ErrLines(), std::vector<std::string>{text});
}

TEST_F(RotatorTest, BadNulCharacterIsPrintedUpToTheNul) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  probe.Bad('\0');
  EXPECT_EQ(log.CountOut("Status: Bad response \""), 1u) << log.Out();
  EXPECT_EQ(log.ErrLines(), std::vector<std::string>{"Bad response \""});
}

TEST_F(RotatorTest, LongBadReplyIsCutToTheStatusBuffer) {
  ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  probe.Bad(std::string(400, 'x'));
  const std::string cut = ("Bad response \"" + std::string(400, 'x')).substr(0, 255);
  EXPECT_EQ(log.CountOut(Status(cut)), 1u);
  EXPECT_EQ(log.ErrLines(), std::vector<std::string>{cut});
}

}  // namespace
