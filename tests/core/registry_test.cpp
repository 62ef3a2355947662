// The command language and the registry of rotators, driven through
// RotatorMgr::Parse with real pseudo-terminals as the boxes. No controller
// exists here (g_controller is null): log lines are what can be seen, plus
// the bytes the drivers write to the boxes.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/RotatorController.h"
#include "command/RotatorMgr.h"
#include "rotator/Rotator.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/Pty.h"

namespace {

using core_test::LogCapture;
using core_test::ThreadCount;
using testing_support::Pty;
using Lines = std::vector<std::string>;

const char kMissingDevice[] = "/dev/zeva-core-test-no-such-device";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_controller, nullptr);
    baseline = core_test::ThreadBaseline();
  }

  // Configures a Yaesu (model 4) with a poll period long enough to stay
  // quiet during the test, and waits for its "created" line.
  void ConfigureYaesu(const std::string& id, Pty& box) {
    ASSERT_TRUE(box.Ok());
    size_t before = log.CountOut("Status: " + box.SlavePath() + " created");
    registry->Parse("CONFIGURE " + id + " " + box.SlavePath() + " 4 60000");
    ASSERT_EQ(log.CountOut("Status: " + box.SlavePath() + " created"), before + 1)
        << log.Out() << log.Err();
  }
  // Runs one line and returns the log lines it wrote.
  Lines Run(const std::string& line) {
    size_t before = log.OutLines().size();
    registry->Parse(line);
    Lines all = log.OutLines();
    return Lines(all.begin() + static_cast<long>(before), all.end());
  }

  LogCapture log;
  Pty box;
  Pty box2;
  std::unique_ptr<RotatorMgr> registry{new RotatorMgr()};
  int baseline = 0;
};

// --- Failure messages --------------------------------------------------------

struct Failure {
  std::string line;
  std::string message;
};

TEST_F(RegistryTest, EveryFailedCommandLogsOneLineAndChangesNothing) {
  const std::string missing = kMissingDevice;
  const std::vector<Failure> failures = {
      // Wrong token counts.
      {"STOP", "Bad arguments in command: STOP"},
      {"STOP 1 2", "Bad arguments in command: STOP 1 2"},
      {"ROTATE 1", "Bad arguments in command: ROTATE 1"},
      {"ROTATE 1 90 5", "Bad arguments in command: ROTATE 1 90 5"},
      {"CONFIGURE 1 " + missing + " 4",
       "Bad arguments in command: CONFIGURE 1 " + missing + " 4"},
      {"CONFIGURE 1 " + missing + " 4 1000 9",
       "Bad arguments in command: CONFIGURE 1 " + missing + " 4 1000 9"},
      // Two spaces make an empty token, hence one token too many.
      {"STOP  1", "Bad arguments in command: STOP  1"},
      {"ROTATE 1  90", "Bad arguments in command: ROTATE 1  90"},
      {"CONFIGURE 1  " + missing + " 4 1000",
       "Bad arguments in command: CONFIGURE 1  " + missing + " 4 1000"},
      // Nobody by that number.
      {"STOP 1", "Unknown rotator in command: STOP 1"},
      {"ROTATE 1 90", "Unknown rotator in command: ROTATE 1 90"},
      {"ROTATE x 90", "Unknown rotator in command: ROTATE x 90"},
      // Models outside the table; nothing is opened.
      {"CONFIGURE 1 " + missing + " 13 1000", "Unknown rotator type 13"},
      {"CONFIGURE 1 " + missing + " -1 1000", "Unknown rotator type -1"},
      {"CONFIGURE 1 " + missing + " 99999999999 1000",
       "Unknown rotator type 2147483647"},
      // Not a keyword.
      {"rotate 1 90", "Unknown command: rotate 1 90"},
      {"version", "Unknown command: version"},
      {"Stop 1", "Unknown command: Stop 1"},
      {" VERSION", "Unknown command:  VERSION"},
      {" ", "Unknown command:  "},
      {"\nVERSION", "Unknown command: \nVERSION"},
      {"HELLO", "Unknown command: HELLO"},
      {"STOP\t1", "Unknown command: STOP\t1"},
      {" %s%n", "Unknown command:  %s%n"},  // text, never a format
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.line);
    std::string before = log.Out();
    registry->Parse(f.line);
    EXPECT_EQ(log.Out(), before + f.message + "\n");
  }
  EXPECT_EQ(log.Err(), "");
  EXPECT_EQ(registry->Count(), 0u);
  EXPECT_EQ(ThreadCount(), baseline);
}

TEST_F(RegistryTest, EmptyLineAndVersionWithoutControllerLogNothing) {
  registry->Parse("");
  registry->Parse("VERSION");
  registry->Parse("VERSION 1 2 3");
  EXPECT_EQ(log.Out() + log.Err(), "");
}

TEST_F(RegistryTest, ConfigureOfAMissingDeviceRegistersNothing) {
  const std::string missing = kMissingDevice;
  EXPECT_EQ(Run("CONFIGURE 1 " + missing + " 4 1000"), Lines{});
  EXPECT_EQ(registry->Count(), 0u);
  EXPECT_EQ(log.ErrLines(),
            (Lines{"Cannot open " + missing + ": No such file or directory",
                   "Error getting status for " + missing + " " + missing +
                       ": No such file or directory"}));
  EXPECT_EQ(Run("ROTATE 1 90"), Lines{"Unknown rotator in command: ROTATE 1 90"});
  EXPECT_EQ(ThreadCount(), baseline);
}

