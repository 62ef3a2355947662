// The one header every subsystem shares: the fixed version text and TCP port,
// the two logging functions, the tokeniser and the atoi-style number reader.
//
// Thread safety: everything here may be called from any thread. A log line
// is written under the stream's own lock (flockfile), so lines written at the
// same moment by two threads never interleave.
#pragma once

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zeva {

constexpr const char* kVersion = "2.0.1";
constexpr int kTcpPort = 13020;

}  // namespace zeva

#if defined(__GNUC__) || defined(__clang__)
#define ZEVA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZEVA_PRINTF(fmt, args)
#endif

namespace zeva_detail {
inline void LogTo(FILE* stream, const char* format, va_list args) {
  flockfile(stream);
  vfprintf(stream, format, args);
  fputc('\n', stream);
  fflush(stream);
  funlockfile(stream);
}
}  // namespace zeva_detail

// One printf-style line on standard output, a newline and a flush. Text from
// outside (a client line, a device path, a reply) is always an argument of a
// "%s", never the format.
inline void LogMessage(const char* format, ...) ZEVA_PRINTF(1, 2);
inline void LogMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  zeva_detail::LogTo(stdout, format, args);
  va_end(args);
}

// The same on standard error, for failures of the system and of devices.
inline void LogError(const char* format, ...) ZEVA_PRINTF(1, 2);
inline void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  zeva_detail::LogTo(stderr, format, args);
  va_end(args);
}

// Cuts text into the tokens between delimiter characters. Empty tokens are
// kept (two delimiters in a row, a leading delimiter), except that a final
// delimiter yields no empty token after it and an empty text yields none.
inline std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> tokens;
  if (text.empty()) return tokens;
  // Room for every token at once: one allocation per line instead of one
  // per doubling (a command line has up to five tokens).
  std::string::size_type count = 1;
  for (char c : text) count += (c == delimiter);
  tokens.reserve(count);
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find(delimiter, start);
    if (end == std::string::npos) {
      tokens.push_back(text.substr(start));
      break;
    }
    tokens.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

// Reads a number the way atoi does (leading white space, one optional sign,
// digits up to the first other character, 0 when there are none), except that
// a value beyond the 32-bit range saturates at INT_MIN or INT_MAX instead of
// being undefined.
inline int ReadInt(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p - '0');
    if (value > limit) value = limit;  // saturate; keep consuming digits
    ++p;
  }
  return static_cast<int>(negative ? -value : value);
}

inline int ReadInt(const std::string& text) { return ReadInt(text.c_str()); }
