// The DCU-1 driver: a set-position command per ROTATE and, 200 ms later from
// the timer, one execute command; no stop command, no polls, no replies.
#include "drivers/Rotator_DCU1.h"
#include "tests/drivers/BoxFixture.h"
#include "tests/support/Time.h"

namespace driver_test {
namespace {

using testing_support::Clock;
using testing_support::MsSince;

class Dcu1Box : public BoxFixture {};

// ---- sending

TEST_F(Dcu1Box, ConfigureSendsNothing) {
  ASSERT_TRUE(Configure(1, 0));
  EXPECT_TRUE(ExpectNothingSent(500));
}

TEST_F(Dcu1Box, SetPositionCarriesTheBearingZeroPaddedAndUnchanged) {
  ASSERT_TRUE(Configure(1, 0));
  const struct {
    int bearing;
    const char* sent;
  } cases[] = {{0, "AP1000;"},    {7, "AP1007;"},   {45, "AP1045;"},
               {359, "AP1359;"},  {400, "AP1400;"}, {1000, "AP11000;"},
               {-5, "AP1-05;"},   {-10, "AP1-10;"},
               {INT32_MIN, "AP1-2147483648;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bearing);
    Rotate(c.bearing);
    EXPECT_TRUE(ExpectSent(c.sent));
    EXPECT_TRUE(ExpectSent("AM1;"));
    EXPECT_TRUE(ExpectLog("Status: " + Device() + " rotate to " +
                          std::to_string(c.bearing)));
  }
  EXPECT_TRUE(ExpectNothingSent(400));
}

TEST_F(Dcu1Box, ExecuteFollowsTheSetPositionAbout200MsLaterOnce) {
  ASSERT_TRUE(Configure(1, 0));
  auto start = Clock::now();
  Rotate(7);
  EXPECT_TRUE(ExpectSent("AP1007;"));
  EXPECT_TRUE(ExpectSent("AM1;", 3000));
  long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 150);
  EXPECT_LE(elapsed, 1500);
  // The one-shot does not repeat.
  EXPECT_TRUE(ExpectNothingSent(800));
}

TEST_F(Dcu1Box, TwoSetPositionsWithin200MsGetOneExecute) {
  ASSERT_TRUE(Configure(1, 0));
  auto start = Clock::now();
  ASSERT_TRUE(client.Send("ROTATE 1 10\rROTATE 1 20\r"));
  EXPECT_TRUE(ExpectSent("AP1010;AP1020;"));
  EXPECT_TRUE(ExpectSent("AM1;", 3000));
  // The second arming does not restart the wait of the first.
  long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 150);
  EXPECT_LE(elapsed, 1500);
  EXPECT_TRUE(ExpectNothingSent(700));
}

// ---- polling

TEST_F(Dcu1Box, NeverPollsWhateverThePeriod) {
  ASSERT_TRUE(Configure(1, 100));
  EXPECT_TRUE(ExpectNothingSent(1200));
}

// ---- replies

TEST_F(Dcu1Box, RepliesAreIgnored) {
  ASSERT_TRUE(Configure(1, 100));
  Reply(";045AZ=045\r\nW450 A=045 S=1 x\r");
  EXPECT_TRUE(ExpectNoDirection(600));
  EXPECT_EQ(std::string::npos, log.Out().find("Bad response"));
  EXPECT_EQ("", log.Err());
}

}  // namespace
}  // namespace driver_test
