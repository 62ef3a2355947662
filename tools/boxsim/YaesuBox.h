// A Yaesu GS-232 style box (azimuth and elevation). Commands are lines
// ended by a carriage return, upper or lower case:
//   Mnnn      turn the azimuth to nnn
//   Waaa eee  turn azimuth and elevation
//   C         answered "AZ=nnn" CR LF
//   C2        answered "AZ=aaa  EL=eee" CR LF (two blanks)
//   B         answered "EL=eee" CR LF
//   S         stop both axes; A stops the azimuth, E the elevation
//   R / L     turn clockwise / anticlockwise to the end stop
// Anything else is answered "?>" CR LF, as the real box does.
#pragma once

#include <string>
#include <vector>

#include "LineBoxModel.h"

class YaesuBox : public LineBoxModel {
 public:
  using LineBoxModel::LineBoxModel;

 protected:
  void HandleLine(const std::string& line, std::vector<std::string>& replies) override;
};
