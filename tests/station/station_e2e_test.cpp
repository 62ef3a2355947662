// The station end to end with the real daemon while boxes are unplugged, the
// daemon goes away or is taken over, and clients flood or crowd a port. The
// answers' bytes are compared with rotctld's in station_rotctld_test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <atomic>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/station/StationRig.h"
#include "tests/support/Time.h"

using namespace station_test;
using namespace testing_support;

namespace {

// The CPU time a process has used, in seconds; -1 where there is no /proc.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  if (text.empty()) return -1;
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // from the state on
  std::string skipped;
  double utime = 0, stime = 0;
  for (int i = 3; i < 14; ++i) fields >> skipped;
  fields >> utime >> stime;
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Rotator 1: a Yaesu box polled every 200 ms on the first port; rotator 2: a
// DCU-1 box on the port two above. The station knows each box by a stable
// symbolic link, as /dev/serial/by-id.
class StationE2eTest : public StationRig {
 protected:
  void SetUp() override {
    StationRig::SetUp();
    ASSERT_NO_FATAL_FAILURE(PickPorts(2));
    yaesuPath = StartBox(yaesuBox, "yaesu", {"--model", "yaesu", "--speed", "30", "--log"});
    dcuPath = StartBox(dcuBox, "dcu", {"--model", "dcu1", "--speed", "30", "--log"});
    ASSERT_TRUE(!yaesuPath.empty() && !dcuPath.empty());
    ASSERT_TRUE(station.Start({ZEVA_STATION_PATH, "--verbose", "--http", "127.0.0.1:" + std::to_string(http),
                               "--base-port", std::to_string(port), "--rotator", "1:" + yaesuPath + ":yaesu:200",
                               "--rotator", "2:" + dcuPath + ":dcu1:0"}));
    ASSERT_TRUE(Created(yaesuPath) && Created(dcuPath)) << station.Stderr();
  }

  std::string Rotctl(const std::vector<std::string>& command) { return station_test::Rotctl(port, command); }

