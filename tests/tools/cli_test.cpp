// The tools' command lines as a user runs them: --help and --version alike in all three,
// zeva-ctl's ways of naming the daemon and its note on turning an unconfigured rotator, and
// zeva-ctl --station beside the real station, daemon and an emulated box.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/Common.h"
#include "tests/station/Rotctl.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Pty.h"
#include "tests/support/Time.h"

namespace {

using namespace testing_support;

struct Result { int status = -1; std::string out, err; };

Result RunTool(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  ChildProcess child;
  if (!child.Start(args, ChildProcess::Descriptors::kStdioOnly)) return {};
  int status = child.Wait(15000);
  return {status, child.Stdout(), child.Stderr()};
}

TEST(ToolCommandLineTest, HelpVersionAndMistakesAnswerAlike) {
  // Each tool, its usage error's status and valid options (--opt=value and --opt value forms).
  const struct { std::string name; const char* path; int usageStatus; std::vector<std::string> valid; } tools[] = {
      {"zeva-ctl", ZEVA_CTL_PATH, 1, {"--host=127.0.0.1:1", "-p", "2", "-i"}},
      {"zeva-boxsim", ZEVA_BOXSIM_PATH, 1, {"--model=spid", "--speed", "3", "-v"}},
      {"zeva-station", ZEVA_STATION_PATH, 2, {"--port=1", "-r", "1:/dev/a:yaesu:1000", "-v"}},
  };
  // 'h': usage, 'V': version (the first answer wins), '!': a usage error.
  const std::pair<std::vector<std::string>, char> cases[] = {
      {{"--help"}, 'h'},  {{"-h"}, 'h'},       {{"--version"}, 'V'}, {{"-V", "--bogus"}, 'V'},
      {{"--bogus"}, '!'}, {{"--help=1"}, '!'}, {{"--port"}, '!'},
  };
  for (const auto& tool : tools) {
    for (const auto& test : cases) {
      std::vector<std::string> args = tool.valid;
      args.insert(args.end(), test.first.begin(), test.first.end());
      for (const auto& argv : {test.first, args}) {
        Result result = RunTool(tool.path, argv);
        SCOPED_TRACE(tool.name + " " + ::testing::PrintToString(argv) + "\n" + result.out + result.err);
        const bool mistake = test.second == '!';
        EXPECT_EQ(result.status, mistake ? tool.usageStatus : 0);
        EXPECT_EQ(mistake ? result.out : result.err, "");
        if (test.second == 'V') { EXPECT_EQ(result.out, tool.name + " " + zeva::kVersion + "\n"); }
        if (test.second == 'h') { EXPECT_EQ(result.out.rfind("Usage: " + tool.name + " ", 0), 0u); }
        if (mistake) { EXPECT_TRUE(result.err.rfind(tool.name + ": ", 0) == 0 &&
                                   result.err.find("Try '" + tool.name + " --help'.\n") != std::string::npos); }
      }
    }
  }
}

TEST(CtlHostTest, EveryHostFormNamesTheDaemon) {
  // Nothing listens on port 1, so the message names what was understood; "": a usage error.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--host=127.0.0.1", "--port=1"}, "127.0.0.1:1"},
      {{"-H", "127.0.0.1:1", "--port", "2"}, "127.0.0.1:1"},  // HOST:PORT wins over --port
      {{"127.0.0.1:1"}, "127.0.0.1:1"},                        // a first word with a colon
      {{"-p", "1", "--host", "::1"}, "[::1]:1"},
      {{"-H", "[::1]:1"}, "[::1]:1"},
      {{"-H", "[::1"}, ""},
      {{"-H", "127.0.0.1", "127.0.0.1:1"}, ""},  // the host is named: a command after all
  };
  for (auto test : cases) {
    test.first.push_back("version");
    Result result = RunTool(ZEVA_CTL_PATH, test.first);
    SCOPED_TRACE(::testing::PrintToString(test.first) + "\n" + result.err);
    EXPECT_EQ(result.status, test.second.empty() ? 1 : 2);
    if (!test.second.empty()) { EXPECT_EQ(result.err.rfind("zeva-ctl: cannot connect to " + test.second + ": ", 0), 0u); }
  }
}

