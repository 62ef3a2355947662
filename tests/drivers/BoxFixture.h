// Shared fixtures for the driver tests.
//
// Two ways to exercise a driver:
//   - ParserTest<Driver>: a ParserProbe (the driver with its protected
//     DoSerial reachable) is fed reply bytes directly, with no serial link,
//     no timer and no controller. The probe is named kProbePort, so the
//     "Bad response" lines end with that name; bearings are read back from
//     lastDirection. Used for the reply parsers' many edge cases.
//   - BoxFixture: the real thing end to end. An in-process RotatorController
//     listens on TCP port 13020 (tests using it hold the port lock), a
//     TcpClient plays the network client and a pseudo-terminal plays the
//     controller box: what the driver writes is read from the pty master,
//     replies are written to it, and direction lines arrive on the client.
//
// Both capture the log for the whole test (testing_support::LogCapture) and
// print it when a test fails.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <climits>
#include <cstdint>
#include <string>

#include "tests/support/ControllerFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pty.h"

namespace driver_test {

// The device name a ParserProbe reports in its status lines.
extern const char* const kProbePort;
// lastDirection before any bearing has been reported.
constexpr int32_t kNoBearing = INT32_MIN;

// "57 33 36 30 00" for failure messages about binary frames.
std::string Hex(const std::string& bytes);

// A driver whose reply parser can be fed from the test thread.
template <class Driver>
class ParserProbe : public Driver {
 public:
  ParserProbe() {
    this->port = kProbePort;
    this->id = 1;
  }
  void Feed(const std::string& bytes) {
    for (char c : bytes) this->DoSerial(c);
  }
  int32_t LastDirection() const { return this->lastDirection; }
};

template <class Driver>
class ParserTest : public ::testing::Test {
 protected:
  void Feed(const std::string& bytes) { probe.Feed(bytes); }
  int32_t Bearing() const { return probe.LastDirection(); }
  // The status line of Rotator::Bad for the probe, with its newline.
  static std::string BadLine(const std::string& response) {
    if (response.empty())
      return std::string("Status: Bad response from rotator on ") +
             kProbePort + "\n";
    return "Status: Bad response \"" + response + "\" from rotator on " +
           kProbePort + "\n";
  }
  static std::string SpeedLine(int speed) {
    return std::string("Status: Rotator ") + kProbePort + " Speed " +
           std::to_string(speed) + "\n";
  }

  testing_support::LogCapture log;  // first: outlives the probe
  ParserProbe<Driver> probe;
};

// A controller box on a pseudo-terminal, driven through the daemon's own
// controller and command port.
class BoxFixture : public testing_support::ControllerFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // CONFIGURE <number> <pty> <model> <pollMs>, then waits for the
  // "<pty> created" status line.
  ::testing::AssertionResult Configure(int model, int pollMs, int number = 1);
  void Rotate(int bearing, int number = 1);
  void Stop(int number = 1);
  // The daemon side: what RotatorController::Stop does at a stop signal.
  void StopController();

  // The next bytes written to the device are exactly `bytes`.
  ::testing::AssertionResult ExpectSent(const std::string& bytes,
                                        int timeoutMs = 2000);
  // Nothing is written to the device for `ms`.
  ::testing::AssertionResult ExpectNothingSent(int ms);
  // Everything written to the device within `ms`.
  std::string SentWithin(int ms);
  // The box answers.
  void Reply(const std::string& bytes);

  // The next line the client receives is `line` (given without its CR).
  ::testing::AssertionResult ExpectDirection(const std::string& line,
                                             int timeoutMs = 2000);
  ::testing::AssertionResult ExpectNoDirection(int ms);
  // Waits for a whole line on the daemon's standard output.
  ::testing::AssertionResult ExpectLog(const std::string& line,
                                       int timeoutMs = 2000);

  const std::string& Device() const { return pty.SlavePath(); }

  testing_support::Pty pty;

 private:
  std::string unread;  // device bytes read but not yet matched
};

}  // namespace driver_test
