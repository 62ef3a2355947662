// Soak and fault runs of the real daemon, bounded in count and time, each
// printing what it measured and ending with a stop signal that must end the
// daemon with status 0 within two seconds, every device restored.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/Helpers.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

namespace {

using namespace testing_support;

// Open descriptors, threads and resident memory of a process, from /proc.
struct Stats {
  long fds = -1, threads = -1, rssKb = -1;
  bool Read(const ChildProcess& process) {
    fds = process.OpenDescriptors();
    std::ifstream status("/proc/" + std::to_string(process.Pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Threads:", 0) == 0) threads = std::stol(line.substr(8));
      if (line.rfind("VmRSS:", 0) == 0) rssKb = std::stol(line.substr(6));
    }
    return threads >= 0 && fds >= 0;
  }
};

// A box on a pty played by a thread of the test: `behaviour` gets every chunk the daemon
// wrote (possibly empty, every 10 ms) and may answer. Without one, nobody reads the box.
class Box {
 public:
  using Behaviour = std::function<void(Pty&, const std::string&)>;
  explicit Box(Behaviour behave = [](Pty&, const std::string&) {}) {
    pty.SlaveSettings(&original);
    if (behave) thread = std::thread([this, behave] {
      while (!stop) {
        std::string in = pty.Read(10);
        std::lock_guard<std::mutex> lock(mutex);
        received += in;
        behave(pty, in);
      }
    });
  }
  ~Box() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
  const std::string& Path() const { return pty.SlavePath(); }
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }
  bool Restored() {
    struct termios now;
    return pty.SlaveSettings(&now) && SameSettings(now, original);
  }

 private:
  Pty pty;
  struct termios original {};
  std::thread thread;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::string received;
};

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return PortIsFree(); }, 10000)) << "port 13020 is in use";
    ASSERT_TRUE(daemon.Start()) << daemon.Stderr();
    ASSERT_TRUE(client.Connect());
  }
  void StopAndCheck(int sig, const std::vector<Box*>& boxes, Box* pa = nullptr) {
    auto start = Clock::now();
    ASSERT_TRUE(daemon.Signal(sig));
    EXPECT_EQ(daemon.Wait(2000), 0) << daemon.Stderr();
    printf("[ figures  ] stop on signal %d: %ld ms\n", sig, MsSince(start));
    EXPECT_TRUE(!pa || WaitUntil([&] { return Count(pa->Received(), "N\r") == 1; }, 2000));
    for (Box* box : boxes) EXPECT_TRUE(box->Restored()) << box->Path();
  }
  static bool Configure(TcpClient& c, int id, Box& box, int model, int pollMs) {
    return c.Command("CONFIGURE " + std::to_string(id) + " " + box.Path() + " " +
                     std::to_string(model) + " " + std::to_string(pollMs));
  }

  Daemon daemon;
  TcpClient client;
};

TEST_F(SoakTest, ThousandConnectConfigureDisconnectCyclesLeakNothing) {
  Box boxes[4];
  auto cycle = [&] {
    TcpClient c;
    ASSERT_TRUE(c.Connect());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Configure(c, i + 1, boxes[i], 8, 1000));
    ASSERT_TRUE(c.Command("VERSION"));
    ASSERT_EQ(c.ReadLine(5000), "VERSION 2.0.1");
  };
  for (int i = 0; i < 20; ++i) cycle();  // warms up allocator and caches
  SleepMs(300);
  Stats before, after;
  if (!before.Read(daemon)) GTEST_SKIP() << "no /proc to read the figures from";
  auto start = Clock::now();
  for (int i = 0; i < 1000 && !HasFatalFailure(); ++i) cycle();
  printf("[ figures  ] 1000 cycles of 4 rotators in %ld ms\n", MsSince(start));
  SleepMs(300);
  ASSERT_TRUE(after.Read(daemon));
  printf("[ figures  ] fds, threads, kB before: %ld %ld %ld; after: %ld %ld %ld\n", before.fds,
         before.threads, before.rssKb, after.fds, after.threads, after.rssKb);
  EXPECT_EQ(after.fds, before.fds);
  EXPECT_EQ(after.threads, before.threads);
