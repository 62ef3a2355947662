// The rotctld bridge end to end: Debian's rotctl (Hamlib's "NET rotctl",
// model 2) and raw rotctld-protocol clients turn emulated boxes through
// zeva-rotctl-bridge and the real daemon, and read their positions back.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/bridge/RotctlClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Daemon.h"
#include "tests/support/TcpClient.h"

#ifndef ZEVA_BRIDGE_PATH
#error "ZEVA_BRIDGE_PATH must name the zeva-rotctl-bridge binary"
#endif
#ifndef ZEVA_BOXSIM_PATH
#error "ZEVA_BOXSIM_PATH must name the zeva-boxsim binary"
#endif

using bridge_test::RotctlClient;
using testing_support::ChildProcess;
using testing_support::Daemon;
using testing_support::PortIsFree;

namespace {

using Clock = std::chrono::steady_clock;

// The emulated Yaesu box turns at 30 degrees a second, so any turn in these
// tests ends within about 12 s; the limits leave room for a loaded machine.
constexpr int kTurnTimeoutMs = 40000;

// Rotator 1: a Yaesu box polled every 200 ms on the first rotctld port.
// Rotator 2: a DCU-1 box (no position feedback) on the port two above.
class BridgeE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree()) << "TCP port 13020 is in use by another process";
    port = bridge_test::FreePortPair();
    ASSERT_NE(port, 0) << "no free loopback port pair for the bridge";

    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
    yaesuPath = StartBox(yaesuBox, "yaesu");
    dcuPath = StartBox(dcuBox, "dcu1");
    ASSERT_FALSE(yaesuPath.empty());
    ASSERT_FALSE(dcuPath.empty());

    ASSERT_TRUE(bridge.Start({ZEVA_BRIDGE_PATH, "--verbose", "--base-port", std::to_string(port),
                              "--rotator", "1:" + yaesuPath + ":yaesu:200", "--rotator",
                              "2:" + dcuPath + ":dcu1:0"}));
    ASSERT_TRUE(daemon.WaitForStdout("Status: " + yaesuPath + " created", 10000))
        << "bridge log:\n" << bridge.Stderr() << "daemon log:\n" << daemon.Stdout();
    ASSERT_TRUE(daemon.WaitForStdout("Status: " + dcuPath + " created", 10000));
  }

  void TearDown() override {
    if (bridge.Running()) {
      bridge.Signal(SIGTERM);
      bridge.Wait(5000);
    }
    for (ChildProcess* box : {&yaesuBox, &dcuBox}) {
      if (box->Running()) {
        box->Signal(SIGTERM);
        box->Wait(5000);
      }
    }
    daemon.Signal(SIGTERM);
    daemon.Wait(5000);
  }

  static std::string StartBox(ChildProcess& box, const std::string& model) {
    if (!box.Start({ZEVA_BOXSIM_PATH, "--model", model, "--speed", "30", "--log"})) return "";
    return box.FirstStdoutLine(5000);
  }

  // rotctl as a user runs it against the first port; fails the test with a
  // clear message when Hamlib's utilities are not installed.
  std::string Rotctl(const std::vector<std::string>& command, int* status = nullptr) {
    std::string rotctl = ChildProcess::FindInPath("rotctl");
    if (rotctl.empty()) {
      ADD_FAILURE() << "rotctl not found in PATH: install Debian's libhamlib-utils "
                       "(apt-get install libhamlib-utils) to run the bridge's end-to-end tests";
      if (status != nullptr) *status = -1;
      return "";
    }
    std::vector<std::string> argv = {rotctl, "-m", "2", "-r", "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), command.begin(), command.end());
    std::string output;
    int result = ChildProcess::Run(argv, 20000, output);
    if (status != nullptr) *status = result;
    return output;
  }

  // Polls "rotctl p" until the azimuth is within a degree of `target`.
  // Returns the last rotctl output.
  std::string RotctlWaitForAzimuth(double target, bool& reached) {
    auto deadline = Clock::now() + std::chrono::milliseconds(kTurnTimeoutMs);
    std::string output;
    reached = false;
    while (Clock::now() < deadline) {
      int status = 0;
      output = Rotctl({"p"}, &status);
      if (status == -1 && output.empty()) return output;  // no rotctl
      std::istringstream lines(output);
      double azimuth = -1, elevation = -1;
      if (status == 0 && (lines >> azimuth >> elevation) && std::abs(azimuth - target) <= 1.0) {
        EXPECT_EQ(elevation, 0.0) << output;
        reached = true;
        return output;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return output;
  }

  // The same over a raw connection: asks "p" until the azimuth line reads
  // `expected` exactly.
  bool WaitForAzimuth(RotctlClient& client, const std::string& expected) {
    auto deadline = Clock::now() + std::chrono::milliseconds(kTurnTimeoutMs);
    while (Clock::now() < deadline) {
      if (client.Ask("p", 2) == expected + "\n0.000000\n") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  int port = 0;
  Daemon daemon;
  ChildProcess yaesuBox, dcuBox, bridge;
  std::string yaesuPath, dcuPath;
};

TEST_F(BridgeE2eTest, RotctlTurnsTheBoxAndReadsItsPositionBack) {
  int status = 0;
  std::string output = Rotctl({"P", "40", "0"}, &status);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output.find("error"), std::string::npos) << output;
  EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " rotate to 40", 5000)) << daemon.Stdout();

  EXPECT_TRUE(yaesuBox.WaitForStderr("M040", 5000)) << yaesuBox.Stderr();

  bool reached = false;
  output = RotctlWaitForAzimuth(40, reached);
  EXPECT_TRUE(reached) << "last rotctl output:\n" << output << "bridge log:\n" << bridge.Stderr();
}

TEST_F(BridgeE2eTest, PositionRequestsCauseNoSerialTraffic) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  ASSERT_TRUE(WaitForAzimuth(client, "0.000000"));
  // The box sees the daemon's polls ("C" CR every 200 ms) and nothing more,
  // however often the clients ask.
  const std::string poll = "C\\r";
  size_t before = yaesuBox.CountStderr(poll);
  auto start = Clock::now();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(client.Ask("p", 2), "0.000000\n0.000000\n");
  auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  size_t polls = yaesuBox.CountStderr(poll) - before;
  EXPECT_LE(polls, static_cast<size_t>(elapsedMs / 200 + 5)) << elapsedMs << " ms";
  EXPECT_LT(polls, 100u);
  EXPECT_GT(yaesuBox.CountStderr(poll), 0u) << "the box log shows no polls at all";
}

