// Driver for RC2800 controllers in their PA command set (9600 baud, 8N1):
// "U\r" polls (at once and every 5 s, whatever the configured period), the
// bare bearing "nnn\r" turns, "S\r" stops and "N\r" releases the controller
// when the rotator is destroyed. Reply lines carry the azimuth and a speed in
// blank-separated fields.
#pragma once

#include <string>

#include "rotator/Rotator.h"

class Rotator_RC2800PA : public Rotator {
 public:
  Rotator_RC2800PA();
  ~Rotator_RC2800PA() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoStop() override;
  void DoTimer() override;
  void DoSerial(char c) override;

 private:
  void ParseLine();

  // Parser state, touched only on the serial reader thread.
  std::string replyLine;  // bytes since the last CR; never over 20 bytes
  int32_t lastSpeed = 0;  // the speed last shown in a speed status line
};
