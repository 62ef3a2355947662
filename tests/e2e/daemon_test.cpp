// The real zeva-rotator binary: command line, banner, exit codes, a port in use, stop
// signals, a take-over behind a backlog, tiny descriptor limits. What lies behind the
// port is tested in-process (tests/core, tests/drivers).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/Helpers.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

namespace {

using namespace testing_support;

const char kRunning[] = "ZEVA Rotator CLI running. Press Ctrl+C to stop.\n";

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000)) << "TCP port 13020 is in use by another process";
  }
};

TEST_F(DaemonTest, VersionOptionPrintsTheVersionOnlyAndOtherArgumentsAreIgnored) {
  Daemon version;
  ASSERT_TRUE(version.Start({"--version"}, false));
  EXPECT_EQ(version.Wait(5000), 0);
  EXPECT_EQ(version.Stdout() + version.Stderr(), "2.0.1\n");
  Daemon other;  // any other argument is ignored
  ASSERT_TRUE(other.Start({"--version", "x"}));
  ASSERT_TRUE(other.Signal(SIGINT));
  EXPECT_EQ(other.Wait(5000), 0);
}

TEST_F(DaemonTest, BannerThenRunningLineAndAPortInUseEndsWithStatusOne) {
  Daemon daemon;
  ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
  const std::string out = daemon.Stdout();
  EXPECT_NE(out.find("Version: v2.0.1\n"), std::string::npos) << out;
  // The build's date and time in __DATE__ and __TIME__'s form (from the source's last commit).
  EXPECT_TRUE(std::regex_search(out, std::regex(
      "\nBuild: (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] "
      "[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\nTCP port: 13020\n\n"))) << out;
  EXPECT_EQ(out.size() - out.find(kRunning), sizeof kRunning - 1) << "the last line";
  Daemon second;
  ASSERT_TRUE(second.Start({}, false));
  EXPECT_EQ(second.Wait(5000), 1);
  EXPECT_NE(second.Stdout().find("Version: v2.0.1\n"), std::string::npos);
  EXPECT_EQ(second.Stdout().find(kRunning), std::string::npos);
  EXPECT_EQ(second.Stderr(), "Unable to bind listener on port 13020\nFailed to bind to port 13020\n"
                             "Failed to start rotator controller\n");
}

TEST_F(DaemonTest, StopSignalsEndItPromptlyReleasingTheRotators) {
  for (int sig : {SIGTERM, SIGINT}) {
    Daemon daemon;
    ASSERT_TRUE(daemon.Start());
    TcpClient client;
    ASSERT_TRUE(client.Connect());
    Pty box;
    struct termios before, after;
    ASSERT_TRUE(box.SlaveSettings(&before));
    ASSERT_TRUE(client.Command("CONFIGURE 1 " + box.SlavePath() + " 8 1000"));  // RC2800 PA
    ASSERT_EQ(box.Read(5000, 2), "U\r");
    ASSERT_TRUE(daemon.Signal(sig));
    EXPECT_EQ(daemon.Wait(2000), 0) << "signal " << sig;
    EXPECT_EQ(box.Read(1000), "N\r");
    ASSERT_TRUE(box.SlaveSettings(&after));
    EXPECT_TRUE(SameSettings(before, after));
    EXPECT_TRUE(client.WaitClosed(1000));
    EXPECT_EQ(daemon.Stdout().find("Lost client connection"), std::string::npos);
  }
}

// A newer client is served at once though the displaced one queued 40,000 turns for a box
// that takes no more bytes (each write waits its full second); its STOP overtakes them.
TEST_F(DaemonTest, TakeOverIsServedBeforeTheDisplacedClientsBacklog) {
  Daemon daemon;
  ASSERT_TRUE(daemon.Start());
  TcpClient client;
  ASSERT_TRUE(client.Connect());
  Pty box;
  ASSERT_TRUE(client.Command("CONFIGURE 1 " + box.SlavePath() + " 4 0"));  // Yaesu
  std::string backlog;
  for (int i = 0; i < 40000; ++i) backlog += "ROTATE 1 100\r";
  std::thread flood([&] { client.Send(backlog); });  // fails once displaced
  ASSERT_TRUE(daemon.WaitForStderr("Unable to write to serial port", 10000)) << "the box never filled up";
  TcpClient second;
  ASSERT_TRUE(second.Connect());
  ASSERT_TRUE(second.Command("VERSION"));
  EXPECT_EQ(second.ReadLine(5000), "VERSION 2.0.1");
  ASSERT_TRUE(second.Command("STOP 1"));
  std::string atBox;
  EXPECT_TRUE(WaitUntil([&] { return (atBox += box.Read(100)).find("S\r") != std::string::npos; }, 5000))
      << "the STOP never reached the box";
  atBox += box.Read(500);
  EXPECT_EQ(atBox.substr(std::min(atBox.find("S\r"), atBox.size())), "S\r");
  client.Close();
  flood.join();
}

// Under a tiny descriptor limit the daemon refuses to start (status 1 after its banner),
// cannot be loaded, or runs and stops on SIGTERM. Where it serves a client, CONFIGURE
// creates the rotator or says "Cannot open" with the reason, whichever of the link's
// descriptors (device, wake-up pipe) was one too many. Limits rise until one is created.
TEST_F(DaemonTest, TinyDescriptorLimitsRefuseOrStopCleanlyAndFailedOpensSaySo) {
#ifdef ZEVA_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own (a pipe): a plain build only";
#endif
  Pty box;
  const std::string& p = box.SlavePath();
  const std::string failed = "Cannot open " + p + ": Too many open files\nError getting status for " + p + " " + p +
                             ": Too many open files\n";
  int openFailures = 0;
  bool created = false;
  for (int limit = 3; limit <= 32 && !created; ++limit) {
    ChildProcess d;
    ASSERT_TRUE(d.Start({"/bin/sh", "-c", "ulimit -n " + std::to_string(limit) + "; exec " + Daemon::BinaryPath()},
                        ChildProcess::Descriptors::kStdioOnly));
    bool running = false;
    int status = -1;
    for (int waited = 0; waited < 5000 && !running && status == -1; waited += 100) {
      running = d.WaitForStdout(kRunning, 50);
      if (!running) status = d.Wait(50);
    }
    if (!running) {
      // Status 1, or not even started (the loader had no descriptor left) but ended all the same.
      EXPECT_TRUE(d.Stdout().empty() ? status != -1 : status == 1) << limit << ": " << status << d.Stderr();
      continue;
    }
    TcpClient client;
    if (client.Connect() && d.WaitForStdout("Connected to", 1000)) {
      ASSERT_TRUE(client.Command("CONFIGURE 1 " + box.SlavePath() + " 4 0"));
      auto done = [&] { return (created = d.WaitForStdout(" created", 0)) || d.WaitForStderr("Error getting", 0); };
      ASSERT_TRUE(WaitUntil(done, 5000)) << "limit " << limit << ": " << d.Stdout() << d.Stderr();
      if (!created) {
        EXPECT_EQ(d.Stderr(), failed) << "limit " << limit;
        ++openFailures;
      }
    }
    ASSERT_TRUE(d.Signal(SIGTERM));
    EXPECT_EQ(d.Wait(5000), 0) << "limit " << limit << ": " << d.Stderr();
  }
  EXPECT_TRUE(created) << "no limit up to 32 let a rotator be created";
  // The device, then each end of its wake-up pipe, was the one too many.
  EXPECT_GE(openFailures, 3);
}

}  // namespace