TEST_F(BridgeE2eTest, RotctlElevationIsAcceptedAndIgnored) {
  int status = 0;
  std::string output = Rotctl({"P", "100.4", "35"}, &status);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output.find("error"), std::string::npos) << output;
  // Rounded to whole degrees; no elevation command reaches the box.
  EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " rotate to 100", 5000)) << daemon.Stdout();
  bool reached = false;
  output = RotctlWaitForAzimuth(100, reached);
  EXPECT_TRUE(reached) << output;
  EXPECT_EQ(yaesuBox.Stderr().find("W100"), std::string::npos);
}

TEST_F(BridgeE2eTest, RotctlGetsInfoAndFeatureNotAvailableForParkAndReset) {
  std::string info = Rotctl({"_"});
  EXPECT_NE(info.find("ZEVA Yaesu GS-232 rotator 1 on " + yaesuPath), std::string::npos) << info;
  EXPECT_NE(Rotctl({"K"}).find("Feature not available"), std::string::npos);
  EXPECT_NE(Rotctl({"R", "1"}).find("Feature not available"), std::string::npos);
  int status = 0;
  std::string stop = Rotctl({"S"}, &status);
  EXPECT_EQ(status, 0) << stop;
  EXPECT_TRUE(daemon.WaitForStdout("Status: " + yaesuPath + " stop", 5000));
}

