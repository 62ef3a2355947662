#include "net/LineFramer.h"

#include <cstring>

#include "common/Common.h"

void LineFramer::Feed(const char* data, size_t size,
                      const std::function<void(const std::string&)>& onLine) {
  while (size > 0) {
    const char* cr = static_cast<const char*>(memchr(data, '\r', size));
    const size_t take = cr ? static_cast<size_t>(cr - data) : size;
    if (!discarding) {
      pending.append(data, take);
      if (pending.size() > maxPending) {
        LogMessage(
            "Discarding client text of more than %zu bytes without a "
            "carriage return",
            maxPending);
        pending.clear();
        pending.shrink_to_fit();
        discarding = true;
      }
    }
    if (!cr) return;
    data = cr + 1;
    size -= take + 1;
    if (discarding) {
      discarding = false;  // the over-long line ends here
      continue;
    }
    std::string line;
    line.swap(pending);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && onLine) onLine(line);
  }
}
