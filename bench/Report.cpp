#include "bench/Report.h"

#include <cstdarg>
#include <cstdio>

#include "bench/Stats.h"

namespace bench {

namespace {

// Milliseconds with about three significant digits.
std::string Ms(double ms) {
  char text[32];
  if (ms < 1)
    std::snprintf(text, sizeof text, "%.3f", ms);
  else if (ms < 10)
    std::snprintf(text, sizeof text, "%.2f", ms);
  else if (ms < 100)
    std::snprintf(text, sizeof text, "%.1f", ms);
  else
    std::snprintf(text, sizeof text, "%.0f", ms);
  return text;
}

std::string Number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ratio(double slower, double faster) {
  if (faster <= 0) return "-";
  return Number(slower / faster >= 10 ? "%.0f×" : "%.1f×", slower / faster);
}

std::string Cores(double cores) {
  return cores < 0 ? "-" : Number("%.2f", cores);
}

std::string Mb(long kb) { return kb < 0 ? "-" : Number("%.1f", kb / 1024.0); }

std::string YesNo(bool met) { return met ? "**met**" : "**missed**"; }

class Writer {
 public:
  explicit Writer(FILE* output) : file(output) {}
  __attribute__((format(printf, 2, 3))) void Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
  }
  void Blank() { std::fputc('\n', file); }

 private:
  FILE* file;
};

const char* PathName(PushPath path) {
  switch (path) {
    case PushPath::kZeva:
      return "ZEVA";
    case PushPath::kFloor:
      return "floor: minimal relay";
    case PushPath::kZevaUnpolled:
      return "ZEVA not polling: boxes speak unasked";
  }
  return "";
}

const Footprint* FootprintFor(const Results& results, int rotators) {
  for (const Footprint& f : results.footprint)
    if (f.rotators == rotators && f.error.empty()) return &f;
  return nullptr;
}

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
      measured += (measured.empty() ? "" : ", ") + std::to_string(p.rotators) +
                  ": " + Ms(s.p99) + " ms";
      met = met && p.error.empty() && s.count > 0 && s.p99 < 1.0;
    }
    out.Line("| Push latency p99 under 1 ms (rotators: p99) | %s | %s |",
             measured.c_str(), YesNo(met).c_str());
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
  std::string cpu;
  bool cpuMet = true;
  for (const Footprint& f : results.footprint) {
    if (f.rotators == 0 || !f.error.empty()) continue;
    const double perRotator = f.cpuSecondsPerHour / f.rotators;
    cpu += (cpu.empty() ? "" : ", ") + std::to_string(f.rotators) + ": " +
           Number("%.2f", perRotator) + " s/h";
    cpuMet = cpuMet && perRotator < 1.0;
  }
  if (!cpu.empty())
    out.Line(
        "| Idle CPU under 1 s per hour per rotator (1 s polls; rotators: "
        "total CPU / rotators) | %s | %s |",
        cpu.c_str(), YesNo(cpuMet).c_str());
  if (const Footprint* f = FootprintFor(results, 64))
    out.Line("| Resident memory under 16 MB with 64 rotators | %s MB | %s |",
             Mb(f->residentKb).c_str(),
             YesNo(f->residentKb > 0 && f->residentKb < 16 * 1024).c_str());
  out.Blank();
}

