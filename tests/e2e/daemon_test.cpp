// End-to-end tests of the real zeva-rotator binary: its command line, banner,
// exit codes and stop signals, and the command language driven over TCP
// against pseudo-terminal boxes.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <memory>
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

TEST_F(DaemonTest, YaesuRoundTripThroughTheDaemon) {
  StartServing();
  Pty box;
  Configure(1, box, 4, 100);
  ASSERT_EQ(box.ReadUntil("C\r", 3000), "C\r");  // the poll
  ASSERT_TRUE(client.Command("ROTATE 1 90"));
  ASSERT_TRUE(daemon.WaitForStdout(
      "Status: " + box.SlavePath() + " rotate to 90", 3000));
  std::string sent = box.ReadUntil("M090\r", 3000);
  EXPECT_NE(sent.find("M090\r"), std::string::npos) << sent;

  ASSERT_TRUE(box.Send("AZ=045\r\n"));
  EXPECT_EQ(client.ReadLine(3000), "1 045");
  ASSERT_TRUE(box.Send("AZ=045\r\nAZ=046\r\n"));
  EXPECT_EQ(client.ReadLine(3000), "1 046");  // the repeat was suppressed

  ASSERT_TRUE(client.Command("STOP 1"));
  EXPECT_NE(box.ReadUntil("S\r", 3000).find("S\r"), std::string::npos);
  EXPECT_TRUE(daemon.WaitForStdout("Status: " + box.SlavePath() + " stop", 3000));
}

TEST_F(DaemonTest, CommandErrorsAreLoggedNotAnswered) {
  StartServing();
  ASSERT_TRUE(client.Command("VERSION please"));
  EXPECT_EQ(client.ReadLine(3000), "VERSION 2.0.1");
  ASSERT_TRUE(client.Send("version\rROTATE 1\rROTATE 3 90\rCONFIGURE 1 /x 13 0\r"
                          "CONFIGURE 1 /x -1 0\rSTOP  1\r %s%n\r"));
  ASSERT_TRUE(daemon.WaitForStdout("Unknown command:  %s%n", 3000))
      << daemon.Stdout();
  std::string out = daemon.Stdout();
  EXPECT_NE(out.find("Unknown command: version\n"), std::string::npos);
  EXPECT_NE(out.find("Bad arguments in command: ROTATE 1\n"), std::string::npos);
  EXPECT_NE(out.find("Unknown rotator in command: ROTATE 3 90\n"),
            std::string::npos);
  EXPECT_NE(out.find("Unknown rotator type 13\n"), std::string::npos);
  EXPECT_NE(out.find("Unknown rotator type -1\n"), std::string::npos);
  EXPECT_NE(out.find("Bad arguments in command: STOP  1\n"), std::string::npos);
  EXPECT_EQ(client.ReadAll(200), "");  // nothing but the version reply
}

TEST_F(DaemonTest, MissingDeviceAndUnimplementedModelRegisterNothing) {
  StartServing();
  ASSERT_TRUE(client.Command("CONFIGURE 1 /dev/zeva-no-such-device 4 100"));
  ASSERT_TRUE(daemon.WaitForStderr(
      "Error getting status for /dev/zeva-no-such-device "
      "/dev/zeva-no-such-device: No such file or directory\n",
      3000));
  EXPECT_NE(daemon.Stderr().find(
                "Cannot open /dev/zeva-no-such-device: No such file or directory\n"),
            std::string::npos);
  Pty box;
  ASSERT_TRUE(client.Command("CONFIGURE 2 " + box.SlavePath() + " 3 100"));
  ASSERT_TRUE(daemon.WaitForStdout("Rotor type is not implemented\n", 3000));
  ASSERT_TRUE(client.Command("ROTATE 1 10"));
  ASSERT_TRUE(client.Command("ROTATE 2 10"));
  ASSERT_TRUE(daemon.WaitForStdout("Unknown rotator in command: ROTATE 2 10", 3000));
  EXPECT_NE(daemon.Stdout().find("Unknown rotator in command: ROTATE 1 10"),
            std::string::npos);
  EXPECT_EQ(daemon.Stdout().find("created"), std::string::npos);
}

TEST_F(DaemonTest, DisconnectReleasesRotatorsAndNewClientStartsEmpty) {
  StartServing();
  std::vector<std::unique_ptr<Pty>> boxes;
  std::vector<struct termios> before(8);
  for (int i = 0; i < 8; ++i) {
    boxes.emplace_back(new Pty());
    ASSERT_TRUE(boxes[i]->SlaveSettings(&before[i]));
    Configure(i + 1, *boxes[i], 2, 1000);
  }
  auto start = std::chrono::steady_clock::now();
  client.Close();
  ASSERT_TRUE(daemon.WaitForStdout("Lost client connection", 3000));
  // Every device is closed with its settings restored, well within a second.
  for (int i = 0; i < 8; ++i) {
    struct termios after;
    for (;;) {
      ASSERT_TRUE(boxes[i]->SlaveSettings(&after));
      if (after.c_lflag == before[i].c_lflag) break;
      ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.Command("ROTATE 1 90"));
  EXPECT_TRUE(daemon.WaitForStdout("Unknown rotator in command: ROTATE 1 90", 3000));
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

TEST_F(DaemonTest, VanishingBoxIsReportedAndNewDeviceStillWorks) {
  StartServing();
  auto box = std::make_unique<Pty>();
  std::string path = box->SlavePath();
  Configure(1, *box, 4, 100);
  box->Vanish();
  ASSERT_TRUE(daemon.WaitForStderr("Read from serial port failed " + path, 3000))
      << daemon.Stderr();
  Pty fresh;
  Configure(2, fresh, 4, 0);
  ASSERT_TRUE(client.Command("ROTATE 2 7"));
  EXPECT_EQ(fresh.ReadUntil("M007\r", 3000), "M007\r");
  ASSERT_TRUE(daemon.Signal(SIGTERM));
  EXPECT_EQ(daemon.Wait(2000), 0);
}

}  // namespace
