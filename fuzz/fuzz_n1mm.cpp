// Fuzzes the contest logger front's datagram parser: any bytes from the
// network either are refused with a reason or become a command whose rotor
// name has no blank at either end and whose numbers are finite degrees; the
// name's matching form is stable, and a heading datagram for any bearing
// ends in a whole number of tenths from 0 to 3590.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/StationOptions.h"
#include "n1mm/N1mmDatagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  N1mmCommand command;
  std::string error;
  if (!N1mmDatagram::Parse(reinterpret_cast<const char*>(data), size, command, error)) {
    if (error.empty()) abort();
    return 0;
  }
  const std::string& rotor = command.rotor;
  if (rotor.empty() || rotor.find_first_of(" \t\r\n") == 0 ||
      rotor.find_last_of(" \t\r\n") == rotor.size() - 1) {
    abort();
  }
  if (!std::isfinite(command.azimuth) || !std::isfinite(command.offset) ||
      std::fabs(command.azimuth) > 1000 || std::fabs(command.offset) > 1000) {
    abort();
  }
  const std::string key = RotorNameKey(rotor);
  if (key.empty() || RotorNameKey(key) != key) abort();
  const std::string heading = N1mmDatagram::Heading(rotor, static_cast<int>(command.azimuth));
  const long tenths = strtol(heading.c_str() + rotor.size() + 3, nullptr, 10);
  if (heading.compare(rotor.size(), 3, " @ ") != 0 || tenths < 0 || tenths > 3590 || tenths % 10 != 0) {
    abort();
  }
  return 0;
}