void WritePush(Writer& out, const Results& results) {
  out.Line("## 1. Push latency");
  out.Blank();
  out.Line(
      "From the moment the emulated box writes an azimuth reply on the "
      "pseudo-terminal (the time is taken just before the write) to the "
      "moment the client has read the direction line carrying that bearing. "
      "The rotators are polled every 100 ms; each box's antenna turns, so "
      "every reply is a new bearing and is pushed. The CPU columns are "
      "in cores during the window: the program's, and that of every "
      "other program on the (shared) machine, i.e. the machine's busy time "
      "from /proc/stat less the daemon's and the benchmark's own. The floor "
      "rows measure the same path through the smallest program that does "
      "the job (one process, one thread: poll the devices, read, send the "
      "line; its socket set up like the daemon's), so what ZEVA adds to it "
      "is the cost of its own structure, and what the floor shows is the "
      "machine's (waking threads on a two-core virtual machine). The last "
      "row feeds the daemon the same stream of replies without its polls "
      "(period 0; each box sends its line unasked every 100 ms), which "
      "separates the read path from the polling.");
  out.Blank();
  out.Line("| Program | Rotators | Replies | Lines received | Median (ms) | p99 (ms) | Max (ms) | Its CPU (cores) | Its context switches /s (preempted) | Other programs' CPU (cores) |");
  out.Line("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const PushResult& p : results.push) {
    const Summary s = Summarise(p.latency);
    out.Line("| %s | %d | %ld | %ld | %s | %s | %s | %.3f | %.0f (%.0f) | %s |%s",
             PathName(p.path), p.rotators,
             p.replies, p.pushes, Ms(s.median).c_str(), Ms(s.p99).c_str(),
             Ms(s.max).c_str(), p.daemonCores, p.switchesPerSecond,
             p.preemptionsPerSecond, Cores(p.otherCores).c_str(),
             p.error.empty() ? "" : (" error: " + p.error).c_str());
  }
  out.Blank();
}

void WriteCommand(Writer& out, const Results& results) {
  out.Line("## 2. Command latency");
  out.Blank();
  out.Line(
      "From the client's write of a turn command (ZEVA: `ROTATE 1 nnn`; "
      "rotctld: `P nnn 0`) to the first byte of the set-position command "
      "(`Mnnn` / `Wnnn eee`) arriving at the box. The three take turns in "
      "one run, each with its own box; ZEVA's rotator is polled every second "
      "meanwhile.");
  out.Blank();
  out.Line("| Program | Samples | Median (ms) | p99 (ms) | Max (ms) |");
  out.Line("|---|---:|---:|---:|---:|");
  const Contender* all[] = {&results.side.zeva, &results.side.rotctldNoWait,
                            &results.side.rotctldDefault};
  for (const Contender* c : all) {
    const Summary s = Summarise(c->command);
    out.Line("| %s | %zu | %s | %s | %s |", c->name.c_str(), s.count,
             Ms(s.median).c_str(), Ms(s.p99).c_str(), Ms(s.max).c_str());
  }
  out.Blank();
}

void WriteRelease(Writer& out, const Results& results) {
  out.Line("## 3. Release and stop");
  out.Blank();
  out.Line(
      "Release: from the client's disconnect (its `close`) to the last "
      "device closed, seen as the hang-up on the box's side; each device's "
      "terminal settings are then checked against those it had before the "
      "daemon opened it. Stop: from SIGTERM to the daemon's exit (its "
      "process reaped), with a client connected and the rotators "
      "configured; a clean stop exits with status 0 and leaves every device "
      "restored. Rotators poll every 1000 ms.");
  out.Blank();
  out.Line("| Case | Rotators | Repetitions | Restored / clean | Median (ms) | p99 (ms) | Max (ms) |");
  out.Line("|---|---:|---:|---:|---:|---:|---:|");
  for (const ReleaseResult& r : results.release) {
    const Summary s = Summarise(r.time);
    out.Line("| Release on disconnect | %d | %zu | %d | %s | %s | %s |%s",
             r.rotators, s.count, r.restored, Ms(s.median).c_str(),
             Ms(s.p99).c_str(), Ms(s.max).c_str(),
             r.error.empty() ? "" : (" error: " + r.error).c_str());
  }
  for (const StopResult& r : results.stop) {
    const Summary s = Summarise(r.time);
    out.Line("| Stop on SIGTERM | %d | %zu | %d | %s | %s | %s |%s",
             r.rotators, s.count, r.clean, Ms(s.median).c_str(),
             Ms(s.p99).c_str(), Ms(s.max).c_str(),
             r.error.empty() ? "" : (" error: " + r.error).c_str());
  }
  out.Blank();
}

