// The command server and the controller in-process on port 13020, as main runs them
// (published in g_controller), with one client connected and the log captured. A line's
// arrival is seen through the log of the command it carries; a VERSION round trip shows
// that every earlier line has been handled.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/RotatorController.h"
#include "command/RotatorMgr.h"
#include "rotator/Rotator.h"
#include "tests/support/Helpers.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

namespace {

using namespace testing_support;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000)) << "TCP port 13020 is in use by another process";
    controller.reset(new RotatorController());
    g_controller = controller.get();
    ASSERT_TRUE(controller->Start()) << "the controller did not start";
    ASSERT_TRUE(Connect(client));
  }
  void TearDown() override {
    if (controller) controller->Stop();
    g_controller = nullptr;
    controller.reset();
  }
  // Connects `c` and waits until the server has taken it as its client (it logs
  // "Connected to" before).
  ::testing::AssertionResult Connect(TcpClient& c) {
    if (!c.Connect(13020, 5000)) return ::testing::AssertionFailure() << "cannot connect";
    return Sync(c);
  }
  ::testing::AssertionResult Sync(TcpClient& c) {
    if (c.Command("VERSION") && c.WaitForLine("VERSION 2.0.1", 5000)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no reply to VERSION";
  }
  // A quiet Yaesu on a device with distinctive settings, whose return shows
  // that the rotator is gone.
  void Configure(TcpClient& c, int id, Pty& box) {
    struct termios own;
    ASSERT_TRUE(box.SlaveSettings(&own));
    ASSERT_TRUE(box.SetSlaveSettings(DistinctiveSettings(own)));
    ASSERT_TRUE(c.Command("CONFIGURE " + std::to_string(id) + " " + box.SlavePath() + " 4 60000"));
    ASSERT_TRUE(log.WaitForOut("Status: " + box.SlavePath() + " created", 3000));
  }
  static bool Released(const Pty& box) {
    struct termios now;
    return box.SlaveSettings(&now) && SameSettings(now, DistinctiveSettings(now));
  }

  LogCapture log;  // first: outlives the controller and its threads
  std::unique_ptr<RotatorController> controller;
  TcpClient client;
};

TEST_F(ServerTest, LinesAreFramedAtTheCarriageReturn) {
  const struct {
    std::string sent, logged;
  } cases[] = {
      {"A\r\nB\r", "Unknown command: A\nUnknown command: \nB\n"},
      {"X\n\rY\n\n\r\n\r", "Unknown command: X\nUnknown command: Y\n\n"},
      {"\r\r\rA\r\r", "Unknown command: A\n"},
      {" \tA\x7f\xff \r", "Unknown command:  \tA\x7f\xff \n"},
      {"version\rROTATE 1\r", "Unknown command: version\nBad arguments in command: ROTATE 1\n"},
      {std::string(1 << 20, 'x') + "x\rSTOP 1\r",  // discarded up to its carriage return
       "Discarding client text of more than 4096 bytes without a carriage return\n"
       "Unknown rotator in command: STOP 1\n"}};
  log.NewOut();
  for (const auto& c : cases) {
    ASSERT_TRUE(client.Send(c.sent));
    ASSERT_TRUE(Sync(client));
    EXPECT_EQ(log.NewOut(), c.logged);
  }
  for (const char* part : {"R", "OT", "ATE 1 ", "9", "0\r"}) {  // one line in segments, some of one byte
    ASSERT_TRUE(client.Send(part));
    SleepMs(30);
  }
  ASSERT_TRUE(Sync(client));
  EXPECT_EQ(log.NewOut(), "Unknown rotator in command: ROTATE 1 90\n");
  EXPECT_EQ(client.ReadAll(100), "");  // only VERSION is ever answered
}

TEST_F(ServerTest, DirectionLinesAreSentOnChangeZeroPaddedWithOneCarriageReturn) {
  Rotator rotator;  // id 0
  for (int bearing : {5, 5, -5, 0, 1234, 5}) rotator.Direction(bearing);
  EXPECT_EQ(client.ReadAll(300), "0 005\r0 -05\r0 000\r0 1234\r0 005\r");
  rotator.ShowStatus("");  // an empty status writes no line
  rotator.ShowStatus("moving");
  EXPECT_TRUE(log.WaitForOut("Status: moving", 1000));
  EXPECT_EQ(log.CountOut("Status: "), 0u);
}

