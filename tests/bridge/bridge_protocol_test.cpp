// The rotctld command language of the bridge, how it brings targets into a
// rotator's range and coalesces its commands, and its command line, without
// any process or socket. (The answers are compared with rotctld's in
// bridge_rotctld_test.)
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "BridgeOptions.h"
#include "BridgedRotator.h"
#include "DaemonLink.h"
#include "RotctlParser.h"

namespace {

// A parse as one line of text: each request as its name, "=refused" or
// "=unknown" where it is one, its arguments in brackets, "!" when some are
// missing, and the extended format's separator in front ('+' for a line feed).
std::string Describe(const std::string& line) {
  std::string text;
  for (const RotctlRequest& request : RotctlParser::ParseLine(line)) {
    if (!text.empty()) text += " ";
    if (request.extended) text += request.separator == '\n' ? '+' : request.separator;
    text += request.name;
    if (request.action == RotctlAction::Refused) text += "=refused";
    if (request.action == RotctlAction::Unknown) text += "=unknown";
    text += "(";
    for (size_t i = 0; i < request.args.size(); ++i) text += (i ? "," : "") + request.args[i];
    text += request.missingArgs ? ")!" : ")";
  }
  return text;
}

RotctlRequest One(const std::string& line) {
  std::vector<RotctlRequest> requests = RotctlParser::ParseLine(line);
  EXPECT_EQ(requests.size(), 1u) << line;
  return requests.empty() ? RotctlRequest() : requests.front();
}

TEST(RotctlParserTest, LinesBecomeRequests) {
  const std::pair<std::string, std::string> cases[] = {
      {"P 45 10", "set_pos(45,10)"},        {"\\set_pos 45 10", "set_pos(45,10)"},
      {"p", "get_pos()"},                   {"\\get_info", "get_info()"},
      {"_", "get_info()"},                  {"1", "dump_caps()"},
      {"\\dump_state", "dump_state()"},     {"S", "stop()"},
      {"s", "s=unknown()"},                 {"P -10 -5", "set_pos(-10,-5)"},
      {"P 10 0 p S", "set_pos(10,0) get_pos() stop()"},
      {"M 8 50 p", "move=refused(8,50) get_pos()"},
      {"K", "park=refused()"},              {"R 1", "reset=refused(1)"},
      {"\\park", "park=refused()"},         {"\\frobnicate 1 p", "frobnicate=unknown(1,p)"},
      {"P 10", "set_pos(10)!"},             {"+p p", "+get_pos() get_pos()"},
      {";\\get_pos", ";get_pos()"},         {"|P 1 2", "|set_pos(1,2)"},
      {",S", ",stop()"},                    {"", ""},
      {"  \t \r", ""},                      {"# P 10 0", ""},
      {"p\r", "get_pos()"},                 {"\tP  10\t0 ", "set_pos(10,0)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(c.first), c.second) << c.first;
  EXPECT_EQ(One("q").action, RotctlAction::Quit);
  // '_' is get_info, '\' starts a long name, '?' and '#' are reserved.
  for (char c : {'_', '\\', '?', '#'}) EXPECT_FALSE(RotctlParser::IsExtendedPrefix(c)) << c;
}

// --- Commands to one rotator -----------------------------------------------

// Runs "T<azimuth>" (a turn; "x" when out of range), "B<bearing>" (a
// bearing reported), "S" (a stop), "take" (the next batch: what goes to the
// daemon, "-" for nothing) and "pos" (the position: "@n" or "@-") on a fresh
// rotator of the model and azimuth range; returns what they gave,
// blank-separated.
std::string Commands(int model, const std::string& script, int minAz = 0, int maxAz = 360) {
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  RotatorSetup setup;
  setup.id = 1;
  setup.device = "/dev/null";
  setup.model = model;
  setup.minAz = minAz;
  setup.maxAz = maxAz;
  BridgedRotator rotator(setup, link);
  std::istringstream ops(script);
  std::string op, out, line;
  int bearing = 0;
  while (ops >> op) {
    if (op[0] == 'T') {
      if (rotator.Bearing(std::stod(op.substr(1)), bearing)) rotator.Turn(bearing);
      else out += " x";
    }
    if (op[0] == 'B') rotator.OnBearing(std::stoi(op.substr(1)));
    if (op == "S") rotator.Halt();
    if (op == "take") out += " " + (rotator.TakeCommand(line) ? line : "-");
    if (op == "pos") out += rotator.Position(bearing) ? " @" + std::to_string(bearing) : " @-";
  }
  return out.empty() ? out : out.substr(1);
}

TEST(BridgedRotatorTest, CommandsAreCoalescedAndRepeatedTargetsNotSent) {
  const std::pair<std::string, std::string> yaesu[] = {
      {"T10 T20 T30 take take", "ROTATE 1 30 -"},           // the latest wins
      {"T10 take T10.4 take T9.6 take", "ROTATE 1 10 - -"},  // a tracker's repeats
      {"T10 take T10.6 take", "ROTATE 1 10 ROTATE 1 11"},
      {"T10 take S take T10 take", "ROTATE 1 10 STOP 1 ROTATE 1 10"},
      {"T0.2 take T359.8 take T359.6 take", "ROTATE 1 0 ROTATE 1 360 -"},
      {"T10 S take T20 take pos", "STOP 1 ROTATE 1 20 @-"},  // no bearing reported
      {"T-90 take T-0.7 take T360.4 take T725 take", "ROTATE 1 270 ROTATE 1 0 ROTATE 1 360 ROTATE 1 5"},
  };
  for (const auto& c : yaesu) EXPECT_EQ(Commands(4, c.first), c.second) << c.first;
  // Other ranges: the nearest end within a degree, whole turns, and for an
  // overlap the bearing nearest the rotator's.
  struct Ranged {
    int minAz, maxAz;
    const char* script;
    const char* sent;
  };
  const Ranged ranged[] = {
      {0, 359, "T359.7 take T360.4 take T-1.6 take", "ROTATE 1 359 ROTATE 1 0 ROTATE 1 358"},
      {-180, 180, "T270 take T180 take T-180.4 take T190 take", "ROTATE 1 -90 ROTATE 1 180 ROTATE 1 -180 ROTATE 1 -170"},
      {0, 450, "T30 take B420 T30 take T360 take B10 T360 take", "ROTATE 1 30 ROTATE 1 390 ROTATE 1 360 ROTATE 1 0"},
      {0, 450, "B440 T-90 take T100 take T460 take", "ROTATE 1 270 ROTATE 1 100 -"},
      {90, 270, "T0 T300 T-100 take T-89.5 take", "x x ROTATE 1 260 ROTATE 1 270"},
  };
  for (const Ranged& c : ranged) {
    EXPECT_EQ(Commands(4, c.script, c.minAz, c.maxAz), c.sent) << c.minAz << ".." << c.maxAz << " " << c.script;
  }
  // A DCU-1 never reports: its position is the last bearing it was sent.
  EXPECT_EQ(Commands(1, "pos T90 pos take pos S take pos"), "@- @- ROTATE 1 90 @90 STOP 1 @-");
}

TEST(BridgedRotatorTest, WaitingCommandsAreDoneWhenALaterOneIsHandedOver) {
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  RotatorSetup setup;
  setup.device = "/dev/null";
  BridgedRotator rotator(setup, link);
  uint64_t first = rotator.Turn(10), second = rotator.Turn(20);
  EXPECT_FALSE(rotator.Done(first));
  std::string line;
  ASSERT_TRUE(rotator.TakeCommand(line));
  EXPECT_TRUE(rotator.Done(first) && rotator.Done(second));
  EXPECT_EQ(rotator.Turn(20), 0u);
  EXPECT_FALSE(rotator.Done(rotator.Halt()));
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

TEST(BridgeOptionsTest, ConnectionOptionsTakeSeparateOrInlineValuesDevicesColonsAndRanges) {
  BridgeOptions options;
  std::string error;
  const std::string device = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
  ASSERT_TRUE(ParseArgs({"--host=board.local", "--port", "13021", "--listen", "0.0.0.0",
                         "--base-port=14533", "-r", "7:" + device + ":rotorez:250:0..450", "-r",
                         "2:" + device + "-b:spid:500:4600:-180..180"},
                        options, error))
      << error;
  EXPECT_EQ(options.daemonHost, "board.local");
  EXPECT_EQ(options.daemonPort, 13021);
  EXPECT_EQ(options.listenAddress, "0.0.0.0");
  EXPECT_EQ(options.rotators[0].listenPort, 14533);
  EXPECT_EQ(options.rotators[0].id, 7);
  EXPECT_EQ(options.rotators[0].device, device);
  EXPECT_EQ(options.rotators[1].device, device + "-b");
  EXPECT_EQ(options.rotators[1].listenPort, 4600);
  // An azimuth range may end the rotator; 0..360 without one.
  EXPECT_EQ(options.rotators[0].maxAz, 450);
  EXPECT_EQ(options.rotators[1].minAz, -180);
  EXPECT_EQ(options.rotators[1].maxAz, 180);
  BridgeOptions plain;
  ASSERT_TRUE(ParseArgs({"-r", "1:/dev/ttyUSB0:yaesu:1000"}, plain, error));
  EXPECT_EQ(plain.rotators[0].minAz, 0);
  EXPECT_EQ(plain.rotators[0].maxAz, 360);
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
      {"-r", "1:/dev/ttyUSB0:yaesu:1000:360..0"},                // empty range
      {"-r", "1:/dev/ttyUSB0:yaesu:1000:0..800"},                // range
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

}  // namespace
