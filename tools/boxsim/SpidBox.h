// An Alfa SPID box, which speaks in binary frames. Commands are 13 bytes:
//   'W', three digit bytes of (bearing + 360), seven NUL bytes, a command
//   byte (0x2F set position, 0x0F stop, 0x1F status) and 0x20.
// Status and stop are answered with the 5-byte frame 'W', three ASCII
// digits of (azimuth + 360), 0x20. A frame that does not end in 0x20 is
// dropped and the box hunts for the next 'W'.
#pragma once

#include <string>
#include <vector>

#include "BoxModel.h"

class SpidBox : public BoxModel {
 public:
  using BoxModel::BoxModel;

  void Receive(char byte, std::vector<std::string>& replies) override;

 private:
  static constexpr size_t kFrameLength = 13;
  void HandleFrame(std::vector<std::string>& replies);
  std::string Status() const;

  std::string frame;
};
