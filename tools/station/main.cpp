// zeva-station: the zeva-rotator daemon's one client, whose rotators
// rotctld-protocol programs, the station page, contest loggers and zeva-ctl
// share.
#include <signal.h>

#include <cstdio>
#include <string>

#include "Station.h"
#include "core/StationOptions.h"
#include "web/WebFront.h"
#include "common/Common.h"

namespace {
void OnStopSignal(int) { Station::RequestStop(); }
}  // namespace

int main(int argc, char** argv) {
  StationOptions options;
  std::string error;
  if (!options.Parse(argc, argv, error)) {
    fprintf(stderr, "zeva-station: %s\nTry 'zeva-station --help'.\n", error.c_str());
    return 2;  // a service manager does not restart after this
  }
  if (options.help) {
    fputs(StationOptions::Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    printf("zeva-station %s\n", zeva::kVersion);
    return 0;
  }

  // A secret file that is no regular file of a few bytes is a mistake in
  // the command line too.
  if (options.httpPort != 0 && !options.secretFile.empty() &&
      !WebFront::ReadSecret(options.secretFile, options.secret, error)) {
    fprintf(stderr, "zeva-station: %s\n", error.c_str());
    return 2;
  }

  // A client that vanishes mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action;
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  Station station(options);
  if (!station.Open(error)) {
    fprintf(stderr, "zeva-station: %s\n", error.c_str());
    return 1;
  }
  return station.Run();
}
