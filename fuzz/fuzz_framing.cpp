// Fuzzes the client line framing: random bytes cut at random points must
// give the same lines as the whole input fed at once, and nothing crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/LineFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t step = 1 + data[0] % 17;  // how the stream is cut
  const char* text = reinterpret_cast<const char*>(data + 1);
  size -= 1;

  std::vector<std::string> whole, pieces;
  LineFramer a(64), b(64);
  a.Feed(text, size, [&](const std::string& l) { whole.push_back(l); });
  for (size_t at = 0; at < size; at += step)
    b.Feed(text + at, std::min(step, size - at),
           [&](const std::string& l) { pieces.push_back(l); });

  // Whether an over-long line was dropped can depend on where the stream is
  // cut only through the bound; lines themselves never hold a CR, never end
  // in an LF that came before their CR, and are never empty.
  for (const auto& line : whole)
    if (line.empty() || line.find('\r') != std::string::npos || line.size() > 64)
      abort();
  if (whole != pieces) abort();
  if (a.PendingSize() > 64 || b.PendingSize() > 64) abort();
  return 0;
}
