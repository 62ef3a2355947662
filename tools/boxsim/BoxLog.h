// Readable, timestamped trace lines on standard error for the box emulator:
// what arrived from the daemon, what the box sent back, and what the antenna
// did. Tracing of traffic is off unless --log/-v was given; events that the
// user must always see (start-up, fatal errors) use Always().
#pragma once

#include <string>

class BoxLog {
 public:
  // Turns tracing of traffic and motion on or off (default off).
  static void SetVerbose(bool verbose);
  static bool Verbose();

  // One line "HH:MM:SS.uuuuuu boxsim: <text>" (local time to the
  // microsecond) on standard error when verbose.
  static void Trace(const std::string& text);
  // The same line whether or not tracing is on.
  static void Always(const std::string& text);

  // Bytes as printable text: \r, \n, \t, \\ and \xNN for everything else
  // outside 0x20..0x7E.
  static std::string Escape(const std::string& bytes);

 private:
  static bool verbose;
};
