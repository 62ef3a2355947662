// The RC2800 driver in its PX command set: one CR at configuration, "A%d\r"
// to turn, "S\r" to stop, no polling, nothing at destruction, and a line
// parser for "A=<bearing> S=<speed> <x>" lines, dropping lines that start
// with "M".
#include "drivers/Rotator_RC2800PX.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

class Rc2800PxBox : public BoxFixture {};
class Rc2800PxParser : public ParserTest<Rotator_RC2800PX> {};

// ---- sending

TEST_F(Rc2800PxBox, MoveCommandIsAAndThePlainBearing) {
  ASSERT_TRUE(Configure(9, 0));
  ASSERT_TRUE(ExpectSent("\r"));
  const struct {
    int bearing;
    const char* sent;
  } cases[] = {{45, "A45\r"},     {7, "A7\r"},   {359, "A359\r"},
               {0, "A0\r"},       {-5, "A-5\r"}, {1000, "A1000\r"},
               {INT32_MIN, "A-2147483648\r"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
    EXPECT_TRUE(ExpectLog("Sending " + std::to_string(c.bearing) +
                          " to RC2800PX"));
  }
  EXPECT_EQ(1u, log.CountOut("Sending 45 to RC2800PX"));
}

TEST_F(Rc2800PxBox, DisconnectSendsNothing) {
  ASSERT_TRUE(Configure(9, 0));
  ASSERT_TRUE(ExpectSent("\r"));
  client.Close();
  EXPECT_TRUE(ExpectLog("Lost client connection"));
  EXPECT_TRUE(ExpectNothingSent(1500));
}

// ---- polling

TEST_F(Rc2800PxBox, ConfigureSendsOneCarriageReturnAndNeverPolls) {
  ASSERT_TRUE(Configure(9, 100));
  EXPECT_TRUE(ExpectSent("\r"));
  EXPECT_TRUE(ExpectNothingSent(1200));
}

// ---- replies end to end

TEST_F(Rc2800PxBox, BearingReachesTheClientAndSpeedTheLog) {
  ASSERT_TRUE(Configure(9, 0));
  Reply("A=123 S=4 x\r\n");
  EXPECT_TRUE(ExpectDirection("1 123"));
  EXPECT_TRUE(ExpectLog("Status: Rotator " + Device() + " Speed 4"));
  Reply("M1 A=200 S=4 x\rA=123 S=4 x\r");
  EXPECT_TRUE(ExpectNoDirection(400));
  Reply("A=7 S=2 x\r");
  EXPECT_TRUE(ExpectDirection("1 007"));
  Reply("A=123 S=4\r");
  EXPECT_TRUE(ExpectLog("Status: Bad response \"A=123 S=4\" from rotator on " +
                        Device()));
}

// ---- reply parser

TEST_F(Rc2800PxParser, EmptyThirdFieldIsEnough) {
  Feed("A=123 S=4  \r");
  EXPECT_EQ(123, Bearing());
}

TEST_F(Rc2800PxParser, LinesStartingWithMAreDroppedSilently) {
  Feed("A=100 S=0 x\r");
  const std::string lines[] = {"M\r", "M anything\r", "MA=1 S=2 x\r",
                               "M=1 S=2\r", "M" + std::string(19, 'x') + "\r"};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    Feed(line);
    EXPECT_EQ(100, Bearing());
    EXPECT_EQ("", log.NewOut());
  }
  EXPECT_EQ("", log.NewErr());
}

TEST_F(Rc2800PxParser, MalformedLinesAreReportedWithTheirText) {
  const char* lines[] = {
      "A=123 S=4",    // two fields
      "A=123 S=4 ",   // a final blank adds no field
      "A= S=4 x",     // bearing field too short
      "P=123 S=4 x",  // not A=
      "A=123 X=4 x",  // not S=
      "A=123 S= x",   // speed field too short
      " A=123 S=4 x", // leading blank: empty first field
      "m=1 S=2 x",    // only a capital M is dropped
      "A:123 S=4 x",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    Feed(std::string(line) + "\r");
    EXPECT_EQ(BadLine(line), log.NewOut());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(Rc2800PxParser, EmptyLineIsReportedWithoutText) {
  Feed("\r");
  EXPECT_EQ(BadLine(""), log.NewOut());
}

TEST_F(Rc2800PxParser, TwentyOneBytesStartingWithMAreStillReported) {
  const std::string line = "M" + std::string(20, 'x');
  Feed(line);
  EXPECT_EQ(BadLine(line), log.NewOut());
}

}  // namespace
}  // namespace driver_test
