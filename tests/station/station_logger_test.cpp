// The contest logger front without sockets: N1MM Logger+'s rotor datagrams
// as the parser reads them, rotor names as they are matched, heading
// datagrams, allowed senders, and the bearing a turn asks of a rotator.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <utility>

#include "core/AddressPrefix.h"
#include "core/DaemonLink.h"
#include "core/StationOptions.h"
#include "core/StationRotator.h"
#include "n1mm/N1mmDatagram.h"
#include "n1mm/N1mmFront.h"

namespace {

// A parse as one line: "turn 'NAME' AZIMUTH-OFFSET" (with " both ways"),
// "stop 'NAME'" or "error: REASON".
std::string Describe(const std::string& datagram) {
  N1mmCommand command;
  std::string error;
  if (!N1mmDatagram::Parse(datagram.data(), datagram.size(), command, error)) return "error: " + error;
  char numbers[64];
  snprintf(numbers, sizeof numbers, " %g-%g", command.azimuth, command.offset);
  if (command.kind == N1mmCommand::Kind::Stop) return "stop '" + command.rotor + "'";
  return "turn '" + command.rotor + "'" + numbers + (command.bidirectional ? " both ways" : "");
}

TEST(N1mmDatagramTest, TheLoggersShapesAndNothingElse) {
  const std::string turn = "<N1MMRotor><rotor>Yagi</rotor><goazi>55.0</goazi><offset>0.0</offset>"
                           "<bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>";
  const std::pair<std::string, std::string> cases[] = {
      {turn, "turn 'Yagi' 55-0"},
      {"<N1MMRotor><stop><rotor>Yagi</rotor><freqband>21.0</freqband></stop></N1MMRotor>", "stop 'Yagi'"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<N1MMRotor>\r\n  <rotor>  Tri Band </rotor>\r\n"
       "  <goazi> 123,5 </goazi><offset>-30</offset><bidirectional>true</bidirectional><extra>x</extra>"
       "</N1MMRotor>", "turn 'Tri Band' 123.5--30 both ways"},
      {"<N1MMRotor><rotor>A&amp;B</rotor><goazi>7</goazi><bidirectional>1</bidirectional></N1MMRotor>",
       "turn 'A&B' 7-0 both ways"},
      {"garbage", "error: not well-formed XML: syntax error"},
      {turn.substr(0, turn.size() - 1), "error: not well-formed XML: unclosed token"},
      {"<Rotor><rotor>Yagi</rotor><goazi>5</goazi></Rotor>", "error: <Rotor> is not <N1MMRotor>"},
      {"<N1MMRotor><rotor>Yagi</rotor></N1MMRotor>", "error: no goazi"},
      {"<N1MMRotor><goazi>5</goazi></N1MMRotor>", "error: no rotor name"},
      {"<N1MMRotor><rotor> </rotor><goazi>5</goazi></N1MMRotor>", "error: no rotor name"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>north</goazi></N1MMRotor>", "error: goazi is not a number of degrees"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>1e9</goazi></N1MMRotor>", "error: goazi is not a number of degrees"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>5000</goazi></N1MMRotor>", "error: goazi is not a number of degrees"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>5</goazi><offset>5.0.0</offset></N1MMRotor>",
       "error: offset is not a number of degrees"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>5</goazi><bidirectional>2</bidirectional></N1MMRotor>",
       "error: bidirectional is neither 0 nor 1"},
      {"<N1MMRotor><rotor>Y</rotor><rotor>Z</rotor><goazi>5</goazi></N1MMRotor>", "error: rotor given twice"},
      {"<N1MMRotor><offset>5</offset><stop><rotor>Y</rotor></stop></N1MMRotor>",
       "error: a stop beside a turn's fields"},
      {"<N1MMRotor><rotor>Y</rotor><goazi><b/>5</goazi></N1MMRotor>", "error: <b> inside a value"},
      {"<N1MMRotor><a><b><c><d/></c></b></a></N1MMRotor>", "error: elements nested too deep"},
      {"<!DOCTYPE N1MMRotor [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
       "<N1MMRotor><rotor>&b;</rotor><goazi>5</goazi></N1MMRotor>", "error: a document type declaration"},
      {"<N1MMRotor><rotor>Y</rotor><goazi>5</goazi>" + std::string(1000, ' ') + "</N1MMRotor>",
       "error: longer than 1024 bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(c.first), c.second) << c.first;
}

TEST(N1mmDatagramTest, NamesMatchWhateverTheCaseAndBlanksAndHeadingsGoInTenths) {
  const std::pair<std::string, std::string> keys[] = {
      {"Yagi", "yagi"}, {"  TRI  band\t", "tri band"}, {"a\r\nb", "a b"}, {"Mast 2", "mast 2"},
      {"\xc3\x84rm", "\xc3\x84rm"},  // only ASCII letters are folded
  };
  for (const auto& k : keys) EXPECT_EQ(RotorNameKey(k.first), k.second) << k.first;
  const std::pair<int, std::string> headings[] = {
      {146, "Yagi @ 1460"}, {0, "Yagi @ 0"}, {360, "Yagi @ 0"}, {450, "Yagi @ 900"}, {-90, "Yagi @ 2700"},
  };
  for (const auto& h : headings) EXPECT_EQ(N1mmDatagram::Heading("Yagi", h.first), h.second) << h.first;
}

TEST(AddressPrefixTest, SendersInsideThePrefixOnly) {
  struct Case {
    const char* prefix;
    const char* sender;
    bool inside;
  };
  const Case cases[] = {
      {"192.168.1.0/24", "192.168.1.77", true}, {"192.168.1.0/24", "192.168.2.1", false},
      {"10.0.0.7", "10.0.0.7", true},           {"10.0.0.7", "10.0.0.8", false},
      {"10.0.0.0/9", "10.127.255.255", true},   {"10.0.0.0/9", "10.128.0.1", false},
      {"0.0.0.0/0", "203.0.113.9", true},       {"127.0.0.0/8", "::ffff:127.0.0.5", true},
      {"127.0.0.0/8", "::1", false},            {"fd00::/8", "fd12::1", true},
      {"fd00::/8", "fe80::1", false},           {"::1", "127.0.0.1", false},
  };
  for (const Case& c : cases) {
    AddressPrefix prefix;
    ASSERT_TRUE(AddressPrefix::Parse(c.prefix, prefix)) << c.prefix;
    sockaddr_storage sender;
    memset(&sender, 0, sizeof sender);
    auto& v4 = reinterpret_cast<sockaddr_in&>(sender);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(sender);
    if (inet_pton(AF_INET, c.sender, &v4.sin_addr) == 1) {
      sender.ss_family = AF_INET;
    } else {
      ASSERT_EQ(inet_pton(AF_INET6, c.sender, &v6.sin6_addr), 1) << c.sender;
      sender.ss_family = AF_INET6;
    }
    EXPECT_EQ(prefix.Contains(sender), c.inside) << c.prefix << " " << c.sender;
  }
  for (const char* wrong : {"10.0.0.0/33", "::1/129", "10.0.0.0/", "10.0.0.0/x", "logger.local", ""}) {
    AddressPrefix prefix;
    EXPECT_FALSE(AddressPrefix::Parse(wrong, prefix)) << wrong;
  }
}

// The bearing a turn asks: goazi less the logger's offset, and both ways
// round the nearer to where the box is (-1: not known yet).
TEST(N1mmFrontTest, TurnsGoWhereTheLoggerMeans) {
  struct Case {
    int minAz, maxAz, calibration;  // the box's range, --offset
    double goazi, offset;
    bool bidirectional;
    int box;        // where the box is, -1 unknown
    int expected;   // true bearing, -1 none
  };
  const Case cases[] = {
      {0, 360, 0, 55, 0, false, -1, 55},     {0, 360, 0, 100, 30, false, -1, 70},
      {0, 360, 0, 10, 30, false, -1, 340},   {0, 360, 0, 200, 0, true, -1, 200},
      {0, 360, 0, 200, 0, true, 10, 20},     {0, 360, 0, 200, 0, true, 300, 200},
      {0, 360, 0, 190, 0, true, 100, 190},   // 90 either way: as asked
      {0, 360, 10, 200, 0, true, 5, 20},     // box 5 is 15 true; 20 true is box 10
      {0, 360, 10, 5, 0, true, 340, 5},      // box 340 is 350 true; 5 true is box 355
      {90, 270, 0, 0, 0, true, -1, 180},     // only the reciprocal is in the range
      {90, 270, 0, 0, 0, false, -1, -1},
  };
  for (const Case& c : cases) {
    DaemonLink link("127.0.0.1", 1, DaemonLink::Callbacks());
    RotatorSetup setup;
    setup.id = 1;
    setup.device = "/dev/null";
    setup.model = 4;
    setup.minAz = c.minAz;
    setup.maxAz = c.maxAz;
    setup.offset = c.calibration;
    StationRotator rotator(setup, link);
    if (c.box >= 0) rotator.OnBearing(c.box);
    N1mmCommand command;
    command.azimuth = c.goazi;
    command.offset = c.offset;
    command.bidirectional = c.bidirectional;
    int bearing = -1;
    if (!N1mmFront::TurnBearing(rotator, command, bearing)) bearing = -1;
    EXPECT_EQ(bearing, c.expected) << c.goazi << " offset " << c.offset << " box at " << c.box;
  }
}

}  // namespace
