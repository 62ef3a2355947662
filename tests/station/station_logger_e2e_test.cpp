// The contest logger front end to end: the real daemon, an emulated Yaesu
// box and the station, and a logger played by this test: a UDP client that
// sends N1MM Logger+'s rotor datagrams as its publisher documents them and
// receives the "NAME @ HEADING" datagrams.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "tests/station/StationRig.h"
#include "tests/support/Time.h"

using namespace station_test;
using namespace testing_support;

namespace {

// One UDP socket on 127.0.0.1: the logger's sending side or its heading port.
class UdpPeer {
 public:
  UdpPeer() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~UdpPeer() { close(fd); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  // Binds a free port of 127.0.0.1: the port, 0 on failure.
  int Bind() {
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    return bound ? ntohs(address.sin_port) : 0;
  }
  bool SendTo(int port, const std::string& bytes) {
    sockaddr_in address = Loopback(port);
    return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
                  sizeof address) == static_cast<ssize_t>(bytes.size());
  }
  // The next datagram, "" when none comes within timeoutMs.
  std::string Receive(int timeoutMs) {
    struct pollfd ready = {fd, POLLIN, 0};
    char buffer[2048];
    if (poll(&ready, 1, timeoutMs) <= 0) return "";
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  int fd;
};

// A turn as the logger sends it.
std::string Turn(const std::string& rotor, const std::string& goazi, const std::string& offset = "0.0",
                 int bidirectional = 0) {
  return "<N1MMRotor><rotor>" + rotor + "</rotor><goazi>" + goazi + "</goazi><offset>" + offset +
         "</offset><bidirectional>" + std::to_string(bidirectional) +
         "</bidirectional><freqband>14</freqband></N1MMRotor>";
}

std::string Stop(const std::string& rotor) {
  return "<N1MMRotor><stop><rotor>" + rotor + "</rotor><freqband>21.0</freqband></stop></N1MMRotor>";
}

// Rotator 1, named "Tri Band", is a Yaesu box whose 0 points at 10 degrees
// true (--offset 1:10), polled every 200 ms, at 0 to begin with.
class LoggerE2eTest : public StationRig {
 protected:
  void SetUp() override {
    StationRig::SetUp();
    ASSERT_NO_FATAL_FAILURE(PickPorts(1));
    headingPort = headings.Bind();
    loggerPort = UdpPeer().Bind();  // a free port for the station's logger datagrams, closed before the box starts
    boxPath = StartBox(box, "box", {"--model", "yaesu", "--speed", "30", "--log"});
    ASSERT_TRUE(headingPort != 0 && loggerPort != 0 && !boxPath.empty());
  }

  void StartWithLogger(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {ZEVA_STATION_PATH, "--verbose", "--base-port", std::to_string(port),
                                     "--rotator", "1:" + boxPath + ":yaesu:200", "--name", "1:Tri Band",
                                     "--offset", "1:10", "--n1mm", "127.0.0.1:" + std::to_string(loggerPort),
                                     "--n1mm-to", "127.0.0.1:" + std::to_string(headingPort)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ASSERT_TRUE(station.Start(argv));
    ASSERT_TRUE(station.WaitForStderr("configured", 10000)) << station.Stderr();
  }

  // Everything the box has read, as its trace shows it (escaped): its rx
  // lines joined, since one read may hold a poll and a command together.
  std::string BoxInput() const {
    std::string input, log = box.Stderr();
    const std::string mark = "rx \"";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
      const size_t begin = at + mark.size(), end = log.find("\"\n", begin);
      if (end == std::string::npos) break;
      input += log.substr(begin, end - begin);
    }
    return input;
  }

  // Waits until the box has read `command` after what earlier calls found.
  bool BoxReceived(const std::string& command, int timeoutMs) {
    const std::string wanted = command + "\\r";
    return WaitUntil(
        [&] {
          const size_t at = BoxInput().find(wanted, boxRead);
          if (at == std::string::npos) return false;
          boxRead = at + wanted.size();
          return true;
        },
        timeoutMs);
  }
  size_t boxRead = 0;  // how much of BoxInput() BoxReceived has gone past

  // Reads heading datagrams until `last` comes ("": for all of timeoutMs);
  // every one read goes to `seen`.
  bool HeadingsUntil(const std::string& last, std::vector<std::string>& seen, int timeoutMs = kTurnMs) {
    for (auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < deadline;) {
      std::string heading = headings.Receive(MsLeft(deadline));
      if (!heading.empty()) seen.push_back(heading);
      if (heading == last) return true;
    }
    return false;
  }

