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

class ProsistelBox : public BoxFixture {};
class ProsistelParser : public ParserTest<Rotator_ProsistelD> {};

// ---- sending

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
      {977, "\x02\x41\x47\x39\x37\x37\x0D"s},  // the stop command
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
  }
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

TEST_F(ProsistelParser, TwoOrThreeFieldsGiveTheReportWithoutText) {
  for (const char* line : {"\x02" "A,?,123\r", "\x02" "A,?\r",
                           "\x02" "A,?,123,\r"}) {
    SCOPED_TRACE(line);
    Feed(line);
    EXPECT_EQ(BadLine(""), log.NewOut());
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
    EXPECT_EQ("", log.NewOut());
  }
  EXPECT_EQ("", log.NewErr());
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
  EXPECT_EQ("", log.NewOut());
}

}  // namespace
}  // namespace driver_test
