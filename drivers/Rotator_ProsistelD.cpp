#include "drivers/Rotator_ProsistelD.h"

#include <cstdio>

#include "common/Common.h"

namespace {
constexpr int kPollMs = 5000;
constexpr int kFrameLength = 7;  // STX A G, three characters, CR
}  // namespace

Rotator_ProsistelD::Rotator_ProsistelD() {
  baudRate = 9600;
}

Rotator_ProsistelD::~Rotator_ProsistelD() { Release(); }

bool Rotator_ProsistelD::DoInitialize() {
  Write("\x02" "AM\r" "\x02" "A?\r", 8);
  if (timer) timer->Start(kPollMs, false);
  return true;
}

// Exactly seven bytes go out: a bearing printed wider than three characters
// (1000 and above, -100 and below) is cut, losing its CR, as the controller
// has always been sent.
void Rotator_ProsistelD::DoRotate(int bearing) {
  char command[16];
  snprintf(command, sizeof command, "\x02" "AG%03d\r", bearing);
  Write(command, kFrameLength);
}

void Rotator_ProsistelD::DoStop() { Write("\x02" "AG977\r", kFrameLength); }

void Rotator_ProsistelD::DoTimer() { Write("\x02" "AM\r", 4); }

// The reply parser: text lines ended by CR, at most 20 bytes (see
// GatherReplyLine); a CR LF pair ends one line.
void Rotator_ProsistelD::DoSerial(char c) {
  if (!GatherReplyLine(replyLine, c)) return;
  ParseLine();
  replyLine.clear();
}

// A position line has "?" alone in field 1 and the bearing in field 2, with
// at least four fields; with two or three it is reported as bad (no text).
// Any other line is not a position reply and is ignored.
void Rotator_ProsistelD::ParseLine() {
  std::vector<std::string> fields = Split(replyLine, ',');
  if (fields.size() < 2 || fields[1] != "?") return;
  if (fields.size() > 3) {
    Direction(ReadInt(fields[2]));
  } else {
    Bad(std::string());
  }
}
