// Base of the boxes whose commands are text lines ended by a carriage
// return (Yaesu, RC2800 PA and PX, Prosistel D): gathers bytes into a line,
// drops line feeds, and hands each complete line to HandleLine.
#pragma once

#include <string>
#include <vector>

#include "BoxModel.h"

class LineBoxModel : public BoxModel {
 public:
  using BoxModel::BoxModel;

  void Receive(char byte, std::vector<std::string>& replies) override;

 protected:
  // A complete line without its carriage return.
  virtual void HandleLine(const std::string& line, std::vector<std::string>& replies) = 0;

 private:
  static constexpr size_t kMaxLine = 256;
  std::string line;
};
