// Logging of the rotctld bridge: one printf-style line on standard error,
// prefixed with the program's name, then a flush. Under systemd the journal
// adds the time; under FreeBSD's daemon(8) syslog does.
//
// Called by the bridge's thread and by the web page's threads: each line is
// written with one stdio call, so lines from different threads never mix.
#pragma once

#include <cstdarg>
#include <cstdio>

#if defined(__GNUC__) || defined(__clang__)
#define BRIDGE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BRIDGE_PRINTF(fmt, args)
#endif

inline void BridgeLog(const char* format, ...) BRIDGE_PRINTF(1, 2);
inline void BridgeLog(const char* format, ...) {
  char line[1024] = "zeva-rotctl-bridge: ";
  const size_t prefix = sizeof "zeva-rotctl-bridge: " - 1;
  va_list args;
  va_start(args, format);
  vsnprintf(line + prefix, sizeof line - prefix - 1, format, args);
  va_end(args);
  fprintf(stderr, "%s\n", line);
  fflush(stderr);
}