  ChildProcess yaesuBox, dcuBox;
  std::string yaesuPath, dcuPath;
};

TEST_F(StationE2eTest, UnpluggedBoxIsOfflineUntilItIsBack) {
  ASSERT_EQ(Rotctl({"P", "40", "0"}), "0: ");
  ASSERT_TRUE(WaitUntil([&] { return Rotctl({"p"}) == "0: 40.00\n0.00\n"; }, kTurnMs)) << Rotctl({"p"});
  ASSERT_TRUE(yaesuBox.Signal(SIGUSR1));  // unplugged
  ASSERT_TRUE(station.WaitForStderr(yaesuPath + " is gone", 5000)) << station.Stderr();
  TcpClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(Ask(client, "p", 2, 2000), "RPRT -6\n");  // never the old bearing

  ASSERT_TRUE(yaesuBox.Signal(SIGUSR1));  // plugged back in
  auto back = Clock::now();
  WaitUntil([&] { return Ask(client, "p", 2, 3000) == "40.00\n0.00\n"; }, 10000);
  long recoveryMs = MsSince(back);
  std::cout << "[ FIGURES  ] box back to a fresh bearing at the client: " << recoveryMs << " ms\n";
  EXPECT_LT(recoveryMs, 2000) << station.Stderr();
  EXPECT_EQ(Count(station.Stderr(), " is back;"), 1u) << station.Stderr();
  ASSERT_EQ(Rotctl({"P", "80", "0"}), "0: ");
  EXPECT_TRUE(WaitUntil([&] { return Rotctl({"p"}) == "0: 80.00\n0.00\n"; }, kTurnMs)) << yaesuBox.Stderr();
  EXPECT_EQ(Count(daemon.Stdout(), "Status: " + yaesuPath + " created"), 2u) << daemon.Stdout();
}

TEST_F(StationE2eTest, DaemonAwayMeansErrorsAtOnce) {
  TcpClient client;
  ASSERT_TRUE(client.Connect(port));
  ASSERT_TRUE(WaitUntil([&] { return Ask(client, "p", 2) == "0.00\n0.00\n"; }, kTurnMs));  // a bearing known
  ASSERT_TRUE(daemon.Signal(SIGTERM));
  ASSERT_EQ(daemon.Wait(5000), 0);
  ASSERT_TRUE(station.WaitForStderr("lost the daemon", 5000)) << station.Stderr();
  for (const char* command : {"p", "P 10 0", "S"}) {  // no old bearing, no set pretended done
    auto asked = Clock::now();
    EXPECT_EQ(Ask(client, command, 2), "RPRT -6\n") << command;
    EXPECT_LT(MsSince(asked), 1000) << command;
  }
}

TEST_F(StationE2eTest, DaemonLinkDropsLeaveOneRotatorPerDevice) {
  SleepMs(300);
  int before = daemon.OpenDescriptors();
  if (before < 0) GTEST_SKIP() << "no /proc/PID/fd on this system: descriptors cannot be counted";
  const size_t kDrops = 100;
  for (size_t drop = 1; drop <= kDrops; ++drop) {
    // Another client takes the daemon over, which keeps the station's rotators.
    TcpClient intruder;
    ASSERT_TRUE(intruder.Connect());
    ASSERT_TRUE(WaitUntil([&] { return Count(daemon.Stdout(), "Status: " + dcuPath + " created") > drop; }, 10000))
        << "drop " << drop << "\n" << station.Stderr();
  }
  SleepMs(300);
  int after = daemon.OpenDescriptors();
  std::cout << "[ FIGURES  ] daemon descriptors before " << kDrops << " link drops: " << before
            << ", after: " << after << "\n";
  EXPECT_EQ(after, before);
  // Each connection found an empty registry and opened each device once.
  EXPECT_EQ(Count(daemon.Stdout(), "Lost client connection"), kDrops + 1);
  EXPECT_EQ(Count(daemon.Stdout(), "Status: " + yaesuPath + " created"), kDrops + 1);
}

// Clients flood sets at rotator 1 while another client sets rotator 2 every
// 150 ms: first with rotator 1's box taking every byte, then with it taking
// none (stopped: the daemon gives up each write to it after 1 s, 2 s when
// one of its polls holds the device). Rotator 2's sets are answered at once
// and reach its box within the daemon's write limit.
TEST_F(StationE2eTest, FloodOnOnePortDoesNotDelayAnotherRotator) {
  TcpClient dcu;
  ASSERT_TRUE(dcu.Connect(port + 2));
  for (bool stuck : {false, true}) {
    SCOPED_TRACE(stuck ? "rotator 1's box takes no bytes" : "rotator 1's box is healthy");
    ASSERT_TRUE(!stuck || yaesuBox.Signal(SIGSTOP));
    std::atomic<bool> stop{false};
    std::atomic<long> floodSets{0};
    std::vector<std::thread> floods;
    for (int i = 0; i < 3; ++i) {
      floods.emplace_back([&, i] {
        TcpClient flooder;
        if (!flooder.Connect(port)) return;
        const int burst = stuck ? 2 : 50;  // a stuck rotator's sets wait 0.8 s each
        for (int n = 0; !stop; n += burst) {
          std::string sets;
          for (int k = 0; k < burst; ++k) sets += "P " + std::to_string(10 + (n + k + i) % 7) + " 0\n";
          if (!flooder.Send(sets)) return;
          for (int k = 0; k < burst; ++k) floodSets += flooder.ReadLineEndedBy('\n', 10000) == "RPRT 0\n";
        }
      });
    }
    if (stuck) {
      EXPECT_TRUE(station.WaitForStderr("its commands now go alone", 15000)) << station.Stderr();
      // Its next command waits 5 s: the page hears so after 2 s.
      auto asked = Clock::now();
      EXPECT_EQ(StatusLine(Answer(http, Post("/api/turn", "rotator=1&bearing=33"))), "HTTP/1.1 504 Gateway Timeout");
      EXPECT_GE(MsSince(asked), 1900);
    }
    std::vector<double> answers, arrivals;  // ms from sending a set
    for (int i = 0; i < 16; ++i) {
      SleepMs(150);
      const std::string bearing = std::to_string(stuck ? 200 + i : 100 + i);
      auto asked = Clock::now();
      EXPECT_EQ(Ask(dcu, "P " + bearing + " 0", 1), "RPRT 0\n");
      answers.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
      EXPECT_TRUE(dcuBox.WaitForStderr("AP1" + bearing + ";", 5000));
      arrivals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    }
    stop = true;
    for (std::thread& flood : floods) flood.join();
    ASSERT_TRUE(!stuck || yaesuBox.Signal(SIGCONT));
    std::sort(answers.begin(), answers.end());
    std::sort(arrivals.begin(), arrivals.end());
    std::cout << "[ FIGURES  ] flood" << (stuck ? " on a box that takes no bytes" : "") << ": "
              << floodSets << " sets answered on one port; the other port's set answered in median "
              << answers[8] << " ms, max " << answers.back() << " ms, at its box in median "
              << arrivals[8] << " ms, max " << arrivals.back() << " ms; link drops: "
              << Count(station.Stderr(), "lost the daemon") << "\n";
    EXPECT_TRUE(stuck || floodSets > 100) << floodSets;
    EXPECT_LT(answers.back(), 1000);
    EXPECT_LT(arrivals.back(), 1000);
  }
  EXPECT_EQ(Count(station.Stderr(), "lost the daemon"), 0u) << station.Stderr();
  EXPECT_TRUE(station.WaitForStderr("rotator 1: its device takes commands again", 70000)) << station.Stderr();
}

// Out of descriptors, a client that connects waits (one log line, no
// spinning) until another leaves, and is then served.
TEST_F(StationE2eTest, OutOfDescriptorsAClientWaitsWithoutSpinning) {
  ASSERT_EQ(station.Stop(5000), 0);
  // Standard streams, the stop pipe, two ports and the daemon link take 8
  // descriptors: room for one client.
  ASSERT_TRUE(station.Start({"/bin/sh", "-c", "ulimit -n 9 && exec \"$0\" \"$@\"", ZEVA_STATION_PATH,
                             "--base-port", std::to_string(port), "--rotator", "1:" + yaesuPath + ":yaesu:200",
                             "--rotator", "2:" + dcuPath + ":dcu1:0"},
                            ChildProcess::Descriptors::kStdioOnly));
  ASSERT_TRUE(station.WaitForStderr("rotator 2: configured", 10000)) << station.Stderr();
  TcpClient first, second;
  ASSERT_TRUE(first.Connect(port));
  ASSERT_EQ(Ask(first, "S", 1), "RPRT 0\n") << station.Stderr();
  ASSERT_TRUE(second.Connect(port) && second.Send("S\n"));
  ASSERT_TRUE(station.WaitForStderr("cannot accept a rotctld client", 5000)) << station.Stderr();
  const double cpu = CpuSeconds(station.Pid());
  EXPECT_EQ(second.ReadLineEndedBy('\n', 1000), "");  // waiting
  EXPECT_TRUE(cpu < 0 || CpuSeconds(station.Pid()) - cpu < 0.3) << "the station spins";
  first.Close();
  EXPECT_EQ(second.ReadLineEndedBy('\n', 3000), "RPRT 0\n") << station.Stderr();
  EXPECT_EQ(Count(station.Stderr(), "cannot accept a rotctld client"), 1u) << station.Stderr();
}

// Under a low descriptor limit the page gets what the rotctld ports leave
// (said at start): a crowd of page connections cannot lock a tracker out.
TEST_F(StationE2eTest, ALowDescriptorLimitLeavesTrackersTheirShare) {
  ASSERT_EQ(station.Stop(5000), 0);
  ASSERT_TRUE(station.Start({"/bin/sh", "-c", "ulimit -n 200 && exec \"$0\" \"$@\"", ZEVA_STATION_PATH,
                             "--http", "127.0.0.1:" + std::to_string(http), "--base-port", std::to_string(port),
                             "--rotator", "1:" + yaesuPath + ":yaesu:200", "--rotator", "2:" + dcuPath + ":dcu1:0"},
                            ChildProcess::Descriptors::kStdioOnly));
  ASSERT_TRUE(station.WaitForStderr("rotator 2: configured", 10000)) << station.Stderr();
  // 200, less 32 of its own and 33 for each rotator's port and clients.
  EXPECT_NE(station.Stderr().find("leaves the web page 102 connections at once (1100 wanted"), std::string::npos)
      << station.Stderr();
  std::vector<std::unique_ptr<TcpClient>> pages(250);
  for (auto& page : pages) {
    page = std::make_unique<TcpClient>();
    if (page->Connect(http, 1000)) page->Send("GET / HTTP/1.1\r\nHost: localhost\r\n");
  }
  TcpClient tracker;
  ASSERT_TRUE(tracker.Connect(port));
  EXPECT_EQ(Ask(tracker, "S", 1, 3000), "RPRT 0\n") << station.Stderr();
  EXPECT_EQ(station.Stderr().find("cannot accept a rotctld client"), std::string::npos) << station.Stderr();
}

TEST_F(StationE2eTest, AFullPortClosesItsLongestIdleClient) {
  TcpClient idlest;
  ASSERT_TRUE(idlest.Connect(port));
  ASSERT_EQ(Ask(idlest, "S", 1), "RPRT 0\n");
  std::vector<std::unique_ptr<TcpClient>> others(31);  // the port is full at 32
  for (auto& other : others) {
    other = std::make_unique<TcpClient>();
    ASSERT_TRUE(other->Connect(port));
    ASSERT_EQ(Ask(*other, "S", 1), "RPRT 0\n");
  }
  TcpClient newcomer;
  ASSERT_TRUE(newcomer.Connect(port));
  EXPECT_EQ(Ask(newcomer, "P 30 0", 1), "RPRT 0\n");
  EXPECT_TRUE(idlest.WaitClosed(5000));
  EXPECT_TRUE(station.WaitForStderr("closing the one idle longest", 5000)) << station.Stderr();
  EXPECT_TRUE(WaitUntil([&] { return Ask(*others.back(), "p", 2) == "30.00\n0.00\n"; }, kTurnMs));
}

}  // namespace
