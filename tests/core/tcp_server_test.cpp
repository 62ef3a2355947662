// The command server on loopback port 13020: line framing, the one-client
// policy, loss of the client, stopping, and writes to the client.

#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/TcpServer.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/TcpClient.h"

namespace {

using core_test::LogCapture;
using core_test::MsSince;
using core_test::SleepMs;
using core_test::WaitUntil;
using testing_support::TcpClient;
using Lines = std::vector<std::string>;

class TcpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(core_test::DaemonPortIsFree())
        << "TCP port 13020 is in use by another process";
    ASSERT_TRUE(server.Start(
        [this](const std::string& line) {
          if (onLine) onLine(line);
          lines.Add(line);
        },
        [this] { ++disconnects; }));
  }
  void TearDown() override { server.Stop(); }

  // Connects a client and waits for the server's "Connected to" line. The
  // server logs that line before it takes the socket as its client, so a
  // test that writes to the client calls Sync first.
  void ConnectClient(TcpClient& client) {
    size_t before = log.CountOut("Connected to 127.0.0.1");
    ASSERT_TRUE(client.Connect(13020, 3000));
    ASSERT_TRUE(log.WaitForOut("Connected to 127.0.0.1", 3000, before + 1));
  }
  // Sends a marker line and waits for it, so that everything sent before it
  // has been framed.
  void Sync(TcpClient& client) {
    const std::string marker = "SYNC" + std::to_string(++syncs);
    ASSERT_TRUE(client.Command(marker));
    ASSERT_TRUE(WaitUntil(
        [&] {
          Lines got = lines.Values();
          return !got.empty() && got.back() == marker;
        },
        3000));
  }
  // Lines received, without the markers.
  Lines Received() const {
    Lines out;
    for (const auto& line : lines.Values())
      if (line.rfind("SYNC", 0) != 0) out.push_back(line);
    return out;
  }

  LogCapture log;
  core_test::Recorder<std::string> lines;
  std::function<void(const std::string&)> onLine;
  std::atomic<int> disconnects{0};
  int syncs = 0;
  TcpServer server;  // last: stopped before the callbacks' targets go
};

// --- Framing -----------------------------------------------------------------

TEST_F(TcpServerTest, CommandSplitOverSegmentsIsDeliveredOnceWhenComplete) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("ROT"));
  SleepMs(50);
  ASSERT_TRUE(client.Send("ATE 1 "));
  SleepMs(100);
  EXPECT_EQ(lines.Size(), 0u);
  ASSERT_TRUE(client.Send("90\r"));
  Sync(client);
  EXPECT_EQ(Received(), Lines{"ROTATE 1 90"});
}

TEST_F(TcpServerTest, SeveralLinesInOneSegmentArriveInOrder) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("CONFIGURE 1 /dev/x 4 1000\rROTATE 1 90\rSTOP 1\r"));
  Sync(client);
  EXPECT_EQ(Received(), (Lines{"CONFIGURE 1 /dev/x 4 1000", "ROTATE 1 90", "STOP 1"}));
}

TEST_F(TcpServerTest, LineFeedBeforeCarriageReturnIsDropped) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("X\n\rY\n\n\r\n\r"));
  Sync(client);
  // One line feed is removed; a line that is then empty is not delivered.
  EXPECT_EQ(Received(), (Lines{"X", "Y\n"}));
}

TEST_F(TcpServerTest, LineFeedAfterCarriageReturnStartsTheNextLine) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("A\r\nB\r\nC\r"));
  Sync(client);
  EXPECT_EQ(Received(), (Lines{"A", "\nB", "\nC"}));
}

TEST_F(TcpServerTest, ConsecutiveCarriageReturnsGiveNoEmptyLines) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("\r\r\rA\r\r\r"));
  Sync(client);
  EXPECT_EQ(Received(), Lines{"A"});
}

TEST_F(TcpServerTest, OtherBytesStayInTheLine) {
  TcpClient client;
  ConnectClient(client);
  const std::string line(" \tA\0B \x7f\xff ", 10);
  ASSERT_TRUE(client.Send(line + "\r"));
  Sync(client);
  EXPECT_EQ(Received(), Lines{line});
}

TEST_F(TcpServerTest, TextNeverEndedIsNeverDelivered) {
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Send("VERSION"));
  SleepMs(200);
  client.Close();
  ASSERT_TRUE(log.WaitForOut("Lost client connection", 3000));
  EXPECT_EQ(lines.Size(), 0u);

  // Nor does it lead the next client's first line.
  TcpClient next;
  ConnectClient(next);
  ASSERT_TRUE(next.Command("STOP 1"));
  ASSERT_TRUE(lines.WaitForSize(1, 3000));
  EXPECT_EQ(lines.Values(), Lines{"STOP 1"});
}

TEST_F(TcpServerTest, OverlongTextIsDiscardedWithOneLogLineAndServingGoesOn) {
  TcpClient client;
  ConnectClient(client);
  const std::string megabyte(1 << 20, 'x');
  ASSERT_TRUE(client.Send(megabyte));
  ASSERT_TRUE(client.Send("\rSTOP 1\r"));  // ends the over-long line
  Sync(client);
  EXPECT_EQ(Received(), Lines{"STOP 1"});
  Lines logged = log.OutLines();
  ASSERT_EQ(logged.size(), 2u) << log.Out();
  EXPECT_EQ(logged[0], "Connected to 127.0.0.1");
  EXPECT_LT(logged[1].size(), 1000u);
  EXPECT_EQ(log.Err(), "");
}

