#include "BoxLog.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

bool BoxLog::verbose = false;

void BoxLog::SetVerbose(bool value) { verbose = value; }

bool BoxLog::Verbose() { return verbose; }

void BoxLog::Trace(const std::string& text) {
  if (verbose) Always(text);
}

void BoxLog::Always(const std::string& text) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  time_t seconds = now.tv_sec;
  struct tm local;
  localtime_r(&seconds, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  fprintf(stderr, "%s.%06d boxsim: %s\n", stamp, static_cast<int>(now.tv_usec), text.c_str());
  fflush(stderr);
}

std::string BoxLog::Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else {
          char hex[8];
          snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        }
    }
  }
  return out;
}
