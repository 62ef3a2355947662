#include "ProsistelBox.h"

#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"
#include "common/Common.h"

void ProsistelBox::HandleLine(const std::string& line, std::vector<std::string>& replies) {
  if (line.empty()) return;
  std::string::size_type start = line.rfind('\x02');
  if (start == std::string::npos || start + 1 >= line.size() || line[start + 1] != 'A') {
    BoxLog::Trace("ignored a line that is not a unit A frame: \"" + BoxLog::Escape(line) + "\"");
    return;
  }
  std::string command = line.substr(start + 2);
  if (command == "M" || command == "?") {
    char reply[32];
    snprintf(reply, sizeof reply, "\x02" "A,?,%03d,%c\r", antenna.Azimuth(), antenna.AzimuthMoving() ? 'B' : 'R');
    replies.push_back(reply);
  } else if (command.size() > 1 && command[0] == 'G') {
    int value = ReadInt(command.c_str() + 1);
    if (value == 977) {
      BoxLog::Trace("stop");
      antenna.Stop();
    } else {
      antenna.GoToAzimuth(value);
    }
  } else {
    BoxLog::Trace("unknown Prosistel command \"" + BoxLog::Escape(line) + "\"");
  }
}
