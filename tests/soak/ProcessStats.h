// Figures about a running process read from /proc: open descriptors,
// threads and resident memory. Linux only; elsewhere Read returns false.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

struct ProcessStats {
  int fds = 0;
  int threads = 0;
  long rssKb = 0;
  double cpuSeconds = 0;  // user + system

  bool Read(pid_t pid);
  std::string Describe() const;
};

}  // namespace testing_support
