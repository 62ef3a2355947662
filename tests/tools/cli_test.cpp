// The tools' command lines as a user runs them: --help and --version alike in all three,
// zeva-ctl's ways of naming the daemon and its note on turning an unconfigured rotator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Common.h"
#include "tests/support/ChildProcess.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

Result RunTool(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  testing_support::ChildProcess child;
  if (!child.Start(args, testing_support::ChildProcess::Descriptors::kStdioOnly)) return {};
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
  testing_support::Daemon daemon;
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
    EXPECT_EQ(result.status, 0);  // still sent, as before
    EXPECT_EQ(result.err.find("forgets its rotators") != std::string::npos, !test.second.empty());
    if (!test.second.empty()) { EXPECT_NE(result.err.find("  zeva-ctl configure " + test.second), std::string::npos); }
  }
}

}  // namespace
