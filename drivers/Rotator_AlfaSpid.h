// Driver for Alfa SPID controllers (1200 baud, 8N1), which talk in fixed
// frames: every command is 13 bytes holding NUL bytes (so always written by
// length), every reply 5 bytes: "W", three ASCII digits of the azimuth plus
// 360, and a blank. The status frame is sent every poll period.
#pragma once

#include "rotator/Rotator.h"

class Rotator_AlfaSpid : public Rotator {
 public:
  Rotator_AlfaSpid();
  ~Rotator_AlfaSpid() override;

 protected:
  bool DoInitialize() override;
  void DoRotate(int bearing) override;
  void DoStop() override;
  void DoTimer() override;
  void DoSerial(char c) override;

 private:
  void SendFrame(char digit1, char digit2, char digit3, char command);

  // Parser state, touched only on the serial reader thread. Between calls
  // replyLength is 0..4 and reply[0..replyLength) holds the bytes so far.
  char reply[5] = {0, 0, 0, 0, 0};  // the first four bytes of the frame
  int32_t replyLength = 0;          // bytes stored in reply
};
