// The rotctld command language and answer formats of the bridge, and its
// command line, without any process or socket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "RotctlParser.h"
#include "RotctlReply.h"

namespace {

std::vector<std::string> Names(const std::vector<RotctlRequest>& requests) {
  std::vector<std::string> names;
  for (const RotctlRequest& request : requests) names.push_back(request.name);
  return names;
}

RotctlRequest One(const std::string& line) {
  std::vector<RotctlRequest> requests = RotctlParser::ParseLine(line);
  EXPECT_EQ(requests.size(), 1u) << line;
  return requests.empty() ? RotctlRequest() : requests.front();
}

// --- Reading command lines -------------------------------------------------

TEST(RotctlParserTest, ShortAndLongNamesGiveTheSameCommand) {
  RotctlRequest shortForm = One("P 45 10");
  RotctlRequest longForm = One("\\set_pos 45 10");
  EXPECT_EQ(shortForm.action, RotctlAction::SetPos);
  EXPECT_EQ(longForm.action, RotctlAction::SetPos);
  EXPECT_EQ(shortForm.name, "set_pos");
  EXPECT_EQ(longForm.args, (std::vector<std::string>{"45", "10"}));
  EXPECT_EQ(One("\\dump_state").action, RotctlAction::DumpState);
  EXPECT_EQ(One("p").action, RotctlAction::GetPos);
  EXPECT_EQ(One("\\get_info").action, RotctlAction::GetInfo);
  EXPECT_EQ(One("_").action, RotctlAction::GetInfo);
  EXPECT_EQ(One("1").action, RotctlAction::DumpCaps);
  EXPECT_EQ(One("q").action, RotctlAction::Quit);
}

TEST(RotctlParserTest, ShortNamesAreCaseSensitive) {
  EXPECT_EQ(One("S").action, RotctlAction::Stop);
  EXPECT_EQ(One("s").action, RotctlAction::Unknown);
  EXPECT_EQ(One("p").action, RotctlAction::GetPos);
  EXPECT_EQ(One("P 1 2").action, RotctlAction::SetPos);
}

TEST(RotctlParserTest, SeveralCommandsOnOneLineRunInOrder) {
  std::vector<RotctlRequest> requests = RotctlParser::ParseLine("P 10 0 p S");
  EXPECT_EQ(Names(requests), (std::vector<std::string>{"set_pos", "get_pos", "stop"}));
  EXPECT_EQ(requests[0].args, (std::vector<std::string>{"10", "0"}));
}

TEST(RotctlParserTest, NegativeArgumentsAreNotCommands) {
  RotctlRequest request = One("P -10 -5");
  EXPECT_EQ(request.args, (std::vector<std::string>{"-10", "-5"}));
  EXPECT_FALSE(request.extended);
}

TEST(RotctlParserTest, RefusedCommandsTakeTheirArgumentsAlong) {
  std::vector<RotctlRequest> requests = RotctlParser::ParseLine("M 8 50 p");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].action, RotctlAction::Refused);
  EXPECT_EQ(requests[0].name, "move");
  EXPECT_EQ(requests[1].action, RotctlAction::GetPos);
  EXPECT_EQ(One("K").action, RotctlAction::Refused);
  EXPECT_EQ(One("R 1").action, RotctlAction::Refused);
  EXPECT_EQ(One("\\park").action, RotctlAction::Refused);
}

TEST(RotctlParserTest, UnknownCommandTakesTheRestOfTheLine) {
  std::vector<RotctlRequest> requests = RotctlParser::ParseLine("\\frobnicate 1 p");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].action, RotctlAction::Unknown);
  EXPECT_EQ(requests[0].name, "frobnicate");
  EXPECT_EQ(requests[0].args, (std::vector<std::string>{"1", "p"}));
}

TEST(RotctlParserTest, MissingArgumentsAreMarked) {
  RotctlRequest request = One("P 10");
  EXPECT_TRUE(request.missingArgs);
  EXPECT_EQ(request.args, std::vector<std::string>{"10"});
  EXPECT_FALSE(One("P 10 0").missingArgs);
}

