// The serial link against real pseudo-terminals: the settings it puts on the
// device and writes back, bytes both ways, its failure reports, and how
// promptly it closes.

#include <fcntl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "serial/Serial.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/Pty.h"

namespace {

using core_test::LogCapture;
using core_test::MsSince;
using core_test::Recorder;
using core_test::ThreadCount;
using core_test::WaitUntil;
using testing_support::Pty;

const char kMissingDevice[] = "/dev/zeva-core-test-no-such-device";

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(box.Ok());
    baseline = core_test::ThreadBaseline();
  }

  std::function<void(const SerialEvent&)> Sink(Recorder<SerialEvent>* events) {
    return [events](const SerialEvent& event) { events->Add(event); };
  }
  bool OpenBox(Serial& link, int baud = 9600, int data = 8, int stop = 1) {
    return link.Open(box.SlavePath(), baud, data, stop, Sink(&events));
  }
  size_t CountType(SerialEvent::Type type) const {
    size_t n = 0;
    for (const auto& e : events.Values())
      if (e.type == type) ++n;
    return n;
  }

  LogCapture log;  // before the links, so it outlives their threads
  Pty box;
  Recorder<SerialEvent> events;
  int baseline = 0;
};

// --- Terminal settings --------------------------------------------------

struct Format {
  int baud, dataBits, stopBits;
  speed_t speed;
  tcflag_t size;
  bool twoStopBits;
};

class SerialSettingsTest : public SerialTest,
                           public ::testing::WithParamInterface<Format> {};

TEST_P(SerialSettingsTest, OpenPutsTheDeviceInRawModeWithTheRequestedFormat) {
  const Format f = GetParam();
  struct termios before;
  ASSERT_TRUE(box.SlaveSettings(&before));
  // Start from settings the link must clear, so that it is seen to build
  // its settings from nothing rather than patch the device's.
  ASSERT_TRUE(box.SetSlaveSettings(core_test::DistinctiveSettings(before)));

  Serial link;
  ASSERT_TRUE(OpenBox(link, f.baud, f.dataBits, f.stopBits));
  struct termios t;
  ASSERT_TRUE(box.SlaveSettings(&t));

  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  if (core_test::PtyKeepsSevenDataBits(box.SlavePath())) {
    EXPECT_EQ(t.c_cflag & CSIZE, f.size);
  }
  EXPECT_EQ((t.c_cflag & CSTOPB) != 0, f.twoStopBits);
  EXPECT_EQ(t.c_cflag & (PARENB | HUPCL | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag, tcflag_t(IGNPAR));
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_EQ(t.c_lflag, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetispeed(&t), f.speed);
  EXPECT_EQ(cfgetospeed(&t), f.speed);
  EXPECT_EQ(log.Err(), "");
}

std::string FormatName(const ::testing::TestParamInfo<Format>& info) {
  const Format& f = info.param;
  std::string baud = f.baud < 0 ? "minus" + std::to_string(-f.baud)
                                : std::to_string(f.baud);
  return "Baud" + baud + "_Data" + std::to_string(f.dataBits) + "_Stop" +
         std::to_string(f.stopBits);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SerialSettingsTest,
    ::testing::Values(Format{1200, 8, 1, B1200, CS8, false},
                      Format{4800, 8, 1, B4800, CS8, false},
                      Format{9600, 8, 1, B9600, CS8, false},
                      Format{9600, 7, 2, B9600, CS7, true},
                      Format{4800, 5, 0, B4800, CS8, false},
                      Format{4800, 6, 3, B4800, CS8, false},
                      Format{115200, 8, 1, B115200, CS8, false},
                      // Speeds outside the standard list give 9600.
                      Format{14400, 8, 1, B9600, CS8, false},
                      Format{0, 8, 1, B9600, CS8, false},
                      Format{-1200, 8, 1, B9600, CS8, false}),
    FormatName);

TEST_F(SerialTest, SevenDataBitsOnlyWhenAskedForSeven) {
  if (!core_test::PtyKeepsSevenDataBits(box.SlavePath()))
    GTEST_SKIP() << "this platform's ptys always report eight data bits";
  for (int bits : {7, 5, 6, 8, 9}) {
    SCOPED_TRACE(bits);
    Serial link;
    ASSERT_TRUE(OpenBox(link, 9600, bits, 1));
    struct termios t;
    ASSERT_TRUE(box.SlaveSettings(&t));
    EXPECT_EQ(t.c_cflag & CSIZE, bits == 7 ? tcflag_t(CS7) : tcflag_t(CS8));
  }
}

TEST_F(SerialTest, CloseWritesTheDevicesOwnSettingsBack) {
  struct termios original;
  ASSERT_TRUE(box.SlaveSettings(&original));
  const struct termios distinctive = core_test::DistinctiveSettings(original);
  ASSERT_TRUE(box.SetSlaveSettings(distinctive));
  struct termios check;
  ASSERT_TRUE(box.SlaveSettings(&check));
  ASSERT_TRUE(core_test::SameSettings(check, distinctive))
      << "the pty does not keep settings; the test cannot work here";

  Serial link;
  ASSERT_TRUE(OpenBox(link));
  struct termios open;
  ASSERT_TRUE(box.SlaveSettings(&open));
  EXPECT_FALSE(core_test::SameSettings(open, distinctive));

  link.Close();
  struct termios after;
  ASSERT_TRUE(box.SlaveSettings(&after));
  EXPECT_TRUE(core_test::SameSettings(after, distinctive));
  EXPECT_EQ(CountType(SerialEvent::Closed), 1u);
}

// --- Bytes both ways ----------------------------------------------------

TEST_F(SerialTest, WrittenBytesArriveUnchanged) {
  Serial link;
  ASSERT_TRUE(OpenBox(link));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));

  EXPECT_TRUE(link.Write(all.data(), static_cast<int>(all.size())));
  EXPECT_EQ(box.Read(3000, all.size()), all);

  EXPECT_TRUE(link.Write("M090\r"));
  EXPECT_TRUE(link.Write(std::string("\0\r\n", 3)));
  EXPECT_TRUE(link.Write('\0'));
  EXPECT_TRUE(link.Write('\r'));
  const std::string expected = std::string("M090\r") + std::string("\0\r\n", 3) +
                               std::string(1, '\0') + "\r";
  EXPECT_EQ(box.Read(3000, expected.size()), expected);
  EXPECT_EQ(box.Read(100), "");  // nothing extra, no CR/LF translation
  EXPECT_EQ(log.Err(), "");
}

