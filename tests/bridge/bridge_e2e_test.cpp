// The rotctld bridge end to end: Debian's rotctl (Hamlib's "NET rotctl",
// model 2) and raw rotctld-protocol clients turn emulated boxes through
// zeva-rotctl-bridge and the real daemon, and read their positions back,
// while boxes are unplugged, the daemon link drops and clients flood.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
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

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits until `text` occurs `count` times in the process's standard output.
bool WaitForCount(const ChildProcess& process, const std::string& text, size_t count,
                  int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (process.CountStdout(text) < count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The process's open descriptors, or -1 where /proc does not list them.
int Descriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

// Rotator 1: a Yaesu box polled every 200 ms on the first rotctld port.
// Rotator 2: a DCU-1 box (no position feedback) on the port two above. The
// bridge knows each box by a stable symbolic link, as /dev/serial/by-id.
class BridgeE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree()) << "TCP port 13020 is in use by another process";
    port = bridge_test::FreePortPair();
    ASSERT_NE(port, 0) << "no free loopback port pair for the bridge";
    char dirTemplate[] = "/tmp/zeva-bridge-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir = dirTemplate;
    yaesuPath = dir + "/yaesu";
    dcuPath = dir + "/dcu";

    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
    ASSERT_TRUE(StartBox(yaesuBox, "yaesu", yaesuPath));
    ASSERT_TRUE(StartBox(dcuBox, "dcu1", dcuPath));
    ASSERT_TRUE(bridge.Start({ZEVA_BRIDGE_PATH, "--verbose", "--base-port", std::to_string(port),
                              "--rotator", "1:" + yaesuPath + ":yaesu:200", "--rotator",
                              "2:" + dcuPath + ":dcu1:0"}));
    ASSERT_TRUE(daemon.WaitForStdout("Status: " + yaesuPath + " created", 10000))
        << "bridge log:\n" << bridge.Stderr() << "daemon log:\n" << daemon.Stdout();
    ASSERT_TRUE(daemon.WaitForStdout("Status: " + dcuPath + " created", 10000));
  }

  void TearDown() override {
    for (ChildProcess* process : {&bridge, &yaesuBox, &dcuBox, &static_cast<ChildProcess&>(daemon)}) {
      if (process->Running()) process->Stop(5000);
    }
    unlink(yaesuPath.c_str());
    unlink(dcuPath.c_str());
    rmdir(dir.c_str());
  }

  static bool StartBox(ChildProcess& box, const std::string& model, const std::string& link) {
    return box.Start({ZEVA_BOXSIM_PATH, "--model", model, "--speed", "30", "--log", "--link", link}) &&
           !box.FirstStdoutLine(5000).empty();
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
  bool RotctlWaitForAzimuth(double target, std::string& output) {
    auto deadline = Clock::now() + std::chrono::milliseconds(kTurnTimeoutMs);
    while (Clock::now() < deadline) {
      int status = 0;
      output = Rotctl({"p"}, &status);
      if (status == -1 && output.empty()) return false;  // no rotctl
      std::istringstream lines(output);
      double azimuth = -1, elevation = -1;
      if (status == 0 && (lines >> azimuth >> elevation) && std::abs(azimuth - target) <= 1.0) {
        EXPECT_EQ(elevation, 0.0) << output;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return false;
  }

  // The same over a raw connection: asks "p" until the azimuth line reads
  // `expected` exactly.
  bool WaitForAzimuth(RotctlClient& client, const std::string& expected) {
    auto deadline = Clock::now() + std::chrono::milliseconds(kTurnTimeoutMs);
    while (Clock::now() < deadline) {
      if (client.Ask("p", 2) == expected + "\n0.00\n") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  int port = 0;
  Daemon daemon;
  ChildProcess yaesuBox, dcuBox, bridge;
  std::string dir, yaesuPath, dcuPath;
};

TEST_F(BridgeE2eTest, RotctlTurnsTheBoxAndReadsItsPositionBack) {
  int status = 0;
  std::string output = Rotctl({"P", "100.4", "35"}, &status);
  ASSERT_EQ(status, 0) << output;
  // Rounded to whole degrees; no elevation command reaches the box.
  EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " rotate to 100\n", 5000)) << daemon.Stdout();
  EXPECT_TRUE(yaesuBox.WaitForStderr("M100", 5000)) << yaesuBox.Stderr();
  EXPECT_TRUE(RotctlWaitForAzimuth(100, output)) << output << "bridge log:\n" << bridge.Stderr();
  EXPECT_EQ(yaesuBox.Stderr().find("W100"), std::string::npos);
}

TEST_F(BridgeE2eTest, PositionRequestsCauseNoSerialTraffic) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  ASSERT_TRUE(WaitForAzimuth(client, "0.00"));
  // The box sees the daemon's polls ("C" CR every 200 ms) and nothing more,
  // however often the clients ask.
  const std::string poll = "C\\r";
  size_t before = yaesuBox.CountStderr(poll);
  auto start = Clock::now();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(client.Ask("p", 2), "0.00\n0.00\n");
  size_t polls = yaesuBox.CountStderr(poll) - before;
  EXPECT_LE(polls, static_cast<size_t>(MsSince(start) / 200 + 5));
  EXPECT_LT(polls, 100u);
  EXPECT_GT(yaesuBox.CountStderr(poll), 0u) << "the box log shows no polls at all";
}

TEST_F(BridgeE2eTest, TargetsBecomeWholeDegreesInTheRangeAndRepeatsAreSentOnce) {
  // The answers themselves are compared with rotctld's in bridge_rotctld_test.
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("p S", 3, 3000), "0.00\n0.00\nRPRT 0\n");  // two commands on one line
  // Azimuths are brought into 0..360 and rounded; a tracker's repeated
  // target is sent once, again only after a stop.
  const std::pair<const char*, const char*> turns[] = {
      {"P -90 0", "rotate to 270\n"}, {"P 359.6 0", "rotate to 360\n"},
      {"P 30 0", "rotate to 30\n"},   {"P 30.4 95", "rotate to 30\n"},
      {"S", "stop\n"},                {"P 30 0", "rotate to 30\n"}};
  for (const auto& turn : turns) {
    EXPECT_EQ(client.Ask(turn.first, 1), "RPRT 0\n") << turn.first;
    EXPECT_TRUE(daemon.WaitForStdout(yaesuPath + " " + turn.second, 5000)) << turn.first;
  }
  EXPECT_TRUE(WaitForCount(daemon, yaesuPath + " rotate to 30\n", 2, 5000));
  EXPECT_EQ(daemon.CountStdout(yaesuPath + " rotate to 30\n"), 2u) << daemon.Stdout();
  EXPECT_TRUE(yaesuBox.WaitForStderr("M360", 5000)) << yaesuBox.Stderr();
}

