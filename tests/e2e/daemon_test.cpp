// End-to-end tests of the real zeva-rotator binary: its command line,
// banner, exit codes, a port already in use, and the stop signals with a
// client and a rotator in place. What lies behind the port is tested
// in-process (tests/core, tests/drivers).
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/support/Daemon.h"
#include "tests/support/Helpers.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

namespace {

using namespace testing_support;

const char kRunning[] = "ZEVA Rotator CLI running. Press Ctrl+C to stop.\n";

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000))
        << "TCP port 13020 is in use by another process";
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

// The banner's wiring: printed first, with the version, and followed by the
// running line once the port is served.
TEST_F(DaemonTest, BannerThenRunningLineAndAPortInUseEndsWithStatusOne) {
  Daemon daemon;
  ASSERT_TRUE(daemon.Start()) << daemon.Stdout() << daemon.Stderr();
  const std::string out = daemon.Stdout();
  EXPECT_NE(out.find("Version: v2.0.1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("TCP port: 13020\n"), std::string::npos) << out;
  EXPECT_EQ(out.size() - out.find(kRunning), sizeof kRunning - 1) << "the last line";
  Daemon second;
  ASSERT_TRUE(second.Start({}, false));
  EXPECT_EQ(second.Wait(5000), 1);
  EXPECT_NE(second.Stdout().find("Version: v2.0.1\n"), std::string::npos);
  EXPECT_EQ(second.Stdout().find(kRunning), std::string::npos);
  EXPECT_EQ(second.Stderr(),
            "Unable to bind listener on port 13020\n"
            "Failed to bind to port 13020\n"
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

}  // namespace
