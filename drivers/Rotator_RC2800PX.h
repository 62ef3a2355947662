// Driver for RC2800 controllers in their PX command set (9600 baud, 8N1):
// "Annn\r" turns, "S\r" stops. No polling: the controller sends its position
// lines ("A=123 S=4 ...") unasked while it turns, and lines that begin with
// "M" are dropped.
#pragma once

#include <string>

#include "rotator/Rotator.h"

class Rotator_RC2800PX : public Rotator {
 public:
  Rotator_RC2800PX();
  ~Rotator_RC2800PX() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoStop() override;
  void DoSerial(char c) override;

 private:
  void ParseLine();

  // Parser state, touched only on the serial reader thread.
  std::string replyLine;  // bytes since the last CR; never over 20 bytes
  int32_t lastSpeed = 0;  // the speed last shown in a speed status line
};
