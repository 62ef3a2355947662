// The RC2800 driver in its PA command set: "U\r" at configuration and every
// 5000 ms, the bare bearing to turn, "S\r" to stop, "N\r" when the rotator is
// destroyed, and a line parser for "A <..bearing> <..speed> <x>" replies.
#include <chrono>

#include "drivers/Rotator_RC2800PA.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

class Rc2800PaBox : public BoxFixture {};
class Rc2800PaParser : public ParserTest<Rotator_RC2800PA> {};

// ---- sending

TEST_F(Rc2800PaBox, MoveCommandIsTheBareBearingZeroPadded) {
  ASSERT_TRUE(Configure(8, 0));
  ASSERT_TRUE(ExpectSent("U\r"));
  const struct {
    int bearing;
    const char* sent;
  } cases[] = {{45, "045\r"},    {359, "359\r"},  {7, "007\r"},
               {180, "180\r"},   {1000, "1000\r"}, {-5, "-05\r"},
               {INT32_MIN, "-2147483648\r"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
  }
}

TEST_F(Rc2800PaBox, ClientDisconnectSendsReleaseBeforeClosing) {
  ASSERT_TRUE(Configure(8, 0));
  ASSERT_TRUE(ExpectSent("U\r"));
  client.Close();
  EXPECT_TRUE(ExpectLog("Lost client connection"));
  EXPECT_TRUE(ExpectSent("N\r", 3000));
  EXPECT_TRUE(ExpectNothingSent(300));
}

TEST_F(Rc2800PaBox, DaemonStopSendsRelease) {
  ASSERT_TRUE(Configure(8, 0));
  ASSERT_TRUE(ExpectSent("U\r"));
  StopController();
  EXPECT_TRUE(ExpectSent("N\r", 3000));
  EXPECT_TRUE(ExpectNothingSent(300));
}

// ---- polling

TEST_F(Rc2800PaBox, PollsAtOnceAndThenEvery5000MsWhateverThePeriod) {
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Configure(8, 100));
  EXPECT_TRUE(ExpectSent("U\r", 1500));
  EXPECT_TRUE(ExpectNothingSent(3500));
  EXPECT_TRUE(ExpectSent("U\r", 5000));
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  EXPECT_GE(elapsed, 4500);
  EXPECT_LE(elapsed, 9500);
}

// ---- replies end to end

TEST_F(Rc2800PaBox, BearingReachesTheClientAndSpeedTheLog) {
  ASSERT_TRUE(Configure(8, 0));
  Reply("A xx123 yy4 z\r");
  EXPECT_TRUE(ExpectDirection("1 123"));
  EXPECT_TRUE(ExpectLog("Status: Rotator " + Device() + " Speed 4"));
  Reply("A xx123 yy4 z\r\n");
  EXPECT_TRUE(ExpectNoDirection(400));
  Reply("A xx-5 yy4 z\r");
  EXPECT_TRUE(ExpectDirection("1 -05"));
  Reply("B xx123 yy4 z\r");
  EXPECT_TRUE(ExpectLog("Status: Bad response from rotator on " + Device()));
  EXPECT_EQ(1u, log.CountOut("Status: Rotator " + Device() + " Speed 4"));
}

// ---- reply parser

TEST_F(Rc2800PaParser, FirstTwoCharactersOfBothNumberFieldsAreSkipped) {
  Feed("A 99123 --4 z\r");
  EXPECT_EQ(123, Bearing());
  Feed("A -+45 ab6 z\r");
  EXPECT_EQ(45, Bearing());
  EXPECT_EQ(SpeedLine(4) + SpeedLine(6), log.NewOut());
}

TEST_F(Rc2800PaParser, MalformedLinesReportWithoutTheirText) {
  const char* lines[] = {
      "A xx123 yy4\r",    // three fields
      "A xx123 yy4 \r",   // a final blank adds no field
      "B xx123 yy4 z\r",  // field 1 is not A
      "AA xx123 yy4 z\r", " A xx123 yy4 z\r",
      "A xx yy4 z\r",     // bearing field too short
      "A xx123 yy z\r",   // speed field too short
      "A  xx123 yy4 z\r", // two blanks: empty bearing field
      "\r",               // no fields
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    Feed(line);
    EXPECT_EQ(BadLine(""), log.NewOut());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(Rc2800PaParser, EmptyFourthFieldIsEnough) {
  Feed("A xx123 yy4  \r");
  EXPECT_EQ(123, Bearing());
}

TEST_F(Rc2800PaParser, SecondCarriageReturnGivesAnEmptyLineReport) {
  Feed("A xx200 yy4 z\r\r");
  EXPECT_EQ(200, Bearing());
  EXPECT_EQ(SpeedLine(4) + BadLine(""), log.NewOut());
}

}  // namespace
}  // namespace driver_test
