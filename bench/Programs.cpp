#include "bench/Programs.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "bench/Clock.h"

namespace bench {

namespace {

bool FileContains(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  std::stringstream content;
  content << file.rdbuf();
  return content.str().find(text) != std::string::npos;
}

}  // namespace

bool StartZeva(const Paths& paths, Child& daemon, LineClient& client) {
  static int starts = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string log =
        paths.logDir + "/zeva-" + std::to_string(++starts) + ".log";
    if (!daemon.Start({paths.daemon}, log)) return false;
    const int64_t deadline = NowNs() + int64_t{5000} * 1000000;
    bool running = false;
    while (NowNs() < deadline) {
      if (FileContains(log, "running")) {
        running = true;
        break;
      }
      int status = 0;
      if (daemon.Wait(1, &status)) break;  // gone: the port is taken
    }
    if (running) return client.Connect(13020, 5000);
    daemon.Stop();
    std::fprintf(stderr,
                 "zeva-bench: the daemon did not start (TCP port 13020 in use "
                 "by another process?); trying again in 2 s\n");
    SleepMs(2000);
  }
  return false;
}

std::string ConfigureLines(const std::vector<Box*>& boxes, int firstId,
                           int pollMs) {
  std::string lines;
  for (size_t i = 0; i < boxes.size(); ++i)
    lines += "CONFIGURE " + std::to_string(firstId + static_cast<int>(i)) +
             " " + boxes[i]->Path() + " 4 " + std::to_string(pollMs) + "\r";
  return lines;
}

bool WaitRaw(const std::vector<Box*>& boxes, int timeoutMs) {
  const int64_t deadline = NowNs() + int64_t{timeoutMs} * 1000000;
  for (Box* box : boxes) {
    while (!box->IsRaw()) {
      if (NowNs() > deadline) return false;
      SleepMs(0.2);
    }
  }
  return true;
}

bool StartRotctld(const Paths& paths, Box& box, int port,
                  const std::vector<std::string>& extra, const std::string& tag,
                  Child& rotctld, LineClient& client) {
  std::vector<std::string> argv = {paths.rotctld, "-m",  "603",
                                   "-r",          box.Path(), "-t",
                                   std::to_string(port), "-T", "127.0.0.1"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  if (!rotctld.Start(argv, paths.logDir + "/rotctld-" + tag + ".log"))
    return false;
  if (!WaitRaw({&box}, 5000)) return false;
  return client.Connect(port, 5000);
}

}  // namespace bench