  int headingPort = 0, loggerPort = 0;
  UdpPeer logger, headings;
  ChildProcess box;
  std::string boxPath;
};

TEST_F(LoggerE2eTest, TurnsAndStopsWithHeadingsBackAsTheAntennaTurns) {
  StartWithLogger();
  struct Step {
    std::string datagram;
    const char* boxCommand;  // what reaches the box, in its own numbers (true less 10)
    const char* heading;     // the last heading datagram, true
  };
  const Step steps[] = {
      {Turn("Tri Band", "100.0"), "M090", "Tri Band @ 1000"},
      // Both ways: 120 is nearer than 300 to where the antenna is (100).
      {Turn("TRI BAND", "300.0", "0.0", 1), "M110", "Tri Band @ 1200"},
      // The logger's antenna offset, a decimal comma, the name's blanks.
      {Turn("  tri  band ", "200,0", "30.0"), "M160", "Tri Band @ 1700"},
  };
  std::vector<std::string> seen;
  for (const Step& step : steps) {
    seen.clear();
    ASSERT_TRUE(logger.SendTo(loggerPort, step.datagram));
    ASSERT_TRUE(BoxReceived(step.boxCommand, 5000)) << step.boxCommand << "\n" << box.Stderr();
    EXPECT_TRUE(HeadingsUntil(step.heading, seen)) << step.heading << " after " << ::testing::PrintToString(seen);
  }
  EXPECT_GT(std::set<std::string>(seen.begin(), seen.end()).size(), 3u) << ::testing::PrintToString(seen);
  // The other fronts see the same true bearing.
  TcpClient rotctld;
  ASSERT_TRUE(rotctld.Connect(port));
  EXPECT_EQ(Ask(rotctld, "p", 2), "170.00\n0.00\n");
  EXPECT_TRUE(station.WaitForStderr("rotator 1: commands from N1MM 127.0.0.1", 1000)) << station.Stderr();

  // A stop halts the antenna on its way; its heading keeps coming.
  ASSERT_TRUE(logger.SendTo(loggerPort, Turn("Tri Band", "10")));
  ASSERT_TRUE(BoxReceived("M000", 5000)) << box.Stderr();
  SleepMs(1000);
  ASSERT_TRUE(logger.SendTo(loggerPort, Stop("tri band")));
  ASSERT_TRUE(BoxReceived("S", 5000)) << box.Stderr();
  SleepMs(800);
  while (!headings.Receive(0).empty()) continue;
  seen.clear();
  HeadingsUntil("", seen, 2 * 3000 + 500);  // every 3 s: two or three in 6.5 s
  const std::set<std::string> still(seen.begin(), seen.end());
  EXPECT_EQ(still.size(), 1u) << ::testing::PrintToString(still);
  EXPECT_TRUE(seen.size() >= 2 && seen.size() <= 3) << seen.size();
  EXPECT_EQ(still.count("Tri Band @ 100"), 0u) << "the antenna did not stop";
}

TEST_F(LoggerE2eTest, BadDatagramsAreDroppedWithOneLogLine) {
  StartWithLogger();
  // The largest datagram taken is 1024 bytes.
  const std::string turn = Turn("Tri Band", "50");
  const std::string largest = Turn("Tri Band", "50" + std::string(1024 - turn.size(), ' '));
  const std::string bad[] = {
      "<N1MMRotor><rotor>Tri Band</rotor><goazi>", Turn("Quad", "100"),
      Turn("Tri Band", "60" + std::string(1025 - turn.size(), ' ')), "", Turn("Tri Band", "north"),
  };
  for (int round = 0; round < 20; ++round) {
    for (const std::string& datagram : bad) ASSERT_TRUE(logger.SendTo(loggerPort, datagram));
  }
  SleepMs(200);
  ASSERT_TRUE(logger.SendTo(loggerPort, largest));
  ASSERT_TRUE(BoxReceived("M040", 5000)) << box.Stderr() << station.Stderr();
  EXPECT_EQ(Count(station.Stderr(), "n1mm: dropped a datagram"), 1u) << station.Stderr();
  EXPECT_NE(station.Stderr().find("from 127.0.0.1: not well-formed XML"), std::string::npos) << station.Stderr();
  EXPECT_EQ(Count(BoxInput(), "M"), 1u) << box.Stderr();
}

TEST_F(LoggerE2eTest, APortTakenOrAnAddressNotFoundStopsTheStart) {
  const std::pair<std::string, std::string> cases[] = {
      {"127.0.0.1:" + std::to_string(headingPort), "cannot listen for the logger on 127.0.0.1 UDP port"},
      {"nosuchhost.invalid:12040", "zeva-station: --n1mm nosuchhost.invalid: "},
  };
  for (const auto& c : cases) {
    ChildProcess failing;
    ASSERT_TRUE(failing.Start({ZEVA_STATION_PATH, "--base-port", std::to_string(port), "--rotator",
                               "1:" + boxPath + ":yaesu:200", "--name", "1:Y", "--n1mm", c.first,
                               "--n1mm-allow", "10.0.0.0/8"}));
    EXPECT_EQ(failing.Wait(10000), 1) << c.first;
    EXPECT_NE(failing.Stderr().find(c.second), std::string::npos) << failing.Stderr();
  }
}

TEST_F(LoggerE2eTest, SendersNotAllowedAreDropped) {
  StartWithLogger({"--n1mm-allow", "192.0.2.0/24"});
  ASSERT_TRUE(logger.SendTo(loggerPort, Turn("Tri Band", "100")));
  EXPECT_TRUE(station.WaitForStderr("from 127.0.0.1: the sender is not allowed", 5000)) << station.Stderr();
  SleepMs(500);
  EXPECT_EQ(Count(BoxInput(), "M"), 0u) << box.Stderr();
}

}  // namespace
