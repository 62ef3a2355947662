// What several drivers do alike, one body per behaviour and a row per
// driver: the stop command, polling at the configured period, and the reply
// parsers that gather lines of up to 20 bytes ended by a carriage return
// (RC2800 PA, RC2800 PX, Prosistel D).
#include <string>
#include <type_traits>

#include "drivers/Rotator_ProsistelD.h"
#include "drivers/Rotator_RC2800PA.h"
#include "drivers/Rotator_RC2800PX.h"
#include "tests/drivers/BoxFixture.h"

namespace driver_test {
namespace {

using namespace std::string_literals;

// ---- stopping

struct StopCase {
  const char* name;
  int model;
  std::string init;  // what configuration sends
  std::string stop;  // what STOP sends ("": nothing)
};

class StopCommand : public BoxFixture,
                    public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopCommand, StopSendsExactlyTheStopCommandAndLogs) {
  const StopCase& c = GetParam();
  ASSERT_TRUE(Configure(c.model, 0));
  if (!c.init.empty()) {
    ASSERT_TRUE(ExpectSent(c.init));
  }
  Stop();
  if (!c.stop.empty()) {
    EXPECT_TRUE(ExpectSent(c.stop));
  }
  EXPECT_TRUE(ExpectLog("Status: " + Device() + " stop"));
  EXPECT_TRUE(ExpectNothingSent(c.stop.empty() ? 500 : 300));
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, StopCommand,
    ::testing::Values(
        StopCase{"Dcu1", 1, "", ""},
        StopCase{"RotorEz", 2, "", ";"},
        StopCase{"Yaesu", 4, "", "S\r"},
        StopCase{"AlfaSpid", 5, "", "\x57"s + std::string(10, '\0') + "\x0F\x20"},
        StopCase{"Rc2800Pa", 8, "U\r", "S\r"},
        StopCase{"Rc2800Px", 9, "\r", "S\r"},
        StopCase{"ProsistelD", 12, "\x02\x41\x4D\x0D\x02\x41\x3F\x0D"s,
                 "\x02\x41\x47\x39\x37\x37\x0D"s}),
    [](const ::testing::TestParamInfo<StopCase>& info) {
      return std::string(info.param.name);
    });

// ---- polling at the configured period

struct PollCase {
  const char* name;
  int model;
  std::string poll;    // one status request
  std::string turn90;  // what ROTATE to 90 sends
};

class ConfiguredPolling : public BoxFixture,
                          public ::testing::WithParamInterface<PollCase> {};

TEST_P(ConfiguredPolling, ConfigureSendsNothingAndFirstPollComesOneIntervalLater) {
  ASSERT_TRUE(Configure(GetParam().model, 1000));
  EXPECT_TRUE(ExpectNothingSent(600));
  EXPECT_TRUE(ExpectSent(GetParam().poll, 3500));
}

TEST_P(ConfiguredPolling, PollsAtTheConfiguredPeriod) {
  const PollCase& c = GetParam();
  ASSERT_TRUE(Configure(c.model, 100));
  std::string sent = SentWithin(1000);
  size_t polls = sent.size() / c.poll.size();
  std::string expected;
  for (size_t i = 0; i < polls; ++i) expected += c.poll;
  EXPECT_EQ(Hex(expected), Hex(sent));
  EXPECT_GE(polls, 3u);
  EXPECT_LE(polls, 12u);
}

TEST_P(ConfiguredPolling, PollPeriodZeroNeverPollsButStillTurns) {
  ASSERT_TRUE(Configure(GetParam().model, 0));
  EXPECT_TRUE(ExpectNothingSent(800));
  Rotate(90);
  EXPECT_TRUE(ExpectSent(GetParam().turn90));
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, ConfiguredPolling,
    ::testing::Values(
        PollCase{"RotorEz", 2, "AI1;", "AP1090;AM1;"},
        PollCase{"Yaesu", 4, "C\r", "M090\r"},
        PollCase{"AlfaSpid", 5, "\x57"s + std::string(10, '\0') + "\x1F\x20",
                 "\x57\x34\x35\x30\x00\x00\x00\x00\x00\x00\x00\x2F\x20"s}),
    [](const ::testing::TestParamInfo<PollCase>& info) {
      return std::string(info.param.name);
    });

// ---- reply lines of up to 20 bytes ended by a carriage return

struct Rc2800PaLines {
  using Driver = Rotator_RC2800PA;
  static std::string Line(const std::string& bearing, const std::string& speed = "4") {
    return "A xx" + bearing + " yy" + speed + " z";
  }
  static constexpr bool kSpeed = true;         // logs speed changes
  static constexpr bool kBadShowsText = false;  // bad lines reported with text
  static constexpr const char* kMalformed[2] = {"B", "C"};
  // Out-of-range numbers that still fit in 20 bytes.
  static constexpr const char* kHuge[2] = {"9999999999", "-999999999"};
};

struct Rc2800PxLines {
  using Driver = Rotator_RC2800PX;
  static std::string Line(const std::string& bearing, const std::string& speed = "4") {
    return "A=" + bearing + " S=" + speed + " x";
  }
  static constexpr bool kSpeed = true;
  static constexpr bool kBadShowsText = true;
  static constexpr const char* kMalformed[2] = {"B", "C"};
  static constexpr const char* kHuge[2] = {"99999999999", "-99999999999"};
};

struct ProsistelLines {
  using Driver = Rotator_ProsistelD;
  static std::string Line(const std::string& bearing, const std::string& = "") {
    return "\x02" "A,?," + bearing + ",R";
  }
  static constexpr bool kSpeed = false;
  static constexpr bool kBadShowsText = false;
  static constexpr const char* kMalformed[2] = {"\x02" "A,?", ",?,9"};
  static constexpr const char* kHuge[2] = {"99999999999", "-99999999999"};
};

template <class Lines>
class CrLineParser : public ParserTest<typename Lines::Driver> {
 protected:
  using Base = ParserTest<typename Lines::Driver>;
  static std::string Speed(int speed) {
    return Lines::kSpeed ? Base::SpeedLine(speed) : "";
  }
  static std::string Bad(const std::string& text) {
    return Base::BadLine(Lines::kBadShowsText ? text : "");
  }
  // A good line with bearing 123 filled up to 20 bytes.
  static std::string TwentyBytes() {
    std::string line = Lines::Line("123");
    return line + std::string(20 - line.size(), 'x');
  }
};

class LinesName {
 public:
  template <class T>
  static std::string GetName(int) {
    if (std::is_same<T, Rc2800PaLines>::value) return "Rc2800Pa";
    if (std::is_same<T, Rc2800PxLines>::value) return "Rc2800Px";
    return "ProsistelD";
  }
};

using LineDrivers = ::testing::Types<Rc2800PaLines, Rc2800PxLines, ProsistelLines>;
TYPED_TEST_SUITE(CrLineParser, LineDrivers, LinesName);

TYPED_TEST(CrLineParser, WellFormedLineReportsBearingAndSpeedOnlyWhenItChanges) {
  this->Feed(TypeParam::Line("123") + "\r");
  EXPECT_EQ(123, this->Bearing());
  EXPECT_EQ(this->Speed(4), this->log.NewOut());
  this->Feed(TypeParam::Line("123") + "\r");
  EXPECT_EQ("", this->log.NewOut());
  this->Feed(TypeParam::Line("124") + "\r");
  EXPECT_EQ(124, this->Bearing());
  EXPECT_EQ("", this->log.NewOut());
  this->Feed(TypeParam::Line("124", "9") + "\r");
  EXPECT_EQ(this->Speed(9), this->log.NewOut());
  this->Feed(TypeParam::Line("124", "0") + "\r");
  EXPECT_EQ(this->Speed(0), this->log.NewOut());
}

TYPED_TEST(CrLineParser, FirstSpeedZeroShowsNoLineAndNumbersStopAtAPoint) {
  this->Feed(TypeParam::Line("7.5", "0") + "\r");
  EXPECT_EQ(7, this->Bearing());
  EXPECT_EQ("", this->log.NewOut());
}

TYPED_TEST(CrLineParser, BearingsOutsideTheCircleArePassedUnchanged) {
  this->Feed(TypeParam::Line("725") + "\r");
  EXPECT_EQ(725, this->Bearing());
  this->Feed(TypeParam::Line("-5") + "\r");
  EXPECT_EQ(-5, this->Bearing());
  this->Feed(TypeParam::Line("+7") + "\r");
  EXPECT_EQ(7, this->Bearing());
}

TYPED_TEST(CrLineParser, CrLfEndsOneLine) {
  this->Feed(TypeParam::Line("200") + "\r\n" + TypeParam::Line("201") + "\r\n");
  EXPECT_EQ(201, this->Bearing());
  EXPECT_EQ(this->Speed(4), this->log.NewOut());
}

TYPED_TEST(CrLineParser, TwentyBytesAndACarriageReturnAreParsed) {
  this->Feed(this->TwentyBytes());
  EXPECT_EQ("", this->log.NewOut());
  this->Feed("\r");
  EXPECT_EQ(123, this->Bearing());
}

TYPED_TEST(CrLineParser, LineFeedsAreNotCountedInALine) {
  std::string line = this->TwentyBytes();
  for (size_t at = 20; at > 0; at -= 4) line.insert(at, "\n");
  this->Feed(line + "\r");
  EXPECT_EQ(123, this->Bearing());
}

TYPED_TEST(CrLineParser, TwentyFirstByteReportsTheLineAndStartsAnew) {
  const std::string line = this->TwentyBytes() + "x";
  this->Feed(line.substr(0, 20));
  EXPECT_EQ("", this->log.NewOut());
  this->Feed(line.substr(20));
  EXPECT_EQ(this->BadLine(line), this->log.NewOut());
  // What follows is a new line.
  this->Feed(std::string(TypeParam::kMalformed[1]) + "\r");
  EXPECT_EQ(this->Bad(TypeParam::kMalformed[1]), this->log.NewOut());
  this->Feed(TypeParam::Line("050") + "\r");
  EXPECT_EQ(50, this->Bearing());
}

TYPED_TEST(CrLineParser, OutOfRangeNumbersLeaveTheParserWorking) {
  this->Feed(TypeParam::Line(TypeParam::kHuge[0]) + "\r");
  this->Feed(TypeParam::Line("1", TypeParam::kHuge[0]) + "\r");
  this->Feed(TypeParam::Line(TypeParam::kHuge[1]) + "\r");
  this->Feed(TypeParam::Line("050", "7") + "\r");
  EXPECT_EQ(50, this->Bearing());
  std::string out = this->log.NewOut();
  EXPECT_EQ(std::string::npos, out.find("Bad response")) << out;
  EXPECT_NE(std::string::npos, out.find(this->Speed(7)));
}

TYPED_TEST(CrLineParser, OnlyTheFirstBadLineReachesTheErrorLog) {
  const std::string first = TypeParam::kMalformed[0];
  const std::string second = TypeParam::kMalformed[1];
  this->Feed(first + "\r" + second + "\r");
  EXPECT_EQ(this->Bad(first) + this->Bad(second), this->log.NewOut());
  const std::string shown = TypeParam::kBadShowsText ? "\"" + first + "\" " : "";
  EXPECT_EQ("Bad response " + shown + "from rotator on " + kProbePort + "\n",
            this->log.NewErr());
}

}  // namespace
}  // namespace driver_test
