// The station's web page under load: many event streams at once, and floods
// of requests. The daemon runs with one emulated box; the station under test
// (zeva-station --http) is its client; the benchmark is every browser.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/Clock.h"
#include "bench/Load.h"
#include "bench/Scenarios.h"
#include "bench/ScenarioKit.h"

namespace bench {

namespace {

// The benchmark's side holds a thousand and more connections.
void RaiseOwnDescriptorLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// A non-blocking connection to 127.0.0.1:port with `request` sent; -1 when
// it is not made within 100 ms (a server whose listen queue is full lets
// the connection wait) or fails.
int Open(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int error = 0;
  socklen_t length = sizeof error;
  struct pollfd p = {fd, POLLOUT, 0};
  if ((connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 &&
       (errno != EINPROGRESS || poll(&p, 1, 100) <= 0 ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)) ||
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

// The daemon (no client of the benchmark's) and the station with its page on
// one box polled every 100 ms.
struct Station {
  Boxes boxes;
  std::unique_ptr<BoxLoop> loop;
  Child daemon, station;
  int port = 0;

  bool Start(const Plan& plan, const std::string& binary, std::string* error) {
    if (!MakeBoxes(1, &boxes, error)) return false;
    loop = std::make_unique<BoxLoop>(Pointers(boxes));
    LineClient probe;
    if (!StartZeva(plan.paths, daemon, probe)) {
      *error = "the daemon did not start";
      return false;
    }
    probe.Close();  // the station is the daemon's client
    port = PickFreePort();
    const int rotctld = PickFreePort();
    if (!station.Start({binary, "--http", "127.0.0.1:" + std::to_string(port), "--base-port",
                        std::to_string(rotctld), "--rotator",
                        "1:" + boxes[0]->Path() + ":yaesu:100"},
                       plan.paths.logDir + "/station-web.log")) {
      *error = "the station did not start";
      return false;
    }
    if (!loop->ActivateWhenRaw({0}, 10000)) {
      *error = "the station did not configure its rotator";
      return false;
    }
    SleepMs(1000);  // past the first polls
    return true;
  }

  ~Station() {
    station.Stop();
    daemon.Stop();
  }
};

// The first rotator's bearing in an event's state ("bearing":N after
// "rotators"), or -1.
int BearingOf(const std::string& event) {
  const size_t rotators = event.find("\"rotators\"");
  const size_t at = event.find("\"bearing\":", rotators == std::string::npos ? 0 : rotators);
  if (rotators == std::string::npos || at == std::string::npos) return -1;
  const char* digits = event.c_str() + at + 10;
  return *digits >= '0' && *digits <= '9' ? std::atoi(digits) : -1;
}

// One page's event stream as the benchmark reads it.
struct Stream {
  int fd = -1;
  std::string received;
  bool answered = false;  // the status line has come
  bool served = false;    // and it was 200
  int bearing = -1;       // the last bearing received
  int changes = 0;
};

// Reads what waits on `stream`; every event that changes the bearing adds
// the time since the box wrote the reply that carried it. False once the
// connection has ended.
bool ReadStream(Stream& stream, const Box& box, int64_t nowNs, std::vector<double>& latency) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = recv(stream.fd, buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    stream.received.append(buffer, static_cast<size_t>(n));
    if (!stream.answered && stream.received.find("\r\n") != std::string::npos) {
      stream.answered = true;
      stream.served = stream.received.compare(0, 12, "HTTP/1.1 200") == 0;
    }
    for (size_t end; (end = stream.received.find("\n\n")) != std::string::npos;) {
      const int bearing = BearingOf(stream.received.substr(0, end));
      stream.received.erase(0, end + 2);
      if (bearing < 0 || bearing == stream.bearing) continue;
      if (stream.bearing >= 0) {
        const int64_t replyNs = box.ReplyNs(bearing);
        if (replyNs > 0) latency.push_back(NsToMs(nowNs - replyNs));
        ++stream.changes;
      }
      stream.bearing = bearing;
    }
  }
}

}  // namespace

WebStreams MeasureWebStreams(const Plan& plan, const std::string& binary, int streams,
                             double windowSeconds) {
  WebStreams result;
  result.station = binary;
  result.streams = streams;
  RaiseOwnDescriptorLimit();
  Station station;
  if (!station.Start(plan, binary, &result.error)) return result;
  result.residentKbBefore = station.station.ResidentKb();

  std::vector<Stream> pages(static_cast<size_t>(streams));
  const std::string request =
      "GET /api/events HTTP/1.1\r\nHost: localhost\r\nAccept: text/event-stream\r\n\r\n";
  for (Stream& page : pages) page.fd = Open(station.port, request);
  std::vector<struct pollfd> fds;
  for (const Stream& page : pages) fds.push_back({page.fd, POLLIN, 0});
  const auto readAll = [&](int64_t untilNs, std::vector<double>& latency) {
    while (NowNs() < untilNs) {
      if (poll(fds.data(), fds.size(), 50) <= 0) continue;
      const int64_t now = NowNs();
      for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        if (!ReadStream(pages[i], *station.boxes[0], now, latency)) {
          close(fds[i].fd);
          fds[i].fd = -1;
        }
      }
    }
  };
  std::vector<double> ignored;
  readAll(NowNs() + 2 * kSecond, ignored);  // every page has its first state

