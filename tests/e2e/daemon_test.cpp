// End-to-end tests of the real zeva-rotator binary: its command line, banner,
// exit codes, a port already in use, stop signals, and a newer client taking
// over. The command language, framing and the loss of the client are tested
// in-process (tests/core), the drivers in tests/drivers, and the daemon
// against emulated boxes in tests/emulator.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <regex>
#include <sstream>

#include "tests/support/Daemon.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

using testing_support::Daemon;
using testing_support::PortIsFree;
using testing_support::Pty;
using testing_support::TcpClient;

namespace {

const char kBannerArt[] =
    "\n"
    " _____  _______     ___    \n"
    "|__  / | ____\\ \\   / / \\   \n"
    "  / /  |  _|  \\ \\ / / _ \\  \n"
    " / /_  | |___  \\ V / ___ \\ \n"
    "/____| |_____|  \\_/_/   \\_\\\n"
    "\n"
    " ____   ___ _____  _  _____ ___  ____  \n"
    "|  _ \\ / _ \\_   _|/ \\|_   _/ _ \\|  _ \\ \n"
    "| |_) | | | || | / _ \\ | || | | | |_) |\n"
    "|  _ <| |_| || |/ ___ \\| || |_| |  _ < \n"
    "|_| \\_\\\\___/ |_/_/   \\_\\_| \\___/|_| \\_\\\n"
    "\n"
    "Zevatron (ZEVA) Rotator\n";

const char kRunning[] = "ZEVA Rotator CLI running. Press Ctrl+C to stop.";

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree())
        << "TCP port 13020 is in use by another process; stop it before "
           "running these tests";
  }

  // Starts the daemon and connects one client.
  void StartServing() {
    ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(daemon.WaitForStdout("Connected to 127.0.0.1", 5000));
  }

  // Configures rotator `id` on `box` and waits for its status line.
  void Configure(int id, const Pty& box, int model, int pollMs) {
    ASSERT_TRUE(client.Command("CONFIGURE " + std::to_string(id) + " " +
                               box.SlavePath() + " " + std::to_string(model) +
                               " " + std::to_string(pollMs)));
    ASSERT_TRUE(daemon.WaitForStdout("Status: " + box.SlavePath() + " created",
                                     5000))
        << daemon.Stdout() << daemon.Stderr();
  }

  Daemon daemon;
  TcpClient client;
};

TEST_F(DaemonTest, VersionOptionPrintsVersionOnly) {
  ASSERT_TRUE(daemon.Start({"--version"}, false));
  EXPECT_EQ(daemon.Wait(5000), 0);
  EXPECT_EQ(daemon.Stdout(), "2.0.1\n");
  EXPECT_EQ(daemon.Stderr(), "");
}

TEST_F(DaemonTest, BannerIsExactAndDaemonRuns) {
  ASSERT_TRUE(daemon.Start());
  std::string out = daemon.Stdout();
  ASSERT_EQ(out.compare(0, sizeof kBannerArt - 1, kBannerArt), 0) << out;
  // Credit line, version, build stamp, port and the running line.
  std::istringstream rest(out.substr(sizeof kBannerArt - 1));
  std::vector<std::string> lines;
  for (std::string line; std::getline(rest, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u) << out;
  EXPECT_FALSE(lines[0].empty());
  EXPECT_EQ(lines[1], "Version: v2.0.1");
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex("Build: [A-Z][a-z][a-z] [ 123][0-9] [0-9]{4} "
                           "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
      << lines[2];
  EXPECT_EQ(lines[3], "TCP port: 13020");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], kRunning);
  ASSERT_TRUE(daemon.Signal(SIGTERM));
  EXPECT_EQ(daemon.Wait(5000), 0);
}

TEST_F(DaemonTest, OtherArgumentsAreIgnored) {
  for (auto args : std::vector<std::vector<std::string>>{
           {"--version", "x"}, {"--VERSION"}, {"-v"}, {"anything"}}) {
    Daemon other;
    ASSERT_TRUE(other.Start(args)) << args[0] << ": " << other.Stdout();
    EXPECT_EQ(other.Stdout().find("2.0.1\n"), other.Stdout().find("v2.0.1\n") + 1);
    ASSERT_TRUE(other.Signal(SIGINT));
    EXPECT_EQ(other.Wait(5000), 0);
  }
}

TEST_F(DaemonTest, PortInUsePrintsBannerThenThreeFailureLines) {
  StartServing();
  Daemon second;
  ASSERT_TRUE(second.Start({}, false));
  EXPECT_EQ(second.Wait(5000), 1);
  EXPECT_EQ(second.Stdout().compare(0, sizeof kBannerArt - 1, kBannerArt), 0);
  EXPECT_EQ(second.Stdout().find(kRunning), std::string::npos);
  EXPECT_EQ(second.Stderr(),
            "Unable to bind listener on port 13020\n"
            "Failed to bind to port 13020\n"
            "Failed to start rotator controller\n");
}

