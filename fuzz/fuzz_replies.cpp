// Fuzzes every driver's reply parser: the first byte picks the driver, the
// rest is fed to it one byte at a time, as the serial reader does. There is
// no serial link and no controller, so reports only reach the log and
// lastDirection.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "drivers/Rotator_AlfaSpid.h"
#include "drivers/Rotator_DCU1.h"
#include "drivers/Rotator_ProsistelD.h"
#include "drivers/Rotator_RC2800PA.h"
#include "drivers/Rotator_RC2800PX.h"
#include "drivers/Rotator_RotorEZ.h"
#include "drivers/Rotator_Yaesu.h"

namespace {

template <typename Driver>
struct Probe : Driver {
  void Feed(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) this->DoSerial(static_cast<char>(data[i]));
  }
};

template <typename Driver>
void Run(const uint8_t* data, size_t size) {
  Probe<Driver> probe;
  probe.Feed(data, size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDOUT_FILENO);  // status lines
  // The first bad reply of each probe also goes to standard error: run with
  // -close_fd_mask=2 to silence it (libFuzzer keeps its own reports).
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t which = data[0] % 7;
  ++data;
  --size;
  switch (which) {
    case 0: Run<Rotator_DCU1>(data, size); break;
    case 1: Run<Rotator_RotorEZ>(data, size); break;
    case 2: Run<Rotator_Yaesu>(data, size); break;
    case 3: Run<Rotator_AlfaSpid>(data, size); break;
    case 4: Run<Rotator_RC2800PA>(data, size); break;
    case 5: Run<Rotator_RC2800PX>(data, size); break;
    case 6: Run<Rotator_ProsistelD>(data, size); break;
  }
  return 0;
}
