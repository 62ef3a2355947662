#include "bench/ReportFormat.h"

#include <string>

#include "bench/Stats.h"

namespace bench {

namespace {

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

// The floor row of the same run and rotator count as a ZEVA row.
const PushResult* FloorOf(const Results& results, const PushResult& zeva) {
  for (const PushResult& p : results.push)
    if (p.path == PushPath::kFloor && p.rotators == zeva.rotators &&
        p.run == zeva.run)
      return &p;
  return nullptr;
}

}  // namespace

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
      "machine's (waking threads on a two-core virtual machine). Each row "
      "runs twice, taking turns with its floor (ZEVA, floor, ZEVA, floor): "
      "the difference between the two runs is the noise a reader should "
      "allow for. The last "
      "row feeds the daemon the same stream of replies without its polls "
      "(period 0; each box sends its line unasked every 100 ms), which "
      "separates the read path from the polling.");
  out.Blank();
  out.Line("| Program | Run | Rotators | Replies | Lines received | Median (ms) | p99 (ms) | Max (ms) | Against the floor: median, p99 | Its CPU (cores) | Its context switches /s (preempted) | Other programs' CPU (cores) |");
  out.Line("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const PushResult& p : results.push) {
    const Summary s = Summarise(p.latency);
    std::string against = "";
    if (const PushResult* f = p.path == PushPath::kZeva ? FloorOf(results, p)
                                                       : nullptr) {
      const Summary fs = Summarise(f->latency);
      against = Ratio(s.median, fs.median) + ", " + Ratio(s.p99, fs.p99);
    }
    out.Line(
        "| %s | %s | %d | %ld | %ld | %s | %s | %s | %s | %.3f | %.0f (%.0f) | "
        "%s |%s",
        PathName(p.path),
        p.path == PushPath::kZevaUnpolled ? "" : std::to_string(p.run).c_str(),
        p.rotators, p.replies, p.pushes, Ms(s.median).c_str(),
        Ms(s.p99).c_str(), Ms(s.max).c_str(), against.c_str(), p.daemonCores,
        p.switchesPerSecond, p.preemptionsPerSecond,
        Cores(p.otherCores).c_str(),
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
      "(`Mnnn` / `Wnnn eee`) arriving at the box.");
  out.Blank();
  if (!results.command.empty()) {
    out.Line(
        "Beside its floor: the smallest program that does the job (one "
        "thread: read the line from TCP, write `Mnnn` CR to the device), "
        "taking turns with ZEVA command by command, each with its own box; "
        "ZEVA's rotator is not polled, so the commands are its only serial "
        "traffic. Two runs, each with fresh programs.");
    out.Blank();
    out.Line("| Program | Run | Samples | Median (ms) | p99 (ms) | Max (ms) | Against the floor: median, p99 |");
    out.Line("|---|---:|---:|---:|---:|---:|---:|");
    for (const CommandResult& c : results.command) {
      const Summary z = Summarise(c.zeva);
      const Summary f = Summarise(c.floor);
      out.Line("| ZEVA | %d | %zu | %s | %s | %s | %s, %s |%s", c.run, z.count,
               Ms(z.median).c_str(), Ms(z.p99).c_str(), Ms(z.max).c_str(),
               Ratio(z.median, f.median).c_str(), Ratio(z.p99, f.p99).c_str(),
               c.error.empty() ? "" : (" error: " + c.error).c_str());
      out.Line("| floor: command relay | %d | %zu | %s | %s | %s | |", c.run,
               f.count, Ms(f.median).c_str(), Ms(f.p99).c_str(),
               Ms(f.max).c_str());
    }
    out.Blank();
  }
  if (!results.sideRun) return;
  out.Line(
      "Beside Hamlib's rotctld: the three take turns in one run, each with "
      "its own box; ZEVA's rotator is polled every second meanwhile.");
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
      "The idle daemon (no client, no rotator) over a minute, then still "
      "antennas polled every 1000 ms (the bearing does not change, so "
      "nothing is pushed after the first reply) with a client connected. "
      "CPU is the daemon's CPU clock (all threads) over the window, scaled "
      "to an hour; wake-ups are the context switches of all its threads "
      "(voluntary and preempted, from /proc/<pid>/task/*/status) over the "
      "window; memory and threads from /proc/<pid>/status at the end.");
  out.Blank();
  out.Line("| Rotators | Client | Window (s) | Wake-ups /s | CPU (s/h) | CPU per rotator (s/h) | RSS (MB) | Peak RSS (MB) | Threads | Other programs' CPU (cores) |");
  out.Line("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const Footprint& f : results.footprint) {
    out.Line("| %d | %s | %.0f | %.2f | %.3f | %s | %s | %s | %ld | %s |%s",
             f.rotators, f.client ? "yes" : "no", f.windowSeconds,
             f.wakeupsPerSecond, f.cpuSecondsPerHour,
             f.rotators > 0
                 ? Number("%.3f", f.cpuSecondsPerHour / f.rotators).c_str()
                 : "-",
             Mb(f.residentKb).c_str(), Mb(f.peakKb).c_str(), f.threads,
             Cores(f.otherCores).c_str(),
             f.error.empty() ? "" : (" error: " + f.error).c_str());
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

}  // namespace bench
