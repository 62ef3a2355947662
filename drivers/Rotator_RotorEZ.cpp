#include "drivers/Rotator_RotorEZ.h"

#include <cstdio>

Rotator_RotorEZ::Rotator_RotorEZ() {
  baudRate = 4800;
}

Rotator_RotorEZ::~Rotator_RotorEZ() { Release(); }

bool Rotator_RotorEZ::DoInitialize() {
  if (timer) timer->Start(pollInterval, false);
  return true;
}

void Rotator_RotorEZ::DoRotate(int bearing) {
  char command[32];
  snprintf(command, sizeof command, "AP1%03d;AM1;", bearing);
  Write(command);
}

void Rotator_RotorEZ::DoStop() { Write(";"); }

void Rotator_RotorEZ::DoTimer() { Write("AI1;"); }

// The reply parser. Replies may arrive a byte at a time and may begin with
// noise. The expected answer to "AI1;" is ";" and three digits: the ";" is
// ignored while no digit is pending, the third digit completes the report,
// and a ";" after one or two digits reports what was gathered. Any other
// byte is reported as bad and discards the digits.
void Rotator_RotorEZ::DoSerial(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if (byte == ';') {
    if (replyDigits == 0) return;
    Direction(replyValue);
  } else if (byte >= '0' && byte <= '9') {
    replyValue = replyValue * 10 + (byte - '0');
    if (++replyDigits < 3) return;
    Direction(replyValue);
  } else {
    Bad(c);
  }
  replyValue = 0;
  replyDigits = 0;
}