TEST_F(BridgeE2eTest, SeveralClientsShareOnePortAndTheIdlestMakesRoom) {
  RotctlClient first, second;
  ASSERT_TRUE(first.Connect(port));
  ASSERT_TRUE(second.Connect(port));
  EXPECT_EQ(first.Ask("P 60 0", 1), "RPRT 0\n");
  ASSERT_TRUE(WaitForAzimuth(second, "60.00"));
  // One leaves with q; the bridge closes it and the other goes on.
  ASSERT_TRUE(first.Send("q\n"));
  EXPECT_TRUE(first.WaitClosed(5000));
  // A full port (32 clients) takes a newcomer and closes the idlest client.
  std::vector<std::unique_ptr<RotctlClient>> others(31);
  for (auto& other : others) {
    other = std::make_unique<RotctlClient>();
    ASSERT_TRUE(other->Connect(port));
    ASSERT_EQ(other->Ask("S", 1), "RPRT 0\n");
  }
  RotctlClient newcomer;
  ASSERT_TRUE(newcomer.Connect(port));
  EXPECT_EQ(newcomer.Ask("P 30 0", 1), "RPRT 0\n");
  EXPECT_TRUE(second.WaitClosed(5000));
  EXPECT_TRUE(bridge.WaitForStderr("closing the one idle longest", 5000)) << bridge.Stderr();
  EXPECT_TRUE(WaitForAzimuth(*others.back(), "30.00"));
}

