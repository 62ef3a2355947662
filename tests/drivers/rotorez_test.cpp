// The Rotor-EZ driver: set position and execute in one write, ";" to stop,
// "AI1;" polls at the configured period, and a digit-counting reply parser.
#include "drivers/Rotator_RotorEZ.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

class RotorEzBox : public BoxFixture {};
class RotorEzParser : public ParserTest<Rotator_RotorEZ> {};

// ---- sending

TEST_F(RotorEzBox, SetPositionAndExecuteGoOutTogether) {
  ASSERT_TRUE(Configure(2, 0));
  const struct {
    int bearing;
    const char* sent;
  } cases[] = {{7, "AP1007;AM1;"},     {0, "AP1000;AM1;"},
               {90, "AP1090;AM1;"},    {1000, "AP11000;AM1;"},
               {-5, "AP1-05;AM1;"},    {INT32_MIN, "AP1-2147483648;AM1;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
  }
  // No delayed execute as with the DCU-1.
  EXPECT_TRUE(ExpectNothingSent(400));
}

// ---- replies end to end

TEST_F(RotorEzBox, BearingsReachTheClientOnceEach) {
  ASSERT_TRUE(Configure(2, 0, 12));
  Reply(";123;045");
  EXPECT_TRUE(ExpectDirection("12 123"));
  EXPECT_TRUE(ExpectDirection("12 045"));
  Reply(";045");
  EXPECT_TRUE(ExpectNoDirection(500));
  Reply(";007");
  EXPECT_TRUE(ExpectDirection("12 007"));
}

TEST_F(RotorEzBox, BadByteIsLoggedEachTimeAndErrorLoggedOnce) {
  ASSERT_TRUE(Configure(2, 0));
  Reply(";1x;2y;033");
  EXPECT_TRUE(ExpectDirection("1 033"));
  const std::string x = "Bad response \"x\" from rotator on " + Device();
  const std::string y = "Bad response \"y\" from rotator on " + Device();
  EXPECT_TRUE(ExpectLog("Status: " + x));
  EXPECT_TRUE(ExpectLog("Status: " + y));
  EXPECT_EQ(1u, log.CountErr(x));
  EXPECT_EQ(0u, log.CountErr(y));
}

// ---- reply parser

TEST_F(RotorEzParser, ThirdDigitReportsAndLeadingSemicolonIsIgnored) {
  Feed(";04");
  EXPECT_EQ(kNoBearing, Bearing());
  Feed("5");
  EXPECT_EQ(45, Bearing());
  EXPECT_EQ("", log.NewOut());
}

TEST_F(RotorEzParser, StreamOfRepliesReportsEachBearing) {
  Feed(";123");
  EXPECT_EQ(123, Bearing());
  Feed(";045");
  EXPECT_EQ(45, Bearing());
}

TEST_F(RotorEzParser, SemicolonReportsOneOrTwoPendingDigits) {
  Feed(";45");
  EXPECT_EQ(kNoBearing, Bearing());
  Feed(";");
  EXPECT_EQ(45, Bearing());
  Feed("7;");
  EXPECT_EQ(7, Bearing());
}

TEST_F(RotorEzParser, FourthDigitStartsANewNumber) {
  Feed(";1234");
  EXPECT_EQ(123, Bearing());
  Feed(";");
  EXPECT_EQ(4, Bearing());
}

TEST_F(RotorEzParser, LoneSemicolonsChangeNothing) {
  Feed(";;;");
  EXPECT_EQ(kNoBearing, Bearing());
  Feed("12;");
  EXPECT_EQ(12, Bearing());
  EXPECT_EQ("", log.NewOut());
}

TEST_F(RotorEzParser, CarriageReturnIsBadAndDiscardsPendingDigits) {
  Feed(";12\r");
  EXPECT_EQ(kNoBearing, Bearing());
  EXPECT_EQ(BadLine("\r"), log.NewOut());
  Feed("5;");
  EXPECT_EQ(5, Bearing());
}

TEST_F(RotorEzParser, EveryOtherByteIsReportedAsOneCharacter) {
  for (char c : std::string(" \nxA+=-\x01\x7f\xff")) {
    SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c)));
    Feed(std::string(1, c));
    EXPECT_EQ(BadLine(std::string(1, c)), log.NewOut());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(RotorEzParser, NulByteReportIsCutAfterTheOpeningQuote) {
  Feed(std::string(1, '\0'));
  EXPECT_EQ("Status: Bad response \"\n", log.NewOut());
}

TEST_F(RotorEzParser, OnlyTheFirstBadByteReachesTheErrorLog) {
  Feed("1x2y");
  EXPECT_EQ(BadLine("x") + BadLine("y"), log.NewOut());
  EXPECT_EQ(std::string("Bad response \"x\" from rotator on ") + kProbePort +
                "\n",
            log.NewErr());
  Feed("3z");
  EXPECT_EQ("", log.NewErr());
}

}  // namespace
}  // namespace driver_test