TEST_F(SerialTest, EveryReceivedByteIsOneDataEventInOrder) {
  Serial link;
  ASSERT_TRUE(OpenBox(link));
  // Every byte value, then a burst larger than one read.
  std::string sent;
  for (int i = 0; i < 256; ++i) sent.push_back(static_cast<char>(i));
  for (int i = 0; i < 1000; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(box.Send(sent));

  ASSERT_TRUE(events.WaitForSize(sent.size(), 5000))
      << "got " << events.Size() << " of " << sent.size() << " events";
  core_test::SleepMs(100);
  std::vector<SerialEvent> got = events.Values();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].type, SerialEvent::Data) << "event " << i;
    ASSERT_EQ(got[i].data, sent[i]) << "event " << i;
    ASSERT_EQ(got[i].error, 0) << "event " << i;
  }
}

TEST_F(SerialTest, BytesArrivingWithoutACallbackAreDropped) {
  Serial link;
  ASSERT_TRUE(link.Open(box.SlavePath(), 9600, 8, 1, nullptr));
  ASSERT_TRUE(box.Send("AZ=045\r"));
  core_test::SleepMs(150);
  EXPECT_TRUE(link.Write("C\r"));
  EXPECT_EQ(box.Read(2000, 2), "C\r");
  link.Close();
}

TEST_F(SerialTest, WritesFromTwoThreadsNeverInterleave) {
  Serial link;
  ASSERT_TRUE(OpenBox(link));
  constexpr int kFrames = 200;
  // Frames of 13 bytes, distinct per thread and per index.
  auto frame = [](char who, int i) {
    char number[8];
    snprintf(number, sizeof number, "%03d", i % 1000);
    return std::string(1, who) + number + std::string(8, who) + "\r";
  };
  std::string received;
  std::thread reader([&] {
    received = box.Read(15000, 2 * kFrames * 13);
  });
  auto writer = [&](char who) {
    for (int i = 0; i < kFrames; ++i) EXPECT_TRUE(link.Write(frame(who, i)));
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();
  reader.join();

  ASSERT_EQ(received.size(), size_t(2 * kFrames * 13));
  int nextA = 0, nextB = 0;
  for (size_t at = 0; at < received.size(); at += 13) {
    const std::string got = received.substr(at, 13);
    if (got[0] == 'A' && nextA < kFrames && got == frame('A', nextA)) {
      ++nextA;
    } else if (got[0] == 'B' && nextB < kFrames && got == frame('B', nextB)) {
      ++nextB;
    } else {
      FAIL() << "torn or out-of-order frame at byte " << at << ": \"" << got
             << "\"";
    }
  }
  EXPECT_EQ(nextA, kFrames);
  EXPECT_EQ(nextB, kFrames);
}

// --- Failures ------------------------------------------------------------

TEST_F(SerialTest, MissingDeviceIsReportedOnceAndStartsNoThread) {
  Serial link;
  EXPECT_FALSE(link.Open(kMissingDevice, 9600, 8, 1, Sink(&events)));
  EXPECT_EQ(log.Err(), std::string("Cannot open ") + kMissingDevice +
                           ": No such file or directory\n");
  std::vector<SerialEvent> got = events.Values();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, SerialEvent::Error);
  EXPECT_EQ(got[0].error, ENOENT);
  EXPECT_EQ(ThreadCount(), baseline);

  // The link stays closed: writes fail silently, Close sends nothing.
  EXPECT_FALSE(link.Write("C\r"));
  link.Close();
  EXPECT_EQ(events.Size(), 1u);
  EXPECT_EQ(log.Err(), std::string("Cannot open ") + kMissingDevice +
                           ": No such file or directory\n");
}