TEST(RotctlParserTest, PunctuationPrefixSelectsTheExtendedFormat) {
  RotctlRequest plus = One("+p");
  EXPECT_TRUE(plus.extended);
  EXPECT_EQ(plus.separator, '\n');
  RotctlRequest semicolon = One(";\\get_pos");
  EXPECT_TRUE(semicolon.extended);
  EXPECT_EQ(semicolon.separator, ';');
  EXPECT_EQ(semicolon.action, RotctlAction::GetPos);
  EXPECT_EQ(One("|P 1 2").separator, '|');
  EXPECT_EQ(One(",S").separator, ',');
  // The prefix holds for its own command only.
  std::vector<RotctlRequest> two = RotctlParser::ParseLine("+p p");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_TRUE(two[0].extended);
  EXPECT_FALSE(two[1].extended);
  // '_' is get_info, '\' starts a long name, '?' and '#' are reserved.
  EXPECT_FALSE(RotctlParser::IsExtendedPrefix('_'));
  EXPECT_FALSE(RotctlParser::IsExtendedPrefix('\\'));
  EXPECT_FALSE(RotctlParser::IsExtendedPrefix('?'));
  EXPECT_FALSE(RotctlParser::IsExtendedPrefix('#'));
}

TEST(RotctlParserTest, BlanksCarriageReturnAndCommentsAreNotCommands) {
  EXPECT_TRUE(RotctlParser::ParseLine("").empty());
  EXPECT_TRUE(RotctlParser::ParseLine("  \t \r").empty());
  EXPECT_TRUE(RotctlParser::ParseLine("# P 10 0").empty());
  EXPECT_EQ(Names(RotctlParser::ParseLine("p\r")), std::vector<std::string>{"get_pos"});
  EXPECT_EQ(Names(RotctlParser::ParseLine("\tP  10\t0 ")), std::vector<std::string>{"set_pos"});
}

// --- Answer formats --------------------------------------------------------

TEST(RotctlReplyTest, DefaultGetAnswersTheValuesOnly) {
  RotctlReply reply(One("p"));
  reply.Value("Azimuth", "40.000000");
  reply.Value("Elevation", "0.000000");
  EXPECT_EQ(reply.Finish(RotctlReply::kOk), "40.000000\n0.000000\n");
}

TEST(RotctlReplyTest, DefaultSetAnswersTheResultCode) {
  EXPECT_EQ(RotctlReply(One("P 1 2")).Finish(RotctlReply::kOk), "RPRT 0\n");
  EXPECT_EQ(RotctlReply(One("K")).Finish(RotctlReply::kNotAvailable), "RPRT -11\n");
}

TEST(RotctlReplyTest, FailureDropsTheValues) {
  RotctlReply reply(One("p"));
  reply.Value("Azimuth", "40.000000");
  EXPECT_EQ(reply.Finish(RotctlReply::kTimedOut), "RPRT -5\n");
  RotctlReply extended(One("+p"));
  extended.Value("Azimuth", "40.000000");
  EXPECT_EQ(extended.Finish(RotctlReply::kTimedOut), "get_pos:\nRPRT -5\n");
}

TEST(RotctlReplyTest, RecordsWithReportedSuccessEndInResultCode) {
  RotctlReply reply(One("1"));
  reply.Record("Caps dump for model:\t2");
  reply.ReportSuccess();
  EXPECT_EQ(reply.Finish(RotctlReply::kOk), "Caps dump for model:\t2\nRPRT 0\n");
}

TEST(RotctlReplyTest, ExtendedEchoesTheCommandAndItsArguments) {
  EXPECT_EQ(RotctlReply(One("+P 90 45")).Finish(RotctlReply::kOk), "set_pos: 90 45\nRPRT 0\n");
  RotctlReply get(One("+\\get_pos"));
  get.Value("Azimuth", "90.000000");
  get.Value("Elevation", "0.000000");
  EXPECT_EQ(get.Finish(RotctlReply::kOk),
            "get_pos:\nAzimuth: 90.000000\nElevation: 0.000000\nRPRT 0\n");
}

TEST(RotctlReplyTest, SeparatorCharacterPutsTheAnswerOnOneLine) {
  RotctlReply get(One(";p"));
  get.Value("Azimuth", "90.000000");
  get.Value("Elevation", "0.000000");
  EXPECT_EQ(get.Finish(RotctlReply::kOk),
            "get_pos:;Azimuth: 90.000000;Elevation: 0.000000;RPRT 0\n");
  EXPECT_EQ(RotctlReply(One("|P 135 22.5")).Finish(RotctlReply::kOk), "set_pos: 135 22.5|RPRT 0\n");
}

// --- Command line ------------------------------------------------------------

