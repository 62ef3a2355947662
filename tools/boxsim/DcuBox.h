// The DCU-1 and Rotor-EZ boxes, which share one command set of
// semicolon-ended words:
//   AP1nnn;  set the target bearing (the antenna does not move yet)
//   AM1;     turn to the target set last
//   AP1nnn<CR>  set the target and turn at once
//   ;        (a lone semicolon) stop, except right after a line end
//   AI1;     ask the bearing, answered ";nnn" (three digits, no line end)
// A real DCU-1 has no position feedback; this one answers AI1; all the same,
// which a DCU-1 driver never asks.
#pragma once

#include <string>
#include <vector>

#include "BoxModel.h"

class DcuBox : public BoxModel {
 public:
  DcuBox(Antenna& antenna, bool rotorEz);

  void Receive(char byte, std::vector<std::string>& replies) override;

 private:
  void HandleWord(const std::string& word, char end, std::vector<std::string>& replies);

  static constexpr size_t kMaxWord = 64;
  bool rotorEz;
  std::string word;
  bool afterLineEnd = false;
  bool haveTarget = false;
  int target = 0;
};
