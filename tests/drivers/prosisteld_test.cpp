// The Prosistel D driver: two STX frames at configuration, a 5000 ms poll
// whatever the configured period, seven-byte go-to frames (cut when the
// bearing is wider than three characters), and a comma-field line parser.
#include <string>

#include "drivers/Rotator_ProsistelD.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

using namespace std::string_literals;

const std::string kInit = "\x02\x41\x4D\x0D\x02\x41\x3F\x0D"s;
const std::string kPoll = "\x02\x41\x4D\x0D"s;
const std::string kStop = "\x02\x41\x47\x39\x37\x37\x0D"s;

class ProsistelBox : public BoxFixture {};
class ProsistelParser : public ParserTest<Rotator_ProsistelD> {};

// ---- sending

TEST_F(ProsistelBox, DeviceIsSetTo9600Baud8DataBits1StopBit) {
  ASSERT_TRUE(Configure(12, 0));
  EXPECT_TRUE(ExpectLineSettings(B9600));
}

TEST_F(ProsistelBox, GoToFramesAreSevenBytesCutWhenTheBearingIsWide) {
  ASSERT_TRUE(Configure(12, 0));
  ASSERT_TRUE(ExpectSent(kInit));
  const struct {
    int bearing;
    std::string sent;
  } cases[] = {
      {0, "\x02\x41\x47\x30\x30\x30\x0D"s},
      {359, "\x02\x41\x47\x33\x35\x39\x0D"s},
      {5, "\x02" "AG005\r"s},
      {270, "\x02" "AG270\r"s},
      {1234, "\x02\x41\x47\x31\x32\x33\x34"s},  // no CR
      {-5, "\x02" "AG-05\r"s},
      {-100, "\x02" "AG-100"s},                 // no CR
      {INT32_MIN, "\x02" "AG-214"s},            // no CR
      {977, kStop},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
  }
  EXPECT_TRUE(ExpectNothingSent(300));
}

TEST_F(ProsistelBox, StopSendsGoToWith977) {
  ASSERT_TRUE(Configure(12, 0));
  ASSERT_TRUE(ExpectSent(kInit));
  Stop();
  EXPECT_TRUE(ExpectSent(kStop));
  EXPECT_TRUE(ExpectNothingSent(300));
}

// ---- polling

TEST_F(ProsistelBox, InitialisesAtOnceAndPollsAfter5000MsWhateverThePeriod) {
  ASSERT_TRUE(Configure(12, 100));
  EXPECT_TRUE(ExpectSent(kInit, 1500));
  EXPECT_TRUE(ExpectNothingSent(3500));
  EXPECT_TRUE(ExpectSent(kPoll, 5000));
}

// ---- replies end to end

TEST_F(ProsistelBox, PositionRepliesReachTheClientOnceEach) {
  ASSERT_TRUE(Configure(12, 0));
  Reply("\x02" "A,?,123,R\r\n");
  EXPECT_TRUE(ExpectDirection("1 123"));
  Reply("\x02" "A,?,123,R\r");
  EXPECT_TRUE(ExpectNoDirection(400));
  Reply("\x02" "A,?,45.7,R\r");
  EXPECT_TRUE(ExpectDirection("1 045"));
  Reply("\x02" "A,?,123\r");
  EXPECT_TRUE(ExpectLog("Status: Bad response from rotator on " + Device()));
}

// ---- reply parser

TEST_F(ProsistelParser, PositionLineReportsItsBearing) {
  Feed("\x02" "A,?,123,R\r");
  EXPECT_EQ(123, Bearing());
  EXPECT_EQ("", log.NewStdout());
}

TEST_F(ProsistelParser, CrLfEndsOneLine) {
  Feed("\x02" "A,?,124,R\r\n\x02" "A,?,125,R\r\n");
  EXPECT_EQ(125, Bearing());
  EXPECT_EQ("", log.NewStdout());
}

TEST_F(ProsistelParser, TwoOrThreeFieldsGiveTheReportWithoutText) {
  for (const char* line : {"\x02" "A,?,123\r", "\x02" "A,?\r",
                           "\x02" "A,?,123,\r"}) {
    SCOPED_TRACE(line);
    Feed(line);
    EXPECT_EQ(BadLine(""), log.NewStdout());
  }
  EXPECT_EQ(kNoBearing, Bearing());
}

TEST_F(ProsistelParser, OtherLinesAreIgnoredSilently) {
  for (const char* line :
       {"\x02" "A,M,123,R\r", "\x02" "A,??,123,R\r", "\x02" "A,,123,R\r",
        "\x02" "A\r", "\r", "?,A,123,R\r", "\x02" "A,? ,123,R\r"}) {
    SCOPED_TRACE(line);
    Feed(line);
    EXPECT_EQ(kNoBearing, Bearing());
    EXPECT_EQ("", log.NewStdout());
  }
  EXPECT_EQ("", log.NewStderr());
}

TEST_F(ProsistelParser, BearingFieldIsReadLikeAtoi) {
  Feed("\x02" "A,?,45.7,R\r");
  EXPECT_EQ(45, Bearing());
  Feed("\x02" "A,?,xyz,R\r");
  EXPECT_EQ(0, Bearing());
  Feed("\x02" "A,?, -12,R\r");
  EXPECT_EQ(-12, Bearing());
  Feed("\x02" "A,?,+7x,R\r");
  EXPECT_EQ(7, Bearing());
  Feed("\x02" "A,?,725,R,more\r");
  EXPECT_EQ(725, Bearing());
  EXPECT_EQ("", log.NewStdout());
}

TEST_F(ProsistelParser, TwentyBytesAndACarriageReturnAreParsed) {
  const std::string line = "\x02" "A,?,123,Rxxxxxxxxxx";
  ASSERT_EQ(20u, line.size());
  Feed(line);
  EXPECT_EQ("", log.NewStdout());
  Feed("\r");
  EXPECT_EQ(123, Bearing());
}

TEST_F(ProsistelParser, LineFeedsAreNotCountedInALine) {
  Feed("\x02" "A,?,123,R\nxxxxxxxxxx\n\r");
  EXPECT_EQ(123, Bearing());
}

TEST_F(ProsistelParser, TwentyFirstByteReportsTheLineAndStartsAnew) {
  const std::string line = "\x02" "A,?,123,Rxxxxxxxxxxx";
  ASSERT_EQ(21u, line.size());
  Feed(line.substr(0, 20));
  EXPECT_EQ("", log.NewStdout());
  Feed(line.substr(20));
  EXPECT_EQ(BadLine(line), log.NewStdout());
  Feed(",?,9\r");  // the rest is a new line of three fields
  EXPECT_EQ(BadLine(""), log.NewStdout());
  Feed("\x02" "A,?,050,R\r");
  EXPECT_EQ(50, Bearing());
}

TEST_F(ProsistelParser, TenDigitNumbersLeaveTheParserWorking) {
  Feed("A,?,99999999999,R\r");
  Feed("A,?,-99999999999,R\r");
  Feed("A,?,5,R\r");
  EXPECT_EQ(5, Bearing());
  EXPECT_EQ("", log.NewStdout());
}

TEST_F(ProsistelParser, OnlyTheFirstBadLineReachesTheErrorLog) {
  Feed("A,?\rA,?\r");
  EXPECT_EQ(BadLine("") + BadLine(""), log.NewStdout());
  EXPECT_EQ(std::string("Bad response from rotator on ") + kProbePort + "\n",
            log.NewStderr());
}

}  // namespace
}  // namespace driver_test
