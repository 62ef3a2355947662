// The station's rotctld command language, its rotators' rules (range and box
// numbers, coalescing, repeats, not responding, DCU-1), its command line,
// the page's JSON strings and event pieces, without process or socket; how
// a rotctld session answers when the device goes, over a socket pair; and
// how the daemon link times a batch, against a daemon played on loopback;
// an idle event stream's comment lines, from the page's server on loopback.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/BoxScale.h"
#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "core/DaemonLink.h"
#include "rotctld/RotctlParser.h"
#include "rotctld/RotctlSession.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TcpClient.h"
#include "web/HttpMessage.h"
#include "web/HttpServer.h"
#include "web/Json.h"

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

// Runs "T<azimuth>" (a turn; "x" when out of range), "B<number>" (a bearing
// reported, as the box's number), "S" (a stop), "take" (the next batch: what
// goes to the daemon, "-" for nothing), "?" (each set and stop so far: "y"
// handed over, "n" waiting, "0" answered without a command), "late" (a
// minute passes), "lost" (the daemon link failed), "conf" (configured
// again), "pos" (the position: "@n", "@-", "@!" while not responding) and
// "tgt" (the target: ">n" or ">-") on a fresh rotator of the
// model, azimuth range and offset; returns what they gave, blank-separated.
std::string Commands(int model, const std::string& script, int minAz = 0, int maxAz = 360, int offset = 0) {
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  // Rotator 1 on /dev/null polled every second, without a port or a name.
  StationRotator rotator({1, "/dev/null", model, 1000, 0, minAz, maxAz, "", offset}, link);
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
    if (op == "late") rotator.OnTimer(StationRotator::Clock::now() + std::chrono::minutes(1));
    if (op == "lost") rotator.OnLinkLost(true);
    if (op == "conf") rotator.Configured(StationRotator::Clock::now(), true);
    if (op == "pos") {
      out += rotator.Unresponsive() ? " @!" : rotator.Position(bearing) ? " @" + std::to_string(bearing) : " @-";
    }
    if (op == "tgt") out += rotator.Target(bearing) ? " >" + std::to_string(bearing) : " >-";
  }
  return out.empty() ? out : out.substr(1);
}

TEST(StationRotatorTest, CommandsAreCoalescedAndRepeatsSentWhereTheAntennaIsNot) {
  const std::pair<std::string, std::string> yaesu[] = {
      {"T10 T20 T30 take take", "ROTATE 1 30 -"},               // the latest wins
      {"B20 T10 T20 ? take ? T20 S ?", "nn ROTATE 1 20 yy yy0n"},  // answered once handed over
      {"T10 take S take T10 take", "ROTATE 1 10 STOP 1 ROTATE 1 10"},
      {"T10 S take T20 take pos", "STOP 1 ROTATE 1 20 @-"},  // no bearing reported
      // A tracker's repeats: dropped while the antenna is there or on its
      // way; sent when nothing says where it is, after a hand turn, and to
      // a box that has not shown it took the last one.
      {"B10 T10 take T10.4 take B9 T9.6 take", "ROTATE 1 10 - -"},
      {"T10 take T10 take", "ROTATE 1 10 ROTATE 1 10"},
      {"B0 T90 take B40 T90 take", "ROTATE 1 90 -"},
      {"B0 T90 take B90 B200 T90 take", "ROTATE 1 90 ROTATE 1 90"},
      {"B0 T90 take late T90 take", "ROTATE 1 90 ROTATE 1 90"},
      // Not responding: a turn of more than a few degrees and no report.
      {"B0 T90 take late pos B5 pos", "ROTATE 1 90 @! @5"},
      {"T90 take late pos", "ROTATE 1 90 @!"},
      {"B0 T4 take late pos", "ROTATE 1 4 @0"},
      {"B0 T90 take S take late pos", "ROTATE 1 90 STOP 1 @0"},
      // A lost link or a new configuration forgets what the box told and
      // was told: no stale position, silence or turn carries over.
      {"B10 pos lost pos B20 pos", "@10 @- @20"},
      {"B0 T90 take late pos lost pos", "ROTATE 1 90 @! @-"},
      {"B0 T90 take conf late pos", "ROTATE 1 90 @-"},
      {"B10 T10 take conf B10 T10 take", "ROTATE 1 10 ROTATE 1 10"},
  };
  for (const auto& c : yaesu) EXPECT_EQ(Commands(4, c.first), c.second) << c.first;
  // A DCU-1 never reports: its position is the last bearing it was sent,
  // and its repeats go out.
  EXPECT_EQ(Commands(1, "pos T0 pos take pos late T0 take S take pos"), "@- @- ROTATE 1 0 @0 ROTATE 1 0 STOP 1 @-");
}

