// What the measurements share: owning sets of emulated boxes, waiting until
// a moment on the benchmark's clock, and reading a master nobody serves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/Box.h"
#include "bench/Net.h"

namespace bench {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000000000;

using Boxes = std::vector<std::unique_ptr<Box>>;

// Opens `count` boxes; false (with the reason in *error) if one fails.
bool MakeBoxes(int count, Boxes* boxes, std::string* error);
std::vector<Box*> Pointers(const Boxes& boxes);
// from, from + 1, ..., from + count - 1.
std::vector<size_t> Indexes(size_t from, size_t count);

void SleepUntil(int64_t ns);

// Reads whatever waits on a master nobody else serves. Returns true once
// the slave side has hung up (read fails with EIO).
bool DrainMaster(int fd, std::string* seen);

// Sends `line` (a turn command) on `client` and waits up to 3 s for the box,
// served by `loop`, to see a set-position command; *ms is the time from the
// send to that command's first byte.
bool TurnThrough(BoxLoop& loop, Box& box, LineClient& client,
                 const std::string& line, double* ms);

}  // namespace bench
