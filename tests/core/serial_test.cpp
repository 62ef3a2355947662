// The serial link on real pseudo-terminals: settings, bytes both ways,
// failure reports, promptness.
#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "serial/Serial.h"
#include "tests/support/Helpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"

namespace {

using namespace testing_support;

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.Ok()); }
  bool Open(Serial& link, int baud = 9600, int data = 8, int stop = 1) {
    return link.Open(box.SlavePath(), baud, data, stop,
                     [this](const SerialEvent& e) { events.Add(e); });
  }
  size_t Count(SerialEvent::Type type) const {
    size_t n = 0;
    for (const auto& e : events.Values()) n += e.type == type;
    return n;
  }

  LogCapture log;  // first: outlives the links' threads
  Pty box;
  Recorder<SerialEvent> events;
};

TEST_F(SerialTest, OpenSetsRawModeAndTheFormatAndCloseWritesTheOldSettingsBack) {
  const struct {
    int baud, data, stop;
    speed_t speed;
    bool twoStopBits;
  } cases[] = {{1200, 8, 1, B1200, false},   {4800, 8, 2, B4800, true},
               {9600, 5, 0, B9600, false},   {115200, 8, 1, B115200, false},
               {14400, 8, 1, B9600, false},  {-1200, 8, 3, B9600, false}};
  struct termios own;
  ASSERT_TRUE(box.SlaveSettings(&own));
  own = DistinctiveSettings(own);
  ASSERT_TRUE(box.SetSlaveSettings(own));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    Serial link;
    ASSERT_TRUE(Open(link, c.baud, c.data, c.stop));
    struct termios t;
    ASSERT_TRUE(box.SlaveSettings(&t));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CSIZE), tcflag_t(CLOCAL | CREAD | CS8));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ(t.c_cflag & (PARENB | HUPCL), 0u);
    EXPECT_EQ(t.c_iflag, tcflag_t(IGNPAR));
    EXPECT_EQ(t.c_oflag | t.c_lflag | t.c_cc[VMIN] | t.c_cc[VTIME], 0u);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    link.Close();
    link.Close();
    ASSERT_TRUE(box.SlaveSettings(&t));
    EXPECT_TRUE(SameSettings(t, own));
  }
  EXPECT_EQ(Count(SerialEvent::Closed), 6u);  // one per link opened
  Serial never;
  never.Close();
  EXPECT_EQ(events.Size(), 6u);
  EXPECT_EQ(log.Err(), "");
}

TEST_F(SerialTest, BytesPassUnchangedBothWaysOneEventPerByte) {
  Serial link;
  ASSERT_TRUE(Open(link));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_TRUE(link.Write(all));
  EXPECT_TRUE(link.Write('\r'));
  EXPECT_EQ(box.Read(3000, 257), all + "\r");
  // More than the pseudo-terminal holds, to a box that starts reading late:
  // the link waits for it to take bytes again, and loses none.
  std::string big;
  for (int i = 0; i < 1024; ++i) big += all;
  std::string taken;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    taken = box.Read(5000, big.size());
  });
  EXPECT_TRUE(link.Write(big));
  late.join();
  EXPECT_TRUE(taken == big) << taken.size() << " of " << big.size() << " bytes";
  ASSERT_TRUE(box.Send(all + std::string(1000, 'A')));
  ASSERT_TRUE(events.WaitForSize(1256, 5000));
  std::vector<SerialEvent> got = events.Values();
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].type, SerialEvent::Data) << i;
    ASSERT_EQ(got[i].data, i < 256 ? all[i] : 'A') << i;
  }
}

TEST_F(SerialTest, WritesFromTwoThreadsNeverInterleave) {
  Serial link;
  ASSERT_TRUE(Open(link));
  auto writer = [&](char who) {
    for (int i = 0; i < 200; ++i) link.Write(std::string(12, who) + "\r");
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  std::string got = box.Read(15000, 400 * 13);
  a.join();
  b.join();
  ASSERT_EQ(got.size(), 400u * 13);
  for (size_t at = 0; at < got.size(); at += 13)
    ASSERT_EQ(got.substr(at, 13), std::string(12, got[at]) + "\r") << at;
}

// (A missing device is reported through the rotator base, tests/core/rotator_test.)
TEST_F(SerialTest, DeviceThatIsNotATerminalIsReportedOnce) {
  Serial link;
  EXPECT_FALSE(link.Open("/dev/null", 9600, 8, 1, [this](const SerialEvent& e) { events.Add(e); }));
  EXPECT_EQ(log.Err(), std::string("Unable to get state for /dev/null: ") + strerror(ENOTTY) + "\n");
  ASSERT_EQ(events.Size(), 1u);
  EXPECT_EQ(events.Values()[0].error, ENOTTY);
  EXPECT_FALSE(link.Write("C\r"));  // a closed link writes nothing, silently
  link.Close();
  EXPECT_EQ(events.Size(), 1u);
}

TEST_F(SerialTest, VanishedDeviceIsReportedOnceAndLaterWritesFail) {
  Serial link;
  ASSERT_TRUE(Open(link));
  const std::string path = box.SlavePath();
  box.Vanish();
  ASSERT_TRUE(events.WaitForSize(1, 3000));
  EXPECT_FALSE(link.Write("C\r"));
  EXPECT_EQ(Count(SerialEvent::Error), 2u);
  EXPECT_NE(events.Values().back().error, 0);  // the write's own errno, reported
  std::vector<std::string> err = log.Lines(log.Err());
  ASSERT_EQ(err.size(), 2u) << log.Err();
  EXPECT_EQ(err[0].rfind("Read from serial port failed " + path + ": ", 0), 0u);
  EXPECT_EQ(err[1].rfind("Unable to write to serial port " + path + ": ", 0), 0u);
}

// The reader waits without spinning, and Close wakes it at once.
TEST_F(SerialTest, IdleLinkUsesNoProcessorAndClosesPromptly) {
  const int baseline = ThreadCount();
  if (baseline == 0) GTEST_SKIP() << "this platform gives no thread count";
  for (int round = 0; round < 3; ++round) {
    Serial link;
    ASSERT_TRUE(Open(link));
    EXPECT_EQ(ThreadCount(), baseline + 1);
    const std::clock_t cpu = std::clock();
    SleepMs(100);
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 20) << "processor time while idle";
    auto start = Clock::now();
    link.Close();
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(ThreadsBackTo(baseline));
  }
  Serial missing;
  EXPECT_FALSE(missing.Open("/dev/zeva-test-no-such-device", 9600, 8, 1, nullptr));
  EXPECT_EQ(ThreadCount(), baseline);
}

}  // namespace