TEST(CtlOneShotTest, TurningWithoutConfiguringSaysTheDaemonForgets) {
  Daemon daemon;
  ASSERT_TRUE(daemon.Start());
  // The note names the rotator and shows the chained call; "": no note.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"rotate", "1", "180"}, "1 /dev/ttyUSB0 yaesu 1000 , rotate 1 180\n"},
      {{"echo", "hi,", "stop", "7"}, "7 /dev/ttyUSB0 yaesu 1000 , echo hi, stop 7\n"},
      {{"configure", "1", "/dev/zeva-none", "yaesu", "1000", ",", "rotate", "1", "180"}, ""},
      {{"raw", "CONFIGURE 1 /dev/zeva-none 4 1000,", "stop", "1"}, ""},
  };
  for (const auto& test : cases) {
    Result result = RunTool(ZEVA_CTL_PATH, test.first);
    SCOPED_TRACE(::testing::PrintToString(test.first) + "\n" + result.err);
    // A device missing on the daemon's host (this one) is said, and nothing is sent.
    const bool missing = test.first[0] == "configure";
    EXPECT_EQ(result.status, missing ? 1 : 0);
    EXPECT_EQ(result.err.find("/dev/zeva-none does not exist on this host") != std::string::npos, missing);
    EXPECT_EQ(result.err.find("forgets its rotators") != std::string::npos, !test.second.empty());
    if (!test.second.empty()) { EXPECT_NE(result.err.find("  zeva-ctl configure " + test.second), std::string::npos); }
  }
  EXPECT_EQ(Count(daemon.Stdout() + daemon.Stderr(), "Cannot open /dev/zeva-none"), 1u);  // raw only
}

// The real daemon, an emulated Yaesu box on a stable link as rotator 3 (so that nothing means
// rotator 1 by mistake) and the station with its page (and a secret) on loopback; zeva-ctl
// --station goes through it.
class CtlStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree()) << "TCP port 13020 is in use by another process";
    char dirTemplate[] = "/tmp/zeva-ctl-station-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir = dirTemplate;
    std::ofstream(dir + "/secret") << "open sesame\n";
    chmod((dir + "/secret").c_str(), 0600);
    rotctlPort = station_test::FreePorts(2);  // the rotator's rotctld port, the web port above it
    httpPort = rotctlPort + 2;
    ASSERT_TRUE(daemon.Start()) << daemon.Stderr();
    ASSERT_TRUE(box.Start({ZEVA_BOXSIM_PATH, "-m", "yaesu", "-s", "60", "--link", dir + "/box"}) &&
                !box.FirstStdoutLine(5000).empty());
    StartStation();
  }

  void TearDown() override {
    for (ChildProcess* process : {&station, &box, static_cast<ChildProcess*>(&daemon)}) process->Stop(5000);
    for (const char* file : {"/box", "/secret"}) unlink((dir + file).c_str());
    rmdir(dir.c_str());
  }

  void StartStation() {
    ASSERT_TRUE(station.Start({ZEVA_STATION_PATH, "--base-port", std::to_string(rotctlPort), "--http",
                               "127.0.0.1:" + std::to_string(httpPort), "--http-secret-file", dir + "/secret",
                               "--locator", "FN31pr", "--rotator", "3:" + dir + "/box:yaesu:100", "--name", "3:Tri Band"}));
    ASSERT_TRUE(WaitUntil([&] { return Ctl({"status"}).out.find(" still at ") != std::string::npos; }, 15000))
        << station.Stderr();
  }

  // zeva-ctl --station PORT ARGS, with the secret in the environment when `secret` is set.
  Result Ctl(const std::vector<std::string>& args, bool secret = false) {
    std::vector<std::string> argv = {"-u", "ZEVA_STATION_SECRET"};
    if (secret) argv = {"ZEVA_STATION_SECRET=open sesame"};
    argv.insert(argv.end(), {ZEVA_CTL_PATH, "--station", std::to_string(httpPort)});
    argv.insert(argv.end(), args.begin(), args.end());
    return RunTool("env", argv);
  }

  std::string dir;
  int rotctlPort = 0, httpPort = 0;
  Daemon daemon;
  ChildProcess box, station;
};

