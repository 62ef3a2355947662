#include "tests/soak/ProcessStats.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace testing_support {

bool ProcessStats::Read(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  DIR* dir = opendir((base + "/fd").c_str());
  if (!dir) return false;
  fds = 0;
  while (struct dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++fds;
  closedir(dir);

  std::ifstream status(base + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) threads = std::stoi(line.substr(8));
    if (line.rfind("VmRSS:", 0) == 0) rssKb = std::stol(line.substr(6));
  }

  std::ifstream stat(base + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
      if (i == 14) utime = std::stoul(field);
      if (i == 15) {
        stime = std::stoul(field);
        break;
      }
    }
    cpuSeconds = static_cast<double>(utime + stime) /
                 static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return true;
}

std::string ProcessStats::Describe() const {
  std::ostringstream out;
  out << fds << " fds, " << threads << " threads, " << rssKb << " kB RSS, "
      << cpuSeconds << " s CPU";
  return out.str();
}

}  // namespace testing_support