TEST_F(BridgeE2eTest, DcuPositionIsTheLastBearingItWasSent) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port + 2));
  const std::pair<const char*, const char*> steps[] = {
      {"p", "RPRT -11\n"},          {"P 90 0", "RPRT 0\n"}, {"p", "90.00\n0.00\n"},
      {"P 90.3 0", "RPRT 0\n"},     {"S", "RPRT 0\n"},      {"p", "RPRT -11\n"}};
  for (const auto& step : steps) EXPECT_EQ(client.Ask(step.first, 2, 3000), step.second) << step.first;
  EXPECT_TRUE(dcuBox.WaitForStderr("AP1090;", 5000)) << dcuBox.Stderr();
  EXPECT_EQ(daemon.CountStdout(dcuPath + " rotate to 90\n"), 1u) << daemon.Stdout();
}

TEST_F(BridgeE2eTest, UnpluggedBoxIsOfflineUntilItIsBack) {
  std::string output;
  ASSERT_EQ(Rotctl({"P", "40", "0"}), "");
  ASSERT_TRUE(RotctlWaitForAzimuth(40, output)) << output;

  ASSERT_TRUE(yaesuBox.Signal(SIGUSR1));  // unplugged
  ASSERT_TRUE(bridge.WaitForStderr(yaesuPath + " is gone", 5000)) << bridge.Stderr();
  RotctlClient client, dcu;
  ASSERT_TRUE(client.Connect(port));
  for (const char* command : {"p", "P 10 0", "S"}) {
    EXPECT_EQ(client.Ask(command, 2, 2000), "RPRT -6\n") << command;  // rotctld: box unreachable
  }
  output = Rotctl({"p"});
  EXPECT_NE(output.find("IO error"), std::string::npos) << output;
  ASSERT_TRUE(dcu.Connect(port + 2));
  EXPECT_EQ(dcu.Ask("P 50 0", 1), "RPRT 0\n");  // the other rotator goes on

  ASSERT_TRUE(yaesuBox.Signal(SIGUSR1));  // plugged back in
  auto back = Clock::now();
  while (client.Ask("p", 2, 3000) != "40.00\n0.00\n" && MsSince(back) < 10000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  long long recoveryMs = MsSince(back);
  std::cout << "[ FIGURES  ] box back to a fresh bearing at the client: " << recoveryMs << " ms\n";
  EXPECT_LT(recoveryMs, 2000) << bridge.Stderr();
  EXPECT_EQ(bridge.CountStderr(" is back;"), 1u) << bridge.Stderr();
  ASSERT_EQ(Rotctl({"P", "80", "0"}), "");
  EXPECT_TRUE(RotctlWaitForAzimuth(80, output)) << output << yaesuBox.Stderr();
  EXPECT_EQ(daemon.CountStdout("Status: " + yaesuPath + " created"), 2u) << daemon.Stdout();
}

TEST_F(BridgeE2eTest, DaemonLinkDropsLeaveOneRotatorPerDevice) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int before = Descriptors(daemon.Pid());
  if (before < 0) GTEST_SKIP() << "no /proc/PID/fd on this system: descriptors cannot be counted";
  const int kDrops = 100;
  for (int drop = 1; drop <= kDrops; ++drop) {
    // Another client takes the daemon over, which keeps the bridge's rotators.
    testing_support::TcpClient intruder;
    ASSERT_TRUE(intruder.Connect());
    ASSERT_TRUE(WaitForCount(daemon, "Status: " + dcuPath + " created", drop + 1, 10000))
        << "drop " << drop << "\n" << bridge.Stderr();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int after = Descriptors(daemon.Pid());
  std::cout << "[ FIGURES  ] daemon descriptors before " << kDrops << " link drops: " << before
            << ", after: " << after << "\n";
  EXPECT_EQ(after, before);
  // Each connection found an empty registry: every earlier rotator was gone.
  EXPECT_EQ(daemon.CountStdout("Lost client connection"), kDrops + 1u);
  EXPECT_EQ(daemon.CountStdout("Status: " + yaesuPath + " created"), kDrops + 1u);
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("P 20 0", 1), "RPRT 0\n");
  EXPECT_TRUE(WaitForAzimuth(client, "20.00"));
}

