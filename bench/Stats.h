// Summaries of latency samples: median, 99th percentile (nearest rank),
// maximum, and the sorted samples for the plot.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Summary {
  size_t count = 0;
  double median = 0;
  double p99 = 0;
  double max = 0;
  double mean = 0;
};

// Nearest-rank percentile of sorted samples: the smallest sample that at
// least `percent` per cent of the samples do not exceed.
double Percentile(const std::vector<double>& sorted, double percent);

Summary Summarise(std::vector<double> samples);

// Writes sorted "value percent-at-or-below percent-at-or-above" lines for
// gnuplot.
bool WriteDistribution(const std::string& path, std::vector<double> samples);

}  // namespace bench