TEST_F(SerialTest, DeviceThatIsNotATerminalIsRefused) {
  Serial link;
  EXPECT_FALSE(link.Open("/dev/null", 9600, 8, 1, Sink(&events)));
  EXPECT_EQ(log.Err(), std::string("Unable to get state for /dev/null: ") +
                           strerror(ENOTTY) + "\n");
  ASSERT_EQ(events.Size(), 1u);
  EXPECT_EQ(events.Values()[0].type, SerialEvent::Error);
  EXPECT_EQ(events.Values()[0].error, ENOTTY);
  EXPECT_EQ(ThreadCount(), baseline);
  link.Close();
  EXPECT_EQ(events.Size(), 1u);
}

TEST_F(SerialTest, RejectedWritesReturnFalseSilently) {
  Serial link;
  EXPECT_FALSE(link.Write("C\r"));  // never opened
  ASSERT_TRUE(OpenBox(link));
  const char* none = nullptr;
  EXPECT_FALSE(link.Write(""));
  EXPECT_FALSE(link.Write(std::string()));
  EXPECT_FALSE(link.Write("abc", 0));
  EXPECT_FALSE(link.Write("abc", -1));
  EXPECT_FALSE(link.Write(none, 3));
  EXPECT_FALSE(link.Write(none));
  link.Close();
  EXPECT_FALSE(link.Write("C\r"));  // closed
  EXPECT_FALSE(link.Write('x'));

  EXPECT_EQ(box.Read(150), "");
  EXPECT_EQ(log.Err(), "");
  EXPECT_EQ(log.Out(), "");
  EXPECT_EQ(CountType(SerialEvent::Error), 0u);
}

TEST_F(SerialTest, CloseSendsClosedOnlyForAnOpenLink) {
  Serial never;
  never.Close();
  never.Close();

  Serial link;
  ASSERT_TRUE(OpenBox(link));
  link.Close();
  link.Close();
  EXPECT_EQ(CountType(SerialEvent::Closed), 1u);
  EXPECT_EQ(events.Size(), 1u);
}

TEST_F(SerialTest, ReopeningSendsClosedToTheOldCallbackOnly) {
  Pty second;
  ASSERT_TRUE(second.Ok());
  Recorder<SerialEvent> secondEvents;
  Serial link;
  ASSERT_TRUE(OpenBox(link));
  ASSERT_TRUE(link.Open(second.SlavePath(), 9600, 8, 1, Sink(&secondEvents)));

  ASSERT_EQ(events.Size(), 1u);
  EXPECT_EQ(events.Values()[0].type, SerialEvent::Closed);
  EXPECT_EQ(secondEvents.Size(), 0u);

  // The new link serves the new device.
  ASSERT_TRUE(second.Send("x"));
  ASSERT_TRUE(secondEvents.WaitForSize(1, 3000));
  EXPECT_EQ(secondEvents.Values()[0].data, 'x');
  EXPECT_TRUE(link.Write("y"));
  EXPECT_EQ(second.Read(2000, 1), "y");
  EXPECT_EQ(box.Read(100), "");
  EXPECT_EQ(events.Size(), 1u);
}

TEST_F(SerialTest, VanishedDeviceIsReportedOnceAndLaterWritesFail) {
  Serial link;
  ASSERT_TRUE(OpenBox(link));
  const std::string readFailure = "Read from serial port failed " + box.SlavePath() + ": ";
  box.Vanish();

  ASSERT_TRUE(WaitUntil([&] { return CountType(SerialEvent::Error) >= 1; }, 3000));
  core_test::SleepMs(1300);  // longer than the reader's wait: no second report
  EXPECT_EQ(CountType(SerialEvent::Error), 1u);
  std::vector<std::string> errors = log.ErrLines();
  ASSERT_EQ(errors.size(), 1u) << log.Err();
  EXPECT_EQ(errors[0].rfind(readFailure, 0), 0u) << errors[0];

  EXPECT_FALSE(link.Write("C\r"));
  errors = log.ErrLines();
  ASSERT_EQ(errors.size(), 2u) << log.Err();
  const std::string writeFailure =
      "Unable to write to serial port " + box.SlavePath() + ": ";
  EXPECT_EQ(errors[1].rfind(writeFailure, 0), 0u) << errors[1];
  EXPECT_EQ(CountType(SerialEvent::Error), 2u);

  link.Close();  // still closes cleanly and says so
  EXPECT_EQ(CountType(SerialEvent::Closed), 1u);
  EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
}

// --- Promptness ------------------------------------------------------------

TEST_F(SerialTest, CloseOfAnIdleLinkReturnsPromptly) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Serial link;
    ASSERT_TRUE(OpenBox(link));
    core_test::SleepMs(100);  // the reader is waiting for input by now
    auto start = core_test::Clock::now();
    link.Close();
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(core_test::ThreadsBackTo(baseline));
  }
  // Destruction of an open link is just as quick.
  auto link = std::make_unique<Serial>();
  ASSERT_TRUE(OpenBox(*link));
  core_test::SleepMs(100);
  auto start = core_test::Clock::now();
  link.reset();
  EXPECT_LT(MsSince(start), 500);
}

}  // namespace