TEST_F(DaemonTest, StopSignalsExitPromptlyWithClientAndRotators) {
  for (int sig : {SIGTERM, SIGINT}) {
    Daemon d;
    ASSERT_TRUE(d.Start());
    TcpClient c;
    ASSERT_TRUE(c.Connect());
    Pty box;
    struct termios before;
    ASSERT_TRUE(box.SlaveSettings(&before));
    ASSERT_TRUE(c.Command("CONFIGURE 1 " + box.SlavePath() + " 8 1000"));
    ASSERT_EQ(box.Read(5000, 2), "U\r");
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(d.Signal(sig));
    EXPECT_EQ(d.Wait(2000), 0) << "signal " << sig;
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));
    // The RC2800 PA tear-down went out and the device's settings are back.
    EXPECT_EQ(box.Read(1000), "N\r");
    struct termios after;
    ASSERT_TRUE(box.SlaveSettings(&after));
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(d.Stdout().find("Lost client connection"), std::string::npos);
    EXPECT_TRUE(c.WaitClosed(1000));
  }
}

TEST_F(DaemonTest, NewerClientTakesOverAndKeepsRotators) {
  StartServing();
  Pty box;
  Configure(1, box, 4, 0);
  TcpClient second;
  ASSERT_TRUE(second.Connect());
  ASSERT_TRUE(daemon.WaitForStdout("Closing previous client connection", 3000));
  EXPECT_TRUE(client.WaitClosed(3000));
  ASSERT_TRUE(second.Command("ROTATE 1 123"));
  EXPECT_EQ(box.ReadUntil("M123\r", 3000), "M123\r");
  ASSERT_TRUE(box.Send("AZ=100\r"));
  EXPECT_EQ(second.ReadLine(3000), "1 100");
  EXPECT_EQ(daemon.Stdout().find("Lost client connection"), std::string::npos);
  EXPECT_EQ(daemon.CountStdout("Connected to 127.0.0.1"), 2u);
}


// A newer client is served at once, even when the displaced one has queued
// tens of thousands of commands for a box that takes no more bytes (each
// write then waits its full second): the old reader stops at the hand-over,
// so the newer client's VERSION is answered at once, and its STOP reaches
// the box before any more of the old client's turns.
TEST_F(DaemonTest, TakeOverIsServedBeforeTheDisplacedClientsBacklog) {
  StartServing();
  Pty box;
  Configure(1, box, 4, 0);
  std::string backlog;
  for (int i = 0; i < 40000; ++i) backlog += "ROTATE 1 100\r";
  std::thread flood([&] { client.Send(backlog); });  // fails once displaced
  ASSERT_TRUE(daemon.WaitForStderr("Unable to write to serial port", 10000))
      << "the box never filled up";

  TcpClient second;
  ASSERT_TRUE(second.Connect());
  ASSERT_TRUE(second.Command("VERSION"));
  EXPECT_EQ(second.ReadLine(5000), "VERSION 2.0.1");
  ASSERT_TRUE(second.Command("STOP 1"));
  std::string atBox = box.ReadUntil("S\r", 5000);
  atBox += box.Read(500);
  const size_t stop = atBox.find("S\r");
  ASSERT_NE(stop, std::string::npos) << "the STOP never reached the box";
  EXPECT_EQ(atBox.substr(stop), "S\r");
  client.Close();
  flood.join();
}

// Under a tiny descriptor limit the daemon either refuses to start (status
// 1 after its banner), cannot even be loaded, or runs and still stops on
// SIGTERM: no limit leaves a daemon nothing can stop.
TEST_F(DaemonTest, TinyDescriptorLimitsRefuseOrStopCleanly) {
  for (int limit = 3; limit <= 12; ++limit) {
    testing_support::ChildProcess d;
    ASSERT_TRUE(d.Start({"/bin/sh", "-c",
                         "ulimit -n " + std::to_string(limit) + "; exec " +
                             Daemon::BinaryPath()},
                        testing_support::ChildProcess::Descriptors::kStdioOnly));
    bool running = false;
    int status = -1;
    for (int waited = 0; waited < 5000 && !running && status == -1;
         waited += 100) {
      running = d.WaitForStdout(kRunning, 50);
      if (!running) status = d.Wait(50);
    }
    if (running) {
      ASSERT_TRUE(d.Signal(SIGTERM));
      status = d.Wait(5000);
    }
    if (running) {
      EXPECT_EQ(status, 0) << "limit " << limit << ": " << d.Stderr();
    } else if (d.Stdout().empty()) {
      // Not even started: the loader (or an emulator running the build)
      // had no descriptor left. It must have ended, not hang.
      EXPECT_NE(status, -1) << "limit " << limit;
    } else {
      EXPECT_EQ(status, 1) << "limit " << limit << ": " << d.Stderr();
    }
  }
}

}  // namespace
