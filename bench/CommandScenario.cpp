#include "bench/Scenarios.h"

#include <unistd.h>

#include "bench/Clock.h"
#include "bench/ScenarioKit.h"

namespace bench {

CommandResult MeasureCommand(const Plan& plan, int rounds) {
  CommandResult result;
  // Box 0 is ZEVA's rotator 1, box 1 the floor's device.
  Boxes boxes;
  if (!MakeBoxes(2, &boxes, &result.error)) return result;
  Box& zevaBox = *boxes[0];
  Box& floorBox = *boxes[1];
  BoxLoop loop(Pointers(boxes));

  Child relay;
  LineClient floorClient;
  int port = 0;
  const int listener = ListenOnLoopback(&port);
  const int peer =
      listener >= 0 &&
              relay.Start({plan.paths.bench, "--command-relay",
                           std::to_string(port), floorBox.Path()},
                          plan.paths.logDir + "/command-relay.log")
          ? AcceptWithin(listener, 5000)
          : -1;
  if (listener >= 0) close(listener);
  if (peer < 0) {
    result.error = "the command relay did not start";
    return result;
  }
  floorClient.Adopt(peer);

  Child daemon;
  LineClient client;
  if (!StartZeva(plan.paths, daemon, client)) {
    result.error = "the daemon did not start";
    return result;
  }
  // No polls: the rotator's only serial traffic is the commands.
  client.Send(ConfigureLines({&zevaBox}, 1, 0));
  if (!loop.ActivateWhenRaw({0, 1}, 5000)) {
    result.error = "the devices were not both opened";
    return result;
  }
  SleepMs(200);

  // The two take turns, each command on its own after a pause, so that
  // both meet the machine in the same state.
  for (int i = 0; i < rounds; ++i) {
    const std::string line = "ROTATE 1 " + std::to_string((i * 53) % 360) + "\r";
    double ms = 0;
    if (TurnThrough(loop, zevaBox, client, line, &ms))
      result.zeva.push_back(ms);
    else
      ++result.failures;
    SleepMs(2);
    if (TurnThrough(loop, floorBox, floorClient, line, &ms))
      result.floor.push_back(ms);
    else
      ++result.failures;
    SleepMs(3 + i % 7);
  }
  client.Close();
  floorClient.Close();
  daemon.Stop();
  relay.Stop();
  return result;
}

}  // namespace bench
