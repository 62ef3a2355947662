// The contest logger front without sockets: N1MM Logger+'s rotor datagrams
// as the parser reads them, rotor names as they are matched, heading
// datagrams, allowed senders, and the bearing a turn asks of a rotator.
#include <netdb.h>
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
  const auto rotor = [](const std::string& inside) { return "<N1MMRotor>" + inside + "</N1MMRotor>"; };
  const std::string turn = rotor("<rotor>Yagi</rotor><goazi>55.0</goazi><offset>0.0</offset>"
                                 "<bidirectional>0</bidirectional><freqband>14</freqband>");
  const std::pair<std::string, std::string> cases[] = {
      {turn, "turn 'Yagi' 55-0"},
      {rotor("<stop><rotor>Yagi</rotor><freqband>21.0</freqband></stop>"), "stop 'Yagi'"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<N1MMRotor>\r\n  <rotor>  Tri Band </rotor>\r\n"
       "  <goazi> 123,5 </goazi><offset>-30</offset><bidirectional>true</bidirectional><extra>x</extra>"
       "</N1MMRotor>", "turn 'Tri Band' 123.5--30 both ways"},
      {rotor("<rotor>A&amp;B</rotor><goazi>7</goazi><bidirectional>1</bidirectional>"), "turn 'A&B' 7-0 both ways"},
      {"garbage", "error: not well-formed XML: syntax error"},
      {turn.substr(0, turn.size() - 1), "error: not well-formed XML: unclosed token"},
      {"<Rotor><rotor>Yagi</rotor><goazi>5</goazi></Rotor>", "error: <Rotor> is not <N1MMRotor>"},
      {rotor("<rotor>Yagi</rotor>"), "error: no goazi"},
      {rotor("<goazi>5</goazi>"), "error: no rotor name"},
      {rotor("<rotor> </rotor><goazi>5</goazi>"), "error: no rotor name"},
      {rotor("<rotor>Y</rotor><goazi>north</goazi>"), "error: goazi is not a number of degrees"},
      {rotor("<rotor>Y</rotor><goazi>1e9</goazi>"), "error: goazi is not a number of degrees"},
      {rotor("<rotor>Y</rotor><goazi>5000</goazi>"), "error: goazi is not a number of degrees"},
      {rotor("<rotor>Y</rotor><goazi>5</goazi><offset>5.0.0</offset>"), "error: offset is not a number of degrees"},
      {rotor("<rotor>Y</rotor><goazi>5</goazi><bidirectional>2</bidirectional>"), "error: bidirectional is neither 0 nor 1"},
      {rotor("<rotor>Y</rotor><rotor>Z</rotor><goazi>5</goazi>"), "error: rotor given twice"},
      {rotor("<offset>5</offset><stop><rotor>Y</rotor></stop>"), "error: a stop beside a turn's fields"},
      {rotor("<rotor>Y</rotor><goazi><b/>5</goazi>"), "error: <b> inside a value"},
      {rotor("<a><b><c><d/></c></b></a>"), "error: elements nested too deep"},
      {"<!DOCTYPE N1MMRotor [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" +
       rotor("<rotor>&b;</rotor><goazi>5</goazi>"), "error: a document type declaration"},
      {rotor("<rotor>Y</rotor><goazi>5</goazi>" + std::string(1000, ' ')), "error: longer than 1024 bytes"},
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
    addrinfo numeric{}, *found = nullptr;
    numeric.ai_flags = AI_NUMERICHOST;
    ASSERT_EQ(getaddrinfo(c.sender, nullptr, &numeric, &found), 0) << c.sender;
    sockaddr_storage sender{};
    memcpy(&sender, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
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
    StationRotator rotator({1, "/dev/null", 4, 0, 0, c.minAz, c.maxAz, "", c.calibration}, link);
    if (c.box >= 0) rotator.OnBearing(c.box);
    const N1mmCommand command{N1mmCommand::Kind::Turn, "", c.goazi, c.offset, c.bidirectional};
    int bearing = -1;
    if (!N1mmFront::TurnBearing(rotator, command, bearing)) bearing = -1;
    EXPECT_EQ(bearing, c.expected) << c.goazi << " offset " << c.offset << " box at " << c.box;
  }
}

}  // namespace
