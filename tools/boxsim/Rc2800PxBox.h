// An RC2800 box in its PX command set, which reports without being asked.
// Commands are lines ended by a carriage return:
//   (empty line)  wake-up: answered "MODE PX" CR and one position line
//   Annn          turn to nnn ("MOTOR ON" CR is sent as the move starts)
//   S             stop
// While the azimuth turns the box sends "A=nnn S=s MOVE" CR every 250 ms,
// and "A=nnn S=s STOP" CR once when it stops or arrives (nnn: azimuth,
// three digits; s: speed in degrees per second). Lines starting with "M"
// are chatter that the daemon ignores.
#pragma once

#include <string>
#include <vector>

#include "LineBoxModel.h"

class Rc2800PxBox : public LineBoxModel {
 public:
  using LineBoxModel::LineBoxModel;

  void Tick(double now, std::vector<std::string>& replies) override;

 protected:
  void HandleLine(const std::string& line, std::vector<std::string>& replies) override;

 private:
  static constexpr double kReportInterval = 0.25;
  std::string Position(bool moving) const;

  bool wasMoving = false;
  double nextReport = 0;
};
