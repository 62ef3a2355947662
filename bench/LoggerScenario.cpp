#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/Clock.h"
#include "bench/ScenarioKit.h"
#include "bench/Scenarios.h"

namespace bench {

namespace {

// A free UDP port on loopback, for the station's logger datagrams.
int FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace

LoggerResult MeasureLogger(const Plan& plan, int rounds) {
  LoggerResult result;
  Boxes boxes;
  if (!MakeBoxes(1, &boxes, &result.error)) return result;
  Box& box = *boxes[0];
  BoxLoop loop(Pointers(boxes));
  const int rotctldPort = PickFreePort();
  const int loggerPort = FreeUdpPort();

  // The station connects to the daemon by itself (it retries until the
  // daemon runs) and configures the box; polled once an hour, the box sees
  // nothing but the commands.
  Child daemon, station;
  if (!daemon.Start({plan.paths.daemon}, plan.paths.logDir + "/logger-zeva.log") ||
      !station.Start({plan.paths.station, "--rotator",
                      "1:" + box.Path() + ":yaesu:3600000:" + std::to_string(rotctldPort),
                      "--name", "1:Bench", "--n1mm", "127.0.0.1:" + std::to_string(loggerPort)},
                     plan.paths.logDir + "/logger-station.log") ||
      !loop.ActivateWhenRaw({0}, 10000)) {
    result.error = "the daemon and the station did not start";
    return result;
  }
  LineClient rotctld;
  const int logger = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(loggerPort));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Connected, as the rotctld client's socket is: no route to look up
  // at each send.
  if (logger < 0 || connect(logger, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
      !rotctld.Connect(rotctldPort, 5000)) {
    result.error = "the station's rotctld port or a UDP socket did not open";
    if (logger >= 0) close(logger);
    return result;
  }
  SleepMs(300);

  // The two take turns, command by command, each after the same pause
  // and first in every other round, to bearings that always differ from the
  // last one sent (a repeated target is not sent again).
  for (int i = 0; i < 2 * rounds; ++i) {
    SleepMs(3 + (i / 2) % 7);
    const std::string bearing = std::to_string((i * 53) % 360);
    double ms = 0;
    std::string answer;
    if ((i + i / 2) % 2 == 0) {
      const std::string datagram =
          "<N1MMRotor><rotor>Bench</rotor><goazi>" + bearing + ".0</goazi><offset>0.0</offset>"
          "<bidirectional>0</bidirectional><freqband>14</freqband></N1MMRotor>";
      const int before = box.SetCommands();
      const int64_t start = NowNs();
      send(logger, datagram.data(), datagram.size(), 0);
      if (loop.WaitFor([&] { return box.SetCommands() > before; }, 3000))
        result.logger.push_back(NsToMs(box.LastSetNs() - start));
      else
        ++result.failures;
    } else if (TurnThrough(loop, box, rotctld, "P " + bearing + " 0\n", &ms) &&
               rotctld.ReadLine('\n', 3000, &answer, nullptr) && answer == "RPRT 0") {
      result.rotctld.push_back(ms);
    } else {
      ++result.failures;
    }
  }
  close(logger);
  rotctld.Close();
  station.Stop();
  daemon.Stop();
  return result;
}

}  // namespace bench
