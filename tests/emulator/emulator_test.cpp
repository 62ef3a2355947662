// The zeva-rotator binary against zeva-boxsim boxes: a turn and a stop
// through the whole chain, and boxes that send noise, say nothing, write a
// byte at a time or are unplugged, then a new box. Each run ends with
// SIGTERM, which must end the daemon with status 0 within 2 s.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TcpClient.h"
#include "tests/support/Time.h"

namespace {

using namespace testing_support;

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000)) << "port 13020 is in use";
    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
    ASSERT_TRUE(client.Connect());
  }
  void TearDown() override {
    ASSERT_TRUE(daemon.Signal(SIGTERM));
    EXPECT_EQ(daemon.Wait(2000), 0) << "no exit with status 0 within 2 s of SIGTERM";
    for (size_t i = 0; HasFailure() && i <= boxes.size(); ++i)
      std::cout << (i ? boxes[i - 1]->Stderr() : daemon.Stdout() + daemon.Stderr()) << "---\n";
  }

  // Starts zeva-boxsim and configures rotator `id` on its device.
  ChildProcess& StartBox(int id, const std::string& model, int number,
                         std::vector<std::string> options) {
    options.insert(options.begin(), {ZEVA_BOXSIM_PATH, "--model", model, "-v"});
    boxes.emplace_back(new ChildProcess());
    ChildProcess& box = *boxes.back();
    EXPECT_TRUE(box.Start(options, ChildProcess::Descriptors::kStdioOnly));
    const std::string device = box.FirstStdoutLine(5000);
    EXPECT_TRUE(client.Command("CONFIGURE " + std::to_string(id) + " " + device + " " +
                               std::to_string(number) + " 100"));
    EXPECT_TRUE(daemon.WaitForStdout("Status: " + device + " created", 5000)) << device;
    return box;
  }

  // The bearings reported for rotator `id` until `target` (-1: none) or the
  // time is up.
  std::vector<int> Bearings(int id, int target, int timeoutMs) {
    std::vector<int> seen;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen.empty() || seen.back() != target) {
      std::string line = client.ReadLine(MsLeft(deadline));
      if (line.empty()) break;
      EXPECT_EQ(line.size(), 5u) << "not a direction line: " << line;
      if (atoi(line.c_str()) == id) seen.push_back(atoi(line.c_str() + 2));
    }
    return seen;
  }

  Daemon daemon;
  TcpClient client;
  std::vector<std::unique_ptr<ChildProcess>> boxes;
};

TEST_F(EmulatorTest, TurnsToTheTargetReportingOnTheWayAndStopsWhereTold) {
  ChildProcess& box = StartBox(3, "yaesu", 4, {"--speed", "40", "--start", "20"});
  EXPECT_EQ(Bearings(3, 20, 3000), std::vector<int>{20});
  ASSERT_TRUE(client.Command("ROTATE 3 60"));
  std::vector<int> seen = Bearings(3, 60, 5000);
  ASSERT_TRUE(!seen.empty() && seen.back() == 60);
  EXPECT_GE(seen.size(), 3u) << "bearings on the way";
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) && seen.front() >= 20) << "climbs from 20";
  ASSERT_TRUE(client.Command("ROTATE 3 300"));
  Bearings(3, -1, 500);
  ASSERT_TRUE(client.Command("STOP 3"));
  ASSERT_TRUE(box.WaitForStderr("azimuth stopped at ", 3000));
  const std::string log = box.Stderr();
  const int stoppedAt = atoi(log.c_str() + log.rfind("stopped at ") + 11);
  EXPECT_GT(stoppedAt, 60);
  EXPECT_LT(stoppedAt, 300);
  seen = Bearings(3, stoppedAt, 3000);
  EXPECT_TRUE(seen.empty() || seen.back() == stoppedAt);
  EXPECT_EQ(Bearings(3, -1, 500), std::vector<int>{}) << "nothing after the stop";
}

TEST_F(EmulatorTest, NoiseIsReportedAndTheTargetStillArrives) {
  StartBox(1, "spid", 5, {"--speed", "40", "--start", "40", "--garbage", "5"});
  StartBox(2, "yaesu", 4, {"--speed", "40", "--start", "40", "--garbage", "3"});
  ASSERT_TRUE(client.Command("ROTATE 1 60"));
  ASSERT_TRUE(client.Command("ROTATE 2 60"));
  std::vector<int> seen = Bearings(1, 60, 8000);
  EXPECT_TRUE(!seen.empty() && seen.back() == 60);
  EXPECT_TRUE(daemon.WaitForStdout("Status: Bad response", 1000));
  EXPECT_EQ(Count(daemon.Stderr(), "Bad response"), 2u) << "once per rotator";
}

TEST_F(EmulatorTest, SilentOrVanishedBoxLeavesTheDaemonServing) {
  ChildProcess& silent = StartBox(1, "yaesu", 4, {"--silent"});
  ChildProcess& gone = StartBox(2, "rc2800px", 9, {"--start", "40", "--vanish-after", "1"});
  EXPECT_TRUE(silent.WaitForStderr("silent, not sent", 3000));
  EXPECT_EQ(Bearings(2, 40, 3000), std::vector<int>{40});
  EXPECT_TRUE(daemon.WaitForStderr("Read from serial port failed", 5000));
  EXPECT_EQ(gone.Wait(3000), 0);
  StartBox(3, "yaesu", 4, {"--start", "100", "--split"});  // each byte written alone
  EXPECT_EQ(Bearings(3, 100, 3000), std::vector<int>{100});
  EXPECT_EQ(Count(daemon.Stderr(), "Read from serial port failed"), 1u);
  EXPECT_EQ(Count(daemon.Stderr(), "Bad response"), 0u);
}

}  // namespace
