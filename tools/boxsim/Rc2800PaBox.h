// An RC2800 box in its PA command set. Commands are lines ended by a
// carriage return:
//   U     poll, answered "A A=nnn S=s MOVE" or "... STOP" and a CR, where
//         nnn is the azimuth (three digits) and s the speed in degrees per
//         second; the line is never longer than 20 bytes
//   nnn   (a bare number) turn to nnn
//   S     stop
//   N     release the box (the driver's farewell); only logged
#pragma once

#include <string>
#include <vector>

#include "LineBoxModel.h"

class Rc2800PaBox : public LineBoxModel {
 public:
  using LineBoxModel::LineBoxModel;

 protected:
  void HandleLine(const std::string& line, std::vector<std::string>& replies) override;
};
