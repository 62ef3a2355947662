#include "Rc2800PaBox.h"

#include <cmath>
#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"
#include "common/Common.h"

void Rc2800PaBox::HandleLine(const std::string& line, std::vector<std::string>& replies) {
  if (line.empty()) return;
  if (line == "U") {
    int speed = static_cast<int>(std::lround(antenna.Speed()));
    if (speed > 999) speed = 999;
    char reply[32];
    snprintf(reply, sizeof reply, "A A=%03d S=%d %s\r", antenna.Azimuth(), speed,
             antenna.AzimuthMoving() ? "MOVE" : "STOP");
    replies.push_back(reply);
  } else if (line == "S") {
    BoxLog::Trace("stop");
    antenna.Stop();
  } else if (line == "N") {
    BoxLog::Trace("released by the daemon (N)");
    MarkFreshStart();
  } else if ((line[0] >= '0' && line[0] <= '9') || line[0] == '-') {
    antenna.GoToAzimuth(ReadInt(line));
  } else {
    BoxLog::Trace("unknown RC2800 PA command \"" + BoxLog::Escape(line) + "\"");
  }
}
