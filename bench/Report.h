// The results file (a markdown table per measurement and one of the
// targets) and the samples for the plot.
#pragma once

#include <string>
#include <vector>

#include "bench/Scenarios.h"

namespace bench {

struct Results {
  std::vector<PushResult> push;
  std::vector<CommandResult> command;
  std::vector<ReleaseResult> release;
  std::vector<StopResult> stop;
  std::vector<Footprint> footprint;
  SideBySide side;
  bool sideRun = false;
  LoggerResult logger;
  bool loggerRun = false;

  // About the run.
  std::string date;
  std::string machine;
  std::string rotctldVersion;
  std::string network;
  double loadBefore = 0;
  double loadAfter = 0;
  double seconds = 0;
  double scale = 1;
};

bool WriteReport(const std::string& path, const Results& results);
// logger.md: the logger's path through the station beside rotctld's
// (LoggerReport.cpp).
bool WriteLoggerReport(const std::string& path, const Results& results);

// Sorted samples with their cumulative percentage, one file per series:
// push-N.dat, floor-N.dat, unpolled-N.dat (both runs together; per run
// push-N-runR.dat ..., each also -trace.dat: every sample with its time and
// rotator), command-zeva-beside-floor.dat, command-floor.dat and
// command-{zeva,rotctld-nowait,rotctld-default}.dat.
bool WriteDistributions(const std::string& directory, const Results& results);

}  // namespace bench
