// logger.md: a contest logger's turn through the station, beside the same
// turn through a rotctld port, and the target between them.
#include <cstdio>

#include "bench/Report.h"
#include "bench/ReportFormat.h"
#include "bench/Stats.h"

namespace bench {

bool WriteLoggerReport(const std::string& path, const Results& results) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  Writer out(file);
  const LoggerResult& r = results.logger;
  const Summary logger = Summarise(r.logger);
  const Summary rotctld = Summarise(r.rotctld);
  out.Line("# A contest logger's turn through the station");
  out.Blank();
  out.Line(
      "Made by `bench/run.sh --only logger` on %s: %s. Load average %.2f before, %.2f after. "
      "Pseudo-terminals, UDP and TCP on %s; the daemon and the station are Release builds.",
      results.date.c_str(), results.machine.c_str(), results.loadBefore, results.loadAfter,
      results.network.c_str());
  out.Blank();
  out.Line(
      "From the logger's datagram (N1MM Logger+'s `<N1MMRotor>` turn, sent to the station's UDP "
      "port) to the first byte of `Mnnn` at the emulated box, beside the same turn asked on the "
      "station's rotctld port (`P nnn 0`, from the client's write). The two take turns command "
      "by command on one rotator that is not polled, so the commands are the box's only "
      "traffic: each goes from the station to the daemon, which writes it to the box.%s",
      r.error.empty() ? "" : (" **Error: " + r.error + "**").c_str());
  out.Blank();
  out.Line("| Path | Samples | Median (ms) | p99 (ms) | Max (ms) |");
  out.Line("|---|---:|---:|---:|---:|");
  out.Line("| logger datagram (UDP) | %zu | %s | %s | %s |", logger.count, Ms(logger.median).c_str(),
           Ms(logger.p99).c_str(), Ms(logger.max).c_str());
  out.Line("| rotctld port (TCP) | %zu | %s | %s | %s |", rotctld.count, Ms(rotctld.median).c_str(),
           Ms(rotctld.p99).c_str(), Ms(rotctld.max).c_str());
  out.Blank();
  const bool met = r.error.empty() && logger.count > 0 && rotctld.count > 0 &&
                   logger.median <= 1.2 * rotctld.median && logger.p99 <= 1.2 * rotctld.p99;
  out.Line(
      "Target, the logger's path within 1.2× of the rotctld port's at the median and p99: "
      "median %s ms against %s ms (%s), p99 %s ms against %s ms (%s): %s. Failed commands: %d.",
      Ms(logger.median).c_str(), Ms(rotctld.median).c_str(),
      Ratio(logger.median, rotctld.median).c_str(), Ms(logger.p99).c_str(),
      Ms(rotctld.p99).c_str(), Ratio(logger.p99, rotctld.p99).c_str(), YesNo(met).c_str(),
      r.failures);
  return std::fclose(file) == 0;
}

}  // namespace bench
