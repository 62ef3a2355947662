// The controller in-process, as main runs it: the server on port 13020 feeds
// the registry, rotators report through g_controller, and the client's
// connection decides how long rotators live.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/RotatorController.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/core/ProbeRotator.h"
#include "tests/support/ControllerFixture.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

namespace {

using core_test::MsSince;
using core_test::SleepMs;
using core_test::WaitUntil;
using testing_support::Pty;
using testing_support::TcpClient;
using Lines = std::vector<std::string>;

class ControllerTest : public testing_support::ControllerFixture {
 protected:
  // A round trip: once the reply is in, every earlier line has been handled.
  void Sync(TcpClient& c) {
    ASSERT_TRUE(c.Command("VERSION"));
    ASSERT_TRUE(c.WaitForLine("VERSION 2.0.1", 3000));
  }
  // Configures a quiet Yaesu (model 4, one poll a minute) and waits for it.
  void ConfigureYaesu(TcpClient& c, int id, const Pty& box) {
    ASSERT_TRUE(box.Ok());
    ASSERT_TRUE(c.Command("CONFIGURE " + std::to_string(id) + " " + box.SlavePath() +
                          " 4 60000"));
    ASSERT_TRUE(log.WaitForOut("Status: " + box.SlavePath() + " created", 3000));
  }
};

// --- The version reply and unknown keywords ------------------------------------

TEST_F(ControllerTest, VersionIsAnsweredWhateverFollowsTheKeyword) {
  ASSERT_TRUE(client.Command("VERSION"));
  EXPECT_EQ(client.ReadAll(300), "VERSION 2.0.1\r");
  ASSERT_TRUE(client.Command("VERSION please now"));
  EXPECT_EQ(client.ReadAll(300), "VERSION 2.0.1\r");
  // Failed commands are logged, never answered.
  ASSERT_TRUE(client.Send("version\rROTATE 1\rROTATE 3 90\rCONFIGURE 1 /x 13 0\r"));
  EXPECT_EQ(client.ReadAll(300), "");
  EXPECT_TRUE(log.WaitForOut("Unknown rotator type 13", 3000));
  EXPECT_EQ(log.CountOut("Unknown command: version"), 1u);
}

// --- Direction and status lines --------------------------------------------------

// Only a changed bearing is sent; a bearing seen before is sent again once
// another came between.
TEST_F(ControllerTest, DirectionLineIsSentOnChangeZeroPaddedWithOneCarriageReturn) {
  Pty box;
  ASSERT_TRUE(box.Ok());
  core_test::ProbeRotator probe;
  ASSERT_TRUE(probe.Initialize(1, box.SlavePath(), 4, 1000));
  probe.Direction(5);
  probe.Direction(5);
  probe.Direction(-5);
  probe.Direction(0);
  probe.Direction(1234);
  probe.Direction(5);
  EXPECT_EQ(client.ReadAll(500), "1 005\r1 -05\r1 000\r1 1234\r1 005\r");
}

TEST_F(ControllerTest, EmptyStatusTextWritesNoLine) {
  core_test::ProbeRotator probe;
  probe.ShowStatus("");
  controller->ShowStatus("");
  probe.ShowStatus("moving");
  EXPECT_EQ(log.OutLines(), (Lines{"Connected to 127.0.0.1", "Status: moving"}));
}

// --- Clients coming and going ------------------------------------------------------

// The replaced client is not "lost": its rotators stay, and text it never
// ended does not lead the new client's first line.
TEST_F(ControllerTest, SecondClientTakesOverWithoutLosingRotators) {
  Pty box;
  ConfigureYaesu(client, 1, box);
  ASSERT_TRUE(client.Send("PARTIAL"));
  SleepMs(100);
  TcpClient second;
  ASSERT_TRUE(Connect(second));
  ASSERT_TRUE(log.WaitForOut("Closing previous client connection", 3000));
  EXPECT_TRUE(client.WaitClosed(3000));

  ASSERT_TRUE(second.Command("ROTATE 1 90"));
  EXPECT_EQ(box.ReadUntil("M090\r", 3000), "M090\r");
  Sync(second);
  const Lines logged = log.OutLines();
  const Lines expected = {"Connected to 127.0.0.1",
                          "Status: " + box.SlavePath() + " created",
                          "Connected to 127.0.0.1",
                          "Closing previous client connection",
                          "Status: " + box.SlavePath() + " rotate to 90"};
  EXPECT_EQ(logged, expected);
}

TEST_F(ControllerTest, ClientThatNeverReadsCannotHoldOffTheNextClient) {
  client.Close();
  ASSERT_TRUE(log.WaitForOut("Lost client connection", 3000));

  // A client that asks for the version again and again and reads nothing:
  // the replies fill both socket buffers.
  int greedy = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(greedy, 0);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(13020);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(greedy, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(log.WaitForOut("Connected to 127.0.0.1", 3000, 2));
  std::string burst;
  for (int i = 0; i < 4096; ++i) burst += "VERSION\r";
  size_t sent = 0;
  auto stalledSince = core_test::Clock::now();
  auto start = core_test::Clock::now();
  while (MsSince(stalledSince) < 500 && MsSince(start) < 20000 && sent < (size_t(256) << 20)) {
    ssize_t n = send(greedy, burst.data(), burst.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      stalledSince = core_test::Clock::now();
    } else {
      SleepMs(5);
    }
  }

  // The server never waits on a full client: the greedy client is dropped
  // ("Network write failed") or replaced, and the next one is served.
  TcpClient next;
  ASSERT_TRUE(next.Connect(13020, 3000));
  bool answered = next.Command("VERSION") && next.WaitForLine("VERSION 2.0.1", 5000);
  close(greedy);  // lets a stuck server go on, whatever happened above
  EXPECT_TRUE(answered) << "a newer client was not served while the old one "
                           "did not read (" << sent << " bytes of commands sent)";
  EXPECT_TRUE(log.WaitForErr("Network write failed", 100) ||
              log.WaitForOut("Closing previous client connection", 100));
}

// Every rotator goes with the client that configured it: all eight devices
// have their own settings back promptly, and the next client starts with
// none.
TEST_F(ControllerTest, LostClientTakesItsRotatorsWithItPromptly) {
  constexpr int kRotators = 8;
  std::vector<std::unique_ptr<Pty>> boxes;
  std::vector<struct termios> own;
  for (int i = 0; i < kRotators; ++i) {
    boxes.emplace_back(new Pty());
    ASSERT_TRUE(boxes.back()->Ok());
    struct termios original;
    ASSERT_TRUE(boxes.back()->SlaveSettings(&original));
    own.push_back(core_test::DistinctiveSettings(original));
    ASSERT_TRUE(boxes.back()->SetSlaveSettings(own.back()));
    ConfigureYaesu(client, i + 1, *boxes.back());
  }
  SleepMs(100);  // every reader is waiting for input

  auto start = core_test::Clock::now();
  client.Close();
  bool released = WaitUntil(
      [&] {
        for (int i = 0; i < kRotators; ++i) {
          struct termios now;
          if (!boxes[i]->SlaveSettings(&now) || !core_test::SameSettings(now, own[i]))
            return false;
        }
        return true;
      },
      5000);
  long elapsed = MsSince(start);
  ASSERT_TRUE(released);
  EXPECT_LT(elapsed, 1000);

  TcpClient next;
  ASSERT_TRUE(Connect(next));
  ASSERT_TRUE(next.Command("ROTATE 1 90"));
  Sync(next);
  EXPECT_EQ(log.CountOut("Unknown rotator in command: ROTATE 1 90"), 1u);
  EXPECT_EQ(log.CountOut("Lost client connection"), 1u);
  EXPECT_EQ(log.CountOut("Closing previous client connection"), 0u);
  EXPECT_EQ(boxes[0]->Read(200), "");
}

}  // namespace
