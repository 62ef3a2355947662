#include "drivers/Rotator_RC2800PA.h"

#include <cstdio>

#include "common/Common.h"

namespace {
constexpr int kPollMs = 5000;
}  // namespace

Rotator_RC2800PA::Rotator_RC2800PA() {
  baudRate = 9600;
}

Rotator_RC2800PA::~Rotator_RC2800PA() {
  Write("N\r");  // releases the controller while the link is open
  Release();
}

bool Rotator_RC2800PA::DoInitialize() {
  Write("U\r");
  if (timer) timer->Start(kPollMs, false);
  return true;
}

void Rotator_RC2800PA::DoRotate(int bearing) {
  char command[16];
  snprintf(command, sizeof command, "%03d\r", bearing);
  Write(command);
}

void Rotator_RC2800PA::DoStop() { Write("S\r"); }

void Rotator_RC2800PA::DoTimer() { Write("U\r"); }

// The reply parser: text lines ended by CR, at most 20 bytes (see
// GatherReplyLine); a CR LF pair ends one line.
void Rotator_RC2800PA::DoSerial(char c) {
  if (!GatherReplyLine(replyLine, c)) return;
  ParseLine();
  replyLine.clear();
}

// A well-formed line: field 1 "A", fields 2 and 3 of three or more
// characters whose first two are skipped (bearing, speed), and a fourth
// field, which may be empty. A malformed line is reported without its text.
void Rotator_RC2800PA::ParseLine() {
  std::vector<std::string> fields = Split(replyLine, ' ');
  if (fields.size() < 4 || fields[0] != "A" || fields[1].size() < 3 ||
      fields[2].size() < 3) {
    Bad(std::string());
    return;
  }
  Direction(ReadInt(fields[1].c_str() + 2));
  const int speed = ReadInt(fields[2].c_str() + 2);
  if (speed != lastSpeed) {
    char text[256];
    snprintf(text, sizeof text, "Rotator %s Speed %d", port.c_str(), speed);
    ShowStatus(text);
    lastSpeed = speed;
  }
}
