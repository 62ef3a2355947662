#include "bench/Report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "bench/ReportFormat.h"
#include "bench/Stats.h"

namespace bench {

namespace {

const Footprint* FootprintFor(const Results& results, int rotators) {
  for (const Footprint& f : results.footprint)
    if (f.rotators == rotators && f.error.empty()) return &f;
  return nullptr;
}

}  // namespace

void WriteTargets(Writer& out, const Results& results) {
  out.Line("## Targets");
  out.Blank();
  out.Line("| Target | Measured | |");
  out.Line("|---|---|---|");
  if (!results.push.empty()) {
    std::string measured;
    bool met = true;
    for (const PushResult& p : results.push) {
      if (p.path != PushPath::kZeva) continue;
      const Summary s = Summarise(p.latency);
      measured += (measured.empty() ? ""
                   : p.run == 1      ? ", "
                                     : " / ") +
                  (p.run == 1 ? std::to_string(p.rotators) + ": " : "") +
                  Ms(s.p99);
      if (p.run != 1) measured += " ms";
      met = met && p.error.empty() && s.count > 0 && s.p99 < 1.0;
    }
    out.Line(
        "| Push latency p99 under 1 ms (rotators: p99 of run 1 / run 2) | %s "
        "| %s |",
        measured.c_str(), YesNo(met).c_str());
  }
  if (!results.command.empty()) {
    std::vector<double> zeva;
    std::vector<double> floor;
    std::string runs;
    for (const CommandResult& c : results.command) {
      zeva.insert(zeva.end(), c.zeva.begin(), c.zeva.end());
      floor.insert(floor.end(), c.floor.begin(), c.floor.end());
      const Summary z = Summarise(c.zeva);
      const Summary f = Summarise(c.floor);
      runs += (runs.empty() ? "" : "; ") + std::string("run ") +
              std::to_string(c.run) + ": " + Ratio(z.median, f.median) +
              ", " + Ratio(z.p99, f.p99);
    }
    const Summary z = Summarise(zeva);
    const Summary f = Summarise(floor);
    out.Line(
        "| Command latency within 1.3× of its floor at median and p99 (both "
        "runs' samples together) | median %s ms against %s ms: %s; p99 %s ms "
        "against %s ms: %s (%s) | %s |",
        Ms(z.median).c_str(), Ms(f.median).c_str(),
        Ratio(z.median, f.median).c_str(), Ms(z.p99).c_str(),
        Ms(f.p99).c_str(), Ratio(z.p99, f.p99).c_str(), runs.c_str(),
        YesNo(z.count > 0 && f.count > 0 && z.median <= 1.3 * f.median &&
              z.p99 <= 1.3 * f.p99)
            .c_str());
  }
  if (results.sideRun) {
    const Summary zeva = Summarise(results.side.zeva.command);
    const Summary hamlib = Summarise(results.side.rotctldNoWait.command);
    out.Line(
        "| Command latency median at least 5× below rotctld's with "
        "post_write_delay=0 | %s ms against %s ms: %s | %s |",
        Ms(zeva.median).c_str(), Ms(hamlib.median).c_str(),
        Ratio(hamlib.median, zeva.median).c_str(),
        YesNo(zeva.count > 0 && hamlib.median >= 5 * zeva.median).c_str());
  }
  for (const ReleaseResult& r : results.release) {
    if (r.rotators != 64) continue;
    const Summary s = Summarise(r.time);
    out.Line("| Release of 64 rotators under 200 ms (p99) | %s ms | %s |",
             Ms(s.p99).c_str(),
             YesNo(r.error.empty() && s.count > 0 && s.p99 < 200 &&
                   r.restored == static_cast<int>(s.count))
                 .c_str());
  }
  if (results.sideRun) {
    const Summary zeva = Summarise(results.side.zeva.cycle);
    const Summary standard = Summarise(results.side.rotctldDefault.cycle);
    const Summary noWait = Summarise(results.side.rotctldNoWait.cycle);
    out.Line(
        "| Connect/disconnect cycle at least 10× faster than rotctld's "
        "(median; rotctld with default settings) | %s ms against %s ms: %s "
        "(against %s ms with post_write_delay=0: %s) | %s |",
        Ms(zeva.median).c_str(), Ms(standard.median).c_str(),
        Ratio(standard.median, zeva.median).c_str(), Ms(noWait.median).c_str(),
        Ratio(noWait.median, zeva.median).c_str(),
        YesNo(zeva.count > 0 && standard.median >= 10 * zeva.median).c_str());
  }
  if (const Footprint* f = FootprintFor(results, 0))
    out.Line(
        "| Idle daemon (no client, no rotator): 0 wake-ups per second and "
        "under 0.1 CPU-s per hour, over %.0f s | %.2f wake-ups/s, %.3f s/h "
        "| %s |",
        f->windowSeconds, f->wakeupsPerSecond, f->cpuSecondsPerHour,
        YesNo(f->wakeupsPerSecond == 0 && f->cpuSecondsPerHour < 0.1).c_str());
  if (results.sideRun) {
    const SideBySide& side = results.side;
    const double rotctld = std::min(side.rotctldNoWait.cpuSecondsPerHour,
                                    side.rotctldDefault.cpuSecondsPerHour);
    out.Line(
        "| One rotator polled once a second: no more CPU than rotctld "
        "answering one query a second (same window; the lower of the two "
        "rotctld) | %.3f s/h against %.3f s/h | %s |",
        side.zeva.cpuSecondsPerHour, rotctld,
        YesNo(side.zeva.cpuSecondsPerHour > 0 &&
              side.zeva.cpuSecondsPerHour <= rotctld)
            .c_str());
  }
  if (const Footprint* f = FootprintFor(results, 64))
    out.Line(
        "| 64 rotators polled once a second: under 0.1 CPU-s per hour per "
        "rotator | %.3f s/h per rotator (%.2f s/h in all) | %s |",
        f->cpuSecondsPerHour / 64, f->cpuSecondsPerHour,
        YesNo(f->cpuSecondsPerHour / 64 < 0.1).c_str());
  if (const Footprint* f = FootprintFor(results, 64))
    out.Line("| Resident memory under 16 MB with 64 rotators | %s MB | %s |",
             Mb(f->residentKb).c_str(),
             YesNo(f->residentKb > 0 && f->residentKb < 16 * 1024).c_str());
  out.Blank();
}

bool WriteReport(const std::string& path, const Results& results) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  Writer out(file);
  out.Line("# ZEVA Rotator benchmark results");
  out.Blank();
  out.Line(
      "Made by `bench/run.sh` on %s: %s. Load average %.2f before, %.2f "
      "after; %.0f s of measurements%s. Pseudo-terminals and TCP on %s; "
      "the daemon is a Release build. Medians and 99th percentiles "
      "(nearest rank) over the samples counted in each table.",
      results.date.c_str(), results.machine.c_str(), results.loadBefore,
      results.loadAfter, results.seconds,
      results.scale == 1 ? ""
                         : Number(" (shortened run, scale %.2f)", results.scale)
                               .c_str(),
      results.network.c_str());
  out.Blank();
  WriteTargets(out, results);
  if (!results.push.empty()) WritePush(out, results);
  if (results.sideRun || !results.command.empty()) WriteCommand(out, results);
  if (!results.release.empty() || !results.stop.empty())
    WriteRelease(out, results);
  if (!results.footprint.empty()) WriteFootprint(out, results);
  if (results.sideRun) WriteSide(out, results);
  out.Line("![Latency distributions](latency.png)");
  return std::fclose(file) == 0;
}