TEST_F(CtlStationTest, TurnsWaitsAndSaysWhyNot) {
  const std::string secretFile = dir + "/secret";
  // Arguments, with the secret in the environment; the exit status; what standard output and
  // error must hold.
  const struct { std::vector<std::string> args; bool secret; int status; std::string out, err; } cases[] = {
      {{"status"}, false, 0, "rotator 3 \"Tri Band\": Yaesu GS-232 on " + dir + "/box (rotctld port " + std::to_string(rotctlPort) + "), still at 000\n", ""},
      {{"rotate", "3", "40"}, false, 5, "", "zeva-ctl: the station refused: the station's secret is needed to turn (give zeva-ctl the secret with --secret-file"},
      {{"rotate", "3", "40", ",", "wait", "3", "40"}, true, 0, "rotator 3: turn to 40 from zeva-ctl 127.0.0.1\n", ""},
      {{"--secret-file", secretFile, "turn", "3", "20,", "wait", "3", "20"}, false, 0, "3 020\n", ""},
      {{"--secret-file", "/dev/zero", "stop", "3"}, false, 1, "", "zeva-ctl: the secret file /dev/zero must be a regular file of at most 4 KiB\n"},
      {{"stop", "all", ",", "rotate", "9", "10"}, true, 5, "", "zeva-ctl: the station refused: there is no rotator 9\n"},
      {{"configure", "3", "/dev/ttyUSB0", "yaesu", "100"}, true, 1, "", "the station configures its rotators itself"},
      {{"raw", "VERSION"}, true, 1, "", "raw lines go to the daemon"},
      {{"version"}, false, 0, std::string("zeva-station ") + zeva::kVersion + " at http://127.0.0.1:" + std::to_string(httpPort) + "; the daemon is within reach\n", ""},
      {{"-H", "127.0.0.1", "version"}, false, 1, "", "--station goes through the station: give no daemon address beside it"},
      // Places, from the station's FN31pr: Japan by a callsign, Australia's long path.
      {{"turn", "3", "JA1XYZ,", "wait", "3", "335"}, true, 0, "rotator 3: turning to 335 (Japan)\n", ""},
      {{"turn", "3", "vk", "--long"}, true, 0, "rotator 3: turning to 123 (Australia, long path)\n", ""},
      {{"turn", "3", "W1XYZ/MM"}, true, 5, "", "zeva-ctl: the station refused: W1XYZ/MM is maritime or aeronautical mobile"},
      {{"follow", "3", "venus"}, true, 1, "", "zeva-ctl: follow: the sun or the moon, not 'venus'\n"},
  };
  for (const auto& test : cases) {
    Result result = Ctl(test.args, test.secret);
    SCOPED_TRACE(::testing::PrintToString(test.args) + "\n" + result.out + result.err);
    EXPECT_EQ(result.status, test.status);
    EXPECT_NE(result.out.find(test.out), std::string::npos);
    EXPECT_NE(result.err.find(test.err), std::string::npos);
  }
  // The station named by its URL (a reverse proxy's, say), and one that is not there.
  const std::string url = "http://127.0.0.1:" + std::to_string(httpPort);
  EXPECT_NE(RunTool(ZEVA_CTL_PATH, {"--station", url + "/", "version"}).out.find(" at " + url + "; "), std::string::npos);
  // The moon now: followed when it is up, refused with the reason when not.
  Result moon = Ctl({"follow", "3", "moon"}, true);
  EXPECT_TRUE(moon.status == 0 ? moon.out.rfind("rotator 3: following the moon, turning to ", 0) == 0 &&
                                     Ctl({"status"}).out.find(", following the moon") != std::string::npos
                               : moon.err.find("the moon is below the horizon") != std::string::npos)
      << moon.out << moon.err;
  Result alone = RunTool(ZEVA_CTL_PATH, {"turn", "3", "JO22"});
  EXPECT_EQ(alone.status, 1);
  EXPECT_NE(alone.err.find("places and the sun and the moon are a station's: give --station"), std::string::npos);
  Result gone = RunTool(ZEVA_CTL_PATH, {"--station", "127.0.0.1:1", "status"});
  EXPECT_EQ(gone.status, 2);
  EXPECT_EQ(gone.err.rfind("zeva-ctl: cannot connect to the station at http://127.0.0.1:1: ", 0), 0u) << gone.err;
}