TEST_F(ServerTest, WritesFromTwoThreadsReachTheClientAsWholeLines) {
  auto writer = [](char who) {
    for (int i = 0; i < 200; ++i) g_controller->TcpWrite(std::string(30, who) + "\r");
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  for (int n = 0; n < 400; ++n) {
    std::string line = client.ReadLine(3000);
    ASSERT_EQ(line, std::string(30, line[0]));
  }
  a.join();
  b.join();
}

// The replaced client is not "lost": its rotators stay, and text it never
// ended does not lead the new client's first line.
TEST_F(ServerTest, SecondClientTakesOverWithoutLosingRotators) {
  Pty box;
  Configure(client, 1, box);
  ASSERT_TRUE(client.Send("PARTIAL"));
  SleepMs(50);
  TcpClient second;
  ASSERT_TRUE(Connect(second));
  EXPECT_TRUE(client.WaitClosed(3000));
  ASSERT_TRUE(second.Command("ROTATE 1 90"));
  EXPECT_EQ(box.Read(3000, 5), "M090\r");
  EXPECT_EQ(log.CountOut("Closing previous client connection"), 1u);
  EXPECT_EQ(log.CountOut("Lost client connection"), 0u);
}

// Every rotator goes with the client that configured it, promptly, and the
// next client starts with none.
TEST_F(ServerTest, LostClientTakesItsRotatorsWithIt) {
  std::vector<std::unique_ptr<Pty>> boxes;
  for (int i = 1; i <= 8; ++i) {
    boxes.emplace_back(new Pty());
    Configure(client, i, *boxes.back());
  }
  client.Close();
  EXPECT_TRUE(WaitUntil([&] {
    for (auto& box : boxes)
      if (!Released(*box)) return false;
    return true;
  }, 1000));
  TcpClient next;
  ASSERT_TRUE(Connect(next));
  ASSERT_TRUE(next.Command("ROTATE 1 90"));
  ASSERT_TRUE(Sync(next));
  EXPECT_EQ(log.CountOut("Unknown rotator in command: ROTATE 1 90"), 1u);
  EXPECT_EQ(log.CountOut("Lost client connection"), 1u);
}

TEST_F(ServerTest, ClientThatNeverReadsCannotHoldOffTheNextClient) {
  TcpClient greedy;
  ASSERT_TRUE(greedy.Connect());
  ASSERT_TRUE(log.WaitForOut("Connected to 127.0.0.1", 3000, 2));
  // VERSION again and again, nothing read: the replies fill both buffers.
  std::string burst;
  for (int i = 0; i < 4096; ++i) burst += "VERSION\r";
  auto stalled = Clock::now(), start = Clock::now();
  while (MsSince(stalled) < 300 && MsSince(start) < 20000) {
    if (send(greedy.Fd(), burst.data(), burst.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0)
      stalled = Clock::now();
    else
      SleepMs(5);
  }
  TcpClient next;
  ASSERT_TRUE(next.Connect(13020, 3000));
  bool answered = next.Command("VERSION") && next.WaitForLine("VERSION 2.0.1", 5000);
  greedy.Close();
  EXPECT_TRUE(answered) << "a newer client was not served";
}

TEST_F(ServerTest, StopIsQuickReleasesTheRotatorsAndLosesNoClient) {
  Pty box;
  ASSERT_TRUE(client.Command("CONFIGURE 1 " + box.SlavePath() + " 8 0"));  // RC2800 PA
  EXPECT_EQ(box.Read(3000, 2), "U\r");
  auto start = Clock::now();
  controller->Stop();
  EXPECT_LT(MsSince(start), 500);
  EXPECT_EQ(box.Read(1000, 2), "N\r");
  EXPECT_TRUE(client.WaitClosed(1000));
  controller->Stop();  // a second Stop does nothing
  EXPECT_EQ(log.CountOut("Lost client connection"), 0u);
  EXPECT_TRUE(controller->Start()) << "the port is free again";
  TcpClient next;
  EXPECT_TRUE(Connect(next));
}

// Every object that owns descriptors (wake pipes, sockets, devices) gives
// them all back.
TEST(Descriptors, ServersAndRotatorsCloseEverythingTheyOpen) {
  auto count = [open = 0]() mutable {
    for (int fd = open = 0; fd < 1024; ++fd) open += fcntl(fd, F_GETFD) != -1;
    return open;
  };
  Pty box;
  const int before = count();
  for (int i = 0; i < 5; ++i) {
    RotatorController controller;
    ASSERT_TRUE(controller.Start());
    std::unique_ptr<Rotator> rotator = RotatorMgr::Create(4);
    ASSERT_TRUE(rotator->Initialize(1, box.SlavePath(), 4, 1000));
  }
  EXPECT_EQ(count(), before);
}

}  // namespace
