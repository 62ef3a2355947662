#include "DcuBox.h"

#include <cstdio>

#include "Antenna.h"
#include "BoxLog.h"
#include "common/Common.h"

DcuBox::DcuBox(Antenna& antenna, bool rotorEz) : BoxModel(antenna), rotorEz(rotorEz) {}

void DcuBox::Receive(char byte, std::vector<std::string>& replies) {
  if (byte == ';' || byte == '\r' || byte == '\n') {
    std::string complete;
    complete.swap(word);
    HandleWord(complete, byte, replies);
    afterLineEnd = (byte != ';');
    return;
  }
  afterLineEnd = false;
  word += byte;
  if (word.size() > kMaxWord) {
    BoxLog::Trace("dropped an over-long command \"" + BoxLog::Escape(word) + "\"");
    word.clear();
  }
}

void DcuBox::HandleWord(const std::string& text, char end, std::vector<std::string>& replies) {
  if (text.empty()) {
    // Only a semicolon on its own is the stop command; bare line ends are
    // noise, and so is the semicolon some programs send after "AP1nnn\r".
    if (end == ';' && !afterLineEnd) {
      BoxLog::Trace("stop");
      antenna.Stop();
    }
    return;
  }
  if (text.compare(0, 3, "AP1") == 0 && text.size() > 3) {
    target = ReadInt(text.c_str() + 3);
    haveTarget = true;
    BoxLog::Trace("target set to " + std::to_string(target));
    if (end == '\r') antenna.GoToAzimuth(target);
    return;
  }
  if (text == "AM1") {
    if (haveTarget) {
      antenna.GoToAzimuth(target);
    } else {
      BoxLog::Trace("AM1 without a target: nothing to do");
    }
    return;
  }
  if (text == "AI1") {
    char reply[16];
    snprintf(reply, sizeof reply, ";%03d", antenna.Azimuth());
    replies.push_back(reply);
    return;
  }
  BoxLog::Trace(std::string("ignored unknown ") + (rotorEz ? "Rotor-EZ" : "DCU-1") + " command \"" +
                BoxLog::Escape(text) + "\"");
}
