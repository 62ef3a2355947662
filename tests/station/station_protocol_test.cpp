// The station's rotctld command language, its rotators' rules (range,
// coalescing, repeats, DCU-1) and its command line, without process or socket.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "core/DaemonLink.h"
#include "rotctld/RotctlParser.h"

namespace {

// A parse as one line of text: each request as its name, "=unknown" where
// it is one, its arguments in brackets, "!" when some are
// missing, and the extended format's separator in front ('+' for a line feed).
std::string Describe(const std::string& line) {
  std::string text;
  for (const RotctlRequest& request : RotctlParser::ParseLine(line)) {
    if (!text.empty()) text += " ";
    if (request.extended) text += request.separator == '\n' ? '+' : request.separator;
    text += request.name;
    if (request.action == RotctlAction::Unknown) text += "=unknown";
    text += "(";
    for (size_t i = 0; i < request.args.size(); ++i) text += (i ? "," : "") + request.args[i];
    text += request.missingArgs ? ")!" : ")";
  }
  return text;
}

TEST(RotctlParserTest, LinesBecomeRequests) {
  // The forms rotctld's answers do not show (compared in station_rotctld_test).
  const std::pair<std::string, std::string> cases[] = {
      {"s", "s=unknown()"},     {"\\frobnicate 1 p", "frobnicate=unknown(1,p)"},
      {"  \t \r", ""},         {"# P 10 0", ""},
      {"p\r", "get_pos()"},     {"\tP  10\t0 ", "set_pos(10,0)"},
      {"+p p", "+get_pos() get_pos()"},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(c.first), c.second) << c.first;
}

// --- Commands to one rotator -----------------------------------------------

// Runs "T<azimuth>" (a turn; "x" when out of range), "B<bearing>" (a
// bearing reported), "S" (a stop), "take" (the next batch: what goes to the
// daemon, "-" for nothing), "?" (each set and stop so far: "y" handed over,
// "n" waiting, "0" answered without a command) and "pos" (the position: "@n"
// or "@-") on a fresh rotator of the model and azimuth range; returns what
// they gave, blank-separated.
std::string Commands(int model, const std::string& script, int minAz = 0, int maxAz = 360, int offset = 0) {
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  RotatorSetup setup;
  setup.id = 1;
  setup.device = "/dev/null";
  setup.model = model;
  setup.minAz = minAz;
  setup.maxAz = maxAz;
  setup.offset = offset;
  StationRotator rotator(setup, link);
  std::istringstream ops(script);
  std::string op, out, line;
  int bearing = 0;
  std::vector<uint64_t> tickets;  // each set's and stop's, 0 when answered at once
  while (ops >> op) {
    if (op[0] == 'T') {
      if (rotator.Bearing(std::stod(op.substr(1)), bearing)) tickets.push_back(rotator.Turn(bearing, "test"));
      else out += " x";
    }
    if (op[0] == 'B') rotator.OnBearing(std::stoi(op.substr(1)));
    if (op == "S") tickets.push_back(rotator.Halt("test"));
    if (op == "?") {
      out += " ";
      for (uint64_t ticket : tickets) out += !ticket ? '0' : rotator.Done(ticket) ? 'y' : 'n';
    }
    if (op == "take") out += " " + (rotator.TakeCommand(line) ? line : "-");
    if (op == "pos") out += rotator.Position(bearing) ? " @" + std::to_string(bearing) : " @-";
    if (op == "tgt") out += rotator.Target(bearing) ? " >" + std::to_string(bearing) : " >-";
  }
  return out.empty() ? out : out.substr(1);
}

TEST(StationRotatorTest, CommandsAreCoalescedAndRepeatedTargetsNotSent) {
  const std::pair<std::string, std::string> yaesu[] = {
      {"T10 T20 T30 take take", "ROTATE 1 30 -"},           // the latest wins
      {"T10 T20 ? take ? T20 S ?", "nn ROTATE 1 20 yy yy0n"},  // answered once handed over
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
  // A calibration offset: true bearings in and out, the box's own to the
  // daemon, its range unchanged.
  const struct {
    int minAz, maxAz, offset;
    const char* script;
    const char* seen;
  } calibrated[] = {
      {0, 360, 10, "T55 tgt take B45 pos T5 take tgt B355 pos T365 take B350 pos",
       ">55 ROTATE 1 45 @55 ROTATE 1 355 >5 @5 - @360"},
      {0, 360, -10, "B5 pos T0 take T355 take", "@355 ROTATE 1 10 ROTATE 1 5"},
      {0, 450, 10, "B420 pos T80 take B10 T80 take", "@430 ROTATE 1 430 ROTATE 1 70"},
      {-180, 180, 90, "B135 pos T0 take", "@-135 ROTATE 1 -90"},
  };
  for (const auto& c : calibrated) {
    EXPECT_EQ(Commands(4, c.script, c.minAz, c.maxAz, c.offset), c.seen) << c.offset << " " << c.script;
  }
  // A DCU-1 never reports: its position is the last bearing it was sent.
  EXPECT_EQ(Commands(1, "pos T90 pos take pos S take pos"), "@- @- ROTATE 1 90 @90 STOP 1 @-");
}

// --- Command line ------------------------------------------------------------

bool ParseArgs(std::vector<std::string> args, StationOptions& options, std::string& error) {
  args.insert(args.begin(), "zeva-station");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return options.Parse(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(StationOptionsTest, RotatorsGetPortsTwoApartAndTheirAzimuthRanges) {
  StationOptions options;
  std::string error;
  const std::string byPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
  ASSERT_TRUE(ParseArgs({"--base-port=14533", "-r", "1:" + byPath + ":yaesu:1000", "-r", "2:/dev/b:spid:500:0..450",
                         "-r", "3:/dev/c:DCU1:0:14535:-180..180", "-r", "4:/dev/d:12:0"}, options, error))
      << error;
  std::string got;  // device port:model:range of each rotator; 14535 is rotator 3's own
  for (const RotatorSetup& r : options.rotators) {
    got += r.device + " " + std::to_string(r.listenPort) + ":" + std::to_string(r.model) + ":" +
           std::to_string(r.minAz) + ".." + std::to_string(r.maxAz) + " ";
  }
  EXPECT_EQ(got, byPath + " 14533:4:0..360 /dev/b 14537:5:0..450 /dev/c 14535:1:-180..180 /dev/d 14539:12:0..360 ");

  // The web page: loopback by default; anywhere else with a secret file.
  for (const auto& http : std::vector<std::pair<std::string, std::string>>{
           {"8080", "127.0.0.1"}, {"[::1]:8080", "::1"}, {"192.0.2.1:8080", "192.0.2.1"}}) {
    StationOptions web;
    ASSERT_TRUE(ParseArgs({"--http", http.first, "--http-secret-file", "/s", "--preset", "Long Path EU:225.5",
                           "-r", "1:/dev/a:yaesu:1000"}, web, error)) << error;
    EXPECT_EQ(web.httpAddress + " " + std::to_string(web.httpPort), http.second + " 8080");
    EXPECT_EQ(web.presets.back().name + " " + std::to_string(web.presets.back().azimuth), "Long Path EU 225.500000");
  }
}

TEST(StationOptionsTest, NamesOffsetsAndTheLoggerFront) {
  StationOptions options;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--name", "2:Tri Band", "--offset=1:-12", "--n1mm", "0.0.0.0:12040", "--n1mm-allow",
                         "192.168.1.0/24", "--n1mm-to", "192.168.1.5", "--n1mm-to", "[::1]:14000", "-r",
                         "1:/dev/a:yaesu:1000", "-r", "2:/dev/b:spid:500", "--offset", "2:180"}, options, error))
      << error;
  EXPECT_EQ(options.rotators[0].name + "|" + std::to_string(options.rotators[0].offset) + "|" +
                options.rotators[1].name + "|" + std::to_string(options.rotators[1].offset),
            "|-12|Tri Band|180");
  const LoggerSetup& logger = options.logger;
  EXPECT_EQ(logger.address + ":" + std::to_string(logger.port) + " " + logger.allowed.at(0) + " " +
                logger.headingsTo.at(0).host + ":" + std::to_string(logger.headingsTo[0].port) + " " +
                logger.headingsTo.at(1).host + ":" + std::to_string(logger.headingsTo[1].port),
            "0.0.0.0:12040 192.168.1.0/24 192.168.1.5:13010 ::1:14000");
}

TEST(StationOptionsTest, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {},                                                       // no rotator
      {"-r", "1:/dev/ttyUSB0:yaesu"},                            // too few fields
      {"-r", "1:/dev/ttyUSB0:gs9000:1000"},                      // model
      {"-r", "1:/dev/ttyUSB0:yaesu:50"},                         // polled too often
      {"-r", "1:/dev/ttyUSB0:yaesu:1000:360..0"},                // empty range
      {"-r", "1:/dev/ttyUSB0:yaesu:1000:0..800"},                // range
      {"-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/a:yaesu:1000"},  // same device
      {"-r", "1:/dev/a:yaesu:1000:5000", "-r", "2:/dev/b:spid:500:5000"},  // same port
      {"--http", "0.0.0.0:8080", "-r", "1:/dev/a:yaesu:1000"},    // off loopback, no secret
      {"--http", "80a", "-r", "1:/dev/a:yaesu:1000"},             // port
      {"--preset", "EU:45", "-r", "1:/dev/a:yaesu:1000"},         // a preset, no page
      {"--http", "8080", "--preset", "EU", "-r", "1:/dev/a:yaesu:1000"},  // no azimuth
      {"--name", "3:Yagi", "-r", "1:/dev/a:yaesu:1000"},           // no such rotator
      {"--name", "1:Yagi", "--name", "1:Quad", "-r", "1:/dev/a:yaesu:1000"},  // named twice
      {"--name", "1:a@b", "-r", "1:/dev/a:yaesu:1000"},            // '@' in a heading datagram
      {"--name", "1: ", "-r", "1:/dev/a:yaesu:1000"},              // blank
      {"--name", "1:a\tb", "-r", "1:/dev/a:yaesu:1000"},           // a control character
      {"--name", "1", "-r", "1:/dev/a:yaesu:1000"},                // no name
      {"--name", "1:Tri Band", "--name", "2:tri  band", "-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/b:yaesu:1000"},
      {"--offset", "1:10.5", "-r", "1:/dev/a:yaesu:1000"},         // whole degrees
      {"--offset", "1:360", "-r", "1:/dev/a:yaesu:1000"},
      {"--offset", "1:5", "--offset", "1:6", "-r", "1:/dev/a:yaesu:1000"},
      {"--n1mm", "12040", "-r", "1:/dev/a:yaesu:1000"},             // no rotator named
      {"--n1mm", "0.0.0.0:12040", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},  // off loopback, no allow list
      {"--n1mm", "12040", "--n1mm-allow", "10.0.0.0/40", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},
      {"--n1mm", "x", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},
      {"--n1mm-to", "127.0.0.1", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},  // no --n1mm
      {"--n1mm-allow", "127.0.0.1", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},
      {"--n1mm", "12040", "--n1mm-to", "host:0", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},
      {"--n1mm", "12040", "--n1mm-to", "[]", "--name", "1:Y", "-r", "1:/dev/a:yaesu:1000"},
  };
  for (const auto& args : wrong) {
    StationOptions options;
    std::string error;
    EXPECT_FALSE(ParseArgs(args, options, error)) << ::testing::PrintToString(args);
    EXPECT_FALSE(error.empty()) << ::testing::PrintToString(args);
  }
}

}  // namespace
