// Soak and fault tests: the real daemon under many connect/configure/
// disconnect cycles, command floods, over-long client text, vanishing and
// replacing clients, and misbehaving boxes, each ending with a stop signal
// that must exit 0 within two seconds with every device restored. Each test
// is bounded in count and time and prints what it measured.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "tests/soak/ProcessStats.h"
#include "tests/support/Daemon.h"
#include "tests/support/Pty.h"
#include "tests/support/TcpClient.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A box on a pty played by a thread of the test: `behaviour` gets every
// chunk the daemon wrote (possibly empty, every 10 ms) and may answer.
class Box {
 public:
  using Behaviour = std::function<void(Pty&, const std::string&)>;

  explicit Box(Behaviour behave) : behaviour(std::move(behave)) {
    pty.SlaveSettings(&original);
    thread = std::thread([this] {
      while (!stop.load()) {
        std::string in = pty.Read(10);
        if (!in.empty()) {
          std::lock_guard<std::mutex> lock(mutex);
          received += in;
        }
        if (!vanished.load()) behaviour(pty, in);
      }
    });
  }
  ~Box() {
    stop.store(true);
    thread.join();
  }

  const std::string& Path() const { return pty.SlavePath(); }
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }
  void Vanish() {
    vanished.store(true);
    stop.store(true);
    thread.join();
    pty.Vanish();
    thread = std::thread([] {});
  }
  // True once the device's settings are back to what they were before the
  // daemon opened it.
  bool Restored() {
    struct termios now;
    return pty.SlaveSettings(&now) && now.c_lflag == original.c_lflag &&
           now.c_iflag == original.c_iflag && now.c_oflag == original.c_oflag;
  }

 private:
  Pty pty;
  Behaviour behaviour;
  struct termios original {};
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> vanished{false};
  std::mutex mutex;
  std::string received;
};

