// Logging of the station server: one printf-style line on standard error,
// prefixed with the program's name, then a flush. Under systemd the journal
// adds the time; under FreeBSD's daemon(8) syslog does.
//
// Called by the station's thread and by the web page's threads: each line is
// written with one stdio call, so lines from different threads never mix.
#pragma once

#include <cstdarg>
#include <cstdio>

#if defined(__GNUC__) || defined(__clang__)
#define STATION_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define STATION_PRINTF(fmt, args)
#endif

inline void StationLog(const char* format, ...) STATION_PRINTF(1, 2);
inline void StationLog(const char* format, ...) {
  char line[1024] = "zeva-station: ";
  const size_t prefix = sizeof "zeva-station: " - 1;
  va_list args;
  va_start(args, format);
  vsnprintf(line + prefix, sizeof line - prefix - 1, format, args);
  va_end(args);
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}
