// Shared by the parts of the results file: number formats, a line writer,
// and the sections that WriteReport puts together.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "bench/Report.h"

namespace bench {

// Milliseconds with about three significant digits.
inline std::string Ms(double ms) {
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

inline std::string Number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

inline std::string Ratio(double slower, double faster) {
  if (faster <= 0) return "-";
  return Number(slower / faster >= 10 ? "%.0f×" : "%.1f×", slower / faster);
}

inline std::string Cores(double cores) {
  return cores < 0 ? "-" : Number("%.2f", cores);
}

inline std::string Mb(long kb) { return kb < 0 ? "-" : Number("%.1f", kb / 1024.0); }

inline std::string YesNo(bool met) { return met ? "**met**" : "**missed**"; }

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

// The sections of results.md, in their order (ReportSections.cpp, and the
// targets in Report.cpp).
void WriteTargets(Writer& out, const Results& results);
void WritePush(Writer& out, const Results& results);
void WriteCommand(Writer& out, const Results& results);
void WriteRelease(Writer& out, const Results& results);
void WriteFootprint(Writer& out, const Results& results);
void WriteSide(Writer& out, const Results& results);

}  // namespace bench
