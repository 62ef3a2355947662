#include "YaesuBox.h"

#include <cctype>
#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"
#include "common/Common.h"

void YaesuBox::HandleLine(const std::string& raw, std::vector<std::string>& replies) {
  std::string line;
  for (char c : raw) line += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.empty()) return;

  char reply[48];
  if (line == "C") {
    snprintf(reply, sizeof reply, "AZ=%03d\r\n", antenna.Azimuth());
    replies.push_back(reply);
  } else if (line == "C2") {
    snprintf(reply, sizeof reply, "AZ=%03d  EL=%03d\r\n", antenna.Azimuth(), antenna.Elevation());
    replies.push_back(reply);
  } else if (line == "B") {
    snprintf(reply, sizeof reply, "EL=%03d\r\n", antenna.Elevation());
    replies.push_back(reply);
  } else if (line[0] == 'M' && line.size() > 1) {
    antenna.GoToAzimuth(ReadInt(line.c_str() + 1));
  } else if (line[0] == 'W' && line.size() > 1) {
    std::vector<std::string> values = Split(line.substr(1), ' ');
    std::vector<int> numbers;
    for (const std::string& value : values) {
      if (!value.empty()) numbers.push_back(ReadInt(value));
    }
    if (numbers.size() != 2) {
      replies.push_back("?>\r\n");
      return;
    }
    antenna.GoToAzimuth(numbers[0]);
    antenna.GoToElevation(numbers[1]);
  } else if (line == "S") {
    BoxLog::Trace("stop");
    antenna.Stop();
  } else if (line == "A") {
    antenna.StopAzimuth();
  } else if (line == "E") {
    antenna.StopElevation();
  } else if (line == "R") {
    antenna.GoToAzimuth(359);
  } else if (line == "L") {
    antenna.GoToAzimuth(0);
  } else {
    BoxLog::Trace("unknown Yaesu command \"" + BoxLog::Escape(raw) + "\"");
    replies.push_back("?>\r\n");
  }
}
