// Serial is the link between one rotator and the terminal device its
// controller box hangs on: it opens the device in raw mode at a given speed
// and character format, runs one reader thread that hands every received byte
// to a callback as a SerialEvent, writes command bytes, and reports every
// failure twice: as a "%s %s: %s" line on the error log and as an Error event.
//
// Ownership: each Rotator owns exactly one Serial through a unique pointer.
// The callback captures only the owner's address; the owner must outlive the
// link (it does: the owner destroys the link).
//
// The reader waits for input with poll() and no timeout, so an idle link
// never wakes its thread; Close ends the wait at once through a wake pipe,
// made by the first Open after the device is opened (a link whose pipe
// cannot be made does not open: "Cannot open", as when the device itself
// cannot be opened). The device is
// non-blocking after Open: a
// write that the device does not take within one second fails ("Unable to
// write to serial port", EAGAIN) instead of holding its thread for ever.
//
// Threads: Open, Close and destruction come from one thread at a time (the
// client reader thread or the stopping thread), never from the reader thread.
// Write may be called from any thread; writes to one link are serialised, so
// two frames never interleave on the wire. The callback runs on the reader
// thread for received bytes and read failures, and on the writing thread for
// write failures.
#pragma once

#include <termios.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/WakePipe.h"
#include "serial/SerialEvent.h"

class Serial {
 public:
  Serial() = default;
  ~Serial();
  Serial(const Serial&) = delete;
  Serial& operator=(const Serial&) = delete;

  // (Re)opens the link; a link that is open is closed first. dataBits 7
  // selects seven data bits, anything else eight; stopBits 2 selects two stop
  // bits, anything else one; a speed not in the standard list gives 9600.
  bool Open(const std::string& port, int baudRate, int dataBits, int stopBits,
            std::function<void(const SerialEvent&)> callback);

  // Restores the saved settings, closes the device, ends the reader and sends
  // a Closed event. Returns at once (it wakes the reader through the pipe).
  // Does nothing when the link is not open.
  void Close();

  bool Write(const char* data, int length);
  bool Write(const char* text);
  bool Write(const std::string& text);
  bool Write(char c);

  // Logs "message port: strerror(error)" and sends an Error event.
  void EmitError(const std::string& message, int error);
  // Logs the same line, sends no event.
  void LogError(const std::string& message, int error) const;

  const std::string& Port() const { return port; }

 private:
  void ReadLoop();

  // Written by Open before the reader starts, constant while it runs.
  std::string port;
  std::function<void(const SerialEvent&)> callback;

  std::atomic<bool> running{false};
  // The device descriptor; atomic because the reader reads it at the start of
  // every pass while Close may be ending the link.
  std::atomic<int> fd{-1};
  struct termios savedSettings {};
  bool settingsSaved = false;
  std::thread readerThread;

  // Close wakes it so that the reader (and a writer waiting for the device
  // to take bytes) leaves its wait at once. Made by the first Open.
  zeva::WakePipe wake;

  // Serialises writers, so frames from the client and timer threads never
  // interleave on the line.
  std::mutex writeMutex;
};
