// The station's web page attacked on purpose: the real station, daemon and
// an emulated box on loopback, raw HTTP clients. Floods of headers, slow
// senders and pages that stop reading their event stream must leave the
// page serving, turning and stopping; requests past the limits are refused;
// a secret file must be a small regular file.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/station/StationRig.h"
#include "tests/support/Time.h"

using namespace station_test;
using namespace testing_support;

namespace {

// An event stream whose page never reads it, with a small receive window
// (set before connecting, so the window never grows): the socket, or -1.
int UnreadStream(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = Get("/api/events");
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Reads what the server sent until it closes the connection: true, or
// false when it is still open after timeoutMs.
bool Ended(int fd, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[65536];
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) return false;
    if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
  }
}

// A field of /proc/PID/status in kB; -1 where there is no /proc.
long ProcStatusKb(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, field.size(), field) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// Presets make every event about 2 KiB, so that a stream nobody reads fills
// up within seconds of turning; the box's name is not UTF-8, as device names
// may be.
class StationWebTest : public StationRig {
 protected:
  void SetUp() override {
    StationRig::SetUp();
    ASSERT_NO_FATAL_FAILURE(PickPorts(1));
    const std::string boxPath = StartBox(box, "box\xe9", {"--model", "yaesu", "--speed", "30"});
    ASSERT_FALSE(boxPath.empty());
    std::vector<std::string> argv = {ZEVA_STATION_PATH, "--base-port", std::to_string(port), "--http", "127.0.0.1:" + std::to_string(http),
                                     "--preset", "Bad\xff:10", "--rotator", "1:" + boxPath + ":yaesu:100"};
    for (int i = 0; i < 40; ++i) {
      argv.insert(argv.end(), {"--preset", "Preset with a long name" + std::to_string(i % 10) + ":" + std::to_string(i)});
    }
    ASSERT_TRUE(station.Start(argv, ChildProcess::Descriptors::kStdioOnly));
    ASSERT_TRUE(Created(boxPath)) << station.Stderr();
  }

  ChildProcess box;
};