TEST_F(RegistryTest, ModelsWithoutDriverOpenTheDeviceAndRegisterNothing) {
  ASSERT_TRUE(box.Ok());
  for (int model : {0, 3, 6, 7, 10, 11}) {
    SCOPED_TRACE(model);
    EXPECT_EQ(Run("CONFIGURE 1 " + box.SlavePath() + " " + std::to_string(model) +
                  " 1000"),
              Lines{"Rotor type is not implemented"});
    EXPECT_EQ(registry->Count(), 0u);
  }
  EXPECT_EQ(log.Err(), "");
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
}

// Each driver's line: its speed, eight data bits, one stop bit, no parity,
// raw.
TEST_F(RegistryTest, EveryDriverModelIsRegisteredWithItsLineSettings) {
  struct Model {
    int number;
    speed_t speed;
  };
  const Model models[] = {{1, B4800}, {2, B4800}, {4, B9600}, {5, B1200},
                          {8, B9600}, {9, B9600}, {12, B9600}};
  std::vector<std::unique_ptr<Pty>> boxes;
  size_t expected = 0;
  for (const Model& m : models) {
    SCOPED_TRACE(m.number);
    boxes.emplace_back(new Pty());
    Pty& b = *boxes.back();
    ASSERT_TRUE(b.Ok());
    registry->Parse("CONFIGURE " + std::to_string(m.number) + " " + b.SlavePath() +
                    " " + std::to_string(m.number) + " 60000");
    ASSERT_EQ(registry->Count(), ++expected);
    EXPECT_EQ(log.CountOut("Status: " + b.SlavePath() + " created"), 1u);
    struct termios t;
    ASSERT_TRUE(b.SlaveSettings(&t));
    EXPECT_EQ(cfgetospeed(&t), m.speed);
    EXPECT_EQ(cfgetispeed(&t), m.speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB), tcflag_t(CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
  }
  registry->Cleanup();
  EXPECT_EQ(registry->Count(), 0u);
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  EXPECT_EQ(RotatorMgr::Create(-1), nullptr);
  EXPECT_EQ(RotatorMgr::Create(13), nullptr);
}

// --- Commands reaching rotators ------------------------------------------------

// A rotator configured under `id`; each command, the status line it logs and
// the bytes the box then receives.
struct Step {
  std::string line;
  std::string status;
  std::string sent;
};

TEST_F(RegistryTest, CommandsReachTheRotatorByNumber) {
  const struct {
    std::string id;
    std::vector<Step> steps;
  } cases[] = {
      {"1",
       {// A single trailing space is harmless.
        {"ROTATE 1 90 ", "rotate to 90", "M090\r"},
        {"STOP 1 ", "stop", "S\r"},
        // The bearing is read like atoi and passed on unchanged.
        {"ROTATE 1 725", "rotate to 725", "M725\r"},
        {"ROTATE 1 north", "rotate to 0", "M000\r"}}},
      // A non-numeric rotator number means rotator 0.
      {"abc",
       {{"ROTATE 0 45", "rotate to 45", "M045\r"},
        {"ROTATE xyz 46", "rotate to 46", "M046\r"},
        {"STOP -", "stop", "S\r"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("CONFIGURE " + c.id);
    Pty b;
    ConfigureYaesu(c.id, b);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.line);
      EXPECT_EQ(Run(step.line), Lines{"Status: " + b.SlavePath() + " " + step.status});
      EXPECT_EQ(b.ReadUntil(step.sent, 2000), step.sent);
    }
    registry->Cleanup();
  }
  ASSERT_TRUE(box2.Ok());
  EXPECT_EQ(Run("CONFIGURE 2 " + box2.SlavePath() + " 4 60000 "),
            Lines{"Status: " + box2.SlavePath() + " created"});
  EXPECT_EQ(registry->Count(), 1u);
}

TEST_F(RegistryTest, ReusedNumberAddsASecondRotatorThatCommandsNeverReach) {
  ConfigureYaesu("5", box);
  ConfigureYaesu("5", box2);
  EXPECT_EQ(registry->Count(), 2u);
  EXPECT_EQ(Run("ROTATE 5 90"), Lines{"Status: " + box.SlavePath() + " rotate to 90"});
  EXPECT_EQ(Run("STOP 5"), Lines{"Status: " + box.SlavePath() + " stop"});
  EXPECT_EQ(box.ReadUntil("S\r", 2000), "M090\rS\r");
  EXPECT_EQ(box2.Read(200), "");
}

TEST_F(RegistryTest, CleanupDestroysEveryRotator) {
  // RC2800 PA boxes (model 8) are told "N\r" when their rotator goes.
  ASSERT_TRUE(box.Ok() && box2.Ok());
  registry->Parse("CONFIGURE 1 " + box.SlavePath() + " 8 1000");
  registry->Parse("CONFIGURE 2 " + box2.SlavePath() + " 8 1000");
  ASSERT_EQ(registry->Count(), 2u);
  box.Drain();
  box2.Drain();
  registry->Cleanup();
  EXPECT_EQ(registry->Count(), 0u);
  EXPECT_EQ(box.Read(1000, 2), "N\r");
  EXPECT_EQ(box2.Read(1000, 2), "N\r");
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  EXPECT_EQ(Run("STOP 1"), Lines{"Unknown rotator in command: STOP 1"});

  // The registry's destructor does the same for what is left.
  registry->Parse("CONFIGURE 1 " + box.SlavePath() + " 8 1000");
  ASSERT_EQ(registry->Count(), 1u);
  box.Drain();
  registry.reset();
  EXPECT_EQ(box.Read(1000, 2), "N\r");
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
}

}  // namespace