TEST_F(BridgeE2eTest, FloodOnOnePortDoesNotDelayAnotherRotator) {
  std::atomic<bool> stop{false};
  std::atomic<long> floodSets{0};
  std::vector<std::thread> floods;
  for (int i = 0; i < 3; ++i) {
    floods.emplace_back([&, i] {
      RotctlClient flooder;
      if (!flooder.Connect(port)) return;
      for (int n = 0; !stop; n += 50) {
        std::string burst;
        for (int k = 0; k < 50; ++k) burst += "P " + std::to_string(10 + (n + k + i) % 7) + " 0\n";
        if (!flooder.Send(burst)) return;
        for (int k = 0; k < 50; ++k) floodSets += flooder.ReadLine(10000) == "RPRT 0\n";
      }
    });
  }
  RotctlClient dcu;
  ASSERT_TRUE(dcu.Connect(port + 2));
  std::vector<double> latencies;  // ms
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    auto asked = Clock::now();
    EXPECT_EQ(dcu.Ask("P " + std::to_string(100 + i) + " 0", 1), "RPRT 0\n");
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
  }
  stop = true;
  for (std::thread& flood : floods) flood.join();
  std::sort(latencies.begin(), latencies.end());
  std::cout << "[ FIGURES  ] flood: " << floodSets << " sets answered on one port; the other port's "
            << "set answered in median " << latencies[10] << " ms, max " << latencies.back()
            << " ms; link drops: " << bridge.CountStderr("lost the daemon") << "\n";
  EXPECT_GT(floodSets, 100);
  EXPECT_LT(latencies.back(), 1000);
  EXPECT_TRUE(dcuBox.WaitForStderr("AP1119;", 5000)) << dcuBox.Stderr();
  EXPECT_EQ(bridge.CountStderr("lost the daemon"), 0u) << bridge.Stderr();
}

TEST_F(BridgeE2eTest, DaemonAwayMeansIoErrorsThenReconnectAndReconfigure) {
  RotctlClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.Ask("P 20 0", 1), "RPRT 0\n");
  ASSERT_TRUE(WaitForAzimuth(client, "20.00"));

  ASSERT_TRUE(daemon.Signal(SIGTERM));
  ASSERT_EQ(daemon.Wait(5000), 0);
  ASSERT_TRUE(bridge.WaitForStderr("lost the daemon", 5000)) << bridge.Stderr();
  // No old bearing, no set pretended done: the box cannot be reached.
  for (const char* command : {"p", "P 10 0", "S"}) {
    auto asked = Clock::now();
    EXPECT_EQ(client.Ask(command, 2), "RPRT -6\n") << command;
    EXPECT_LT(MsSince(asked), 1000) << command;
  }

  Daemon restarted;
  ASSERT_TRUE(restarted.Start()) << restarted.Stderr();
  ASSERT_TRUE(restarted.WaitForStdout("Status: " + yaesuPath + " created", 15000))
      << "bridge log:\n" << bridge.Stderr();
  ASSERT_TRUE(restarted.WaitForStdout("Status: " + dcuPath + " created", 5000));
  EXPECT_EQ(bridge.CountStderr("rotator 1: configured"), 2u) << bridge.Stderr();
  // The same client connection drives the rotator again.
  EXPECT_EQ(client.Ask("P 200 0", 1), "RPRT 0\n");
  EXPECT_TRUE(WaitForAzimuth(client, "200.00")) << bridge.Stderr();
}

TEST_F(BridgeE2eTest, BridgeStopsOnSigtermAndTheDaemonForgetsItsRotators) {
  ASSERT_TRUE(bridge.Signal(SIGTERM));
  EXPECT_EQ(bridge.Wait(5000), 0);
  EXPECT_TRUE(WaitForCount(daemon, "Lost client connection", 2, 5000)) << daemon.Stdout();
}

}  // namespace