// Sanitizers and emulators keep growing bookkeeping of their own.
#if !defined(ZEVA_SANITIZED) && !defined(ZEVA_EMULATED)
  EXPECT_LT(after.rssKb - before.rssKb, 2048) << "resident memory grew";
#endif
  for (Box& box : boxes) EXPECT_GE(Count(box.Received(), "N\r"), 1000u);
  StopAndCheck(SIGTERM, {&boxes[0], &boxes[1], &boxes[2], &boxes[3]});
}

// A flood of commands while the boxes reply, then the client vanishes with a
// reset while bearings are being written to it, then 300 quick take-overs.
TEST_F(SoakTest, CommandFloodVanishingClientAndRapidTakeOvers) {
  Box yaesu([bearing = 0](Pty& pty, const std::string& in) mutable {  // creeps a degree a poll
    for (size_t at = in.find("C\r"); at != std::string::npos; at = in.find("C\r", at + 2))
      pty.Send("AZ=" + std::to_string(100 + bearing++ % 200) + "\r\n");
  });
  Box pa([](Pty& pty, const std::string& in) {
    if (in.find("U\r") != std::string::npos) pty.Send("A xx123 yy4 z\r");
  });
  ASSERT_TRUE(Configure(client, 1, yaesu, 4, 10));
  ASSERT_TRUE(Configure(client, 2, pa, 8, 0));
  std::string burst;
  for (int i = 0; i < 100; ++i) burst += "ROTATE 1 " + std::to_string(i) + "\rSTOP 2\rVERSION\rBOGUS\r";
  std::atomic<bool> reading{true};
  std::thread drain([&] { while (reading) client.ReadAll(50); });
  auto start = Clock::now();
  size_t sent = 0;
  while (MsSince(start) < 3000 && client.Send(burst)) sent += burst.size();
  reading = false;
  drain.join();
  printf("[ figures  ] flooded %zu commands in %ld ms\n", sent / burst.size() * 400, MsSince(start));
  struct linger hard = {1, 0};  // a reset instead of an orderly close
  setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  client.Close();
  start = Clock::now();
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(client.Connect());
    if (i % 10 == 0) client.Command("VERSION");
    SleepMs(3);
  }
  printf("[ figures  ] 300 take-overs in %ld ms\n", MsSince(start));
  ASSERT_TRUE(client.Command("VERSION"));
  EXPECT_TRUE(client.WaitForLine("VERSION 2.0.1", 5000));
  StopAndCheck(SIGINT, {&yaesu, &pa}, &pa);
}

TEST_F(SoakTest, HundredMegabytesWithoutCarriageReturn) {
  const std::string chunk(64 * 1024, 'x');
  auto start = Clock::now();
  for (int i = 0; i < 1600; ++i) ASSERT_TRUE(client.Send(chunk));
  ASSERT_TRUE(client.Send("\rVERSION\r"));
  EXPECT_EQ(client.ReadLine(30000), "VERSION 2.0.1");
  printf("[ figures  ] 100 MB line in %ld ms\n", MsSince(start));
#if !defined(ZEVA_SANITIZED) && !defined(ZEVA_EMULATED)
  Stats stats;
  EXPECT_TRUE(!stats.Read(daemon) || stats.rssKb < 64 * 1024) << stats.rssKb;
#endif
  EXPECT_EQ(Count(daemon.Stdout(), "Discarding client text"), 1u);
  StopAndCheck(SIGTERM, {});
}

TEST_F(SoakTest, BoxThatTakesNoBytesCannotHoldTheDaemon) {
  Box stuck(nullptr);  // the device fills up and blocks
  ASSERT_TRUE(Configure(client, 1, stuck, 4, 0));
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += "ROTATE 1 90\r";
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(client.Send(burst));
  EXPECT_TRUE(daemon.WaitForStderr("Unable to write to serial port " + stuck.Path(), 20000));
  StopAndCheck(SIGTERM, {&stuck});
}

}  // namespace
