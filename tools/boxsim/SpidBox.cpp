#include "SpidBox.h"

#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"

void SpidBox::Receive(char byte, std::vector<std::string>& replies) {
  if (frame.empty() && byte != 'W') {
    BoxLog::Trace("skipped a byte outside a frame: " + BoxLog::Escape(std::string(1, byte)));
    return;
  }
  frame += byte;
  if (frame.size() < kFrameLength) return;
  if (static_cast<unsigned char>(frame.back()) != 0x20) {
    BoxLog::Trace("dropped a frame without its end byte: " + BoxLog::Escape(frame));
    // Hunt for the next possible frame start inside what was gathered.
    std::string::size_type next = frame.find('W', 1);
    frame = next == std::string::npos ? std::string() : frame.substr(next);
    return;
  }
  HandleFrame(replies);
  frame.clear();
}

void SpidBox::HandleFrame(std::vector<std::string>& replies) {
  unsigned char command = static_cast<unsigned char>(frame[11]);
  switch (command) {
    case 0x2F: {
      bool digits = true;
      for (int i = 1; i <= 3; ++i) digits = digits && frame[i] >= '0' && frame[i] <= '9';
      if (!digits) {
        BoxLog::Trace("set-position frame without digits: " + BoxLog::Escape(frame));
        return;
      }
      int value = (frame[1] - '0') * 100 + (frame[2] - '0') * 10 + (frame[3] - '0');
      antenna.GoToAzimuth(value - 360);
      return;
    }
    case 0x0F:
      BoxLog::Trace("stop");
      antenna.Stop();
      replies.push_back(Status());
      return;
    case 0x1F:
      replies.push_back(Status());
      return;
    default:
      BoxLog::Trace("unknown SPID command byte in " + BoxLog::Escape(frame));
  }
}

std::string SpidBox::Status() const {
  char text[16];
  snprintf(text, sizeof text, "W%03d ", antenna.Azimuth() + 360);
  return text;
}
