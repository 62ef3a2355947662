// Driver for controllers speaking the Yaesu GS-232 command set (9600 baud,
// 8N1): "Mnnn\r" turns, "S\r" stops, "C\r" asks for the azimuth every poll
// period; replies such as "AZ=123" or "+0123" end with CR and/or LF.
#pragma once

#include "rotator/Rotator.h"

class Rotator_Yaesu : public Rotator {
 public:
  Rotator_Yaesu();
  ~Rotator_Yaesu() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoStop() override;
  void DoTimer() override;
  void DoSerial(char c) override;

 private:
  // Parser state, touched only on the serial reader thread. replyHasDigits
  // is false whenever replyValue has just been reset.
  int32_t replyValue = 0;       // the number gathered from the reply digits
  bool replyHasDigits = false;  // a digit arrived since the last report/reset
};
