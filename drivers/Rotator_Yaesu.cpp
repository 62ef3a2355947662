#include "drivers/Rotator_Yaesu.h"

#include <climits>
#include <cstdio>

Rotator_Yaesu::Rotator_Yaesu() {
  baudRate = 9600;
}

Rotator_Yaesu::~Rotator_Yaesu() { Release(); }

bool Rotator_Yaesu::DoInitialize() {
  if (timer) timer->Start(pollInterval, false);
  return true;
}

void Rotator_Yaesu::DoRotate(int bearing) {
  char command[16];
  snprintf(command, sizeof command, "M%03d\r", bearing);
  Write(command);
}

void Rotator_Yaesu::DoStop() { Write("S\r"); }

void Rotator_Yaesu::DoTimer() { Write("C\r"); }

// The reply parser. Replies may arrive a byte at a time. The marker
// characters "+", "=", "A" and "Z" are skipped wherever they stand, digits
// gather a number, and the first CR or LF after a digit reports it (so the
// second byte of a CR LF pair is harmless). Any other byte is reported as bad
// and discards the number. A run of digits beyond the 32-bit range is capped
// at INT_MAX rather than overflowing.
void Rotator_Yaesu::DoSerial(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if (byte == '+' || byte == '=' || byte == 'A' || byte == 'Z') return;
  if (byte == '\r' || byte == '\n') {
    if (!replyHasDigits) return;
    Direction(replyValue);
  } else if (byte >= '0' && byte <= '9') {
    const int digit = byte - '0';
    replyValue = replyValue > (INT_MAX - digit) / 10 ? INT_MAX
                                                     : replyValue * 10 + digit;
    replyHasDigits = true;
    return;
  } else {
    Bad(c);
  }
  replyValue = 0;
  replyHasDigits = false;
}