// A Yaesu box whose antenna creeps one degree per poll.
Box::Behaviour YaesuBox() {
  auto bearing = std::make_shared<int>(0);
  return [bearing](Pty& pty, const std::string& in) {
    for (size_t at = in.find("C\r"); at != std::string::npos;
         at = in.find("C\r", at + 2)) {
      char reply[32];
      snprintf(reply, sizeof reply, "AZ=%03d\r\n", (*bearing)++ % 360);
      pty.Send(reply);
    }
  };
}

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PortIsFree())
        << "TCP port 13020 is in use by another process; stop it before "
           "running these tests";
    ASSERT_TRUE(daemon.Start()) << daemon.Stderr();
  }

  // Ends every test: the stop signal must end the daemon with status 0
  // within two seconds, each PA box must have its tear-down and every box
  // its settings back.
  void StopAndCheck(int sig, const std::vector<Box*>& boxes,
                    const std::vector<Box*>& paBoxes = {}) {
    auto start = Clock::now();
    ASSERT_TRUE(daemon.Signal(sig));
    int status = daemon.Wait(2000);
    double took = SecondsSince(start);
    EXPECT_EQ(status, 0) << "stop took " << took << " s\n" << daemon.Stderr();
    std::printf("[ figures  ] stop on signal %d: %.0f ms\n", sig, took * 1000);
    for (Box* box : paBoxes) {
      // The box's thread may not have read the last bytes yet.
      std::string got;
      for (auto wait = Clock::now(); SecondsSince(wait) < 2;) {
        got = box->Received();
        if (got.size() >= 2 && got.compare(got.size() - 2, 2, "N\r") == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_GE(got.size(), 2u);
      EXPECT_EQ(got.substr(got.size() - 2), "N\r") << box->Path();
    }
    for (Box* box : boxes) EXPECT_TRUE(box->Restored()) << box->Path();
  }

  bool Configure(TcpClient& client, int id, Box& box, int model, int pollMs) {
    return client.Command("CONFIGURE " + std::to_string(id) + " " + box.Path() +
                          " " + std::to_string(model) + " " +
                          std::to_string(pollMs));
  }

  // The daemon still answers commands.
  void ExpectAlive() {
    TcpClient probe;
    ASSERT_TRUE(probe.Connect());
    ASSERT_TRUE(probe.Command("VERSION"));
    EXPECT_EQ(probe.ReadLine(5000), "VERSION 2.0.1");
  }

  Daemon daemon;
};

TEST_F(SoakTest, ThousandConnectConfigureDisconnectCyclesLeakNothing) {
  const int kCycles = 1000, kRotators = 4;
  std::vector<std::unique_ptr<Box>> boxes;
  for (int i = 0; i < kRotators; ++i)
    boxes.emplace_back(new Box([](Pty&, const std::string&) {}));

  auto cycle = [&](int) {
    TcpClient client;
    ASSERT_TRUE(client.Connect());
    for (int i = 0; i < kRotators; ++i)
      ASSERT_TRUE(Configure(client, i + 1, *boxes[i], 8, 1000));  // RC2800 PA
    ASSERT_TRUE(client.Command("VERSION"));
    ASSERT_EQ(client.ReadLine(5000), "VERSION 2.0.1");
  };
  for (int i = 0; i < 20; ++i) cycle(i);  // warm up allocator and caches
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ProcessStats before, after;
  if (!before.Read(daemon.Pid())) GTEST_SKIP() << "no /proc on this system";

  auto start = Clock::now();
  for (int i = 0; i < kCycles; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  double took = SecondsSince(start);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(after.Read(daemon.Pid()));
  std::printf("[ figures  ] %d cycles of %d rotators in %.1f s (%.1f ms each)\n"
              "[ figures  ] before: %s\n[ figures  ] after:  %s\n",
              kCycles, kRotators, took, took * 1000 / kCycles,
              before.Describe().c_str(), after.Describe().c_str());
  EXPECT_EQ(after.fds, before.fds);
  EXPECT_EQ(after.threads, before.threads);
// Sanitizers and emulators keep growing bookkeeping of their own.
#if !defined(ZEVA_SANITIZED) && !defined(ZEVA_EMULATED)
  EXPECT_LT(after.rssKb - before.rssKb, 2048) << "resident memory grew";
#endif
  // Every cycle's release sent the PA tear-down to each box.
  for (auto& box : boxes) {
    std::string got = box->Received();
    size_t teardowns = 0;
    for (size_t at = got.find("N\r"); at != std::string::npos;
         at = got.find("N\r", at + 2))
      ++teardowns;
    EXPECT_GE(teardowns, static_cast<size_t>(kCycles));
  }
  std::vector<Box*> all;
  for (auto& box : boxes) all.push_back(box.get());
  StopAndCheck(SIGTERM, all);
}

TEST_F(SoakTest, CommandFloodWhileBoxesReply) {
  Box yaesu(YaesuBox());
  Box pa([](Pty& pty, const std::string& in) {
    if (in.find("U\r") != std::string::npos) pty.Send("A xx123 yy4 z\r");
  });
  TcpClient client;
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(Configure(client, 1, yaesu, 4, 10));
  ASSERT_TRUE(Configure(client, 2, pa, 8, 0));

  // The flood: as fast as the socket takes it, for at most five seconds.
  std::string burst;
  for (int i = 0; i < 100; ++i)
    burst += "ROTATE 1 " + std::to_string(i) + "\rSTOP 2\rVERSION\rBOGUS\r";
  auto start = Clock::now();
  size_t sent = 0;
  std::atomic<bool> reading{true};
  std::thread drain([&] {
    while (reading.load()) client.ReadAll(50);
  });
  while (SecondsSince(start) < 5 && sent < 40 * 1000 * 1000) {
    if (!client.Send(burst)) break;
    sent += burst.size();
  }
  reading.store(false);
  drain.join();
  std::printf("[ figures  ] flooded %zu bytes (%zu commands) in %.1f s\n", sent,
              sent / burst.size() * 400, SecondsSince(start));
  ExpectAlive();
  StopAndCheck(SIGINT, {&yaesu, &pa}, {&pa});
}

TEST_F(SoakTest, HundredMegabytesWithoutCarriageReturn) {
  TcpClient client;
  ASSERT_TRUE(client.Connect());
  std::string chunk(64 * 1024, 'x');
  auto start = Clock::now();
  const size_t total = 100u * 1024 * 1024;
  for (size_t sent = 0; sent < total; sent += chunk.size())
    ASSERT_TRUE(client.Send(chunk));
  ASSERT_TRUE(client.Send("\rVERSION\r"));
  EXPECT_EQ(client.ReadLine(30000), "VERSION 2.0.1");
  ProcessStats stats;
  if (stats.Read(daemon.Pid())) {
    std::printf("[ figures  ] 100 MB line in %.1f s; daemon now %s\n",
                SecondsSince(start), stats.Describe().c_str());
#if !defined(ZEVA_SANITIZED) && !defined(ZEVA_EMULATED)
    EXPECT_LT(stats.rssKb, 64 * 1024);
#endif
  }
  EXPECT_EQ(daemon.CountStdout("Discarding client text"), 1u);
  StopAndCheck(SIGTERM, {});
}

TEST_F(SoakTest, ClientVanishingDuringWritesAndRapidTakeOvers) {
  // Boxes that report a new bearing every few milliseconds, unasked.
  auto spew = [](Pty& pty, const std::string&) {
    static thread_local int bearing = 0;
    char line[32];
    snprintf(line, sizeof line, "AZ=%03d\r", bearing++ % 360);
    pty.Send(line);
  };
  Box a(spew), b(spew);
  {
    TcpClient owner;
    ASSERT_TRUE(owner.Connect());
    ASSERT_TRUE(Configure(owner, 1, a, 4, 0));
    ASSERT_TRUE(Configure(owner, 2, b, 4, 0));
    ASSERT_TRUE(owner.WaitForLine("2 005", 5000) || true);
    // Vanish without reading, with a reset instead of an orderly close.
    struct linger hard = {1, 0};
    setsockopt(owner.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  // A new client every few milliseconds, 300 times; rotators stay.
  auto start = Clock::now();
  for (int i = 0; i < 300; ++i) {
    TcpClient next;
    ASSERT_TRUE(next.Connect());
    if (i % 10 == 0) next.Command("VERSION");
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  std::printf("[ figures  ] 300 take-overs in %.1f s\n", SecondsSince(start));
  ExpectAlive();
  StopAndCheck(SIGTERM, {&a, &b});
}

TEST_F(SoakTest, MisbehavingBoxesThenANewDeviceWorks) {
  std::mt19937 random(42);
  Box garbage([&random](Pty& pty, const std::string&) {
    std::string noise(16, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    pty.Send(noise);
  });
  Box silent([](Pty&, const std::string&) {});
  Box split([](Pty& pty, const std::string& in) {
    if (in.find("C\r") == std::string::npos) return;
    for (char c : std::string("AZ=123\r\n")) {
      pty.Send(std::string(1, c));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  auto vanishing = std::make_unique<Box>(YaesuBox());
  Box pa([](Pty&, const std::string&) {});

  TcpClient client;
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(Configure(client, 1, garbage, 4, 50));
  ASSERT_TRUE(Configure(client, 2, silent, 2, 50));
  ASSERT_TRUE(Configure(client, 3, split, 4, 50));
  ASSERT_TRUE(Configure(client, 4, *vanishing, 4, 50));
  ASSERT_TRUE(Configure(client, 5, pa, 8, 0));
  ASSERT_TRUE(client.WaitForLine("3 123", 5000));
  std::string path = vanishing->Path();
  vanishing->Vanish();
  EXPECT_TRUE(daemon.WaitForStderr("Read from serial port failed " + path, 5000));
  EXPECT_TRUE(daemon.WaitForStdout("Bad response", 5000));
  std::this_thread::sleep_for(std::chrono::seconds(1));

  Box fresh(YaesuBox());
  ASSERT_TRUE(Configure(client, 6, fresh, 4, 50));
  EXPECT_TRUE(client.WaitForLine("6 002", 5000));
  ASSERT_TRUE(client.Command("ROTATE 6 10"));
  ASSERT_TRUE(daemon.WaitForStdout(fresh.Path() + " rotate to 10", 5000));
  StopAndCheck(SIGINT, {&garbage, &silent, &split, &fresh, &pa}, {&pa});
}

TEST_F(SoakTest, BoxThatTakesNoBytesCannotHoldTheDaemon) {
  Pty stuck;  // nobody reads its master: the device fills up and blocks
  struct termios original;
  ASSERT_TRUE(stuck.SlaveSettings(&original));
  TcpClient client;
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.Command("CONFIGURE 1 " + stuck.SlavePath() + " 4 0"));
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += "ROTATE 1 90\r";
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(client.Send(burst));
  EXPECT_TRUE(daemon.WaitForStderr(
      "Unable to write to serial port " + stuck.SlavePath(), 20000));
  auto start = Clock::now();
  ASSERT_TRUE(daemon.Signal(SIGTERM));
  EXPECT_EQ(daemon.Wait(2000), 0);
  std::printf("[ figures  ] stop with a blocked device: %.0f ms\n",
              SecondsSince(start) * 1000);
  struct termios now;
  ASSERT_TRUE(stuck.SlaveSettings(&now));
  EXPECT_EQ(now.c_lflag, original.c_lflag);
}

TEST_F(SoakTest, ClientTextNeverReachesAFormatString) {
  TcpClient client;
  ASSERT_TRUE(client.Connect());
  const std::string nasty = "%s%s%n%n%x %999999d";
  std::string longToken(3000, 'A');
  ASSERT_TRUE(client.Command(nasty));
  ASSERT_TRUE(client.Command("ROTATE " + nasty + " 1"));
  const std::string nastyPath = "/nonexistent/%s%n%x%999999d";
  ASSERT_TRUE(client.Command("CONFIGURE 1 " + nastyPath + " 4 0"));
  ASSERT_TRUE(client.Command(longToken + " %n"));
  ASSERT_TRUE(client.Command("VERSION"));
  ASSERT_EQ(client.ReadLine(5000), "VERSION 2.0.1");
  std::string out = daemon.Stdout(), err = daemon.Stderr();
  EXPECT_NE(out.find("Unknown command: " + nasty + "\n"), std::string::npos);
  EXPECT_NE(out.find("Bad arguments in command: ROTATE " + nasty + " 1\n"),
            std::string::npos);
  EXPECT_NE(out.find("Unknown command: " + longToken + " %n\n"),
            std::string::npos);
  EXPECT_NE(err.find("Cannot open " + nastyPath +
                     ": No such file or directory\n"),
            std::string::npos);
  StopAndCheck(SIGTERM, {});
}

}  // namespace
