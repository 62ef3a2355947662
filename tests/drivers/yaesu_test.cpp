// The Yaesu driver: "M%03d\r" to turn, "S\r" to stop, "C\r" polls at the
// configured period, and a reply parser that skips marker characters and
// reports at the first line end after a digit.
#include "drivers/Rotator_Yaesu.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

class YaesuBox : public BoxFixture {};
class YaesuParser : public ParserTest<Rotator_Yaesu> {};

// ---- sending

TEST_F(YaesuBox, MoveCommandCarriesTheBearingZeroPaddedAndUnchanged) {
  ASSERT_TRUE(Configure(4, 0));
  const struct {
    int bearing;
    const char* sent;
  } cases[] = {{45, "M045\r"},   {7, "M007\r"},   {180, "M180\r"},
               {725, "M725\r"},  {1000, "M1000\r"}, {-5, "M-05\r"},
               {INT32_MIN, "M-2147483648\r"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
  }
  EXPECT_TRUE(ExpectLog("Status: " + Device() + " rotate to 725"));
  EXPECT_TRUE(ExpectNothingSent(300));
}

// ---- replies end to end

TEST_F(YaesuBox, AzimuthRepliesReachTheClientOnceEach) {
  ASSERT_TRUE(Configure(4, 0));
  Reply("AZ=045\r\n");
  EXPECT_TRUE(ExpectDirection("1 045"));
  Reply("+0045\r");
  EXPECT_TRUE(ExpectNoDirection(400));
  Reply("+0359\r");
  EXPECT_TRUE(ExpectDirection("1 359"));
  Reply("AZ=1234\r");
  EXPECT_TRUE(ExpectDirection("1 1234"));
}

TEST_F(YaesuBox, BadBytesAreLoggedAndTheLineEndReportsNothing) {
  ASSERT_TRUE(Configure(4, 0));
  Reply("AZ=12 x\r");
  EXPECT_TRUE(ExpectLog("Status: Bad response \" \" from rotator on " +
                        Device()));
  EXPECT_TRUE(ExpectLog("Status: Bad response \"x\" from rotator on " +
                        Device()));
  EXPECT_TRUE(ExpectNoDirection(400));
}

// ---- reply parser

TEST_F(YaesuParser, CrLfEndsOneReply) {
  Feed("AZ=045\r");
  EXPECT_EQ(45, Bearing());
  // A second report here would carry 0.
  Feed("\n");
  EXPECT_EQ(45, Bearing());
  EXPECT_EQ("", log.NewOut());
}

TEST_F(YaesuParser, PlusShapeWithLeadingZeroReports) {
  Feed("+0359\r");
  EXPECT_EQ(359, Bearing());
}

TEST_F(YaesuParser, LineFeedAloneEndsAReply) {
  Feed("AZ=090");
  EXPECT_EQ(kNoBearing, Bearing());
  Feed("\n");
  EXPECT_EQ(90, Bearing());
}

TEST_F(YaesuParser, ReplyWithoutDigitsReportsNothingAndIsNotBad) {
  Feed("AZ=\r\n+\r");
  EXPECT_EQ(kNoBearing, Bearing());
  EXPECT_EQ("", log.NewOut());
  EXPECT_EQ("", log.NewErr());
}

TEST_F(YaesuParser, MarkersAreSkippedEvenBetweenDigits) {
  Feed("A1Z2\r");
  EXPECT_EQ(12, Bearing());
  Feed("1+2=3\r");
  EXPECT_EQ(123, Bearing());
}

TEST_F(YaesuParser, BadBytesAreReportedOneByOneAndDiscardTheNumber) {
  Feed("AZ=12 x\r");
  EXPECT_EQ(kNoBearing, Bearing());
  EXPECT_EQ(BadLine(" ") + BadLine("x"), log.NewOut());
  Feed("7\r");
  EXPECT_EQ(7, Bearing());
}

TEST_F(YaesuParser, EveryOtherByteIsReportedAsOneCharacter) {
  for (char c : std::string("ELaz-;\t\x01\x7f\xff")) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c)));
    Feed(std::string(1, c));
    EXPECT_EQ(BadLine(std::string(1, c)), log.NewOut());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(YaesuParser, OnlyTheFirstBadByteReachesTheErrorLog) {
  Feed("E1L");
  EXPECT_EQ(BadLine("E") + BadLine("L"), log.NewOut());
  EXPECT_EQ(std::string("Bad response \"E\" from rotator on ") + kProbePort +
                "\n",
            log.NewErr());
}

TEST_F(YaesuParser, TenOrMoreDigitsLeaveTheParserWorking) {
  Feed("AZ=2147483648\r");
  Feed("AZ=99999999999999999999999999\r");
  Feed("AZ=045\r");
  EXPECT_EQ(45, Bearing());
  Feed("4294967296\r12\r");
  EXPECT_EQ(12, Bearing());
  EXPECT_EQ("", log.NewOut());
}

}  // namespace
}  // namespace driver_test