void WriteFootprint(Writer& out, const Results& results) {
  out.Line("## 4. Footprint");
  out.Blank();
  out.Line(
      "Still antennas polled every 1000 ms (the bearing does not change, so "
      "nothing is pushed after the first reply), a client connected. CPU is "
      "the daemon's CPU clock (all threads) over the window, scaled to an "
      "hour; memory and threads from /proc/<pid>/status at the end.");
  out.Blank();
  out.Line("| Rotators | Window (s) | CPU (s/h) | CPU per rotator (s/h) | RSS (MB) | Peak RSS (MB) | Threads | Other programs' CPU (cores) |");
  out.Line("|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const Footprint& f : results.footprint) {
    out.Line("| %d | %.0f | %.2f | %s | %s | %s | %ld | %s |%s", f.rotators,
             f.windowSeconds, f.cpuSecondsPerHour,
             f.rotators > 0
                 ? Number("%.3f", f.cpuSecondsPerHour / f.rotators).c_str()
                 : "-",
             Mb(f.residentKb).c_str(), Mb(f.peakKb).c_str(), f.threads,
             Cores(f.otherCores).c_str(), f.error.empty() ? "" : (" error: " + f.error).c_str());
  }
  out.Blank();
}

void WriteSide(Writer& out, const Results& results) {
  const SideBySide& side = results.side;
  out.Line("## 5. Side by side with Hamlib's rotctld");
  out.Blank();
  out.Line(
      "Hamlib's rotctld (`%s`), model 603 (Yaesu GS-232B), once with its "
      "defaults (a "
      "50 ms wait after every write) and once with "
      "`--set-conf=post_write_delay=0`; each rotctld and ZEVA drive their own "
      "emulated box in the same run. The ratios are rotctld's value over "
      "ZEVA's.%s",
      results.rotctldVersion.c_str(),
      side.error.empty() ? "" : (" Error: " + side.error).c_str());
  out.Blank();
  const Summary zc = Summarise(side.zeva.command);
  const Summary nc = Summarise(side.rotctldNoWait.command);
  const Summary dc = Summarise(side.rotctldDefault.command);
  const Summary zy = Summarise(side.zeva.cycle);
  const Summary ny = Summarise(side.rotctldNoWait.cycle);
  const Summary dy = Summarise(side.rotctldDefault.cycle);
  const Summary zd = Summarise(side.zeva.ageAt1s.delivery);
  const Summary nd = Summarise(side.rotctldNoWait.ageAt1s.delivery);
  const Summary dd = Summarise(side.rotctldDefault.ageAt1s.delivery);
  out.Line("| Measure | ZEVA | rotctld, wait 0 | ratio | rotctld, default | ratio |");
  out.Line("|---|---:|---:|---:|---:|---:|");
  auto row = [&](const char* name, double z, double n, double d,
                 const std::string& unit) {
    out.Line("| %s | %s%s | %s%s | %s | %s%s | %s |", name, Ms(z).c_str(),
             unit.c_str(), Ms(n).c_str(), unit.c_str(), Ratio(n, z).c_str(),
             Ms(d).c_str(), unit.c_str(), Ratio(d, z).c_str());
  };
  row("Command latency, median", zc.median, nc.median, dc.median, " ms");
  row("Command latency, p99", zc.p99, nc.p99, dc.p99, " ms");
  row("Connect/disconnect cycle, median", zy.median, ny.median, dy.median,
      " ms");
  row("Connect/disconnect cycle, p99", zy.p99, ny.p99, dy.p99, " ms");
  row("Bearing age, time average, 1 query/s", side.zeva.ageAt1s.averageMs,
      side.rotctldNoWait.ageAt1s.averageMs,
      side.rotctldDefault.ageAt1s.averageMs, " ms");
  row("Box reply to client knowing it, median", zd.median, nd.median,
      dd.median, " ms");
  row("CPU at 1 query/s (s per hour)", side.zeva.cpuSecondsPerHour,
      side.rotctldNoWait.cpuSecondsPerHour,
      side.rotctldDefault.cpuSecondsPerHour, " s");
  out.Line("| Resident memory | %s MB | %s MB | %s | %s MB | %s |",
           Mb(side.zeva.residentKb).c_str(),
           Mb(side.rotctldNoWait.residentKb).c_str(),
           Ratio(side.rotctldNoWait.residentKb, side.zeva.residentKb).c_str(),
           Mb(side.rotctldDefault.residentKb).c_str(),
           Ratio(side.rotctldDefault.residentKb, side.zeva.residentKb).c_str());
  out.Line("| Threads | %ld | %ld | | %ld | |", side.zeva.threads,
           side.rotctldNoWait.threads, side.rotctldDefault.threads);
  out.Line("| Samples: commands / cycles / bearings at 1 s | %zu / %zu / %zu | %zu / %zu / %zu | | %zu / %zu / %zu | |",
           zc.count, zy.count, zd.count, nc.count, ny.count, nd.count,
           dc.count, dy.count, dd.count);
  out.Line("| Failed operations | %d | %d | | %d | |", side.zeva.failures,
           side.rotctldNoWait.failures, side.rotctldDefault.failures);
  out.Blank();
  out.Line("Other programs on the machine used %s cores during the 1 s "
           "window.", Cores(side.otherCores).c_str());
  out.Blank();
  out.Line("ZEVA at its usual faster poll periods (same run, beside rotator 1):");
  out.Blank();
  out.Line("| Poll period (ms) | Bearing age, time average (ms) | Reply to client, median (ms) | p99 (ms) | Bearings |");
  out.Line("|---:|---:|---:|---:|---:|");
  for (const FasterPoll& f : side.faster) {
    const Summary s = Summarise(f.age.delivery);
    out.Line("| %d | %s | %s | %s | %zu |", f.pollMs,
             Ms(f.age.averageMs).c_str(), Ms(s.median).c_str(),
             Ms(s.p99).c_str(), s.count);
  }
  out.Blank();
  out.Line(
      "How the side-by-side figures are taken: the *cycle* for ZEVA is "
      "connect, `CONFIGURE` one Yaesu rotator, `ROTATE` it and disconnect at "
      "once (ZEVA answers nothing), until the daemon has closed the device "
      "and restored its settings; for rotctld (which keeps its device open "
      "for its whole life) it is connect, `P nnn 0`, read its `RPRT 0`, "
      "disconnect. The *bearing age* is, at each moment, the time since the "
      "box sent the bearing the client knows, averaged over a %.0f s window "
      "in which every side makes one position query a second to an antenna "
      "that keeps turning: ZEVA polls by itself every 1000 ms, each rotctld "
      "is asked `p` by its client once a second. CPU is each process's CPU "
      "clock over that window.",
      side.windowSeconds);
  out.Blank();
}

}  // namespace

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
  if (results.sideRun) WriteCommand(out, results);
  if (!results.release.empty() || !results.stop.empty())
    WriteRelease(out, results);
  if (!results.footprint.empty()) WriteFootprint(out, results);
  if (results.sideRun) WriteSide(out, results);
  out.Line("![Latency distributions](latency.png)");
  return std::fclose(file) == 0;
}

bool WriteDistributions(const std::string& directory, const Results& results) {
  bool ok = true;
  for (const PushResult& p : results.push) {
    const std::string name =
        directory +
        (p.path == PushPath::kZeva
             ? "/push-"
             : p.path == PushPath::kFloor ? "/floor-" : "/unpolled-") +
        std::to_string(p.rotators);
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