TEST_F(BridgeE2eTest, DefaultAndExtendedAnswersFollowRotctld) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("\\set_pos 45 0", 1), "RPRT 0\n");
  ASSERT_TRUE(WaitForAzimuth(client, "45.000000")) << bridge.Stderr();

  EXPECT_EQ(client.Ask("+p", 4), "get_pos:\nAzimuth: 45.000000\nElevation: 0.000000\nRPRT 0\n");
  EXPECT_EQ(client.Ask(";\\get_pos", 1), "get_pos:;Azimuth: 45.000000;Elevation: 0.000000;RPRT 0\n");
  EXPECT_EQ(client.Ask("|P 45 10", 1), "set_pos: 45 10|RPRT 0\n");
  EXPECT_EQ(client.Ask("+S", 2), "stop:\nRPRT 0\n");
  EXPECT_EQ(client.Ask("+_", 3), "get_info:\nInfo: ZEVA Yaesu GS-232 rotator 1 on " + yaesuPath +
                                     "\nRPRT 0\n");
  EXPECT_EQ(client.Ask("\\dump_state", 9),
            "1\n2\nmin_az=0.000000\nmax_az=360.000000\nmin_el=0.000000\nmax_el=90.000000\n"
            "south_zero=0\nrot_type=Az\ndone\n");
  std::string caps = client.Ask("1", 19);
  EXPECT_NE(caps.find("Can get Position:\tY\n"), std::string::npos) << caps;
  EXPECT_NE(caps.find("Can Park:\t\tN\n"), std::string::npos) << caps;
  EXPECT_EQ(caps.substr(caps.size() - 7), "RPRT 0\n") << caps;
  // Two commands on one line, answered in order.
  EXPECT_EQ(client.Ask("S p", 3), "RPRT 0\n45.000000\n0.000000\n");
}

TEST_F(BridgeE2eTest, RefusedAndMalformedCommandsGetErrorCodes) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("K", 1), "RPRT -11\n");
  EXPECT_EQ(client.Ask("M 8 50", 1), "RPRT -11\n");
  EXPECT_EQ(client.Ask("R 1", 1), "RPRT -11\n");
  EXPECT_EQ(client.Ask("w AZ", 1), "RPRT -11\n");
  EXPECT_EQ(client.Ask("\\no_such_command 1 2", 1), "RPRT -11\n");
  EXPECT_EQ(client.Ask("+K", 2), "park:\nRPRT -11\n");
  EXPECT_EQ(client.Ask("P north 0", 1), "RPRT -1\n");
  EXPECT_EQ(client.Ask("P 10", 1), "RPRT -1\n");
  EXPECT_EQ(client.Ask("P nan 0", 1), "RPRT -1\n");
  // None of it reached the daemon as a turn.
  EXPECT_EQ(daemon.Stdout().find(" rotate to "), std::string::npos) << daemon.Stdout();
  // The connection is still good.
  EXPECT_EQ(client.Ask("P 20 0", 1), "RPRT 0\n");
}

TEST_F(BridgeE2eTest, AzimuthIsWrappedIntoWholeDegrees) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("P -90 0", 1), "RPRT 0\n");
  EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " rotate to 270", 5000)) << daemon.Stdout();
  EXPECT_EQ(client.Ask("P 359.6 0", 1), "RPRT 0\n");
  EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " rotate to 0", 5000)) << daemon.Stdout();
}

TEST_F(BridgeE2eTest, SeveralClientsShareOnePort) {
  RotctlClient first, second;
  ASSERT_TRUE(first.Connect(port));
  ASSERT_TRUE(second.Connect(port));
  EXPECT_EQ(first.Ask("P 60 0", 1), "RPRT 0\n");
  ASSERT_TRUE(WaitForAzimuth(second, "60.000000"));
  // One leaves with q; the bridge closes it and the other goes on.
  ASSERT_TRUE(first.Send("q\n"));
  EXPECT_TRUE(first.WaitClosed(5000));
  EXPECT_EQ(second.Ask("P 30 0", 1), "RPRT 0\n");
  EXPECT_TRUE(WaitForAzimuth(second, "30.000000"));
}

