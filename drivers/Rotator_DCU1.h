// Driver for controllers speaking the DCU-1 command set (4800 baud, 8N1).
// A turn is two commands: the set position "AP1nnn;" at once, and the
// execute "AM1;" 200 ms later from the rotator's timer. No position feedback:
// no poll, no reply parser, no stop command.
#pragma once

#include "rotator/Rotator.h"

class Rotator_DCU1 : public Rotator {
 public:
  Rotator_DCU1();
  ~Rotator_DCU1() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoTimer() override;
};
