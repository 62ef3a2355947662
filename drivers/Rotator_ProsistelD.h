// Driver for Prosistel D controllers (9600 baud, 8N1). Every frame sent is
// STX, "A", a command and CR: "M" asks for the position (every 5 s), "?"
// joins it at start-up, "Gnnn" turns and "G977" stops. Position replies are
// comma-separated lines such as STX "A,?,123,R" CR.
#pragma once

#include <string>

#include "rotator/Rotator.h"

class Rotator_ProsistelD : public Rotator {
 public:
  Rotator_ProsistelD();
  ~Rotator_ProsistelD() override;

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
};
