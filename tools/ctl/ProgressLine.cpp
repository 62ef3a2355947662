#include "ProgressLine.h"

#include <cstdio>
#include <cstdlib>

std::string ProgressLine::Render(int id, int from, int at, int to) {
  const int width = 20;
  int total = std::abs(to - from);
  int done = std::abs(at - from);
  // Already at the target when it starts there; otherwise the way is the
  // whole way still to go (a wait for 000 that starts from 000 at 093).
  int percent = total == 0 ? (done == 0 ? 100 : 0) : done * 100 / total;
  if (percent > 100) percent = 100;
  if ((at - from) * (to - from) < 0) percent = 0;  // moved the wrong way
  int filled = percent * width / 100;
  char text[96];
  snprintf(text, sizeof text, "rotator %d: %03d -> %03d [%s%s] %3d%%  (now %03d)", id, from, to,
           std::string(static_cast<size_t>(filled), '#').c_str(),
           std::string(static_cast<size_t>(width - filled), ' ').c_str(), percent, at);
  return text;
}

void ProgressLine::Show(int id, int from, int at, int to) {
  if (!enabled) return;
  last = Render(id, from, at, to);
  printf("\r\033[K%s", last.c_str());
  fflush(stdout);
  shown = true;
}

void ProgressLine::PrintAbove(const std::string& text) {
  if (enabled && shown) {
    printf("\r\033[K%s\n%s", text.c_str(), last.c_str());
  } else {
    printf("%s\n", text.c_str());
  }
  fflush(stdout);
}

void ProgressLine::Finish() {
  if (enabled && shown) {
    printf("\n");
    fflush(stdout);
  }
  shown = false;
}
