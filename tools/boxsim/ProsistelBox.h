// A Prosistel D box. Frames are STX (0x02), the unit letter 'A', a command
// and a carriage return:
//   STX A M CR      ask the position
//   STX A ? CR      ask the status (answered the same way)
//   STX A G nnn CR  turn to nnn; the value 977 means stop
// Both questions are answered "STX A,?,nnn,R CR" (R: ready) or with B
// (busy) while turning; nnn is the azimuth, three digits.
#pragma once

#include <string>
#include <vector>

#include "LineBoxModel.h"

class ProsistelBox : public LineBoxModel {
 public:
  using LineBoxModel::LineBoxModel;

 protected:
  void HandleLine(const std::string& line, std::vector<std::string>& replies) override;
};
