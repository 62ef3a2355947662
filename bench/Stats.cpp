#include "bench/Stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace bench {

double Percentile(const std::vector<double>& sorted, double percent) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(
      std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
  if (rank < 1) rank = 1;
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

Summary Summarise(std::vector<double> samples) {
  Summary summary;
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.count = samples.size();
  summary.median = Percentile(samples, 50);
  summary.p99 = Percentile(samples, 99);
  summary.max = samples.back();
  summary.mean = std::accumulate(samples.begin(), samples.end(), 0.0) /
                 static_cast<double>(samples.size());
  return summary;
}

bool WriteDistribution(const std::string& path, std::vector<double> samples) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  std::sort(samples.begin(), samples.end());
  const double n = static_cast<double>(samples.size());
  for (size_t i = 0; i < samples.size(); ++i)
    std::fprintf(file, "%.6f %.4f %.4f\n", samples[i],
                 100.0 * static_cast<double>(i + 1) / n,
                 100.0 * (n - static_cast<double>(i)) / n);
  return std::fclose(file) == 0;
}

}  // namespace bench
