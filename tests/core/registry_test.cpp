// The command language and the registry, through RotatorMgr::Parse with
// ptys as the boxes: log lines and the bytes the drivers write are seen.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "command/RotatorMgr.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"

namespace {

using testing_support::Pty;
using Lines = std::vector<std::string>;

class RegistryTest : public ::testing::Test {
 protected:
  // Runs one line and returns the log lines it wrote.
  Lines Run(const std::string& line) {
    log.NewOut();
    registry->Parse(line);
    return log.Lines(log.NewOut());
  }
  void Configure(const std::string& id, const Pty& b, int model = 4) {
    EXPECT_EQ(Run("CONFIGURE " + id + " " + b.SlavePath() + " " +
                  std::to_string(model) + " 60000"),
              Lines{"Status: " + b.SlavePath() + " created"});
  }

  testing_support::LogCapture log;
  Pty box, box2;
  std::unique_ptr<RotatorMgr> registry{new RotatorMgr()};
};

TEST_F(RegistryTest, EveryFailedCommandLogsOneLineAndChangesNothing) {
  const std::string dev = " /dev/zeva-test-no-such-device";
  const std::vector<std::pair<std::string, std::string>> failures = {
      {"STOP", "Bad arguments in command: STOP"},
      {"STOP 1 2", "Bad arguments in command: STOP 1 2"},
      {"ROTATE 1", "Bad arguments in command: ROTATE 1"},
      {"ROTATE 1  90", "Bad arguments in command: ROTATE 1  90"},
      {"CONFIGURE 1" + dev + " 4", "Bad arguments in command: CONFIGURE 1" + dev + " 4"},
      {"CONFIGURE 1" + dev + " 4 1 9", "Bad arguments in command: CONFIGURE 1" + dev + " 4 1 9"},
      {"STOP 1", "Unknown rotator in command: STOP 1"},
      {"ROTATE x 90", "Unknown rotator in command: ROTATE x 90"},
      {"CONFIGURE 1" + dev + " 13 1000", "Unknown rotator type 13"},
      {"CONFIGURE 1" + dev + " 99999999999 0", "Unknown rotator type 2147483647"},
      {"version", "Unknown command: version"},
      {" VERSION", "Unknown command:  VERSION"},
      {"STOP\t1", "Unknown command: STOP\t1"},
      {" %s%n", "Unknown command:  %s%n"}};  // text, never a format
  for (const auto& f : failures) EXPECT_EQ(Run(f.first), Lines{f.second});
  EXPECT_EQ(Run(""), Lines{});
  EXPECT_EQ(Run("VERSION 1 2"), Lines{});  // answered only through a controller
  EXPECT_EQ(log.Err(), "");
  EXPECT_EQ(Run("CONFIGURE 1" + dev + " 4 1000"), Lines{});  // the link reports
  for (const char* model : {"0", "3", "6", "7", "10", "11"})
    EXPECT_EQ(Run("CONFIGURE 1 " + box.SlavePath() + " " + model + " 1000"),
              Lines{"Rotor type is not implemented"});
  EXPECT_EQ(registry->Count(), 0u);
}

TEST_F(RegistryTest, CommandsReachTheFirstRotatorOfTheirNumber) {
  Configure("abc", box);  // a number read like atoi: rotator 0
  Configure("0", box2);   // the same number again: commands never reach it
  const std::string on = "Status: " + box.SlavePath();
  EXPECT_EQ(Run("ROTATE 0 90 "), Lines{on + " rotate to 90"});  // a final blank is harmless
  EXPECT_EQ(Run("ROTATE xyz north"), Lines{on + " rotate to 0"});
  EXPECT_EQ(Run("ROTATE -0 725"), Lines{on + " rotate to 725"});
  EXPECT_EQ(Run("STOP 0"), Lines{on + " stop"});
  EXPECT_EQ(box.Read(2000, 17), "M090\rM000\rM725\rS\r");
  EXPECT_EQ(box2.Read(100), "");
  EXPECT_EQ(Run("ROTATE 1 90"), Lines{"Unknown rotator in command: ROTATE 1 90"});
}

TEST_F(RegistryTest, CleanupAndDestructionDestroyEveryRotator) {
  // RC2800 PA boxes (model 8) are told "N\r" when their rotator goes.
  Configure("1", box, 8);
  Configure("2", box2, 8);
  EXPECT_EQ(box.Read(2000, 2) + box2.Read(2000, 2), "U\rU\r");
  EXPECT_EQ(Run("STOP 2"), Lines{"Status: " + box2.SlavePath() + " stop"});
  EXPECT_EQ(box2.Read(2000, 2), "S\r");
  registry->Cleanup();
  EXPECT_EQ(registry->Count(), 0u);
  EXPECT_EQ(box.Read(2000, 2) + box2.Read(2000, 2), "N\rN\r");
  EXPECT_EQ(Run("STOP 1"), Lines{"Unknown rotator in command: STOP 1"});
  Configure("1", box, 8);
  EXPECT_EQ(box.Read(2000, 2), "U\r");
  registry.reset();
  EXPECT_EQ(box.Read(2000, 2), "N\r");
}

}  // namespace