TEST_F(CtlStationTest, WhoTurnedItAndAStationThatComesBack) {
  ChildProcess watch;
  ASSERT_TRUE(watch.Start({ZEVA_CTL_PATH, "--station", std::to_string(httpPort), "watch", "--for", "40"}));
  ASSERT_TRUE(watch.WaitForStdout("3 000\n", 5000)) << watch.Stdout() << watch.Stderr();
  ASSERT_EQ(Ctl({"rotate", "3", "20"}, true).status, 0);
  // A tracker takes over and repeats its target: one log line for the change of source.
  TcpClient tracker;
  ASSERT_TRUE(tracker.Connect(rotctlPort));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(station_test::Ask(tracker, "P 30 0", 1), "RPRT 0\n");
  ASSERT_TRUE(watch.WaitForStdout("rotator 3: turn to 30 from rotctld 127.0.0.1:", 5000)) << watch.Stdout();
  EXPECT_TRUE(watch.WaitForStdout("3 030\n", 10000)) << watch.Stdout();
  EXPECT_EQ(Count(watch.Stdout(), "from rotctld"), 1u) << watch.Stdout();
  const std::string log = station.Stderr();
  EXPECT_NE(log.find("rotator 3: commands from zeva-ctl 127.0.0.1\n"), std::string::npos) << log;
  EXPECT_EQ(Count(log, "rotator 3: commands from rotctld 127.0.0.1:"), 1u) << log;
  EXPECT_NE(log.find(" (until now from zeva-ctl 127.0.0.1)\n"), std::string::npos) << log;
  EXPECT_NE(Ctl({"status"}).out.find("; last: turn to 30 from rotctld 127.0.0.1:"), std::string::npos);

  // The station goes away and comes back: watch says both and goes on.
  station.Stop(5000);
  ASSERT_TRUE(watch.WaitForStderr("zeva-ctl: lost the station at http://127.0.0.1:" + std::to_string(httpPort) +
                                  " (the event stream ended); trying again\n", 5000))
      << watch.Stderr();
  StartStation();
  EXPECT_TRUE(watch.WaitForStderr("is back\n", 10000)) << watch.Stderr();
  ASSERT_EQ(Ctl({"rotate", "3", "50"}, true).status, 0);
  EXPECT_TRUE(watch.WaitForStdout("3 050\n", 10000)) << watch.Stdout();
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(5000), 0);
}

// zeva-ctl -i on a terminal of its own: Ctrl+C clears a half-typed line, as shells do; on an
// empty line it ends the shell with status 0.
TEST_F(CtlStationTest, CtrlCClearsTheLineThenEndsTheShell) {
  Pty terminal;
  const std::string port = std::to_string(httpPort);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int fd = open(terminal.SlavePath().c_str(), O_RDWR);
    ioctl(fd, TIOCSCTTY, 0);
    for (int stdio = 0; stdio < 3; ++stdio) dup2(fd, stdio);
    execl(ZEVA_CTL_PATH, ZEVA_CTL_PATH, "--station", port.c_str(), "-i", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string screen;
  auto until = [&](const std::string& text) {
    return WaitUntil([&] { return (screen += terminal.Read(50)).find(text) != std::string::npos; }, 5000);
  };
  auto type = [&](const std::string& keys) { ASSERT_TRUE(terminal.Send(keys)); };
  ASSERT_TRUE(until("zeva> ")) << screen;
  type("rotate 3 3");
  ASSERT_TRUE(until("rotate 3 3")) << screen;
  type("\x03");
  type("status\r");
  EXPECT_TRUE(until("rotator 3 \"Tri Band\": Yaesu GS-232")) << screen;  // not "rotate 3 3status"
  type("\x03");
  int status = -1;
  EXPECT_TRUE(WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 5000)) << screen;
  if (status == -1) kill(child, SIGKILL), waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
