// Rotator is the base class of every controller driver. One object stands for
// one controller box on one serial port. The base owns the box's serial link
// and its poll timer, routes their callbacks to the driver's hooks, and offers
// drivers four services: Write bytes to the box, report a bearing to the
// client (Direction), report a malformed reply (Bad), write a status line.
//
// Ownership: the registry (RotatorMgr) owns every rotator; the rotator owns
// its Serial and its RotatorTimer. The callbacks given to them capture only
// the rotator's address.
//
// Threads:
//   - client reader thread: construction, Initialize, Rotate, Stop (hence
//     DoInitialize, DoRotate, DoStop); destruction runs on whichever thread
//     clears the registry;
//   - serial reader thread: OnSerial, hence DoSerial, Direction, Bad;
//   - timer thread: OnTimer, hence DoTimer.
// The data members below are grouped by which thread sets or touches them.
//
// Writing a driver: derive from Rotator, set baudRate in the constructor (and
// dataBits/stopBits where they differ from 8 and 1), override the hooks you
// need, call Release() first thing in your destructor (after any farewell
// Write), and add the class to the model table in command/RotatorMgr.cpp.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "rotator/RotatorTimer.h"
#include "serial/Serial.h"

class Rotator {
 public:
  Rotator() = default;
  virtual ~Rotator();
  Rotator(const Rotator&) = delete;
  Rotator& operator=(const Rotator&) = delete;

  // Opens the link, makes the timer and runs DoInitialize. Returns true when
  // the rotator is ready; on false the link and timer are already released
  // and the reason has been reported. type is accepted and not used.
  bool Initialize(int id, const std::string& port, int type, int pollInterval);

  void Rotate(int bearing);  // "%s rotate to %d", then DoRotate
  void Stop();               // "%s stop", then DoStop

  void OnTimer();
  void OnSerial(const SerialEvent& event);

  // The status rule: "Status: %s" on the log, through the controller when
  // there is one. Never sent to the client.
  void ShowStatus(const std::string& text);
  // Sends "%d %03d\r" (id, bearing) to the client unless bearing equals the
  // last one sent.
  void Direction(int bearing);
  void Write(const std::string& data);
  void Write(const char* text);  // up to its terminating NUL
  void Write(const char* data, int length);
  void Bad(const std::string& response);
  void Bad(char c);

  // Line gathering shared by the drivers whose replies are text lines ended
  // by a carriage return: a line feed is dropped, any other byte is added to
  // `line`, and a line that reaches 21 bytes is reported as bad with those
  // bytes and emptied (its remaining bytes start a new line). Returns true
  // when `c` is the carriage return that completes `line`; the caller parses
  // it and empties it.
  bool GatherReplyLine(std::string& line, char c);

  int Id() const { return id; }
  const std::string& Port() const { return port; }

 protected:
  virtual bool DoInitialize();
  virtual void DoRotate(int bearing);
  virtual void DoStop();
  virtual void DoTimer();
  virtual void DoSerial(char c);

  // Stops the timer (waiting for a running callback) and then closes the
  // link (joining the reader), so that no hook runs afterwards. Drivers call
  // it at the top of their destructor, before their own members go; the base
  // destructor calls it again, which then does nothing.
  void Release();

  // Set by the driver's constructor, constant afterwards.
  int32_t baudRate = 9600;
  int32_t dataBits = 8;
  int32_t stopBits = 1;

  // Set by Initialize on the client reader thread, each before the serial
  // reader and timer threads that read it start; only read while they run.
  // Release resets the two pointers once both threads have ended.
  std::string port;
  int32_t pollInterval = 0;
  int32_t id = 0;
  std::unique_ptr<Serial> serial;
  std::unique_ptr<RotatorTimer> timer;

  // Touched only by the serial reader thread (DoSerial, Direction, Bad).
  int32_t lastDirection = INT32_MIN;
  bool badReported = false;

  // Nothing here is guarded by a mutex: Serial and RotatorTimer lock their
  // own state, and serial writes from the client reader and timer threads
  // are not serialised.
};