bool WriteDistributions(const std::string& directory, const Results& results) {
  bool ok = true;
  // Per run (push-64-run1.dat ...) with its trace, and both runs together
  // (push-64.dat, floor-64.dat, unpolled-64.dat) for the plot.
  std::map<std::string, std::vector<double>> pooled;
  for (const PushResult& p : results.push) {
    const std::string series =
        (p.path == PushPath::kZeva
             ? "/push-"
             : p.path == PushPath::kFloor ? "/floor-" : "/unpolled-") +
        std::to_string(p.rotators);
    std::vector<double>& all = pooled[series];
    all.insert(all.end(), p.latency.begin(), p.latency.end());
    const std::string name =
        directory + series + "-run" + std::to_string(p.run);
    ok = WriteDistribution(name + ".dat", p.latency) && ok;
    FILE* file = std::fopen((name + "-trace.dat").c_str(), "w");
    if (!file) {
      ok = false;
      continue;
    }
    std::fprintf(file, "# reply_ms latency_ms rotator\n");
    for (const PushResult::Sample& s : p.trace)
      std::fprintf(file, "%.3f %.6f %d\n", s.replyMs, s.latencyMs, s.rotator);
    ok = std::fclose(file) == 0 && ok;
  }
  for (const auto& series : pooled)
    ok = WriteDistribution(directory + series.first + ".dat", series.second) &&
         ok;
  if (!results.command.empty()) {
    std::vector<double> zeva;
    std::vector<double> floor;
    for (const CommandResult& c : results.command) {
      zeva.insert(zeva.end(), c.zeva.begin(), c.zeva.end());
      floor.insert(floor.end(), c.floor.begin(), c.floor.end());
    }
    ok = WriteDistribution(directory + "/command-zeva-beside-floor.dat", zeva) &&
         ok;
    ok = WriteDistribution(directory + "/command-floor.dat", floor) && ok;
  }
  if (results.sideRun) {
    ok = WriteDistribution(directory + "/command-zeva.dat",
                           results.side.zeva.command) && ok;
    ok = WriteDistribution(directory + "/command-rotctld-nowait.dat",
                           results.side.rotctldNoWait.command) && ok;
    ok = WriteDistribution(directory + "/command-rotctld-default.dat",
                           results.side.rotctldDefault.command) && ok;
  }
  return ok;
}

}  // namespace bench