TEST(StationRotatorTest, TargetsInTheRangeGoAsTheyAreThroughTheBoxsNumbers) {
  struct Ranged {
    int model, minAz, maxAz;
    const char* script;
    const char* sent;  // ROTATE lines carry the box's numbers
  };
  const Ranged ranged[] = {
      // Whole turns and the nearest end within a degree.
      {4, 0, 360, "T-90 take T-0.7 take T360.4 take T725 take", "ROTATE 1 270 ROTATE 1 0 ROTATE 1 360 ROTATE 1 5"},
      {4, 0, 359, "T359.7 take T360.4 take T-1.6 take", "ROTATE 1 359 ROTATE 1 0 ROTATE 1 358"},
      {4, 90, 270, "T0 T300 T-100 take T-89.5 take", "x x ROTATE 1 260 ROTATE 1 270"},
      // A target an overlap holds two ways: the nearer; on 0..360 as it is.
      {4, 0, 360, "B350 T0.2 take B10 T359.8 take", "ROTATE 1 0 ROTATE 1 360"},
      {4, 0, 450, "T30 take B420 T30 take T360 take B10 T360 take", "ROTATE 1 30 ROTATE 1 390 ROTATE 1 360 ROTATE 1 0"},
      {4, 0, 450, "B440 T-90 take T100 take B100 T460 take", "ROTATE 1 270 ROTATE 1 100 -"},
      // The client's own overlap: out to 380 and back west across north.
      {4, 0, 450, "B180 T380 take B380 T370 take B370 T360 take B360 T350 take", "ROTATE 1 380 ROTATE 1 370 ROTATE 1 360 ROTATE 1 350"},
      // The south stop: the box's numbers out, the range's back.
      {4, -180, 180, "T270 take T-180.4 take T190 take", "ROTATE 1 270 ROTATE 1 180 ROTATE 1 190"},
      {4, -180, 180, "T-90 take B270 pos T-180 take B180 pos T180 take pos", "ROTATE 1 270 @-90 ROTATE 1 180 @-180 ROTATE 1 180 @-180"},
      {2, -180, 180, "T-90 take B270 pos", "ROTATE 1 270 @-90"},
      {2, 0, 360, "T0 take B359 T0 take", "ROTATE 1 0 -"},  // within a degree across north
      {2, 0, 450, "T361 take", "ROTATE 1 1"},                 // a Rotor-EZ counts 0 to 360 only
      {5, 0, 450, "T400 take", "ROTATE 1 400"},               // a SPID's span
      {5, -180, 180, "T-90 take B270 pos", "ROTATE 1 -90 @-90"},
      {12, -180, 180, "T-10.6 take B349 pos", "ROTATE 1 349 @-11"},
  };
  for (const Ranged& c : ranged) {
    EXPECT_EQ(Commands(c.model, c.script, c.minAz, c.maxAz), c.sent)
        << c.model << " " << c.minAz << ".." << c.maxAz << " " << c.script;
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
      {0, 360, -10, "B5 pos T0 take T355 take B10 pos", "@355 ROTATE 1 10 ROTATE 1 5 @0"},
      {0, 450, 10, "B420 pos T80 take B10 T80 take", "@430 ROTATE 1 430 ROTATE 1 70"},
      {-180, 180, 90, "B135 pos T0 take", "@-135 ROTATE 1 270"},
  };
  for (const auto& c : calibrated) {
    EXPECT_EQ(Commands(4, c.script, c.minAz, c.maxAz, c.offset), c.seen) << c.offset << " " << c.script;
  }
}

