// One event from a serial link to its owner: a received byte, a failure, or
// the end of the link. Passed by const reference to the link's callback.
#pragma once

#include <cstdint>

struct SerialEvent {
  enum Type : int32_t { Data = 0, Error = 2, Closed = 3 };

  Type type = Data;
  char data = 0;   // the received byte (Data only)
  int error = 0;   // errno of the failure (Error only); 0 for end of file
};
