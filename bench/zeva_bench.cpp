// zeva-bench: measures the ZEVA Rotator daemon (and Hamlib's rotctld beside
// it) on loopback and pseudo-terminals, and writes results.md and the
// samples for the latency plot. bench/run.sh builds and runs it; see
// bench/README.md.
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "bench/Child.h"
#include "bench/Clock.h"
#include "bench/Net.h"
#include "bench/Relay.h"
#include "bench/Report.h"
#include "bench/Scenarios.h"
#include "common/Common.h"

namespace {

void Usage() {
  std::fprintf(
      stderr,
      "usage: zeva-bench --daemon PATH --rotctld PATH --results DIR --data DIR\n"
      "                  [--station PATH] [--logs DIR] [--scale X]\n"
      "                  [--only push,command,side,release,footprint,logger]\n"
      "                  [--push-rotators N,...] [--shared-network]\n"
      "  --scale X   multiplies every window and repetition count (default 1;\n"
      "              0.3 for a quick look)\n"
      "  --push-rotators N,...  the push rows to run (default 1,8,64)\n"
      "  --station PATH  zeva-station, for the logger row (logger.md)\n"
      "  --shared-network  stay on the machine's loopback instead of a network\n"
      "              namespace of its own (which needs root)\n");
}

double LoadAverage() {
  double load = 0;
  FILE* file = std::fopen("/proc/loadavg", "r");
  if (file) {
    if (std::fscanf(file, "%lf", &load) != 1) load = 0;
    std::fclose(file);
  }
  return load;
}

std::string FirstLineOf(const std::string& command) {
  std::string line;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return line;
  char text[256];
  if (std::fgets(text, sizeof text, pipe)) line = text;
  pclose(pipe);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.pop_back();
  return line;
}

std::string Machine() {
  std::string model;
  FILE* file = std::fopen("/proc/cpuinfo", "r");
  if (file) {
    char text[256];
    while (std::fgets(text, sizeof text, file)) {
      if (std::strncmp(text, "model name", 10) != 0) continue;
      const char* colon = std::strchr(text, ':');
      if (colon) model = colon + 2;
      break;
    }
    std::fclose(file);
  }
  while (!model.empty() && model.back() == '\n') model.pop_back();
  struct utsname system;
  uname(&system);
  std::ostringstream text;
  text << sysconf(_SC_NPROCESSORS_ONLN) << " cores"
       << (model.empty() ? "" : " (" + model + ")") << ", " << system.sysname
       << " " << system.release;
  return text.str();
}

std::string Today() {
  char text[64];
  time_t now = time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
  return text;
}

void Say(const char* what) {
  std::fprintf(stderr, "zeva-bench: %s\n", what);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--relay") == 0)
    return bench::RunRelay(argc - 1, argv + 1);
  if (argc > 1 && std::strcmp(argv[1], "--command-relay") == 0)
    return bench::RunCommandRelay(argc - 1, argv + 1);
  bench::Plan plan;
  std::string resultsDir;
  std::string dataDir;
  std::set<std::string> only;
  std::set<int> pushRotators;
  bool sharedNetwork = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--shared-network") {
      sharedNetwork = true;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) {
      Usage();
      return 1;
    }
    ++i;
    if (option == "--daemon") {
      plan.paths.daemon = value;
    } else if (option == "--rotctld") {
      plan.paths.rotctld = value;
    } else if (option == "--results") {
      resultsDir = value;
    } else if (option == "--data") {
      dataDir = value;
    } else if (option == "--station") {
      plan.paths.station = value;
    } else if (option == "--logs") {
      plan.paths.logDir = value;
    } else if (option == "--scale") {
      plan.scale = std::atof(value);
    } else if (option == "--only") {
      std::stringstream list(value);
      for (std::string item; std::getline(list, item, ',');) only.insert(item);
    } else if (option == "--push-rotators") {
      std::stringstream list(value);
      for (std::string item; std::getline(list, item, ',');)
        pushRotators.insert(std::atoi(item.c_str()));
    } else {
      Usage();
      return 1;
    }
  }
  if (plan.paths.daemon.empty() || plan.paths.rotctld.empty() ||
      resultsDir.empty() || dataDir.empty() || plan.scale <= 0) {
    Usage();
    return 1;
  }
  if (plan.paths.logDir.empty()) plan.paths.logDir = dataDir;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  plan.paths.bench = length > 0 ? std::string(self, static_cast<size_t>(length))
                                : std::string(argv[0]);
  std::string network = "a network namespace of its own (loopback only)";
  std::string why;
  if (!sharedNetwork && !bench::EnterPrivateNetwork(&why)) {
    std::fprintf(stderr,
                 "zeva-bench: no network namespace of its own (%s); using "
                 "the machine's loopback\n",
                 why.c_str());
    sharedNetwork = true;
  }
  if (sharedNetwork) network = "the machine's loopback";
  if (!bench::PortIsFree(zeva::kTcpPort)) {
    std::fprintf(stderr,
                 "zeva-bench: TCP port %d is in use by another process; stop "
                 "it and run again\n",
                 zeva::kTcpPort);
    return 2;
  }
  bench::StopChildrenOnSignal();
  auto wanted = [&](const char* section) {
    return only.empty() || only.count(section) > 0;
  };

  bench::Results results;
  results.date = Today();
  results.machine = Machine();
  results.network = network;
  results.rotctldVersion = FirstLineOf("'" + plan.paths.rotctld + "' --version");
  results.scale = plan.scale;
  results.loadBefore = LoadAverage();
  const int64_t started = bench::NowNs();

  // Each latency row runs twice, taking turns with its floor (ZEVA, floor,
  // ZEVA, floor), so that both meet the machine in the same state and the
  // two runs show how much of a difference is noise.
  if (wanted("push")) {
    const struct {
      int rotators;
      double seconds;
    } cases[] = {{1, 20}, {8, 10}, {64, 10}};
    for (const auto& c : cases) {
      if (!pushRotators.empty() && pushRotators.count(c.rotators) == 0)
        continue;
      const double seconds = plan.ScaledSeconds(c.seconds);
      const std::string n = std::to_string(c.rotators) + " rotators";
      for (int run = 1; run <= 2; ++run) {
        const std::string of = ", run " + std::to_string(run);
        Say(("push latency, " + n + of).c_str());
        results.push.push_back(bench::MeasurePush(plan, c.rotators, seconds,
                                                  bench::PushPath::kZeva));
        results.push.back().run = run;
        Say(("push latency floor (minimal relay), " + n + of).c_str());
        results.push.push_back(bench::MeasurePush(plan, c.rotators, seconds,
                                                  bench::PushPath::kFloor));
        results.push.back().run = run;
      }
    }
    if (pushRotators.empty() || pushRotators.count(64) > 0) {
      Say("push latency, 64 rotators not polled (the boxes speak unasked)");
      results.push.push_back(bench::MeasurePush(
          plan, 64, plan.ScaledSeconds(10), bench::PushPath::kZevaUnpolled));
    }
  }
  if (wanted("command")) {
    for (int run = 1; run <= 2; ++run) {
      Say(("command latency beside its floor, run " + std::to_string(run))
              .c_str());
      results.command.push_back(bench::MeasureCommand(plan, plan.Scaled(200)));
      results.command.back().run = run;
    }
  }
  if (wanted("side")) {
    Say("side by side with rotctld: cycles, commands, bearing age");
    results.side = bench::MeasureSideBySide(plan);
    results.sideRun = true;
  }
  if (wanted("release")) {
    for (int rotators : {1, 8, 64}) {
      Say(("release, " + std::to_string(rotators) + " rotators").c_str());
      results.release.push_back(
          bench::MeasureRelease(plan, rotators, plan.Scaled(25)));
    }
    for (int rotators : {0, 64}) {
      Say(("stop on SIGTERM, " + std::to_string(rotators) + " rotators").c_str());
      results.stop.push_back(bench::MeasureStop(plan, rotators, plan.Scaled(10)));
    }
  }
  if (wanted("footprint")) {
    // The idle daemon over a whole minute: a single periodic wake-up shows.
    const struct {
      int rotators;
      double seconds;
    } cases[] = {{0, 60}, {8, 20}, {64, 20}};
    for (const auto& c : cases) {
      Say(("footprint, " + std::to_string(c.rotators) + " rotators").c_str());
      results.footprint.push_back(bench::MeasureFootprint(
          plan, c.rotators, plan.ScaledSeconds(c.seconds)));
    }
  }

  if (wanted("logger") && !plan.paths.station.empty()) {
    Say("a contest logger's turn through the station, beside rotctld's");
    results.logger = bench::MeasureLogger(plan, plan.Scaled(300));
    results.loggerRun = true;
  }

  results.seconds = bench::NsToMs(bench::NowNs() - started) / 1000;
  results.loadAfter = LoadAverage();
  // results.md holds the daemon's parts: a run of the logger row alone
  // leaves it as it is.
  std::string report = resultsDir + "/results.md";
  const bool daemonParts = wanted("push") || wanted("command") || wanted("side") ||
                           wanted("release") || wanted("footprint");
  if ((daemonParts && !bench::WriteReport(report, results)) ||
      !bench::WriteDistributions(dataDir, results) ||
      (results.loggerRun && !bench::WriteLoggerReport(resultsDir + "/logger.md", results))) {
    std::fprintf(stderr, "zeva-bench: cannot write the results\n");
    return 1;
  }
  if (daemonParts) std::fprintf(stderr, "zeva-bench: wrote %s\n", report.c_str());
  if (results.loggerRun) std::fprintf(stderr, "zeva-bench: wrote %s/logger.md\n", resultsDir.c_str());
  return 0;
}