// --- Clients coming and going -------------------------------------------------

// Replacement of the client by a newer one is tested with the controller,
// where it must also keep the rotators.

TEST_F(TcpServerTest, LostClientIsReportedOnceAndTheServerListensAgain) {
  TcpClient client;
  ConnectClient(client);
  client.Close();
  ASSERT_TRUE(WaitUntil([&] { return disconnects.load() >= 1; }, 3000));
  SleepMs(200);
  EXPECT_EQ(disconnects.load(), 1);
  EXPECT_EQ(log.CountOut("Lost client connection"), 1u);

  TcpClient next;
  ConnectClient(next);
  ASSERT_TRUE(next.Command("VERSION"));
  ASSERT_TRUE(lines.WaitForSize(1, 3000));
  EXPECT_EQ(log.CountOut("Closing previous client connection"), 0u);
}

TEST_F(TcpServerTest, StopWithAClientConnectedIsQuickAndSilent) {
  TcpClient client;
  ConnectClient(client);
  Sync(client);
  auto start = core_test::Clock::now();
  server.Stop();
  EXPECT_LT(MsSince(start), 500);
  EXPECT_TRUE(client.WaitClosed(1000));
  SleepMs(100);
  EXPECT_EQ(log.CountOut("Lost client connection"), 0u);
  EXPECT_EQ(disconnects.load(), 0);
  server.Stop();  // a second Stop does nothing
}

TEST_F(TcpServerTest, StopWithoutAClientIsQuickAndTheServerStartsAgain) {
  SleepMs(50);
  auto start = core_test::Clock::now();
  server.Stop();
  EXPECT_LT(MsSince(start), 500);
  ASSERT_TRUE(server.Start([this](const std::string& line) { lines.Add(line); },
                           [this] { ++disconnects; }));
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Command("VERSION"));
  ASSERT_TRUE(lines.WaitForSize(1, 3000));
}

// A second server on the port is refused: tested with the daemon binary.

// --- Writing to the client ------------------------------------------------------

TEST_F(TcpServerTest, WriteWithoutAClientDoesNothing) {
  server.Write("1 005\r");
  TcpClient client;
  ConnectClient(client);
  client.Close();
  ASSERT_TRUE(log.WaitForOut("Lost client connection", 3000));
  server.Write("1 006\r");
  EXPECT_EQ(log.Err(), "");
}

TEST_F(TcpServerTest, WritesReachTheClientAsWholeLines) {
  TcpClient client;
  ConnectClient(client);
  Sync(client);  // the reader runs: the socket is the server's client now
  constexpr int kLines = 200;
  auto writer = [&](int who) {
    for (int i = 0; i < kLines; ++i)
      server.Write(std::to_string(who) + " " + std::to_string(1000 + i) + "\r");
  };
  std::thread a(writer, 1);
  std::thread b(writer, 2);
  a.join();
  b.join();
  int next[3] = {0, 0, 0};
  for (int n = 0; n < 2 * kLines; ++n) {
    std::string line = client.ReadLine(3000);
    ASSERT_EQ(line.size(), 6u) << "line " << n << ": \"" << line << "\"";
    int who = line[0] - '0';
    ASSERT_TRUE(who == 1 || who == 2) << line;
    EXPECT_EQ(line.substr(2), std::to_string(1000 + next[who]));
    ++next[who];
  }
}

TEST_F(TcpServerTest, ClientThatVanishedDuringAWriteIsDroppedWithoutASignal) {
  // The command callback holds the reader thread while the client closes,
  // so the writes below meet a dead peer before the reader notices it.
  std::atomic<bool> hold{true};
  onLine = [&](const std::string& line) {
    if (line != "HOLD") return;
    while (hold) SleepMs(5);
    server.Write("1 001\r");  // accepted locally; the peer answers with RST
    SleepMs(200);
    server.Write("1 002\r");  // broken pipe: fails without ending the process
    server.Write("1 003\r");  // the client is gone: nothing
  };
  TcpClient client;
  ConnectClient(client);
  ASSERT_TRUE(client.Command("HOLD"));
  SleepMs(200);  // the reader is inside the callback by now
  client.Close();
  SleepMs(100);
  hold = false;
  ASSERT_TRUE(log.WaitForErr("Network write failed", 3000));
  ASSERT_TRUE(lines.WaitForSize(1, 3000));
  SleepMs(300);
  EXPECT_EQ(log.CountErr("Network write failed"), 1u);
  EXPECT_EQ(log.CountOut("Lost client connection"), 0u);
  EXPECT_EQ(disconnects.load(), 0);

  // The server keeps listening.
  TcpClient next;
  ConnectClient(next);
  ASSERT_TRUE(next.Command("STOP 1"));
  ASSERT_TRUE(lines.WaitForSize(2, 3000));
}

}  // namespace
