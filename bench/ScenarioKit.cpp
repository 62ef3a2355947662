#include "bench/ScenarioKit.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "bench/Clock.h"
#include "bench/Scenarios.h"

namespace bench {

int Plan::Scaled(int count) const {
  const int scaled = static_cast<int>(std::lround(count * scale));
  return std::max(scaled, 3);
}

double Plan::ScaledSeconds(double seconds) const {
  return std::max(seconds * scale, 2.0);
}

bool MakeBoxes(int count, Boxes* boxes, std::string* error) {
  for (int i = 0; i < count; ++i) {
    boxes->emplace_back(new Box());
    if (!boxes->back()->Ok()) {
      *error = "cannot open a pseudo-terminal";
      return false;
    }
  }
  return true;
}

std::vector<Box*> Pointers(const Boxes& boxes) {
  std::vector<Box*> pointers;
  for (const auto& box : boxes) pointers.push_back(box.get());
  return pointers;
}

std::vector<size_t> Indexes(size_t from, size_t count) {
  std::vector<size_t> indexes;
  for (size_t i = 0; i < count; ++i) indexes.push_back(from + i);
  return indexes;
}

void SleepUntil(int64_t ns) { SleepMs(NsToMs(ns - NowNs())); }

bool DrainMaster(int fd, std::string* seen) {
  char buffer[512];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      if (seen) seen->append(buffer, static_cast<size_t>(count));
      continue;
    }
    return count < 0 && errno == EIO;
  }
}

bool TurnThrough(BoxLoop& loop, Box& box, LineClient& client,
                 const std::string& line, double* ms) {
  const int before = box.SetCommands();
  const int64_t start = NowNs();
  client.Send(line);
  if (!loop.WaitFor([&] { return box.SetCommands() > before; }, 3000))
    return false;
  *ms = NsToMs(box.LastSetNs() - start);
  return true;
}

}  // namespace bench
