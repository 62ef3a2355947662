// zeva-boxsim: emulates a rotator controller box on a pseudo-terminal.
// See BoxOptions::PrintHelp() for the command line.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Antenna.h"
#include "BoxLog.h"
#include "BoxModel.h"
#include "BoxOptions.h"
#include "BoxSimulator.h"
#include "PtyDevice.h"

namespace {

void OnStopSignal(int) { BoxSimulator::RequestStop(); }
void OnReplugSignal(int) { BoxSimulator::RequestReplug(); }
void OnPowerSignal(int) { BoxSimulator::RequestPowerSwitch(); }

void InstallSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  action.sa_handler = OnReplugSignal;
  sigaction(SIGUSR1, &action, nullptr);
  action.sa_handler = OnPowerSignal;
  sigaction(SIGUSR2, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  BoxOptions options;
  int status = options.Parse(argc, argv);
  if (status >= 0) return status;
  BoxLog::SetVerbose(options.verbose);
  InstallSignals();

  const BoxModel::Info* info = BoxModel::Find(std::to_string(options.model));
  Antenna antenna(options.speed, options.start, options.startElevation, options.minAzimuth,
                  options.maxAzimuth);
  std::unique_ptr<BoxModel> model = BoxModel::Create(options.model, antenna);
  if (info == nullptr || !model) {
    fprintf(stderr, "zeva-boxsim: model %d is not emulated\n", options.model);
    return 1;
  }

  PtyDevice pty;
  std::string error;
  if (!pty.Open(info->baudRate, error)) {
    fprintf(stderr, "zeva-boxsim: cannot create a pseudo-terminal: %s\n", error.c_str());
    return 2;
  }
  if (!options.linkPath.empty() && !BoxSimulator::PublishLink(options.linkPath, pty.SlavePath(), error)) {
    fprintf(stderr, "zeva-boxsim: cannot make the link %s\n", error.c_str());
    return 2;
  }
  printf("%s\n", pty.SlavePath().c_str());
  fflush(stdout);
  if (!options.pathFile.empty()) {
    FILE* file = fopen(options.pathFile.c_str(), "w");
    if (file == nullptr || fprintf(file, "%s\n", pty.SlavePath().c_str()) < 0 || fclose(file) != 0) {
      fprintf(stderr, "zeva-boxsim: cannot write %s: %s\n", options.pathFile.c_str(), strerror(errno));
      return 2;
    }
  }
  char speed[32];
  snprintf(speed, sizeof speed, "%g", options.speed);
  BoxLog::Trace(std::string(info->title) + " box on " + pty.SlavePath() + ", azimuth " +
                std::to_string(antenna.Azimuth()) + ", " + speed + " deg/s");

  BoxSimulator simulator(options, info->baudRate, pty, *model, antenna);
  return simulator.Run();
}
