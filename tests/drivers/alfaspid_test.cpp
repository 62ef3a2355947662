// The Alfa SPID driver: 13-byte command frames with NUL bytes (set position,
// stop, status poll at the configured period) and a reply parser that groups
// bytes in fives by counting.
#include <string>

#include "drivers/Rotator_AlfaSpid.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

using namespace std::string_literals;

// W, three position bytes, seven NULs, the command byte, a space.
std::string Frame(char d1, char d2, char d3, char command) {
  return "W"s + d1 + d2 + d3 + std::string(7, '\0') + command + " ";
}

class AlfaSpidBox : public BoxFixture {};
class AlfaSpidParser : public ParserTest<Rotator_AlfaSpid> {};

// ---- sending

TEST_F(AlfaSpidBox, SetPositionFrameForBearingZeroIsThirteenBytesWithNuls) {
  ASSERT_TRUE(Configure(5, 0));
  Rotate(0);
  EXPECT_TRUE(ExpectSent("\x57\x33\x36\x30\x00\x00\x00\x00\x00\x00\x00\x2F\x20"s));
  Rotate(90);
  EXPECT_TRUE(ExpectSent("\x57\x34\x35\x30\x00\x00\x00\x00\x00\x00\x00\x2F\x20"s));
  EXPECT_TRUE(ExpectNothingSent(300));
}

TEST_F(AlfaSpidBox, SetPositionCarriesTheBearingPlus360AsDigits) {
  ASSERT_TRUE(Configure(5, 0));
  const struct {
    int bearing;
    const char* digits;
  } cases[] = {{359, "719"}, {-1, "359"},  {-360, "000"},
               {639, "999"}, {640, ":00"}, {45, "405"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(Frame(c.digits[0], c.digits[1], c.digits[2], 0x2F)));
  }
}

// The position bytes are 0x30 + v / 100, 0x30 + (v % 100) / 10 and
// 0x30 + v % 10 with v = bearing + 360, kept to their low eight bits.
TEST_F(AlfaSpidBox, FarOutOfRangeBearingsStillSendWholeFrames) {
  ASSERT_TRUE(Configure(5, 0));
  const int32_t v = INT32_MIN + 360;
  Rotate(INT32_MIN);
  EXPECT_TRUE(ExpectSent(Frame(static_cast<char>(0x30 + v / 100),
                               static_cast<char>(0x30 + (v % 100) / 10),
                               static_cast<char>(0x30 + v % 10), 0x2F)));
  Rotate(INT32_MAX);
  std::string frame = SentWithin(500);
  ASSERT_EQ(13u, frame.size()) << Hex(frame);
  EXPECT_EQ('W', frame[0]);
  EXPECT_EQ(std::string(7, '\0'), frame.substr(4, 7));
  EXPECT_EQ("\x2F\x20", frame.substr(11));
}

// ---- replies end to end

TEST_F(AlfaSpidBox, ReplyFramesReachTheClientOnceEach) {
  ASSERT_TRUE(Configure(5, 0));
  Reply("W450 ");
  EXPECT_TRUE(ExpectDirection("1 090"));
  Reply("W360 ");
  EXPECT_TRUE(ExpectDirection("1 000"));
  Reply("W360 ");
  EXPECT_TRUE(ExpectNoDirection(400));
  Reply("W450\r");
  EXPECT_TRUE(ExpectLog("Status: Bad response \"W450\" from rotator on " +
                        Device()));
}

// ---- reply parser

TEST_F(AlfaSpidParser, GoodFramesReportTheAzimuthModulo360) {
  const struct {
    const char* frame;
    int bearing;
  } cases[] = {{"W450 ", 90}, {"W360 ", 0},   {"W719 ", 359},
               {"W090 ", 90}, {"W999 ", 279}, {"W000 ", 0},
               {"W720 ", 0},  {"W359 ", 359}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    Feed(std::string(c.frame) + "W100 ");  // a different bearing between
    EXPECT_EQ(100, Bearing());
    Feed(c.frame);
    EXPECT_EQ(c.bearing, Bearing());
  }
  EXPECT_EQ("", log.NewOut());
}

TEST_F(AlfaSpidParser, FifthByteIsJudgedNotStored) {
  Feed("W450");
  EXPECT_EQ(kNoBearing, Bearing());
  Feed(" ");
  EXPECT_EQ(90, Bearing());
}

TEST_F(AlfaSpidParser, BadFramesReportTheirFourStoredBytes) {
  const struct {
    std::string frame;
    std::string text;
  } cases[] = {{"W450\r", "W450"},
               {"W4X0 ", "W4X0"},
               {"X450 ", "X450"},
               {"w450 ", "w450"},
               {"W45  ", "W45 "},
               {"W4\0" "0 "s, "W4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.frame));
    Feed(c.frame);
    EXPECT_EQ(BadLine(c.text), log.NewOut());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(AlfaSpidParser, LeadingNulGivesTheReportWithoutText) {
  Feed("\0" "450 "s);
  EXPECT_EQ(BadLine(""), log.NewOut());
}

TEST_F(AlfaSpidParser, StrayByteShiftsTheGroupingUntilTheStreamLinesUp) {
  Feed("x");
  Feed("W450 ");
  EXPECT_EQ(BadLine("xW45"), log.NewOut());
  Feed("W450 ");
  EXPECT_EQ(BadLine(" W45"), log.NewOut());
  EXPECT_EQ(kNoBearing, Bearing());
  // Four more bytes complete the shifted group; frames line up again.
  Feed("abcd");
  EXPECT_EQ(BadLine(" abc"), log.NewOut());
  Feed("W450 ");
  EXPECT_EQ(90, Bearing());
  EXPECT_EQ("", log.NewOut());
}

TEST_F(AlfaSpidParser, OnlyTheFirstBadFrameReachesTheErrorLog) {
  Feed("W4X0 W5X0 ");
  EXPECT_EQ(BadLine("W4X0") + BadLine("W5X0"), log.NewOut());
  EXPECT_EQ(std::string("Bad response \"W4X0\" from rotator on ") +
                kProbePort + "\n",
            log.NewErr());
}

}  // namespace
}  // namespace driver_test
