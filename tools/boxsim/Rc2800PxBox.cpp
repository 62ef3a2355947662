#include "Rc2800PxBox.h"

#include <cmath>
#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"
#include "common/Common.h"

void Rc2800PxBox::HandleLine(const std::string& line, std::vector<std::string>& replies) {
  if (line.empty()) {
    BoxLog::Trace("wake-up");
    MarkFreshStart();
    replies.push_back("MODE PX\r");
    replies.push_back(Position(antenna.AzimuthMoving()));
  } else if (line[0] == 'A' && line.size() > 1) {
    if (!antenna.AzimuthMoving()) replies.push_back("MOTOR ON\r");
    antenna.GoToAzimuth(ReadInt(line.c_str() + 1));
  } else if (line == "S") {
    BoxLog::Trace("stop");
    antenna.Stop();
    // Tick() sends the final line when a move ends; a stop while idle still
    // gets one line so the sender learns where the antenna is.
    if (!wasMoving) replies.push_back(Position(false));
  } else {
    BoxLog::Trace("unknown RC2800 PX command \"" + BoxLog::Escape(line) + "\"");
  }
}

void Rc2800PxBox::Tick(double now, std::vector<std::string>& replies) {
  bool moving = antenna.AzimuthMoving();
  if (moving) {
    if (!wasMoving || now >= nextReport) {
      replies.push_back(Position(true));
      nextReport = now + kReportInterval;
    }
  } else if (wasMoving) {
    replies.push_back(Position(false));
  }
  wasMoving = moving;
}

std::string Rc2800PxBox::Position(bool moving) const {
  int speed = static_cast<int>(std::lround(antenna.Speed()));
  if (speed > 999) speed = 999;
  char text[32];
  snprintf(text, sizeof text, "A=%03d S=%d %s\r", antenna.Azimuth(), speed, moving ? "MOVE" : "STOP");
  return text;
}