TEST_F(BridgeE2eTest, RotatorWithoutFeedbackTurnsButHasNoPosition) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port + 2));
  EXPECT_EQ(client.Ask("p", 1), "RPRT -11\n");  // as rotctld answers for a DCU-1
  EXPECT_EQ(client.Ask("P 90 0", 1), "RPRT 0\n");
  EXPECT_TRUE(dcuBox.WaitForStderr("AP1090;", 5000)) << dcuBox.Stderr();
  std::string caps = client.Ask("1", 19);
  EXPECT_NE(caps.find("Can get Position:\tN\n"), std::string::npos) << caps;
  // Rotator 1's port is not affected.
  RotctlClient yaesu;
  ASSERT_TRUE(yaesu.Connect(port));
  EXPECT_TRUE(WaitForAzimuth(yaesu, "0.000000"));
}

TEST_F(BridgeE2eTest, DaemonRestartIsFollowedByReconnectAndReconfigure) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("P 20 0", 1), "RPRT 0\n");
  ASSERT_TRUE(WaitForAzimuth(client, "20.000000"));

  ASSERT_TRUE(daemon.Signal(SIGTERM));
  ASSERT_EQ(daemon.Wait(5000), 0);
  ASSERT_TRUE(bridge.WaitForStderr("lost the daemon", 5000)) << bridge.Stderr();
  // While the daemon is away a turn cannot be sent (Hamlib's IO error), and
  // the last known position is still reported.
  EXPECT_EQ(client.Ask("P 10 0", 1), "RPRT -6\n");
  EXPECT_EQ(client.Ask("p", 2), "20.000000\n0.000000\n");

  Daemon restarted;
  ASSERT_TRUE(restarted.Start()) << restarted.Stderr();
  ASSERT_TRUE(restarted.WaitForStdout("Status: " + yaesuPath + " created", 15000))
      << "bridge log:\n" << bridge.Stderr();
  ASSERT_TRUE(restarted.WaitForStdout("Status: " + dcuPath + " created", 5000));
  EXPECT_EQ(bridge.CountStderr("rotator 1: configured"), 2u) << bridge.Stderr();

  // The same client connection drives the rotator again.
  EXPECT_EQ(client.Ask("P 200 0", 1), "RPRT 0\n");
  EXPECT_TRUE(WaitForAzimuth(client, "200.000000")) << bridge.Stderr();
  restarted.Signal(SIGTERM);
  EXPECT_EQ(restarted.Wait(5000), 0);
}

TEST_F(BridgeE2eTest, WithoutDaemonPositionRequestWaitsThenTimesOut) {
  // A second bridge whose daemon port nobody listens on: nothing is known of
  // its rotator, so get_pos waits for a first position and then gives up
  // with Hamlib's time-out; a turn cannot be sent at all (IO error).
  int otherPort = bridge_test::FreePortPair();
  int noDaemonPort = bridge_test::FreePortPair();
  ASSERT_NE(otherPort, 0);
  ASSERT_NE(noDaemonPort, 0);
  ChildProcess lonely;
  ASSERT_TRUE(lonely.Start({ZEVA_BRIDGE_PATH, "--port", std::to_string(noDaemonPort),
                            "--base-port", std::to_string(otherPort), "--rotator",
                            "1:" + yaesuPath + ":yaesu:200"}));
  RotctlClient client;
  ASSERT_TRUE(client.Connect(otherPort));
  auto asked = Clock::now();
  EXPECT_EQ(client.Ask("p", 1, 15000), "RPRT -5\n");
  auto waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
  EXPECT_GE(waitedMs.count(), 1500);
  EXPECT_EQ(client.Ask("P 10 0", 1), "RPRT -6\n");
  EXPECT_EQ(client.Ask("S", 1), "RPRT -6\n");
  EXPECT_TRUE(lonely.WaitForStderr("cannot connect to the daemon", 5000)) << lonely.Stderr();
  ASSERT_TRUE(lonely.Signal(SIGTERM));
  EXPECT_EQ(lonely.Wait(5000), 0);
}

TEST_F(BridgeE2eTest, BridgeStopsOnSigtermAndTheDaemonForgetsItsRotators) {
  ASSERT_TRUE(bridge.Signal(SIGTERM));
  EXPECT_EQ(bridge.Wait(5000), 0);
  EXPECT_TRUE(daemon.WaitForStdout("Lost client connection", 5000)) << daemon.Stdout();
}

}  // namespace
