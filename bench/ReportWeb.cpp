// web-load.md: the station's web page under many event streams and floods,
// each row one station binary (this tree's, and one to compare with).
#include <cstdio>

#include "bench/ReportFormat.h"
#include "bench/Stats.h"

namespace bench {

bool WriteWebReport(const std::string& path, const WebResults& results) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  Writer out(file);
  out.Line("# The station's web page under load");
  out.Blank();
  out.Line("Made by `bench/run.sh --only web` on %s: %s, %s; load average %.2f before and %.2f "
           "after. The daemon runs with one emulated Yaesu box polled every 100 ms; the station "
           "(`zeva-station --http`) is its client; the benchmark plays every browser.",
           results.date.c_str(), results.machine.c_str(), results.network.c_str(),
           results.loadBefore, results.loadAfter);
  out.Blank();
  out.Line("## Event streams");
  out.Blank();
  out.Line("Every page opens `/api/events` at once; then the antenna turns (every poll a new "
           "bearing) for the window. Each event that brings a page a new bearing is timed from "
           "the box writing the reply that carried it to the page reading the event. Station "
           "CPU over the window; resident memory before the streams and at the window's end.");
  out.Blank();
  out.Line("| Station | Streams | Served (200) | Saw a new bearing | Samples | Median (ms) | p99 (ms) "
           "| Max (ms) | Station CPU (cores) | RSS before → with streams (MB) | Threads | Others "
           "(cores) |");
  out.Line("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|");
  for (const WebStreams& r : results.streams) {
    if (!r.error.empty()) {
      out.Line("| %s | %d | error: %s |||||||||", r.station.c_str(), r.streams, r.error.c_str());
      continue;
    }
    const Summary s = Summarise(r.latency);
    out.Line("| %s | %d | %d | %d | %zu | %s | %s | %s | %s | %s → %s | %ld | %s |",
             r.station.c_str(), r.streams, r.served, r.sawChange, s.count, Ms(s.median).c_str(),
             Ms(s.p99).c_str(), Ms(s.max).c_str(), Cores(r.stationCores).c_str(),
             Mb(r.residentKbBefore).c_str(), Mb(r.residentKb).c_str(), r.threads,
             Cores(r.otherCores).c_str());
  }
  out.Blank();
  out.Line("## Floods");
  out.Blank();
  out.Line("One request of header lines without end (up to 200 MB), then 1,000 connections each "
           "holding 7.8 KiB of headers without end and 64 that send a header byte a second, all "
           "kept open; meanwhile a new page asks for the state and turns (both must be answered "
           "200). "
           "Growth: the station's peak resident set less its resident set before the flood.");
  out.Blank();
  out.Line("| Station | Holding headers | Slow senders | Endless headers taken (MB) | RSS before "
           "(MB) | Peak (MB) | Growth (MB) | New page: state and turn (ms) |");
  out.Line("|---|---:|---:|---:|---:|---:|---:|---:|");
  for (const WebFlood& r : results.floods) {
    if (!r.error.empty()) {
      out.Line("| %s | error: %s |||||||", r.station.c_str(), r.error.c_str());
      continue;
    }
    out.Line("| %s | %d | %d | %s%s | %s | %s | %s | %s |", r.station.c_str(), r.holders,
             r.slow, Number("%.1f", r.endlessMb).c_str(), r.cut ? "" : " (all)",
             Mb(r.residentKbBefore).c_str(), Mb(r.peakKb).c_str(),
             Mb(r.peakKb - r.residentKbBefore).c_str(),
             r.pageMs < 0 ? "not answered" : Ms(r.pageMs).c_str());
  }
  out.Blank();
  out.Line("Targets (the last row, this tree's station): every stream served and seeing a new "
           "bearing, p99 under 50 ms; memory growth under any flood at most 16 MB; a new page "
           "answered meanwhile.");
  if (!results.streams.empty() && !results.floods.empty()) {
    const WebStreams& s = results.streams.back();
    const WebFlood& f = results.floods.back();
    const Summary latency = Summarise(s.latency);
    out.Blank();
    out.Line("- streams: %s (%d of %d served, %d saw a new bearing, p99 %s ms)",
             YesNo(s.error.empty() && s.served == s.streams && s.sawChange == s.streams &&
                   latency.p99 < 50)
                 .c_str(),
             s.served, s.streams, s.sawChange, Ms(latency.p99).c_str());
    out.Line("- flood: %s (growth %s MB, new page %s)",
             YesNo(f.error.empty() && f.peakKb - f.residentKbBefore <= 16 * 1024 && f.pageMs >= 0)
                 .c_str(),
             Mb(f.peakKb - f.residentKbBefore).c_str(),
             f.pageMs < 0 ? "not answered" : (Ms(f.pageMs) + " ms").c_str());
  }
  std::fclose(file);
  return true;
}

}  // namespace bench
