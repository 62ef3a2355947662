// Fuzzes zeva-ctl's reader of a station's state (the JSON of /api/state and
// of each event): whatever the station sends, reading it, telling the
// changes from the last state and summing it up never fails, and a state
// compared with itself tells nothing new but trouble.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/ctl/StationState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  StationState state;
  std::string error;
  if (!StationState::Parse(text, state, error)) {
    if (error.empty()) abort();
    return 0;
  }
  for (const std::string& line : StationState::Changes(&state, state)) {
    (void)line;
    abort();
  }
  (void)StationState::Changes(nullptr, state);
  (void)state.Summary(0);
  (void)state.Summary(INT64_MAX / 2);
  return 0;
}
