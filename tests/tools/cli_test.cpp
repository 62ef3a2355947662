// The tools' command lines, run as a user runs them: --help and --version
// answer alike in all three, zeva-ctl's ways of naming the daemon, and its
// note when a call turns a rotator it never configured.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Common.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Daemon.h"

namespace {

using testing_support::ChildProcess;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result RunTool(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child;
  Result result;
  if (!child.Start(argv, ChildProcess::Descriptors::kStdioOnly)) return result;
  result.status = child.Wait(15000);
  result.out = child.Stdout();
  result.err = child.Stderr();
  return result;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

TEST(ToolCommandLineTest, HelpVersionAndMistakesAnswerAlike) {
  enum Answer { kHelp, kVersion, kMistake };
  const struct {
    const char* name;
    const char* path;
    int usageStatus;
    std::vector<std::string> valid;  // options in both --opt=value and --opt value form
  } tools[] = {
      {"zeva-ctl", ZEVA_CTL_PATH, 1, {"--host=127.0.0.1:1", "-p", "2", "-i"}},
      {"zeva-boxsim", ZEVA_BOXSIM_PATH, 1, {"--model=spid", "--speed", "3", "-v"}},
      {"zeva-rotctl-bridge", ZEVA_BRIDGE_PATH, 2, {"--port=1", "-r", "1:/dev/a:yaesu:1000", "-v"}},
  };
  const struct {
    std::vector<std::string> args;
    Answer answer;
  } cases[] = {
      {{"--help"}, kHelp},       {{"-h"}, kHelp},        {{"--version"}, kVersion},
      {{"-V"}, kVersion},        {{"-V", "--bogus"}, kVersion},  // the first answer wins
      {{"--bogus"}, kMistake},   {{"--help=1"}, kMistake},
      {{"--port"}, kMistake},    {{"-Q"}, kMistake},
  };
  for (const auto& tool : tools) {
    for (const auto& test : cases) {
      for (bool withValid : {false, true}) {
        std::vector<std::string> args = withValid ? tool.valid : std::vector<std::string>{};
        args.insert(args.end(), test.args.begin(), test.args.end());
        SCOPED_TRACE(std::string(tool.name) + " " + Joined(args));
        Result result = RunTool(tool.path, args);
        const std::string name = tool.name;
        if (test.answer == kMistake) {
          EXPECT_EQ(result.status, tool.usageStatus);
          EXPECT_EQ(result.out, "");
          EXPECT_EQ(result.err.rfind(name + ": ", 0), 0u) << result.err;
          EXPECT_NE(result.err.find("Try '" + name + " --help'.\n"), std::string::npos) << result.err;
        } else {
          EXPECT_EQ(result.status, 0);
          EXPECT_EQ(result.err, "");
          if (test.answer == kVersion) {
            EXPECT_EQ(result.out, name + " " + zeva::kVersion + "\n");
          } else {
            EXPECT_EQ(result.out.rfind("Usage: " + name + " ", 0), 0u);
          }
        }
      }
    }
  }
}

TEST(CtlHostTest, EveryHostFormNamesTheDaemon) {
  // Nothing listens on port 1, so the message names what was understood.
  const struct {
    std::vector<std::string> args;
    const char* target;  // "" : a usage error
  } cases[] = {
      {{"--host=127.0.0.1", "--port=1"}, "127.0.0.1:1"},
      {{"--host", "127.0.0.1:1"}, "127.0.0.1:1"},
      {{"-H", "127.0.0.1:1", "--port", "2"}, "127.0.0.1:1"},  // HOST:PORT wins over --port
      {{"-H127.0.0.1", "-p1"}, "127.0.0.1:1"},
      {{"127.0.0.1:1"}, "127.0.0.1:1"},  // a first word with a colon
      {{"-H", "[::1]:1"}, "[::1]:1"},
      {{"-p", "1", "--host", "::1"}, "[::1]:1"},
      {{"-H", "127.0.0.1:"}, ""},
      {{"-H", "[::1"}, ""},
      {{"-H", ":1"}, ""},
      {{"127.0.0.1:65536"}, ""},
      {{"-H", "127.0.0.1", "127.0.0.1:1"}, ""},  // the host is named: a command after all
  };
  for (const auto& test : cases) {
    std::vector<std::string> args = test.args;
    args.push_back("version");
    SCOPED_TRACE(Joined(args));
    Result result = RunTool(ZEVA_CTL_PATH, args);
    if (*test.target == '\0') {
      EXPECT_EQ(result.status, 1) << result.err;
    } else {
      EXPECT_EQ(result.status, 2) << result.err;
      EXPECT_EQ(result.err.rfind(std::string("zeva-ctl: cannot connect to ") + test.target + ": ", 0), 0u)
          << result.err;
    }
  }
}

TEST(CtlOneShotTest, TurningWithoutConfiguringSaysTheDaemonForgets) {
  testing_support::Daemon daemon;
  ASSERT_TRUE(daemon.Start());
  const struct {
    std::vector<std::string> args;
    const char* id;  // the rotator the note names; nullptr: no note
  } cases[] = {
      {{"rotate", "1", "180"}, "1"},
      {{"echo", "hi,", "stop", "7"}, "7"},
      {{"configure", "1", "/dev/zeva-none", "yaesu", "1000", ",", "rotate", "1", "180"}, nullptr},
      {{"raw", "CONFIGURE 1 /dev/zeva-none 4 1000,", "stop", "1"}, nullptr},
      {{"version"}, nullptr},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(Joined(test.args));
    Result result = RunTool(ZEVA_CTL_PATH, test.args);
    EXPECT_EQ(result.status, 0) << result.err;  // still sent, as before
    bool noted = result.err.find("forgets its rotators") != std::string::npos;
    EXPECT_EQ(noted, test.id != nullptr) << result.err;
    if (test.id == nullptr) continue;
    std::string chained = std::string("  zeva-ctl configure ") + test.id + " /dev/ttyUSB0 yaesu 1000 , " +
                          Joined(test.args) + "\n";
    EXPECT_NE(result.err.find(chained), std::string::npos) << result.err;
  }
}

}  // namespace