TEST(BoxScaleTest, AReportMeansTheBearingOfTheLastTurnOrNearestBefore) {
  constexpr int kNone = -9999;
  struct Case {
    int model, minAz, maxAz, number;
    int from, to, previous;  // the last turn and the position before, kNone: unknown
    int bearing;
  };
  const Case cases[] = {
      {4, -180, 450, 270, kNone, kNone, kNone, 270},  // the box's own number
      {4, -180, 450, 270, 10, -90, 10, -90},          // the target's form
      {4, 0, 450, 30, kNone, kNone, 400, 30},         // a GS-232's 390 is another place
      {5, 0, 450, 30, 0, 400, 20, 30},                // a SPID says only the direction
      {5, 0, 450, 30, 0, 400, 380, 390},
      {5, -180, 180, 180, 170, -180, 170, -180},
      {2, 0, 360, 0, 300, 360, 350, 360},
      {4, 90, 270, 300, kNone, kNone, kNone, 300},  // past an end: the nearer one
      {4, 90, 270, 50, kNone, kNone, kNone, 50},
  };
  for (const Case& c : cases) {
    const BoxScale::Context context{c.to != kNone, c.from, c.to, c.previous != kNone, c.previous};
    EXPECT_EQ(BoxScale(c.model, c.minAz, c.maxAz).ToBearing(c.number, context), c.bearing)
        << c.model << " " << c.minAz << ".." << c.maxAz << " " << c.number;
  }
}

// --- Command line ------------------------------------------------------------

bool ParseArgs(std::vector<std::string> args, StationOptions& options, std::string& error) {
  args.insert(args.begin(), "zeva-station");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  return options.Parse(static_cast<int>(argv.size()), argv.data(), error);
}

