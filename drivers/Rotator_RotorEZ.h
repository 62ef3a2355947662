// Driver for controllers speaking the Rotor-EZ command set (4800 baud, 8N1),
// a DCU-1 style protocol with position feedback: "AP1nnn;AM1;" turns, ";"
// stops, "AI1;" asks for the bearing every poll period.
#pragma once

#include "rotator/Rotator.h"

class Rotator_RotorEZ : public Rotator {
 public:
  Rotator_RotorEZ();
  ~Rotator_RotorEZ() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoStop() override;
  void DoTimer() override;
  void DoSerial(char c) override;

 private:
  // Parser state, touched only on the serial reader thread. Between calls
  // replyDigits is 0, 1 or 2, so replyValue stays within 0..99.
  int32_t replyValue = 0;   // the number gathered from the reply digits
  int32_t replyDigits = 0;  // digits gathered since the last report or reset
};