bool ParseArgs(std::vector<std::string> args, BridgeOptions& options, std::string& error) {
  args.insert(args.begin(), "zeva-rotctl-bridge");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return options.Parse(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(BridgeOptionsTest, RotatorsGetPortsTwoApartFromTheBasePort) {
  BridgeOptions options;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--rotator", "1:/dev/ttyUSB0:yaesu:1000", "-r", "2:/dev/ttyUSB1:5:500",
                         "--rotator", "3:/dev/ttyUSB2:DCU1:0:4535", "-r", "4:/dev/ttyUSB3:12:0"},
                        options, error))
      << error;
  ASSERT_EQ(options.rotators.size(), 4u);
  EXPECT_EQ(options.rotators[0].listenPort, 4533);
  EXPECT_EQ(options.rotators[1].listenPort, 4537);  // 4535 is rotator 3's own
  EXPECT_EQ(options.rotators[2].listenPort, 4535);
  EXPECT_EQ(options.rotators[3].listenPort, 4539);
  EXPECT_EQ(options.rotators[0].model, 4);
  EXPECT_EQ(options.rotators[1].model, 5);
  EXPECT_EQ(options.rotators[2].model, 1);
  EXPECT_EQ(options.rotators[1].pollMs, 500);
  EXPECT_EQ(options.daemonHost, "127.0.0.1");
  EXPECT_EQ(options.daemonPort, 13020);
  EXPECT_EQ(options.listenAddress, "127.0.0.1");
}

TEST(BridgeOptionsTest, ConnectionOptionsTakeSeparateOrInlineValues) {
  BridgeOptions options;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--host=board.local", "--port", "13021", "--listen", "0.0.0.0",
                         "--base-port=14533", "-r", "7:/dev/ttyS0:rotorez:250"},
                        options, error))
      << error;
  EXPECT_EQ(options.daemonHost, "board.local");
  EXPECT_EQ(options.daemonPort, 13021);
  EXPECT_EQ(options.listenAddress, "0.0.0.0");
  EXPECT_EQ(options.rotators[0].listenPort, 14533);
  EXPECT_EQ(options.rotators[0].id, 7);
}

TEST(BridgeOptionsTest, DevicePathMayHoldColons) {
  BridgeOptions options;
  std::string error;
  const std::string device = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
  ASSERT_TRUE(ParseArgs({"-r", "1:" + device + ":yaesu:1000", "-r",
                         "2:" + device + "-b:spid:500:4600"},
                        options, error))
      << error;
  EXPECT_EQ(options.rotators[0].device, device);
  EXPECT_EQ(options.rotators[0].listenPort, 4533);
  EXPECT_EQ(options.rotators[1].device, device + "-b");
  EXPECT_EQ(options.rotators[1].listenPort, 4600);
}

TEST(BridgeOptionsTest, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {},                                                       // no rotator
      {"-r", "1:/dev/ttyUSB0:yaesu"},                            // too few fields
      {"-r", "x:/dev/ttyUSB0:yaesu:1000"},                       // number
      {"-r", "1:/dev/ttyUSB0:gs9000:1000"},                      // model
      {"-r", "1:/dev/ttyUSB0:3:1000"},                           // a number without a driver
      {"-r", "1:/dev/ttyUSB0:yaesu:50"},                         // polled too often
      {"-r", "1:/dev/ttyUSB0:yaesu:1000:70000"},                 // port
      {"-r", "1:/dev/tty USB0:yaesu:1000"},                      // blank in the device
      {"-r", "1::yaesu:1000"},                                   // no device
      {"-r", "1:/dev/a:yaesu:1000", "-r", "1:/dev/b:yaesu:1000"},  // same number
      {"-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/a:yaesu:1000"},  // same device
      {"-r", "1:/dev/a:yaesu:1000:5000", "-r", "2:/dev/b:spid:500:5000"},  // same port
      {"-r", "1:/dev/a:yaesu:1000", "--port"},                   // missing value
      {"-r", "1:/dev/a:yaesu:1000", "--bogus"},                  // unknown option
  };
  for (const auto& args : wrong) {
    BridgeOptions options;
    std::string error;
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    EXPECT_FALSE(ParseArgs(args, options, error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

TEST(BridgeOptionsTest, DcuNeedsNoPollPeriod) {
  BridgeOptions options;
  std::string error;
  EXPECT_TRUE(ParseArgs({"-r", "1:/dev/ttyUSB0:dcu1:0"}, options, error)) << error;
  EXPECT_FALSE(BridgeOptions::ModelHasFeedback(1));
  EXPECT_TRUE(BridgeOptions::ModelHasFeedback(4));
}

}  // namespace
