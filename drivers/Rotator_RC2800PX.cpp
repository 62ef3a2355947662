#include "drivers/Rotator_RC2800PX.h"

#include <cstdio>

#include "common/Common.h"

Rotator_RC2800PX::Rotator_RC2800PX() {
  baudRate = 9600;
}

Rotator_RC2800PX::~Rotator_RC2800PX() { Release(); }

bool Rotator_RC2800PX::DoInitialize() {
  Write("\r");
  return true;  // the timer stays disarmed: this model is never polled
}

void Rotator_RC2800PX::DoRotate(int bearing) {
  char command[16];
  snprintf(command, sizeof command, "A%d\r", bearing);
  Write(command);
  LogMessage("Sending %d to RC2800PX", bearing);
}

void Rotator_RC2800PX::DoStop() { Write("S\r"); }

// The reply parser: text lines ended by CR, at most 20 bytes (see
// GatherReplyLine); a CR LF pair ends one line.
void Rotator_RC2800PX::DoSerial(char c) {
  if (!GatherReplyLine(replyLine, c)) return;
  ParseLine();
  replyLine.clear();
}

// Lines beginning with "M" are the controller's own chatter: dropped without
// a word. A well-formed line has "A=" and the bearing, "S=" and the speed,
// and a third field, which may be empty. A malformed line is reported with
// its text.
void Rotator_RC2800PX::ParseLine() {
  if (!replyLine.empty() && replyLine[0] == 'M') return;
  std::vector<std::string> fields = Split(replyLine, ' ');
  if (fields.size() < 3 || fields[0].size() < 3 ||
      fields[0].compare(0, 2, "A=") != 0 || fields[1].size() < 3 ||
      fields[1].compare(0, 2, "S=") != 0) {
    Bad(replyLine);
    return;
  }
  Direction(ReadInt(fields[0].c_str() + 2));
  const int speed = ReadInt(fields[1].c_str() + 2);
  if (speed != lastSpeed) {
    char text[256];
    snprintf(text, sizeof text, "Rotator %s Speed %d", port.c_str(), speed);
    ShowStatus(text);
    lastSpeed = speed;
  }
}
