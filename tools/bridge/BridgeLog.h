// Logging of the rotctld bridge: one printf-style line on standard error,
// prefixed with the program's name, then a flush. Under systemd the journal
// adds the time; under FreeBSD's daemon(8) syslog does.
//
// Called only by the bridge's one thread (the poll loop).
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
  va_list args;
  va_start(args, format);
  fputs("zeva-rotctl-bridge: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  fflush(stderr);
  va_end(args);
}