  const MachineLoad load;
  const double cpuBefore = station.station.CpuSeconds();
  const int64_t start = NowNs();
  station.boxes[0]->SetTurning(true);  // every poll a new bearing
  readAll(start + static_cast<int64_t>(windowSeconds * kSecond), result.latency);
  station.boxes[0]->SetTurning(false);
  const double cpu = station.station.CpuSeconds() - cpuBefore;
  result.windowSeconds = NsToMs(NowNs() - start) / 1000;
  result.stationCores = cpu / result.windowSeconds;
  result.otherCores = load.OtherCores(cpu);
  result.residentKb = station.station.ResidentKb();
  result.threads = station.station.Threads();
  for (const Stream& page : pages) {
    result.served += page.served;
    result.sawChange += page.changes > 0;
    if (page.fd >= 0) close(page.fd);
  }
  return result;
}

WebFlood MeasureWebFlood(const Plan& plan, const std::string& binary) {
  WebFlood result;
  result.station = binary;
  RaiseOwnDescriptorLimit();
  Station station;
  if (!station.Start(plan, binary, &result.error)) return result;
  result.residentKbBefore = station.station.ResidentKb();

  // One request of header lines without end, up to 200 MB.
  const int endless = Open(station.port, "GET / HTTP/1.1\r\nHost: localhost\r\n");
  const std::string line = "X-Endless: " + std::string(1000, 'e') + "\r\n";
  size_t sent = 0;
  const int64_t endlessUntil = NowNs() + 20 * kSecond;
  while (endless >= 0 && sent < (size_t{200} << 20) && NowNs() < endlessUntil) {
    const ssize_t n = send(endless, line.data(), line.size(), MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      struct pollfd p = {endless, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) break;  // not taken for a second: refused
    } else {
      break;  // closed
    }
  }
  result.endlessMb = static_cast<double>(sent) / (1 << 20);
  result.cut = sent < (size_t{200} << 20);
  // Connections that each hold just under 8 KiB of headers without end
  // (the station takes 1,100 at once: room is left for the rest).
  std::vector<int> open;
  const std::string held = "GET / HTTP/1.1\r\nHost: localhost\r\nX-Held: " + std::string(7800, 'h');
  for (int i = 0; i < 1000; ++i) {
    const int fd = Open(station.port, held);
    if (fd >= 0) open.push_back(fd);
  }
  result.holders = static_cast<int>(open.size());
  // Slow senders: a request line, then a header byte a second (3 s here).
  std::vector<int> slow;
  for (int i = 0; i < 64; ++i) {
    const int fd = Open(station.port, "GET / HTTP/1.1\r\nHost: localhost\r\nX-Slow: ");
    if (fd >= 0) slow.push_back(fd);
  }
  result.slow = static_cast<int>(slow.size());
  for (int second = 0; second < 3; ++second) {
    for (int fd : slow) send(fd, "z", 1, MSG_NOSIGNAL);
    SleepMs(1000);
  }
  // A new page meanwhile: its state and a turn.
  const int64_t asked = NowNs();
  bool answered = true;
  for (const std::string& request :
       {std::string("GET /api/state HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"),
        std::string("POST /api/turn HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 20\r\n\r\n"
                    "rotator=1&bearing=90")}) {
    const int fd = Open(station.port, request);
    struct pollfd p = {fd, POLLIN, 0};
    char status[16] = "";
    answered = answered && fd >= 0 && poll(&p, 1, 5000) > 0 && recv(fd, status, 12, 0) == 12 &&
               std::strncmp(status, "HTTP/1.1 200", 12) == 0;
    if (fd >= 0) close(fd);
  }
  if (answered) result.pageMs = NsToMs(NowNs() - asked);
  result.peakKb = station.station.PeakResidentKb();
  result.residentKb = station.station.ResidentKb();
  for (int fd : open) close(fd);
  for (int fd : slow) close(fd);
  if (endless >= 0) close(endless);
  return result;
}

}  // namespace bench
