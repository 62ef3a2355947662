// A minimal driver for testing the rotator base: it records every hook call,
// lets the test choose its serial parameters and whether initialisation
// succeeds, and exposes the base's protected members.
#pragma once

#include <string>

#include "rotator/Rotator.h"
#include "tests/core/CoreTestSupport.h"

namespace core_test {

class ProbeRotator : public Rotator {
 public:
  ProbeRotator(int baud = 9600, int data = 8, int stop = 1) {
    baudRate = baud;
    dataBits = data;
    stopBits = stop;
  }
  ~ProbeRotator() override { Release(); }

  // What DoInitialize does: succeed or fail, and optionally arm the timer.
  bool initializeResult = true;
  int armTimerMs = 0;
  bool armOneShot = true;

  Recorder<std::string> hooks;  // "init", "rotate N", "stop", "timer"
  Recorder<char> received;      // bytes handed to DoSerial

  using Rotator::badReported;
  using Rotator::id;
  using Rotator::lastDirection;
  using Rotator::pollInterval;
  using Rotator::port;
  using Rotator::serial;
  using Rotator::timer;

 protected:
  bool DoInitialize() override {
    hooks.Add("init");
    if (armTimerMs != 0 && timer) timer->Start(armTimerMs, armOneShot);
    return initializeResult;
  }
  void DoRotate(int bearing) override {
    hooks.Add("rotate " + std::to_string(bearing));
  }
  void DoStop() override { hooks.Add("stop"); }
  void DoTimer() override { hooks.Add("timer"); }
  void DoSerial(char c) override { received.Add(c); }
};

}  // namespace core_test