// Names and offsets may come before or after their rotators.
TEST(StationOptionsTest, RotatorsGetPortsTwoApartRangesNamesAndOffsets) {
  StationOptions options;
  std::string error;
  const std::string byPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
  ASSERT_TRUE(ParseArgs({"--name", "2:Tri Band", "--offset=1:-12", "--base-port=14533", "-r", "1:" + byPath + ":yaesu:1000",
                         "-r", "2:/dev/b:spid:500:0..450", "-r", "3:/dev/c:DCU1:0:14535:-180..180", "-r", "4:/dev/d:12:0",
                         "--offset", "2:180", "--n1mm", "0.0.0.0:12040", "--n1mm-allow", "192.168.1.0/24",
                         "--n1mm-to", "192.168.1.5", "--n1mm-to", "[::1]:14000"}, options, error))
      << error;
  std::string got;  // device port:model:range:name:offset of each rotator; 14535 is rotator 3's own
  for (const RotatorSetup& r : options.rotators) {
    got += r.device + " " + std::to_string(r.listenPort) + ":" + std::to_string(r.model) + ":" + std::to_string(r.minAz) +
           ".." + std::to_string(r.maxAz) + ":" + r.name + ":" + std::to_string(r.offset) + " ";
  }
  EXPECT_EQ(got, byPath + " 14533:4:0..360::-12 /dev/b 14537:5:0..450:Tri Band:180 /dev/c 14535:1:-180..180::0 "
                          "/dev/d 14539:12:0..360::0 ");
  StationOptions top;  // up to the last port there is
  ASSERT_TRUE(ParseArgs({"--base-port", "65533", "-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/b:yaesu:1000"}, top, error));
  EXPECT_EQ(top.rotators.at(1).listenPort, 65535);
  const LoggerSetup& logger = options.logger;
  EXPECT_EQ(logger.address + ":" + std::to_string(logger.port) + " " + logger.allowed.at(0) + " " +
                logger.headingsTo.at(0).host + ":" + std::to_string(logger.headingsTo[0].port) + " " +
                logger.headingsTo.at(1).host + ":" + std::to_string(logger.headingsTo[1].port),
            "0.0.0.0:12040 192.168.1.0/24 192.168.1.5:13010 ::1:14000");

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

TEST(StationOptionsTest, MistakesAreUsageErrors) {
  using Args = std::vector<std::string>;
  const struct {
    Args added;  // to each of the rows
    std::vector<Args> rows;
  } wrong[] = {
      {{},
       {{},                                                            // no rotator
        {"-r", "1:/dev/ttyUSB0:yaesu"},                                // too few fields
        {"-r", "1:/dev/ttyUSB0:gs9000:1000"},                          // model
        {"-r", "1:/dev/ttyUSB0:yaesu:50"},                             // polled too often
        {"-r", "1:/dev/ttyUSB0:yaesu:1000:"},                          // an empty port
        {"-r", "1:/dev/ttyUSB0:yaesu:1000:360..0"},                    // empty range
        {"-r", "1:/dev/ttyUSB0:yaesu:1000:0..800"},                    // range
        {"-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/a:yaesu:1000"},    // same device
        {"-r", "1:/dev/a:yaesu:1000:5000", "-r", "2:/dev/b:spid:500:5000"},    // same port
        {"--base-port", "65535", "-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/b:yaesu:1000"},  // no port left
        {"--name", "1:Tri Band", "--name", "2:tri  band", "-r", "1:/dev/a:yaesu:1000", "-r", "2:/dev/b:yaesu:1000"}}},
      {{"-r", "1:/dev/a:yaesu:1000"},
       {{"--http", "0.0.0.0:8080"}, {"--http", "80a"},                // off loopback with no secret; the port
        {"--preset", "EU:45"}, {"--http", "8080", "--preset", "EU"},  // a preset with no page; no azimuth
        {"--http", "8080", "--preset", "E\x01U:45"}, {"--http", "8080", "--preset", "E\x7fU:45"},  // control
        {"--http", "8080", "--preset", std::string(25, 'x') + ":45"},  // a name over 24 characters
        {"--name", "3:Yagi"}, {"--name", "1:Yagi", "--name", "1:Quad"},  // no such rotator; named twice
        // '@' (the heading datagrams' separator), blank, a control character, no name
        {"--name", "1:a@b"}, {"--name", "1: "}, {"--name", "1:a\tb"}, {"--name", "1"},
        {"--offset", "1:10.5"}, {"--offset", "1:360"}, {"--offset", "1:5", "--offset", "1:6"},  // whole degrees
        {"--n1mm", "12040"}}},                                        // no rotator named
      {{"-r", "1:/dev/a:yaesu:1000", "--name", "1:Y"},
       {{"--n1mm", "0.0.0.0:12040"},  // off loopback with no allow list
        {"--n1mm", "12040", "--n1mm-allow", "10.0.0.0/40"}, {"--n1mm", "x"},
        {"--n1mm-to", "127.0.0.1"}, {"--n1mm-allow", "127.0.0.1"},   // no --n1mm
        {"--n1mm", "12040", "--n1mm-to", "host:0"}, {"--n1mm", "12040", "--n1mm-to", "[]"}}},
  };
  for (const auto& group : wrong) {
    for (Args args : group.rows) {
      args.insert(args.end(), group.added.begin(), group.added.end());
      StationOptions options;
      std::string error;
      EXPECT_FALSE(ParseArgs(args, options, error)) << ::testing::PrintToString(args);
      EXPECT_FALSE(error.empty()) << ::testing::PrintToString(args);
    }
  }
}

// A TCP socket bound to a loopback port of the kernel's choice, given in
// `port`; -1 when there is none.
int BindLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// The daemon carries out commands one after another: a batch sent behind a
// slow one (a write to a device that takes no bytes) waits for it, and only
// the time the daemon then spent on it counts against its rotator. The
// daemon's version is logged once, a connection reset as one. The daemon is
// played here, on loopback.
TEST(DaemonLinkTest, ABatchIsTimedFromWhenTheDaemonGotToItAndAResetIsSaidSo) {
  int port = 0;
  const int listener = BindLoopback(port);
  ASSERT_TRUE(listener >= 0 && listen(listener, 4) == 0);
  std::atomic<bool> answered{false};
  std::thread daemon([listener, &answered] {
    std::string heard;
    char buffer[256];
    auto hear = [&](int fd, size_t versions) {  // until that many VERSIONs in all (or the end)
      ssize_t n = 1;
      while (n > 0 && testing_support::Count(heard, "VERSION\r") < versions) {
        if ((n = read(fd, buffer, sizeof buffer)) > 0) heard.append(buffer, static_cast<size_t>(n));
      }
      return n > 0;
    };
    const int clearing = accept(listener, nullptr, nullptr);  // answered, then left by the station
    hear(clearing, 1);
    (void)!write(clearing, "VERSION 9\r", 10);
    while (hear(clearing, 2)) {}
    close(clearing);
    const int served = accept(listener, nullptr, nullptr);
    hear(served, 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the first batch's write hangs
    (void)!write(served, "VERSION 9\r", 10);
    hear(served, 3);
    (void)!write(served, "VERSION 9\r", 10);
    while (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const linger reset = {1, 0};  // closed with a reset, as by a daemon's host that went away
    setsockopt(served, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(served);
  });
  std::vector<double> took;  // seconds, in the order the batches were done
  bool connected = false;
  DaemonLink::Callbacks callbacks;
  callbacks.connected = [&](bool) { connected = true; };
  callbacks.done = [&](uint64_t, DaemonLink::Clock::duration time) {
    took.push_back(std::chrono::duration<double>(time).count());
  };
  bool lost = false;
  callbacks.lost = [&](bool) { lost = true; };
  testing_support::LogCapture log;
  DaemonLink link("127.0.0.1", port, callbacks);
  auto run = [&](const std::function<bool()>& until) {
    for (auto end = DaemonLink::Clock::now() + std::chrono::seconds(20); !until() && DaemonLink::Clock::now() < end;) {
      PollSet set;
      link.AddToPollSet(set);
      set.Wait(50);
      set.Dispatch();
      link.OnTimer(DaemonLink::Clock::now());
    }
  };
  link.Start();
  run([&] { return connected; });
  ASSERT_TRUE(connected);
  link.SendBatch({"ROTATE 1 10"});
  link.SendBatch({"ROTATE 2 20"});
  run([&] { return took.size() == 2; });
  answered = true;
  run([&] { return lost; });
  link.Close();
  daemon.join();
  close(listener);
  ASSERT_EQ(took.size(), 2u);
  EXPECT_GE(took[0], 0.9);
  EXPECT_LT(took[1], 0.5);
  EXPECT_NE(log.Err().find("lost the daemon at 127.0.0.1:" + std::to_string(port) +
                           " (Connection reset by peer)"),
            std::string::npos) << log.Err();
  EXPECT_EQ(testing_support::Count(log.Err(), "the daemon is ZEVA Rotator 9\n"), 1u) << log.Err();
}

// A turn waits until it has been handed to the daemon; when the rotator's
// device goes meanwhile, the client hears RPRT -6 (the box cannot be
// reached), as rotctld answers for a box it cannot open, never RPRT 0.
TEST(RotctlSessionTest, ATurnWaitingWhenTheDeviceGoesIsAnIoError) {
  char path[] = "/tmp/zeva-session-test-XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  close(file);
  DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
  StationRotator rotator({1, path, 4, 1000, 0, 0, 360, "", 0}, link);
  rotator.WatchDevice();
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  RotctlSession session(ends[0], "test", rotator, false);
  const auto serve = [&] {
    PollSet set;
    session.AddToPollSet(set);
    set.Wait(100);
    set.Dispatch();
    session.Service(RotctlSession::Clock::now());
  };
  const auto answered = [&] {
    char text[64];
    const ssize_t n = recv(ends[1], text, sizeof text, MSG_DONTWAIT);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
  };
  ASSERT_EQ(write(ends[1], "P 90 0\n", 7), 7);
  serve();
  EXPECT_EQ(answered(), "");  // waits to be handed over
  unlink(path);
  EXPECT_TRUE(rotator.WatchDevice());
  serve();
  serve();
  EXPECT_EQ(answered(), "RPRT -6\n");
  close(ends[1]);
}

// An event read in pieces of any size gives its bytes once each, in order,
// whichever part (head, state, blank line) a piece starts or ends in.
TEST(StreamEventTest, PiecesOfAnySizeMakeTheWholeEvent) {
  StreamEvent event;
  event.head = "retry: 1000\ndata: ";
  event.json = std::make_shared<const std::string>("{\"rotators\":[]}");
  const std::string whole = event.head + *event.json + "\n\n";
  ASSERT_EQ(event.Size(), whole.size());
  for (size_t piece = 1; piece <= whole.size() + 1; ++piece) {
    std::string got;
    char buffer[64];
    for (size_t n; got.size() < whole.size() && (n = event.Copy(got.size(), buffer, piece)) > 0;) {
      got.append(buffer, n);
    }
    EXPECT_EQ(got, whole) << "in pieces of " << piece;
  }
}

// An event stream with nothing new gets a comment line after each idle
// period (so that a gone browser is noticed), and a new state at once.
TEST(HttpServerTest, AStreamWithNothingNewGetsAnIdleCommentEachPeriod) {
  WebBoard board;
  ASSERT_TRUE(board.Open());
  board.Publish("{\"n\":1}");
  HttpServer server(board, [](const HttpRequest&, const HttpReply& reply) {
    HttpResponse stream;
    stream.events = true;
    stream.contentType = "text/event-stream";
    reply.Send(stream);
  }, std::chrono::milliseconds(300));
  int port = 0;  // one nothing uses now: the kernel's pick, let go again
  const int probe = BindLoopback(port);
  ASSERT_GE(probe, 0);
  close(probe);
  std::string error;
  ASSERT_TRUE(server.Open("127.0.0.1", port, 4, error)) << error;

  testing_support::TcpClient client;
  ASSERT_TRUE(client.Connect(port) && client.Send("GET /api/events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  // True when a line holding `text` comes within 3 s (the idle period ten times over).
  const auto comes = [&client](const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
      if (client.ReadLineEndedBy('\n', 100).find(text) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(comes("data: {\"n\":1}"));
  EXPECT_TRUE(comes(": idle"));
  EXPECT_TRUE(comes(": idle"));
  board.Publish("{\"n\":2}");
  EXPECT_TRUE(comes("data: {\"n\":2}"));
  server.Stop();
}

// Text from the command line in any encoding becomes a valid JSON string of
// valid UTF-8: each byte outside a valid sequence is U+FFFD.
TEST(JsonStringTest, AnyBytesBecomeValidUtf8) {
  const std::string bad = "\xef\xbf\xbd";  // U+FFFD
  const std::pair<std::string, std::string> cases[] = {
      {"EU \"long\" \\ path", "\"EU \\\"long\\\" \\\\ path\""},
      {"tab\tnul" + std::string(1, '\0'), "\"tab\\u0009nul\\u0000\""},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1", "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1\""},  // é € 📡
      // The first and last of each length and either side of the surrogates.
      {"\xc2\x80\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",
       "\"\xc2\x80\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xf0\x90\x80\x80\xf4\x8f\xbf\xbf\""},
      {"\xff\xbf\xbf\xbf", "\"" + bad + bad + bad + bad + "\""},   // no lead byte above F4
      {"\xc0\xaf", "\"" + bad + bad + "\""},                    // overlong '/'
      {"\xed\xa0\x80", "\"" + bad + bad + bad + "\""},          // a surrogate
      {"\xf4\x90\x80\x80", "\"" + bad + bad + bad + bad + "\""},  // above U+10FFFF
      {"\xe2\x82", "\"" + bad + bad + "\""},                    // cut short
      {"/dev/tty\xe9", "\"/dev/tty" + bad + "\""},                 // Latin-1
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.first), c.second) << c.first;
}

}  // namespace
