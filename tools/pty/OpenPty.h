// The one way the project's tools and tests open a pseudo-terminal: the
// emulator, the test boxes, the benchmark and the fuzz targets keep the
// master side and hand the slave's path to the program that plays the host.
#pragma once

#include <string>

namespace zeva {

// Opens a new pseudo-terminal master: read-write, not the controlling
// terminal, non-blocking and close-on-exec. Returns its descriptor and sets
// `slavePath`; on failure returns -1 with errno set and `what` naming the
// call that failed.
int OpenPtyMaster(std::string& slavePath, const char** what = nullptr);

}  // namespace zeva