TEST_F(StationWebTest, RequestsPastTheLimitsAreRefused) {
  const std::string turn = "rotator=1&bearing=30";
  const std::string head = "POST /api/turn HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
  const struct {
    const char* what;
    std::string request;
    std::string status;  // "": the connection is closed without an answer
  } cases[] = {
      {"a turn", Post("/api/turn", turn), "HTTP/1.1 200 OK"},
      {"two different Content-Length headers",
       head + "Content-Length: 20\r\nContent-Length: 5\r\n\r\n" + turn, "HTTP/1.1 400 Bad Request"},
      {"the same Content-Length twice",
       head + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 20\r\n"
              "Content-Length: 20\r\n\r\n" + turn,
       "HTTP/1.1 200 OK"},
      {"8 KiB of headers", Get("/api/state", "X-Filler: " + std::string(8192, 'a') + "\r\n"),
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"a body over 1 KiB, announced", head + "Content-Length: 2000\r\n\r\n",
       "HTTP/1.1 413 Content Too Large"},
      {"a chunked body over 1 KiB",
       head + "Transfer-Encoding: chunked\r\n\r\n800\r\n" + std::string(2048, 'a') + "\r\n0\r\n\r\n", ""},
      {"a Host naming IPv6's loopback",
       "GET /api/state HTTP/1.1\r\nHost: [::1]:" + std::to_string(http) + "\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 200 OK"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusLine(Answer(http, c.request)), c.status) << c.what;

  // Presets and device names come from the command line in any encoding;
  // the JSON is UTF-8 all the same.
  const std::string state = Answer(http, Get("/api/state"));
  EXPECT_NE(state.find("\"name\":\"Bad\xef\xbf\xbd\""), std::string::npos) << state;
  EXPECT_NE(state.find("/box\xef\xbf\xbd\""), std::string::npos) << state;
  EXPECT_EQ(state.find_first_of("\xff\xe9"), std::string::npos) << state;
}

// All at once, for as long as it takes the station to close the streams
// nobody reads (30 s after they stop taking anything): pages that never read
// their stream, 64 connections sending a header byte a second, 1,000
// connections each holding 7.5 KiB of headers without end, one sending
// header lines without end. Meanwhile a new page loads and turns, a page
// that reads its stream sees the turn, and memory stays bounded; then
// SIGTERM still ends the station at once.
TEST_F(StationWebTest, FloodsSlowSendersAndUnreadStreamsLeaveThePageServing) {
  struct rlimit limit;  // the test's own connections need a thousand descriptors
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  const size_t kHolders = std::min<size_t>(1000, limit.rlim_cur > 1300 ? 1000 : limit.rlim_cur - 300);
  const long rssBefore = ProcStatusKb(station.Pid(), "VmRSS:");

  std::vector<int> unread(16);
  for (int& stream : unread) ASSERT_GE(stream = UnreadStream(http), 0);
  std::vector<std::unique_ptr<TcpClient>> slow(64), holders(kHolders);
  for (auto& client : slow) {
    client = std::make_unique<TcpClient>();
    ASSERT_TRUE(client->Connect(http) && client->Send("GET / HTTP/1.1\r\nHost: localhost\r\n"));
  }
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    for (int second = 0; !stop; ++second) {
      for (auto& client : slow) client->Send(second == 0 ? "X-Slow: " : "z");
      for (int i = 0; i < 10 && !stop; ++i) SleepMs(100);
    }
  });
  const std::string held = "GET / HTTP/1.1\r\nHost: localhost\r\nX-Held: " + std::string(7500, 'h');
  for (auto& holder : holders) {
    holder = std::make_unique<TcpClient>();
    ASSERT_TRUE(holder->Connect(http) && holder->Send(held));
  }
  TcpClient endless;
  ASSERT_TRUE(endless.Connect(http) && endless.Send("GET / HTTP/1.1\r\nHost: localhost\r\n"));
  size_t sent = 0;
  const std::string line = "X-Endless: " + std::string(1000, 'e') + "\r\n";
  while (sent < (64u << 20) && endless.Send(line)) sent += line.size();
  EXPECT_LT(sent, 16u << 20) << "header lines without end are cut off";

  auto asked = Clock::now();
  EXPECT_EQ(StatusLine(Answer(http, Get("/"))), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(Answer(http, Post("/api/turn", "rotator=1&bearing=200"))), "HTTP/1.1 200 OK");
  const long loadAndTurnMs = MsSince(asked);
  EXPECT_LT(loadAndTurnMs, 2000);
  TcpClient reader;
  ASSERT_TRUE(reader.Connect(http) && reader.Send(Get("/api/events")));
  EXPECT_TRUE(WaitUntil([&] { return reader.ReadLineEndedBy('\n', 100).find("\"target\":200") != std::string::npos; },
                        5000));
  reader.Close();
  const long rssFlooded = ProcStatusKb(station.Pid(), "VmRSS:");

  // Turning to and fro fills the unread streams; 30 s after they stopped
  // taking anything the station closes them.
  auto started = Clock::now();
  for (int target = 0; MsSince(started) < 38000; target = 359 - target) {
    Answer(http, Post("/api/turn", "rotator=1&bearing=" + std::to_string(target)));
    SleepMs(2000);
  }
  size_t closed = 0;
  for (int stream : unread) {
    closed += Ended(stream, 5000);
    close(stream);
  }
  EXPECT_EQ(closed, unread.size());

  asked = Clock::now();
  ASSERT_TRUE(station.Signal(SIGTERM));
  EXPECT_EQ(station.Wait(5000), 0);
  const long stopMs = MsSince(asked);
  EXPECT_LT(stopMs, 2000);
  stop = true;
  trickle.join();
  std::cout << "[ FIGURES  ] with " << unread.size() << " unread streams, " << slow.size()
            << " slow senders and " << holders.size() << " connections holding 7.5 KiB of headers: "
            << "a page loaded and turned in " << loadAndTurnMs << " ms; station RSS " << rssBefore
            << " -> " << rssFlooded << " kB; header lines without end cut off after " << sent
            << " bytes; " << closed << " unread streams closed; SIGTERM to exit " << stopMs << " ms\n";
  EXPECT_TRUE(rssBefore <= 0 || rssFlooded - rssBefore < 64 * 1024) << rssFlooded - rssBefore << " kB";
}

// Not a regular file of at most 4 KiB: a usage error (exit 2) at once; a
// FIFO or /dev/zero must not hold up the start.
TEST(StationSecretFileTest, MustBeASmallRegularFile) {
  char dirTemplate[] = "/tmp/zeva-secret-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  std::ofstream(dir + "/big") << std::string(5000, 's');
  std::ofstream(dir + "/blank") << "\n";
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {"/dev/zero", "is not a regular file"},
      {dir + "/fifo", "is not a regular file"},
      {dir, "is not a regular file"},
      {dir + "/big", "is larger than 4 KiB"},
      {dir + "/blank", "starts with an empty line"},
      {dir + "/missing", "cannot read the secret file"},
  };
  for (const auto& c : cases) {
    ChildProcess station;
    ASSERT_TRUE(station.Start({ZEVA_STATION_PATH, "--http", "127.0.0.1:1", "--http-secret-file", c.path,
                               "--rotator", "1:/dev/null:yaesu:1000"}));
    EXPECT_EQ(station.Wait(2000), 2) << c.path;
    EXPECT_NE(station.Stderr().find(c.error), std::string::npos) << c.path << ": " << station.Stderr();
  }
  for (const char* name : {"/fifo", "/big", "/blank"}) unlink((dir + name).c_str());
  rmdir(dir.c_str());
}

}  // namespace
